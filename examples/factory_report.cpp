// Loads a module library through its one export and prints what its factory reports:
// the framework version, the build text, and which module identifiers it creates.
//
//   factory_report [LIBRARY] [MODULE-ID...]

#include <cstdio>
#include <string>
#include <vector>

#include "host/module_library.h"
#include "host/module_driver.h"

namespace {

const std::vector<std::string> kDynamicsModules = {"Orin Peak",      "Orin Hard Knee",  "Orin Peak Hold",
                                                   "Orin SmootherG", "Orin Integrator", "Orin ms2factor",
                                                   "Orin factor2ms"};

std::string narrow(const char16_t* text) {
    std::string out;
    for (; *text != u'\0'; ++text) out += *text < 0x80 ? char(*text) : '?';
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "Dynamics.ovm";
    std::vector<std::string> modules(argv + std::min(argc, 2), argv + argc);
    if (modules.empty()) modules = kDynamicsModules;
    try {
        host::ModuleLibrary library(path);
        auto factory = library.factory();
        if (!factory) {
            std::fprintf(stderr, "%s: the factory does not answer the factory interface\n", path.c_str());
            return 1;
        }
        int32_t version = 0;
        char16_t text[64] = {};
        factory->getSdkInfo(&version, 64, text);
        std::printf("library:   %s\nframework: %d\nbuild:     %s\nmodules:\n", path.c_str(), version,
                    narrow(text).c_str());
        for (const std::string& id : modules) {
            host::ComPtr<mp::IMpPlugin2> object;
            const int32_t result = factory->createInstance(host::toModuleId(id).c_str(), 0, object.put());
            std::printf("  %-18s %s\n", id.c_str(),
                        result == mp::kResultOk
                            ? "created"
                            : ("not created (result " + std::to_string(result) + ")").c_str());
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "error: %s\n", error.what());
        return 1;
    }
    return 0;
}
