#include "host/module_library.h"

#include "host/system_loader.h"

namespace host {

ModuleLibrary::ModuleLibrary(const std::string& path) : libraryPath(path) {
    if (const std::string missing = system_loader::whyNotAFile(path); !missing.empty())
        throw LibraryError("cannot open module library '" + path + "': " + missing);
    std::string reason;
    handle = system_loader::openLibrary(path, reason);
    if (handle == nullptr) throw LibraryError("'" + path + "' is not a loadable module library: " + reason);
    getFactory =
        reinterpret_cast<mp::GetFactoryFunction>(system_loader::findSymbol(handle, mp::kGetFactorySymbol));
    if (getFactory == nullptr) {
        system_loader::closeLibrary(handle);
        throw LibraryError("'" + path + "' is not a module library: it does not export " +
                           mp::kGetFactorySymbol);
    }
}

ModuleLibrary::~ModuleLibrary() { system_loader::closeLibrary(handle); }

ComPtr<mp::IMpUnknown> ModuleLibrary::factoryUnknown() const {
    ComPtr<mp::IMpUnknown> unknown;
    const int32_t result = getFactory(unknown.put());
    if (result != mp::kResultOk || !unknown)
        throw LibraryError("'" + libraryPath + "': MP_GetFactory returned " + std::to_string(result));
    return unknown;
}

ComPtr<mp::IMpFactory2> ModuleLibrary::factory() const {
    return factoryUnknown().query<mp::IMpFactory2>(mp::kIidMpFactory2);
}

}  // namespace host
