#include "host/library_exports.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace host {

namespace {

std::vector<char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read '" + path + "'");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Copies a structure out of the file image after checking that it lies inside it.
template <typename T>
T readAt(const std::vector<char>& image, std::size_t offset) {
    if (offset > image.size() || image.size() - offset < sizeof(T))
        throw std::runtime_error("truncated ELF file");
    T value;
    std::memcpy(&value, image.data() + offset, sizeof(T));
    return value;
}

std::string readName(const std::vector<char>& image, const Elf64_Shdr& strings, uint32_t index) {
    if (index >= strings.sh_size) throw std::runtime_error("bad symbol name in ELF file");
    const std::size_t start = strings.sh_offset + index;
    const std::size_t end = strings.sh_offset + strings.sh_size;
    if (end > image.size()) throw std::runtime_error("truncated ELF file");
    std::size_t length = 0;
    while (start + length < end && image[start + length] != '\0') ++length;
    return std::string(image.data() + start, length);
}

}  // namespace

std::vector<std::string> exportedSymbols(const std::string& path) {
    const std::vector<char> image = readFile(path);
    const auto header = readAt<Elf64_Ehdr>(image, 0);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_ident[EI_DATA] != ELFDATA2LSB)
        throw std::runtime_error("'" + path + "' is not a 64-bit little-endian ELF file");

    std::vector<std::string> names;
    for (unsigned i = 0; i < header.e_shnum; ++i) {
        const auto section = readAt<Elf64_Shdr>(image, header.e_shoff + std::size_t(i) * header.e_shentsize);
        if (section.sh_type != SHT_DYNSYM || section.sh_entsize == 0) continue;
        const auto strings =
            readAt<Elf64_Shdr>(image, header.e_shoff + std::size_t(section.sh_link) * header.e_shentsize);
        for (std::size_t s = 1; s < section.sh_size / section.sh_entsize; ++s) {
            const auto symbol = readAt<Elf64_Sym>(image, section.sh_offset + s * section.sh_entsize);
            const unsigned binding = ELF64_ST_BIND(symbol.st_info);
            if (symbol.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK)) continue;
            names.push_back(readName(image, strings, symbol.st_name));
        }
    }
    return names;
}

}  // namespace host
