#pragma once

#include <string>

// The operating system's loader of shared libraries, as ModuleLibrary uses it: dlopen on
// Linux, LoadLibraryW on Windows. Paths are UTF-8 on both; failures come back as text a
// user can act on, never as an exception, so the caller words the error.
namespace host::system_loader {

// Why the file at `path` cannot be a library at all (it is missing or a folder), or empty.
std::string whyNotAFile(const std::string& path);

// The opened library's handle with every symbol bound, or null with the loader's own
// explanation in `reason`. A path without a folder names a file in the current folder, not
// one the loader would search for.
void* openLibrary(const std::string& path, std::string& reason);

// The address of an exported function, or null.
void* findSymbol(void* library, const char* name);

void closeLibrary(void* library);

}  // namespace host::system_loader
