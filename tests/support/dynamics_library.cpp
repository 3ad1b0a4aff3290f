#include "tests/support/dynamics_library.h"

#include <stdexcept>
#include <string>

#include "description/library_description_reader.h"

namespace testing_support {

host::ModuleLibrary& dynamicsLibrary() {
    // Never closed: objects created in one test may still be released by static teardown.
    static auto* library = new host::ModuleLibrary(DYNAMICS_LIBRARY_PATH);
    return *library;
}

mp::IMpFactory2& dynamicsFactory() {
    static auto* factory = dynamicsLibrary().factory().detach();
    return *factory;
}

const ovm::LibraryDescription& dynamicsDescription() {
    static const ovm::LibraryDescription description = ovm::readLibraryDescription(DYNAMICS_LIBRARY_PATH);
    return description;
}

const ovm::ModuleDescription& dynamicsModule(std::string_view idOrName) {
    const ovm::ModuleDescription* module = dynamicsDescription().find(idOrName);
    if (module == nullptr) throw std::out_of_range("Dynamics.toml has no module " + std::string(idOrName));
    return *module;
}

}  // namespace testing_support
