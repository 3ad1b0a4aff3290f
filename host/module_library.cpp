#include "host/module_library.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace host {

namespace {

std::string describeMissing(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return "it is a directory";
    return {};
}

}  // namespace

ModuleLibrary::ModuleLibrary(const std::string& path) : libraryPath(path) {
    if (const std::string missing = describeMissing(path); !missing.empty())
        throw LibraryError("cannot open module library '" + path + "': " + missing);
    // dlopen searches the library path for a bare name; a path with a slash is taken as is.
    const std::string openPath = path.find('/') == std::string::npos ? "./" + path : path;
    handle = dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        throw LibraryError("'" + path + "' is not a loadable module library: " +
                           (reason != nullptr ? reason : "unknown reason"));
    }
    getFactory = reinterpret_cast<mp::GetFactoryFunction>(dlsym(handle, mp::kGetFactorySymbol));
    if (getFactory == nullptr) {
        dlclose(handle);
        throw LibraryError("'" + path + "' is not a module library: it does not export " +
                           mp::kGetFactorySymbol);
    }
}

ModuleLibrary::~ModuleLibrary() { dlclose(handle); }

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
