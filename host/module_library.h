#pragma once

#include <stdexcept>
#include <string>

#include "abi/factory_interfaces.h"
#include "host/com_ptr.h"

namespace host {

class LibraryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A module library loaded by path with immediate binding; closed when the object goes.
// Objects created from it must be released before it is closed.
class ModuleLibrary {
public:
    // Throws LibraryError naming the path and the cause: the file is missing, it is not a
    // loadable library, it has no MP_GetFactory, or the factory is refused.
    explicit ModuleLibrary(const std::string& path);
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    const std::string& path() const { return libraryPath; }
    mp::GetFactoryFunction entryPoint() const { return getFactory; }
    // The factory as MP_GetFactory hands it out.
    ComPtr<mp::IMpUnknown> factoryUnknown() const;
    // The factory's current interface, or null when the library's factory lacks it.
    ComPtr<mp::IMpFactory2> factory() const;

private:
    std::string libraryPath;
    void* handle = nullptr;
    mp::GetFactoryFunction getFactory = nullptr;
};

}  // namespace host
