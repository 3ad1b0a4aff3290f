#pragma once

// Interface identifiers.
//
// Every interface that crosses between a host and a module library is named by a 16-byte
// identifier. A caller passes one to queryInterface (abi/mp_unknown.h) to ask an object for
// a view of itself; the object compares it with the identifiers it answers. Both sides only
// read identifiers: an identifier passed by pointer is borrowed for the duration of the call,
// and nobody keeps the pointer afterwards.
//
// Identifiers are printed in registry form, {11223344-5566-7788-99AA-BBCCDDEEFF00}, which
// stands for data1 = 0x11223344, data2 = 0x5566, data3 = 0x7788 and
// data4 = {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00}. A host written in another
// language must lay the 16 bytes out exactly as MpGuid does.

#include <cstdint>

namespace mp {

// A 16-byte interface identifier: a 32-bit field, two 16-bit fields (all three
// little-endian in memory on the platforms we build for) and 8 bytes. The struct has no
// padding, so its 16 bytes are the identifier.
struct MpGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(MpGuid) == 16, "an interface identifier is 16 bytes");

// Identifiers are equal only when all 16 bytes are: there is no partial or case-folded match.
constexpr bool operator==(const MpGuid& a, const MpGuid& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.data4[i] != b.data4[i]) return false;
    return true;
}
constexpr bool operator!=(const MpGuid& a, const MpGuid& b) { return !(a == b); }

}  // namespace mp
