#pragma once

#include <string>

#include "engine/errors.h"

namespace ovm {

// Patches and descriptions are a few kilobytes; anything beyond this is a mistake (a
// device, a wrong file) that must not be read into memory.
inline constexpr long long kLargestTextFile = 16LL << 20;

// Reads a whole regular file of at most kLargestTextFile bytes. Anything else (missing,
// a folder, a device, a pipe that would block, too large) is an ovm::Error of the given
// class, its message starting with "cannot read WHAT 'PATH'".
std::string readTextFile(const std::string& path, const std::string& what, ExitCode errorClass);

}  // namespace ovm
