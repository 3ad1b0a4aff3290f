#pragma once

#include <string>
#include <string_view>

#include "engine/patch.h"

namespace ovm {

// A patch file in TOML into the engine's patch model. Throw ovm::Error (patch class) naming
// the file, line and field.
Patch readPatch(const std::string& path);
Patch parsePatch(std::string_view text, const std::string& path);

}  // namespace ovm
