#pragma once

// The smoother's kernel: a trapezoid-weighted moving average computed exactly in fixed point.
// For lengths L1 and L2,
//
//   q[n] = floor(x[n] × 2^24 + 0.5), product and sum in single precision, saturated to the
//          int32 range (inputs of magnitude 128 or more), NaN giving 0; q = 0 before the start
//   y[n] = sum over i < L1, j < L2 of q[n - i - j]     (an integer, formed exactly)
//   out[n] = float(y[n]) × gain,  float(y) the float nearest y,  gain = 1 / ((L1 × 2^24) × L2)
//
// in single precision. The cascade of a moving sum of L1 samples and one of L2 samples is
// kept recursively: y[n] = s[n] + 2 y[n-1] - y[n-2] with the four-tap combination
// s[n] = q[n] - q[n-L1] - q[n-L2] + q[n-L1-L2].
//
// Bounds, whatever the input (|q| <= 2^31, so |s| <= 2^33):
//  - the slope y[n] - y[n-1] = sum over i < L1 of (q[n-i] - q[n-i-L2]) lies within
//    L1 × (2^32 - 1) < 2^63 for every L1 < 2^31: it always fits 64 bits, and so does s;
//  - y lies between -L1 × L2 × 2^31 and L1 × L2 × (2^31 - 1): while L1 × L2 <= 2^32 it fits
//    64 bits, and the kernel keeps it there; longer windows keep it in 128 bits, where
//    L1 + L2 <= 2^22 bounds it by 2^73 (L1 × L2 <= 2^42). A run of such sums that all round
//    to float at one step is carried as 64-bit distances from a base instead (see
//    fixed_step_rounding.h): the same floats, without 128-bit work per sample.
//
// Invariants: the output is exact (integers, converted and scaled once per sample) and never
// drifts however long it runs; it does not depend on how the signal is cut into runs; the
// impulse response lasts L1 + L2 - 1 samples, so after a step the output is constant from
// sample L1 + L2 - 1 on; with lengths 1 and 1 the output is the input quantised to multiples
// of 2^-24.

#include <cstdint>
#include <vector>

namespace dynamics {

class FixedPointSmoother {
public:
    // The longest L1 + L2 the bounds above allow.
    static constexpr int32_t kLongestWindow = int32_t{1} << 22;

    // An empty smoother: it holds no storage, and run must not be called on it.
    FixedPointSmoother() = default;

    // A smoother with lengths of at least 1 that add up to at most kLongestWindow, as if the
    // input had been 0 before. Its ring of about L1 + L2 integers is allocated here: throws
    // std::bad_alloc when it is not there, so a caller that replaces its smoother with a new
    // one only once constructed keeps the old one intact on failure. Moves never throw.
    FixedPointSmoother(int32_t length1, int32_t length2);

    bool empty() const { return ring.empty(); }

    // out[k] = the output for in[k]. out may be the same buffer as in. Allocates nothing and
    // raises no floating-point exception, whatever the input.
    void run(const float* in, float* out, int32_t count);

private:
    static constexpr int32_t kChunk = 64;

    static int32_t ringSizeFor(int32_t length1, int32_t length2);
    void writeChunk(const float* in, int32_t count);
    template <bool wideSum>
    void smoothChunk(float* out, int32_t count);
    template <bool wideSum>
    void runChunks(const float* in, float* out, int32_t count);
    const int32_t* tapsBack(int32_t back) const;
    uint64_t reachWithin(int32_t count) const;

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

}  // namespace dynamics
