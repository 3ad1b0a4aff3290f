#pragma once

#include <stdexcept>
#include <string>

#include "engine/message_text.h"

namespace ovm {

// Exit status per class of failure, as documented in the README.
enum class ExitCode : int {
    ok = 0,
    internal = 1,
    usage = 2,    // bad command line
    input = 3,    // input audio missing, unreadable or not audio
    library = 4,  // module library or its description unusable
    patch = 5,    // patch file or a value in it is wrong
    output = 6,   // output cannot be written
    check = 7,    // a promise the run checks did not hold (the demo's limiter ceiling)
    server = 8,   // the audio server is not running, refused the client or a connection, or shut down
    xrun = 9,     // the audio server missed a deadline, and the run was to stop on one
};

// A failure with a message meant for the user and the exit status of its class. Long names
// quoted in the message are cut (see withLongPartsCut).
class Error : public std::runtime_error {
public:
    Error(ExitCode code, const std::string& message)
        : std::runtime_error(withLongPartsCut(message)), exitCode(code) {}
    ExitCode code() const { return exitCode; }

private:
    ExitCode exitCode;
};

inline Error usageError(const std::string& m) { return {ExitCode::usage, m}; }
inline Error inputError(const std::string& m) { return {ExitCode::input, m}; }
inline Error libraryError(const std::string& m) { return {ExitCode::library, m}; }
inline Error patchError(const std::string& m) { return {ExitCode::patch, m}; }
inline Error outputError(const std::string& m) { return {ExitCode::output, m}; }

}  // namespace ovm
