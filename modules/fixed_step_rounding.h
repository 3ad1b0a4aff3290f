#pragma once

// Rounding a run of 128-bit filter sums to float without 128-bit arithmetic per sample.
//
// The float nearest an integer y with 2^e <= |y| < 2^(e+1), e >= 24, is y rounded to a
// multiple of the step u = 2^(e-23), halves to the even multiple; below 2^24 every integer is
// a float, and a step of u = 1 rounds nothing. So when every sum of a run lies in one such
// range, all of them round at one step u, and the rounding can be done in double precision
// on the sum's distance from a nearby base, which fits 64 bits:
//
//   base  = a multiple of 2u (so base + a multiple of u is even exactly when that multiple is)
//   d     = y - base, |d| < 2^51, so double(d) is exact
//   magic = 1.5 × 2^52 × u; d + magic lies between 2^52 u and 2^53 u, where doubles are u
//           apart, so fl(d + magic) = magic + (d rounded to a multiple of u, halves to even)
//   fl(d + magic) + (base - magic) = base + (d rounded) = y rounded to the step u, which is
//           a float, so the double sum is exact and converting it to float changes nothing.
//   base - magic is exact too: it is a multiple of u between 2^52 u and 2^53 u in magnitude.
//
// For the smoother's sums (|y| <= 2^73) the step is at most 2^50; it is used up to 2^49. Two
// double additions per sample replace the 128-bit sum, its overflow test and its narrowing;
// runs that cross a range boundary (or zero, beyond ±2^24) keep the general way.

#include <bit>
#include <cstdint>
#include <optional>

namespace dynamics {

struct FixedStepRounding {
    __int128 base;  // a multiple of twice the step
    double magic;   // 1.5 × 2^52 × the step
    double offset;  // base - magic, exact

    // The float nearest base + distance, for a distance with |distance| < 2^51 whose sum
    // lies in the range the rounding was chosen for.
    float nearest(int64_t distance) const { return float((double(distance) + magic) + offset); }
};

namespace fixed_step_detail {

using uint128 = unsigned __int128;

// floor(log2 v) for v > 0.
inline int binade(uint128 v) {
    const auto high = uint64_t(v >> 64);
    return high != 0 ? 127 - std::countl_zero(high) : 63 - std::countl_zero(uint64_t(v));
}

}  // namespace fixed_step_detail

// The rounding for every integer within `reach` of `start`, when all of them round at one
// step of at most 2^49 and reach < 2^50; nothing otherwise (a few such runs, one ending at
// exactly ±2^24 for instance, are refused as well). base is start rounded down to a
// multiple of 2u, so every distance from it is below 2u + reach < 2^51: at a step of 1, the
// bound under which d + magic keeps to its binade.
inline std::optional<FixedStepRounding> fixedStepRounding(__int128 start, uint64_t reach) {
    using fixed_step_detail::binade;
    using fixed_step_detail::uint128;
    constexpr __int128 kExactBelow = __int128{1} << 24;
    if (reach >= uint64_t{1} << 50) return std::nullopt;
    const __int128 low = start - reach;
    const __int128 high = start + reach;
    int stepExponent;
    if (low > -kExactBelow && high < kExactBelow) {
        stepExponent = 0;
    } else if (low > 0 || high < 0) {
        const auto smallest = uint128(low > 0 ? low : -high);
        const auto largest = uint128(low > 0 ? high : -low);
        const int e = binade(largest);
        if (binade(smallest) != e) return std::nullopt;
        stepExponent = e - 23;  // e >= 24: largest is 2^24 or more, and smallest as large
    } else {
        return std::nullopt;
    }
    if (stepExponent > 49) return std::nullopt;
    const __int128 base = start & ~((__int128{2} << stepExponent) - 1);
    const double magic = 0x1.8p52 * std::bit_cast<double>(uint64_t(1023 + stepExponent) << 52);
    return FixedStepRounding{base, magic, double(base) - magic};
}

}  // namespace dynamics
