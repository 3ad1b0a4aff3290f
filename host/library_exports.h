#pragma once

#include <string>
#include <vector>

namespace host {

// The names of the functions and data a shared library file exports, read from the file
// without loading it, in the system's own format. Linux (host/elf_exports.cpp): the global
// and weak entries of the ELF dynamic symbol table that are not undefined. Windows
// (host/pe_exports.cpp): the names in the PE export directory; an entry exported by ordinal
// alone has no name and is not listed. Throws std::runtime_error when the file cannot be read
// or is not a 64-bit little-endian file of that format.
std::vector<std::string> exportedSymbols(const std::string& path);

}  // namespace host
