#pragma once

#include <string_view>

#include "engine/engine.h"

namespace ovm {

// A --set argument: node.pin=value, or node.pin=value@time. Throws ovm::Error (usage class)
// when it is not of that form.
ValueOverride parseValueOverride(std::string_view text);

}  // namespace ovm
