#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace ovm::live {

// Called by the audio thread at the start and end of every callback, e.g. to count what the
// callback allocates or locks; both may be null.
struct CallbackProbe {
    void (*enter)() = nullptr;
    void (*leave)() = nullptr;
};

struct LiveOptions {
    std::string patchPath;
    std::optional<std::string> libraryPath;  // the user's choice, instead of the patch's library
    std::string clientName = "ovm";
    std::optional<std::string> serverName;  // else the default server ($JACK_DEFAULT_SERVER)
    bool connect = true;                    // to the physical capture and playback ports
    std::optional<std::string> inputPath;   // played instead of the capture ports
    bool loop = false;                      // play the input file again and again
    std::optional<std::string> duration;    // a time ("30 s"); else until quit or a signal
    std::vector<ValueOverride> overrides;
    bool jsonMeters = false;                // meter lines as JSON on standard output
    bool stopOnXrun = false;
    CallbackProbe probe;
};

struct LiveSummary {
    double seconds = 0;  // of audio processed
    long long callbacks = 0;
    long long xruns = 0;
    std::string stoppedBy;  // "quit", "signal", "duration", "end of input"
};

// Runs a patch as a JACK client until a quit command, SIGINT, SIGTERM or SIGHUP, the
// duration, or the end of an input file that does not loop: one input port per input
// channel the patch reads (none with an input file), one output port per output channel.
// Reads commands (live_command.h) from standard input while it runs and shows meters on
// standard error when that is a terminal. The ports go with the client when it returns or
// throws. Throws ovm::Error: the patch, library and input classes as `ovm run` does, the
// server class when no server runs, it refuses the client or a connection, or it shuts
// down, and the xrun class at an xrun when asked to stop on one.
LiveSummary runLive(const LiveOptions& options);

}  // namespace ovm::live
