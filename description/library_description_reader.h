#pragma once

#include <string>
#include <string_view>

#include "engine/module_description.h"

namespace ovm {

// The description file beside a module library: the same path with ".toml".
std::string descriptionPathFor(const std::string& libraryPath);

// Throws ovm::Error (library class) naming the file, line and field that is wrong.
LibraryDescription readLibraryDescription(const std::string& libraryPath);
LibraryDescription parseLibraryDescription(std::string_view text, const std::string& path);

}  // namespace ovm
