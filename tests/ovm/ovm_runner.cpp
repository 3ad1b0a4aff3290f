#include "tests/ovm/ovm_runner.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ovm/core/audio_file.h"

namespace ovm_testing {

namespace {

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

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

CommandResult runOvm(const std::vector<std::string>& arguments) {
    const std::string errPath = freshFolder("stderr") + "/err.txt";
    std::string command = shellQuoted(OVM_BINARY);
    for (const std::string& argument : arguments) command += " " + shellQuoted(argument);
    command += " 2>" + shellQuoted(errPath);
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), out, readText(errPath)};
}

std::vector<float> readInterleaved(const std::string& path, int* channels) {
    ovm::AudioReader reader(path);
    std::vector<float> samples(std::size_t(reader.frames() * reader.channels()));
    reader.read(samples.data(), reader.frames());
    if (channels != nullptr) *channels = reader.channels();
    return samples;
}

}  // namespace ovm_testing
