#pragma once

#include <string>

#include "validate/harness.h"

namespace ovm::validate {

// For people: a matrix of checks against modules, then what each finding says.
std::string formatTable(const Report& report);
// For machines.
std::string formatJson(const Report& report);

}  // namespace ovm::validate
