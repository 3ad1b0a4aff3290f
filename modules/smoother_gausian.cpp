// SmootherGausian: a trapezoid-weighted moving average, computed exactly in fixed point.

#include <cstdint>
#include <vector>

#include "factory/module_registration.h"
#include "framework/audio_pins.h"
#include "framework/control_pin.h"
#include "framework/mp_base2.h"

namespace dynamics {
namespace {

// Longest supported smoothing time: 65535 samples (about 1.37 s at 48 kHz); longer times,
// +inf included, are cut to it. For T <= 65535 the two lengths add up to at most 65535, so
//  - the ring holds at most 65536 entries (256 KiB);
//  - length1 × length2 <= (65535 / 2)^2 < 2^30, and with |q| <= 2^31 every filter sum obeys
//    |y| < 2^61; with |s| <= 2^33 every partial result of s + 2 × sum1 - sum2 stays below
//    2^33 + 2^62 + 2^61 < 2^63: the 64-bit sums cannot overflow, whatever the input.
constexpr float kLongestTime = 65535.0f;

constexpr float kScale = 16777216.0f;  // 2^24: 24 fractional bits

// Rounds half up, toward +inf: floor(x × 2^24 + 0.5) in single precision. Inputs of magnitude
// 128 or more saturate to the int32 range, NaN gives 0. The range tests come before the
// conversion, which is therefore always defined; floor is formed from the truncation so that
// the per-sample loop calls nothing.
inline int32_t quantise(float x) {
    const float z = x * kScale + 0.5f;
    if (z >= 2147483648.0f) return INT32_MAX;
    if (z < -2147483648.0f) return INT32_MIN;
    if (z != z) return 0;
    const auto truncated = int32_t(z);
    return float(truncated) > z ? truncated - 1 : truncated;
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
        chooseRunFunction(&SmootherGausian::run);
    }

    void run(int32_t count) {
        const float* in = input.getBuffer();
        float* out = output.getBuffer();
        for (int32_t k = 0; k < count; ++k) out[k] = smoothSample(in[k]);
    }

private:
    float smoothSample(float x) {
        const int32_t w = writeIndex;
        ring[std::size_t(w)] = quantise(x);
        const int64_t s = int64_t{tap(w + offset12)} - tap(w + offset2) - tap(w + offset1) + tap(w);
        const int64_t y = s + 2 * sum1 - sum2;
        sum2 = sum1;
        sum1 = y;
        writeIndex = (w + 1) & ringMask;
        return float(y) * gain;
    }

    int32_t tap(int32_t position) const { return ring[std::size_t(position & ringMask)]; }

    // Every time value, also an unchanged one, clears the history: the output starts again
    // as if the input had been 0 before. The new ring is built before anything is changed,
    // so a failed allocation leaves the filter as it was.
    void rebuild() {
        float sampleRate = 0.0f;  // stays 0 when no host or a host that does not know it
        if (mp::IMpHost* host = getHost()) host->querySampleRate(&sampleRate);
        float samples = (sampleRate * time.getValue()) * 0.001f;
        if (samples > kLongestTime) samples = kLongestTime;
        const int32_t length1 = lengthFor(samples, 0.4);
        const int32_t length2 = lengthFor(samples, 0.6);

        int32_t size = 2;
        while (size < length1 + length2 + 1) size *= 2;
        std::vector<int32_t> fresh(std::size_t(size), 0);

        ring.swap(fresh);
        gain = 1.0f / ((float(length1) * kScale) * float(length2));
        ringMask = size - 1;
        offset1 = size - length1;
        offset2 = size - length2;
        offset12 = size - (length1 + length2);
        writeIndex = 0;
        sum1 = 0;
        sum2 = 0;
    }

    mp::MpFloatInPin time;  // milliseconds
    mp::AudioInPin input;
    mp::AudioOutPin output;
    std::vector<int32_t> ring;  // quantised inputs, the current one at writeIndex
    int32_t offset1 = 0;        // ring size - length1
    int32_t offset2 = 0;        // ring size - length2
    int32_t offset12 = 0;       // ring size - length1 - length2
    int32_t writeIndex = 0;
    int64_t sum1 = 0;  // filter sum of the previous sample
    int64_t sum2 = 0;  // and of the one before
    float gain = 0.0f;
    int32_t ringMask = 0;
};

const mp::ModuleRegistration registration(u"Orin SmootherG", mp::createModule<SmootherGausian>);

}  // namespace
}  // namespace dynamics
