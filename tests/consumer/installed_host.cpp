// A host built outside the project: loads the installed Dynamics.ovm through the installed
// host library, creates every module its description lists, and runs one block through the
// integrator. DYNAMICS_LIBRARY is the library's path, from the CMake package or pkg-config.

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "host/event_list.h"
#include "host/module_library.h"
#include "host/module_driver.h"

namespace {

// The module identifiers in the description beside the library (lines `id = "..."`).
std::vector<std::string> describedModules(const std::string& libraryPath) {
    std::ifstream description(libraryPath.substr(0, libraryPath.rfind('.')) + ".toml");
    const std::string key = "id = \"";
    std::vector<std::string> ids;
    for (std::string line; std::getline(description, line);)
        if (line.rfind(key, 0) == 0) ids.push_back(line.substr(key.size(), line.rfind('"') - key.size()));
    return ids;
}

bool fail(const std::string& what) {
    std::fprintf(stderr, "installed host: %s\n", what.c_str());
    return false;
}

bool createsEveryModule(const host::ModuleLibrary& library) {
    const std::vector<std::string> ids = describedModules(library.path());
    if (ids.size() != 7) return fail("the description lists " + std::to_string(ids.size()) + " modules, not 7");
    for (const std::string& id : ids) host::ModuleDriver module(*library.factory(), id);
    return true;
}

// The integrator's output is the running sum of its input (pin 0 in, pin 1 out).
bool integratorSums(const host::ModuleLibrary& library) {
    host::ModuleDriver integrator(*library.factory(), "Orin Integrator");
    std::vector<float> input{1, 2, 3, 4}, output(4, -1);
    integrator.setBuffer(0, input.data());
    integrator.setBuffer(1, output.data());
    if (integrator.open() != 0) return fail("the integrator does not open");
    host::EventList start = host::startEvents({0}, {});
    integrator.process(4, start);
    if (output != std::vector<float>{1, 3, 6, 10}) return fail("the integrator's output is not 1 3 6 10");
    return true;
}

}  // namespace

int main() {
    try {
        host::ModuleLibrary library(DYNAMICS_LIBRARY);
        const bool sound = library.factory() ? createsEveryModule(library) && integratorSums(library)
                                             : fail("the library's factory lacks the factory interface");
        if (sound) std::printf("%s: 7 modules created; the integrator sums 1 2 3 4 to 1 3 6 10\n", DYNAMICS_LIBRARY);
        return sound ? 0 : 1;
    } catch (const std::exception& error) {
        fail(error.what());
        return 1;
    }
}
