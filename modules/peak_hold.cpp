// PeakHold: the minimum of the input over a hold window; on a gain signal it holds the
// deepest reduction.

#include <cstdint>
#include <vector>

#include "factory/module_registration.h"
#include "framework/audio_pins.h"
#include "framework/control_pin.h"
#include "framework/mp_base2.h"

namespace dynamics {
namespace {

// Hold lengths above 2^24 samples (about 5.8 minutes at 48 kHz) are cut to it: the ring then
// takes 64 MiB instead of up to 8 GiB, and a window that long has no use on a gain signal.
constexpr int32_t kLongestHold = int32_t{1} << 24;

// v truncated toward zero; NaN and values outside the int32 range give -2147483648, which
// the caller turns into a hold length of 1. The range test comes first, so the conversion
// itself is always defined.
int32_t truncateOrLowest(float v) {
    if (v >= -2147483648.0f && v < 2147483648.0f) return int32_t(v);
    return INT32_MIN;
}

// The hold length in samples for a hold time in milliseconds, in single precision:
// (ms × 0.001) × rate + 0.5, truncated. Zero, negative, NaN and out-of-range times, and a
// rate of 0, give 1 (the input passes through).
int32_t holdLengthFor(float milliseconds, float sampleRate) {
    const float v = (milliseconds * 0.001f) * sampleRate + 0.5f;
    const int32_t n = truncateOrLowest(v);
    if (n <= 1) return 1;
    return n < kLongestHold ? n : kLongestHold;
}

// The ring holds partial minima: after a sample is written, the entry 2^j - 1 places behind
// it holds the minimum of the last 2^j samples. Each new sample folds in the entries 1, 3,
// 7, ... places back, so the output is the minimum of the last W samples, W being the
// largest power of two not above the ring length N, at log2 N steps per sample. A new
// hold-time value, even an unchanged one, refills the ring with 1.0 (no reduction), so
// samples from before it count as 1.0.
//
// The fold keeps b only when b <= f; any other outcome, a NaN on either side included, takes
// f. NaN is neither trapped nor held: a lone NaN sample shows at the output for one sample
// within the window after it, where the folds happen to meet it.
//
// The output's streaming state is never driven: it is static until the host announces the
// outputs and streams from then on, so an announced PeakHold never sleeps.
class PeakHold : public mp::MpBase2 {
public:
    PeakHold() {
        registerPin(holdTime);
        registerPin(input);
        registerPin(output);
    }

    void onPinsUpdated() override {
        if (holdTime.isUpdated()) refill();
        chooseRunFunction(&PeakHold::run);
    }

    void run(int32_t count) {
        const float* in = input.getBuffer();
        float* out = output.getBuffer();
        for (int32_t k = 0; k < count; ++k) out[k] = holdSample(in[k]);
    }

private:
    // Before the first hold time the ring is empty, and a ring of 0 or 1 entries passes the
    // input through.
    float holdSample(float b) {
        const auto n = int32_t(ring.size());
        int32_t c = writeIndex;
        for (int32_t d = 1; d < n; d *= 2) {
            ring[std::size_t(c)] = b;
            c -= d;
            if (c < 0) c += n;
            const float f = ring[std::size_t(c)];
            if (!(b <= f)) b = f;
        }
        if (++writeIndex >= n) writeIndex = 0;
        return b;
    }

    void refill() {
        float sampleRate = 0.0f;  // stays 0 when no host or a host that does not know it
        if (mp::IMpHost* host = getHost()) host->querySampleRate(&sampleRate);
        fillRing(holdLengthFor(holdTime.getValue(), sampleRate));
        // All entries are equal now, so where writing resumes does not matter.
        if (writeIndex >= int32_t(ring.size())) writeIndex = 0;
    }

    // When the memory for a long ring is not there, the module passes the input through
    // (a hold length of 1) instead of letting the failure out of onPinsUpdated. The old
    // storage is released first, so the one-entry ring will fit; should even that fail, the
    // ring stays empty, which passes the input through as well.
    void fillRing(int32_t length) {
        try {
            ring.assign(std::size_t(length), 1.0f);
            return;
        } catch (...) {
            std::vector<float>().swap(ring);
        }
        try {
            ring.assign(1, 1.0f);
        } catch (...) {
        }
    }

    mp::MpFloatInPin holdTime;  // milliseconds
    mp::AudioInPin input;
    mp::AudioOutPin output;
    std::vector<float> ring;
    int32_t writeIndex = 0;
};

const mp::ModuleRegistration registration(u"Orin Peak Hold", mp::createModule<PeakHold>);

}  // namespace
}  // namespace dynamics
