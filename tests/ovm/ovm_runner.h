#pragma once

#include <string>
#include <vector>

namespace ovm_testing {

struct CommandResult {
    int exitCode;
    std::string out;
    std::string err;
};

// Runs the built ovm with the given arguments (each quoted for the shell), after the shell
// text `before` (e.g. "cd F &&", "OVM_PATH=F") and with the shell text `after` (e.g. a
// redirection) following.
CommandResult runOvm(const std::vector<std::string>& arguments, const std::string& before = "",
                     const std::string& after = "");

// ovm started in the background with standard error to `errPath`, for tests that act
// while it runs; with pipeInput, its standard input is a pipe the test writes to.
class BackgroundOvm {
public:
    BackgroundOvm(const std::vector<std::string>& arguments, const std::string& errPath, bool pipeInput = false);
    ~BackgroundOvm();
    int pid() const { return child; }
    // The pipe's writing end (with pipeInput), closed by wait().
    int input() const { return inputFd; }
    // The exit status, or 128 + the signal that ended it.
    int wait();

private:
    int child;
    int inputFd = -1;
    bool waited = false;
};

// Opens a FIFO for writing once a reader has it open, failing the test after a few seconds.
int openFifoForWriting(const std::string& path);
// Writes all bytes to a descriptor.
void writeAll(int fd, const std::string& bytes);
// The names in a folder that start with a dot (temporary files).
std::vector<std::string> hiddenFiles(const std::string& folder);
// Waits up to a few seconds for a hidden file to appear in the folder.
bool waitForHiddenFile(const std::string& folder);

// A fresh, empty folder for one test.
std::string freshFolder(const std::string& name);

std::vector<float> readInterleaved(const std::string& path, int* channels = nullptr);
std::string readText(const std::string& path);
std::string shellQuoted(const std::string& text);
void writeText(const std::string& path, const std::string& text);
bool exists(const std::string& path);

}  // namespace ovm_testing
