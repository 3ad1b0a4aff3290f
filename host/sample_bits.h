#pragma once

#include <cstdint>
#include <cstring>

namespace host {

// The raw bits of a float, for bit-exact comparisons and for markers no arithmetic makes.
inline uint32_t bitsOf(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline float fromBits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace host
