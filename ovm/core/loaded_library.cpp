#include "ovm/core/loaded_library.h"

#include "engine/errors.h"

namespace ovm {

namespace {

std::unique_ptr<host::ModuleLibrary> open(const std::string& path) {
    try {
        return std::make_unique<host::ModuleLibrary>(path);
    } catch (const host::LibraryError& error) {
        throw libraryError(error.what());
    }
}

}  // namespace

LoadedLibrary::LoadedLibrary(const std::string& path) : library(open(path)) {
    factory = library->factory();
    if (!factory) throw libraryError("'" + path + "': its factory does not answer the factory interface");
}

}  // namespace ovm
