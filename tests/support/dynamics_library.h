#pragma once

#include "host/module_library.h"
#include "engine/module_description.h"

namespace testing_support {

// The built Dynamics.ovm, loaded once for the whole test program.
host::ModuleLibrary& dynamicsLibrary();
mp::IMpFactory2& dynamicsFactory();
// Its modules and their pins, as Dynamics.toml beside it describes them.
const ovm::LibraryDescription& dynamicsDescription();
// The module with this identifier or short name; throws std::out_of_range when none.
const ovm::ModuleDescription& dynamicsModule(std::string_view idOrName);

}  // namespace testing_support
