#pragma once

#include "host/module_library.h"

namespace testing_support {

// The built Dynamics.ovm, loaded once for the whole test program.
host::ModuleLibrary& dynamicsLibrary();
mp::IMpFactory2& dynamicsFactory();

}  // namespace testing_support
