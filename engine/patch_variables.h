#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "engine/patch.h"

namespace ovm {

// A patch may name a value once and use it in several places, so that values that must
// agree (a look-ahead's delays and windows) cannot drift apart: `[vars] lookahead = "5 ms"`,
// then `time = "$lookahead"`. A use is the whole value, "$" and the name.

// Letters, digits and '_', not starting with a digit: what may follow the "$".
bool isVariableName(std::string_view name);

// The patch with every use of a variable (in node values, automation and the latency)
// replaced by the variable's value, or by the value an override of the variable gives.
// A replaced value keeps where it was used and adds where its value came from, so that
// messages about it name both. Throws ovm::Error (patch class) for a use of an unknown
// variable or an override of one the patch does not define. Resolving a resolved patch
// changes nothing.
Patch resolveVariables(const Patch& patch, const std::vector<ValueOverride>& overrides);

}  // namespace ovm
