#include "host/library_exports.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace host {

namespace {

std::vector<char> readFile(const std::string& path) {
    // UTF-8 names reach the file system as UTF-16 through std::filesystem::path.
    std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read '" + path + "'");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Copies a structure out of the file image after checking that it lies inside it.
template <typename T>
T readAt(const std::vector<char>& image, std::size_t offset) {
    if (offset > image.size() || image.size() - offset < sizeof(T)) throw std::runtime_error("truncated PE file");
    T value;
    std::memcpy(&value, image.data() + offset, sizeof(T));
    return value;
}

// The export directory and the names are addressed as the loaded image would have them
// (relative virtual addresses); this finds where the section holding `address` keeps it
// in the file.
class SectionMap {
public:
    SectionMap(const std::vector<char>& image, std::size_t firstHeader, unsigned count) {
        for (unsigned i = 0; i < count; ++i)
            sections.push_back(readAt<IMAGE_SECTION_HEADER>(image, firstHeader + i * sizeof(IMAGE_SECTION_HEADER)));
    }

    std::size_t fileOffset(DWORD address) const {
        for (const auto& section : sections) {
            // What lies past the section's data in the file is zeros in memory, not in the file.
            const DWORD size = section.Misc.VirtualSize == 0
                                   ? section.SizeOfRawData
                                   : std::min<DWORD>(section.Misc.VirtualSize, section.SizeOfRawData);
            if (address >= section.VirtualAddress && address - section.VirtualAddress < size)
                return std::size_t(section.PointerToRawData) + (address - section.VirtualAddress);
        }
        throw std::runtime_error("PE file addresses data outside its sections");
    }

private:
    std::vector<IMAGE_SECTION_HEADER> sections;
};

std::string readName(const std::vector<char>& image, std::size_t offset) {
    if (offset >= image.size()) throw std::runtime_error("truncated PE file");
    const char* start = image.data() + offset;
    const void* end = std::memchr(start, '\0', image.size() - offset);
    if (end == nullptr) throw std::runtime_error("unterminated name in PE file");
    return std::string(start, static_cast<const char*>(end));
}

}  // namespace

std::vector<std::string> exportedSymbols(const std::string& path) {
    const std::vector<char> image = readFile(path);
    const auto dos = readAt<IMAGE_DOS_HEADER>(image, 0);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE) throw std::runtime_error("'" + path + "' is not a PE file");
    const auto headers = readAt<IMAGE_NT_HEADERS64>(image, std::size_t(dos.e_lfanew));
    if (headers.Signature != IMAGE_NT_SIGNATURE || headers.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        throw std::runtime_error("'" + path + "' is not a 64-bit PE file");

    const IMAGE_DATA_DIRECTORY& directory = headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (headers.OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_EXPORT || directory.Size == 0)
        return {};
    const SectionMap sections(image,
                              std::size_t(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                                  headers.FileHeader.SizeOfOptionalHeader,
                              headers.FileHeader.NumberOfSections);
    const auto exports = readAt<IMAGE_EXPORT_DIRECTORY>(image, sections.fileOffset(directory.VirtualAddress));
    std::vector<std::string> names;
    for (DWORD i = 0; i < exports.NumberOfNames; ++i) {
        const auto name = readAt<DWORD>(image, sections.fileOffset(exports.AddressOfNames) + i * sizeof(DWORD));
        names.push_back(readName(image, sections.fileOffset(name)));
    }
    return names;
}

}  // namespace host
