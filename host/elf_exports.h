#pragma once

#include <string>
#include <vector>

namespace host {

// The names of the symbols a shared library file defines and exports: the global and weak
// entries of its dynamic symbol table that are not undefined. Throws std::runtime_error when
// the file cannot be read or is not a 64-bit little-endian ELF file.
std::vector<std::string> exportedSymbols(const std::string& path);

}  // namespace host
