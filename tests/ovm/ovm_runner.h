#pragma once

#include <string>
#include <vector>

namespace ovm_testing {

struct CommandResult {
    int exitCode;
    std::string out;
    std::string err;
};

// Runs the built ovm with the given arguments (each quoted for the shell).
CommandResult runOvm(const std::vector<std::string>& arguments);

// A fresh, empty folder for one test.
std::string freshFolder(const std::string& name);

std::vector<float> readInterleaved(const std::string& path, int* channels = nullptr);
std::string readText(const std::string& path);
void writeText(const std::string& path, const std::string& text);
bool exists(const std::string& path);

}  // namespace ovm_testing
