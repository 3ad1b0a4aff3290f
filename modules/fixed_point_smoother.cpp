// The smoother's kernel: quantisation, the four-tap sums and the recursion (see
// fixed_point_smoother.h).

#include "modules/fixed_point_smoother.h"

#include <algorithm>
#include <bit>

#include "modules/fixed_step_rounding.h"
#include "modules/multiversion.h"

namespace dynamics {
namespace {

// Up to here the filter sum fits 64 bits (see the bounds in the header).
constexpr int64_t kLongestNarrowProduct = int64_t{1} << 32;

constexpr float kScale = 16777216.0f;  // 2^24: 24 fractional bits

// Rounds half up, toward +inf: floor(x × 2^24 + 0.5) in single precision. Inputs of magnitude
// 128 or more (infinities too) saturate to the int32 range, NaN gives 0. Both are told from
// the bits and replaced by 0 before any arithmetic, so no comparison meets NaN and no product
// overflows: a host that unmasks floating-point exceptions sees none. What remains has
// |z| < 2^31, so the conversion is always defined. Every choice is a select rather than a
// branch (floor is formed from the truncation), so the loop over a block vectorises and noise
// costs no mispredicted branches.
inline int32_t quantise(float x) {
    const uint32_t bits = std::bit_cast<uint32_t>(x);
    const uint32_t magnitude = bits & 0x7fffffffu;
    const uint32_t nan = 0u - uint32_t(magnitude > 0x7f800000u);  // masks: all ones or zero
    const uint32_t saturated = ~nan & (0u - uint32_t(magnitude >= 0x43000000u));  // |x| >= 128
    const uint32_t negative = 0u - (bits >> 31);
    const float z = std::bit_cast<float>(bits & ~(nan | saturated)) * kScale + 0.5f;
    const auto truncated = int32_t(z);
    const int32_t floored = truncated - int32_t(float(truncated) > z);
    const uint32_t limit = (uint32_t(INT32_MAX) & ~negative) | (uint32_t(INT32_MIN) & negative);
    return int32_t((uint32_t(floored) & ~saturated) | (limit & saturated));
}

DYNAMICS_VECTOR_LOOP
void quantiseAllLoop(const float* in, int32_t* out, int32_t count) {
#pragma omp simd
    for (int32_t i = 0; i < count; ++i) out[i] = quantise(in[i]);
}
const auto quantiseAll = chosenAtLoad<quantiseAllLoop>();

// s = q[n - length1 - length2] - q[n - length2] - q[n - length1] + q[n], for a run of n.
// Formed in 64 bits: in 32 bits it would wrap for inputs from 32 up to 128 in magnitude;
// wherever it does not wrap the results are the same.
DYNAMICS_VECTOR_LOOP
void fourTapSumsLoop(const int32_t* now, const int32_t* back1, const int32_t* back2, const int32_t* back12,
                     int64_t* sums, int32_t count) {
#pragma omp simd
    for (int32_t k = 0; k < count; ++k) sums[k] = int64_t{back12[k]} - back2[k] - back1[k] + now[k];
}
const auto fourTapSums = chosenAtLoad<fourTapSumsLoop>();

// (float) y × gain for a 128-bit y; gainPerUnit is gain × 2^32 (exact: a power of two).
// A y that fits 64 bits converts as it is. A larger one (2^63 <= |y| < 2^95) is shifted
// right by 32 bits, and when a 1 bit was shifted out the result's lowest bit is set: that is
// the integer v = y / 2^32 rounded to odd (floor when odd, else floor + 1, for either sign in
// two's complement). Rounding v to float gives the float nearest y / 2^32, because
// |v| >= 2^31 (as |y| >= 2^63), where floats lie 2^8 or more apart, so every float and every midpoint between
// two neighbours is an even integer. v equals y / 2^32 when nothing was shifted out; else
// y / 2^32 lies strictly between floor and floor + 1 and v is the odd one of the two, so no
// float and no midpoint lies between them or on v: both round to the same float. Scaling
// by 2^32 afterwards is exact, and folding it into the gain changes nothing, since
// (f × 2^32) × gain and f × (2^32 × gain) are the same exact product rounded once (gain
// lies between 2^-67 and 2^-24, so neither product overflows or underflows).
// (high << 32) | (low >> 32) is y >> 32 wherever that fits 64 bits, which it does, as
// |y| < 2^73.
inline float scaledToNearest(__int128 y, float gain, float gainPerUnit) {
    const auto low = uint64_t(y);
    const auto high = uint64_t(y >> 64);
    const bool fits = high == uint64_t(int64_t(low) >> 63);
    const uint64_t roundedToOdd = (high << 32) | (low >> 32) | uint64_t(uint32_t(low) != 0);
    return float(int64_t(fits ? low : roundedToOdd)) * (fits ? gain : gainPerUnit);
}

}  // namespace

FixedPointSmoother::FixedPointSmoother(int32_t length1, int32_t length2)
    : ring(std::size_t(ringSizeFor(length1, length2) + kChunk), 0),
      length1(length1),
      length2(length2),
      wide(int64_t{length1} * length2 > kLongestNarrowProduct),
      gain(1.0f / ((float(length1) * kScale) * float(length2))),
      ringMask(ringSizeFor(length1, length2) - 1) {}

// Room for a whole chunk beyond the longest tap, so that writing a chunk first never
// overwrites what one of its samples is still to read; a power of two, so that positions
// wrap with a mask.
int32_t FixedPointSmoother::ringSizeFor(int32_t length1, int32_t length2) {
    int32_t size = 2;
    while (size < length1 + length2 + 1 + kChunk) size *= 2;
    return size;
}

void FixedPointSmoother::run(const float* in, float* out, int32_t count) {
    if (wide)
        runChunks<true>(in, out, count);
    else
        runChunks<false>(in, out, count);
}

// A run goes through in chunks, each in three passes: quantise into the ring, form the
// four-tap sums, then run the recursion. Only the last is sequential; the other two run
// as vector instructions. Wide: the filter sum is kept in 128 bits.
template <bool wideSum>
void FixedPointSmoother::runChunks(const float* in, float* out, int32_t count) {
    for (int32_t done = 0; done < count;) {
        const int32_t chunk = std::min(count - done, kChunk);
        writeChunk(in + done, chunk);
        smoothChunk<wideSum>(out + done, chunk);
        done += chunk;
    }
}

// Quantises a chunk straight into the ring at writeIndex, then renews the copy of the
// ring's first kChunk entries kept after its end, so that a run of up to kChunk taps can
// be read without wrapping.
inline void FixedPointSmoother::writeChunk(const float* in, int32_t count) {
    const int32_t size = ringMask + 1;
    const int32_t beforeEnd = std::min(count, size - writeIndex);
    quantiseAll(in, ring.data() + writeIndex, beforeEnd);
    quantiseAll(in + beforeEnd, ring.data(), count - beforeEnd);
    if (writeIndex < kChunk || beforeEnd < count) std::copy_n(ring.data(), kChunk, ring.data() + size);
}

// The recursion y[n] = s + 2 y[n-1] - y[n-2] is kept as a slope y[n] - y[n-1], which
// grows by s: two dependent additions per sample instead of three, the same integers.
// A wide chunk whose sums all round to float at one step runs on 64-bit distances instead
// (see fixed_step_rounding.h).
template <bool wideSum>
void FixedPointSmoother::smoothChunk(float* out, int32_t count) {
    int64_t fourTap[kChunk];
    fourTapSums(tapsBack(0), tapsBack(length1), tapsBack(length2), tapsBack(length1 + length2), fourTap, count);
    int64_t rise = slope;
    const float scale = gain;
    if constexpr (wideSum) {
        if (const auto rounding = fixedStepRounding(level, reachWithin(count))) {
            auto distance = int64_t(level - rounding->base);
            for (int32_t k = 0; k < count; ++k) {
                rise += fourTap[k];
                distance += rise;
                out[k] = rounding->nearest(distance) * scale;
            }
            level = rounding->base + distance;
        } else {
            const float scalePerUnit = gain * 4294967296.0f;
            __int128 y = level;
            for (int32_t k = 0; k < count; ++k) {
                rise += fourTap[k];
                y += rise;
                out[k] = scaledToNearest(y, scale, scalePerUnit);
            }
            level = y;
        }
    } else {
        auto y = int64_t(level);
        for (int32_t k = 0; k < count; ++k) {
            rise += fourTap[k];
            y += rise;
            out[k] = float(y) * scale;
        }
        level = y;
    }
    writeIndex = (writeIndex + count) & ringMask;
    slope = rise;
}

// How far the next `count` sums can lie from the last one: the slope moves by a four-tap sum,
// at most 2^33, per sample, so sum k of the chunk is within k × |slope| + k (k + 1) / 2 × 2^33
// of it. A slope of 2^43 or more is left to the general way, so that the product cannot
// overflow 64 bits.
uint64_t FixedPointSmoother::reachWithin(int32_t count) const {
    constexpr int64_t kSteepest = int64_t{1} << 43;
    if (slope >= kSteepest || slope <= -kSteepest) return UINT64_MAX;
    const auto n = uint64_t(count);
    return n * uint64_t(slope < 0 ? -slope : slope) + n * (n + 1) / 2 * (uint64_t{1} << 33);
}

// The chunk's inputs `back` samples earlier, as one run of the ring.
inline const int32_t* FixedPointSmoother::tapsBack(int32_t back) const {
    return ring.data() + ((writeIndex - back) & ringMask);
}

}  // namespace dynamics
