// SmootherGausian: a trapezoid-weighted moving average, computed exactly in fixed point.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "factory/module_registration.h"
#include "framework/audio_pins.h"
#include "framework/control_pin.h"
#include "framework/mp_base2.h"
#include "modules/multiversion.h"

namespace dynamics {
namespace {

// Longest supported smoothing time: 4,000,000 samples (20.8 s at 192 kHz, 83 s at 48 kHz);
// longer times, +inf included, are cut to it. The lengths then add up to at most 4,000,001,
// so the ring holds at most 2^22 + 64 entries (16 MiB); at 20 s and 192 kHz it is as large.
constexpr float kLongestTime = 4000000.0f;

// Bounds of the filter sums, whatever the input (|q| <= 2^31, |s| <= 2^33):
//  - the slope y[n] - y[n-1] = sum over i < length1 of (q[n-i] - q[n-i-length2]) stays within
//    length1 × (2^32 - 1) < 2^63 for every length1 < 2^31: it always fits 64 bits;
//  - the sum y itself: while length1 × length2 <= 2^32, which holds up to
//    T = 133,766 samples (65535, the longest time of earlier versions, included), y fits
//    64 bits: it lies between -length1 × length2 × 2^31 >= -2^63 and
//    length1 × length2 × (2^31 - 1) < 2^63. Longer windows reach 2^73 at the longest time
//    (length1 × length2 = 3.84 × 10^12 < 2^42), so y is kept in 128 bits for them.
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

DYNAMICS_MULTIVERSION
void quantiseAll(const float* in, int32_t* out, int32_t count) {
#pragma omp simd
    for (int32_t i = 0; i < count; ++i) out[i] = quantise(in[i]);
}

// s = q[n - length1 - length2] - q[n - length2] - q[n - length1] + q[n], for a run of n.
DYNAMICS_MULTIVERSION
void fourTapSums(const int32_t* now, const int32_t* back1, const int32_t* back2, const int32_t* back12,
                 int64_t* sums, int32_t count) {
#pragma omp simd
    for (int32_t k = 0; k < count; ++k) sums[k] = int64_t{back12[k]} - back2[k] - back1[k] + now[k];
}

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

// A time in ms as samples at the host's rate: (rate × ms) × 0.001 in single precision. What a
// NaN, an infinity times zero or a product beyond the float range would give (a window of one
// sample, or the longest) is decided before the arithmetic, so that a host that unmasks
// floating-point exceptions sees none: the result is never NaN and compares quietly.
float samplesFor(float rate, float ms) {
    const bool infinite = std::isinf(rate) || std::isinf(ms);
    if (std::isnan(rate) || std::isnan(ms) || (infinite && (rate == 0.0f || ms == 0.0f))) return 0.0f;
    const double exact = double(rate) * double(ms);  // exact in double, and far from its range
    if (std::fabs(exact) > 0x1p40) return exact > 0.0 ? kLongestTime : 0.0f;
    return (rate * ms) * 0.001f;
}

// trunc(T × factor + 0.5) in double precision, at least 1. NaN and negative times give 1;
// T is bounded by kLongestTime, so the conversion is always defined.
int32_t lengthFor(float samples, double factor) {
    const double v = double(samples) * factor + 0.5;
    return v >= 1.0 ? int32_t(v) : 1;
}

// The output is the cascade of a moving sum of length1 samples and one of length2 samples
// over the quantised input, y[n] = sum over i < length1, j < length2 of q[n - i - j], scaled
// back by gain. The two sums are kept recursively from a four-tap combination of the ring;
// being integers they are exact and never drift. With length1 ≈ 0.4 T and length2 ≈ 0.6 T
// the window is about T samples long and centred (length1 + length2 - 2) / 2 samples back.
//
// The four-tap combination is formed in 64 bits: in 32 bits it would wrap for inputs from
// 32 up to 128 in magnitude; wherever it does not wrap the results are the same.
//
// Until the first time value arrives the filter is built as for a time of 0 (lengths 1
// and 1): the run function always has a ring to work on, and the output is the input
// quantised to multiples of 2^-24.
//
// The output's streaming state is never driven: it is static until the host announces the
// outputs and streams from then on, so a static input still lets the output settle on it.
class SmootherGausian : public mp::MpBase2 {
public:
    SmootherGausian() {
        registerPin(time);
        registerPin(input);
        registerPin(output);
    }

    int32_t open() override { return mp::kResultOk; }

    void onPinsUpdated() override {
        if (time.isUpdated() || ring.empty()) rebuild();
        if (wide)
            chooseRunFunction(&SmootherGausian::run<true>);
        else
            chooseRunFunction(&SmootherGausian::run<false>);
    }

    // A block goes through in chunks, each in three passes: quantise into the ring, form the
    // four-tap sums, then run the recursion. Only the last is sequential; the other two run
    // as vector instructions. Wide: the filter sum is kept in 128 bits.
    template <bool wideSum>
    void run(int32_t count) {
        const float* in = input.getBuffer();
        float* out = output.getBuffer();
        for (int32_t done = 0; done < count;) {
            const int32_t chunk = std::min(count - done, kChunk);
            writeChunk(in + done, chunk);
            smoothChunk<wideSum>(out + done, chunk);
            done += chunk;
        }
    }

private:
    static constexpr int32_t kChunk = 64;

    // Quantises a chunk straight into the ring at writeIndex, then renews the copy of the
    // ring's first kChunk entries kept after its end, so that a run of up to kChunk taps can
    // be read without wrapping.
    void writeChunk(const float* in, int32_t count) {
        const int32_t size = ringMask + 1;
        const int32_t beforeEnd = std::min(count, size - writeIndex);
        quantiseAll(in, ring.data() + writeIndex, beforeEnd);
        quantiseAll(in + beforeEnd, ring.data(), count - beforeEnd);
        if (writeIndex < kChunk || beforeEnd < count) std::copy_n(ring.data(), kChunk, ring.data() + size);
    }

    // The recursion y[n] = s + 2 y[n-1] - y[n-2] is kept as a slope y[n] - y[n-1], which
    // grows by s: two dependent additions per sample instead of three, the same integers.
    template <bool wideSum>
    void smoothChunk(float* out, int32_t count) {
        int64_t fourTap[kChunk];
        fourTapSums(tapsBack(0), tapsBack(length1), tapsBack(length2), tapsBack(length1 + length2), fourTap,
                    count);
        int64_t rise = slope;
        if constexpr (wideSum) {
            const float scale = gain;
            const float scalePerUnit = gain * 4294967296.0f;
            __int128 y = level;
            for (int32_t k = 0; k < count; ++k) {
                rise += fourTap[k];
                y += rise;
                out[k] = scaledToNearest(y, scale, scalePerUnit);
            }
            level = y;
        } else {
            const float scale = gain;
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

    // The chunk's inputs `back` samples earlier, as one run of the ring.
    const int32_t* tapsBack(int32_t back) const { return ring.data() + ((writeIndex - back) & ringMask); }

    // Every time value, also an unchanged one, clears the history: the output starts again
    // as if the input had been 0 before. The new ring is allocated before anything is
    // changed, so when that fails the filter stays entirely as it was (ring, lengths, sums,
    // gain and the width of its sums) and the failure propagates to the caller.
    void rebuild() {
        float samples = samplesFor(hostSampleRate(), time.getValue());
        if (samples > kLongestTime) samples = kLongestTime;
        const int32_t newLength1 = lengthFor(samples, 0.4);
        const int32_t newLength2 = lengthFor(samples, 0.6);

        // Room for a whole chunk beyond the longest tap, so that writing a chunk first never
        // overwrites what one of its samples is still to read; then the copy of the start.
        int32_t size = 2;
        while (size < newLength1 + newLength2 + 1 + kChunk) size *= 2;
        std::vector<int32_t> fresh(std::size_t(size + kChunk), 0);

        ring.swap(fresh);
        gain = 1.0f / ((float(newLength1) * kScale) * float(newLength2));
        ringMask = size - 1;
        length1 = newLength1;
        length2 = newLength2;
        wide = int64_t{newLength1} * newLength2 > kLongestNarrowProduct;
        writeIndex = 0;
        level = 0;
        slope = 0;
    }

    mp::MpFloatInPin time;  // milliseconds
    mp::AudioInPin input;
    mp::AudioOutPin output;
    std::vector<int32_t> ring;  // quantised inputs, the next one at writeIndex; then a copy of the start
    int32_t length1 = 1;
    int32_t length2 = 1;
    bool wide = false;  // the filter sum needs more than 64 bits
    int32_t writeIndex = 0;
    __int128 level = 0;  // filter sum of the previous sample
    int64_t slope = 0;   // its difference from the one before
    float gain = 0.0f;
    int32_t ringMask = 0;
};

const mp::ModuleRegistration registration(u"Orin SmootherG", mp::createModule<SmootherGausian>);

}  // namespace
}  // namespace dynamics
