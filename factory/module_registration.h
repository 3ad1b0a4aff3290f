#pragma once

#include <cstdint>

#include "factory/mp_factory.h"

namespace mp {

// A static object per module source file: constructing it while the library loads puts the
// module's creator into the registry.
struct ModuleRegistration {
    ModuleRegistration(const char16_t* moduleId, CreatorFunction creator, int32_t moduleType = 0) {
        registerModule(moduleType, moduleId, creator);
    }
};

// The creator every module uses: a new object whose one reference goes to the caller.
template <typename Module>
IMpPlugin2* createModule() {
    return (new Module())->asPlugin2();
}

}  // namespace mp
