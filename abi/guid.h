#pragma once

#include <cstdint>

namespace mp {

// A 16-byte interface identifier: a 32-bit field, two 16-bit fields (all three
// little-endian in memory on the platforms we build for) and 8 bytes.
struct MpGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(MpGuid) == 16, "an interface identifier is 16 bytes");

// Identifiers are equal only when all 16 bytes are.
constexpr bool operator==(const MpGuid& a, const MpGuid& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.data4[i] != b.data4[i]) return false;
    return true;
}
constexpr bool operator!=(const MpGuid& a, const MpGuid& b) { return !(a == b); }

}  // namespace mp
