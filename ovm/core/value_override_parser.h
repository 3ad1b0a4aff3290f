#pragma once

#include <string_view>

#include "engine/engine.h"

namespace ovm {

// A --set argument: node.pin=value, node.pin=value@time, or variable=value for one of the
// patch's [vars]. Throws ovm::Error (usage class) when it is not of that form.
ValueOverride parseValueOverride(std::string_view text);

}  // namespace ovm
