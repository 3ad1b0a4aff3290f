#include "tests/support/dynamics_library.h"

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

}  // namespace testing_support
