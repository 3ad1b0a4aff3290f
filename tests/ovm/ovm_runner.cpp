#include "tests/ovm/ovm_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ovm/core/audio_file.h"

namespace ovm_testing {

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

bool exists(const std::string& path) { return std::filesystem::exists(path); }

namespace {

// This test process's scratch folder, removed when the process ends (by the process that made
// it, not by a forked child).
class ScratchRoot {
public:
    ScratchRoot()
        : owner(getpid()),
          path(std::filesystem::temp_directory_path().string() + "/ovm-tests-" + std::to_string(owner)) {}
    ~ScratchRoot() {
        std::error_code ignored;
        if (getpid() == owner) std::filesystem::remove_all(path, ignored);
    }
    const pid_t owner;
    const std::string path;
};

}  // namespace

std::string freshFolder(const std::string& name) {
    static const ScratchRoot root;
    const std::string folder = root.path + "/" + name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

CommandResult runOvm(const std::vector<std::string>& arguments, const std::string& before,
                     const std::string& after) {
    const std::string errPath = freshFolder("stderr") + "/err.txt";
    std::string command = before + " " + shellQuoted(OVM_BINARY);
    for (const std::string& argument : arguments) command += " " + shellQuoted(argument);
    command += " 2>" + shellQuoted(errPath) + " " + after;
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), out, readText(errPath)};
}

BackgroundOvm::BackgroundOvm(const std::vector<std::string>& arguments, const std::string& errPath,
                             bool pipeInput) {
    int fds[2] = {-1, -1};
    if (pipeInput && pipe2(fds, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe: " << std::strerror(errno);
    std::vector<std::string> argv = {OVM_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    child = fork();
    if (child == 0) {
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, STDERR_FILENO);
        if (fds[0] >= 0) dup2(fds[0], STDIN_FILENO);
        execv(OVM_BINARY, pointers.data());
        _exit(127);
    }
    if (fds[0] >= 0) close(fds[0]);
    inputFd = fds[1];
}

BackgroundOvm::~BackgroundOvm() {
    if (waited || child <= 0) return;
    kill(child, SIGKILL);
    wait();
}

int BackgroundOvm::wait() {
    if (inputFd >= 0) close(inputFd);
    inputFd = -1;
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    waited = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int openFifoForWriting(const std::string& path) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            fcntl(fd, F_SETFL, 0);
            return fd;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "nothing opened " << path << " for reading";
    return -1;
}

void writeAll(int fd, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += std::size_t(n);
    }
}

std::vector<std::string> hiddenFiles(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().front() == '.') names.push_back(entry.path().filename());
    return names;
}

bool waitForHiddenFile(const std::string& folder) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (!hiddenFiles(folder).empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::vector<float> readInterleaved(const std::string& path, int* channels) {
    ovm::AudioReader reader(path);
    std::vector<float> samples(std::size_t(reader.frames() * reader.channels()));
    reader.read(samples.data(), reader.frames());
    if (channels != nullptr) *channels = reader.channels();
    return samples;
}

}  // namespace ovm_testing
