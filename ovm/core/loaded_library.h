#pragma once

#include <memory>
#include <string>

#include "abi/factory_interfaces.h"
#include "host/com_ptr.h"
#include "host/module_library.h"

namespace ovm {

// A module library loaded for a run, with its factory. Throws ovm::Error (library class)
// when the library cannot be loaded or its factory does not answer the factory interface.
struct LoadedLibrary {
    explicit LoadedLibrary(const std::string& path);

    std::unique_ptr<host::ModuleLibrary> library;
    host::ComPtr<mp::IMpFactory2> factory;
};

}  // namespace ovm
