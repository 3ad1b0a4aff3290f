#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "abi/guid.h"

// The interface identifiers a host is written against, typed here in registry format from the
// published tables and parsed at compile time. The checks take them from this table and never
// from the library's own headers: a byte mistyped there agrees with the library built from
// it, and only an independent copy sees it.
namespace ovm::validate::identifiers {

namespace detail {

consteval int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    throw std::invalid_argument("an identifier digit is not hexadecimal");
}

// The two digits at text[at] as one byte.
consteval uint8_t byteAt(std::string_view text, std::size_t at) {
    return uint8_t(hexDigit(text[at]) * 16 + hexDigit(text[at + 1]));
}

}  // namespace detail

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": the three leading fields are written most
// significant digit first, the last eight bytes in memory order. Any other text does not
// compile.
consteval mp::MpGuid parse(std::string_view text) {
    if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' ||
        text[19] != '-' || text[24] != '-')
        throw std::invalid_argument("not an identifier in registry format");
    using detail::byteAt;
    mp::MpGuid guid{};
    guid.data1 = uint32_t(byteAt(text, 1)) << 24 | uint32_t(byteAt(text, 3)) << 16 |
                 uint32_t(byteAt(text, 5)) << 8 | byteAt(text, 7);
    guid.data2 = uint16_t(byteAt(text, 10) << 8 | byteAt(text, 12));
    guid.data3 = uint16_t(byteAt(text, 15) << 8 | byteAt(text, 17));
    guid.data4[0] = byteAt(text, 20);
    guid.data4[1] = byteAt(text, 22);
    for (std::size_t i = 0; i < 6; ++i) guid.data4[2 + i] = byteAt(text, 25 + 2 * i);
    return guid;
}

struct Named {
    const char* name;
    mp::MpGuid iid;
};

inline constexpr Named unknown{"IMpUnknown", parse("{00000000-0000-C000-0000-000000000046}")};
inline constexpr Named factory1{"factory identifier {91C3D2EE-...}",
                                parse("{91C3D2EE-C701-4F35-91A6-094DC7E05976}")};
inline constexpr Named factory2{"factory identifier {9A7904B7-...}",
                                parse("{9A7904B7-7F7F-4D61-B558-C1A6695BB638}")};
inline constexpr Named plugin{"IMpPlugin", parse("{2B0DFC7E-A539-49CD-B72D-32FF9DF0D9E4}")};
inline constexpr Named plugin2{"IMpPlugin2", parse("{1E07E3E8-8118-457F-A63C-D4F282A0F519}")};
inline constexpr Named legacyInitialization{"IMpLegacyInitialization",
                                            parse("{0B471002-5627-4D46-984E-C0DC79D0AD35}")};
inline constexpr Named hostSecondary{"the secondary host interface",
                                     parse("{87CCD426-71D7-414E-A9A6-5ADCA81C7420}")};
inline constexpr Named host{"the host interface", parse("{4F1B532F-3C46-4927-A498-614867425BE7}")};

inline constexpr Named all[] = {unknown,       factory1, factory2, plugin, plugin2, legacyInitialization,
                                hostSecondary, host};

}  // namespace ovm::validate::identifiers
