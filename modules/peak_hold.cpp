// PeakHold: the minimum of the input over a hold window; on a gain signal it holds the
// deepest reduction.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "factory/module_registration.h"
#include "framework/audio_pins.h"
#include "framework/control_pin.h"
#include "framework/mp_base2.h"
#include "modules/doubling_ring.h"
#include "modules/multiversion.h"
#include "modules/sliding_minimum.h"

namespace dynamics {
namespace {

// Hold lengths above 2^24 samples (about 5.8 minutes at 48 kHz) are cut to it: the hold then
// takes 192 MiB instead of up to 24 GiB, and a window that long has no use on a gain signal.
constexpr int32_t kLongestHold = int32_t{1} << 24;

// v truncated toward zero; NaN and values outside the int32 range give -2147483648, which
// the caller turns into a hold length of 1. The range test comes first, so the conversion
// itself is always defined, and its comparisons are quiet ones: a NaN raises no exception.
int32_t truncateOrLowest(float v) {
    if (std::isgreaterequal(v, -2147483648.0f) && std::isless(v, 2147483648.0f)) return int32_t(v);
    return INT32_MIN;
}

// The hold length in samples for a hold time in milliseconds, in single precision:
// (ms × 0.001) × rate + 0.5, truncated. Zero, negative, NaN and out-of-range times, and a
// rate of 0, give 1 (the input passes through).
//
// No hold time or rate raises a floating-point exception. Infinite or NaN factors give 1, as
// the single-precision product would (and infinity × 0 is not formed). The product of the
// finite ones is exact in double, so rounding it to float gives the single-precision product
// bit for bit; a product beyond the int32 range gives 1 before that rounding can overflow.
int32_t holdLengthFor(float milliseconds, float sampleRate) {
    const float seconds = milliseconds * 0.001f;
    if (!std::isfinite(seconds) || !std::isfinite(sampleRate)) return 1;
    const double samples = double(seconds) * double(sampleRate);
    if (!std::isless(std::fabs(samples), 2147483648.0)) return 1;
    const float v = float(samples) + 0.5f;
    const int32_t n = truncateOrLowest(v);
    if (n <= 1) return 1;
    return n < kLongestHold ? n : kLongestHold;
}

// Samples before the first NaN among in[0, count).
DYNAMICS_MULTIVERSION
int32_t samplesBeforeNaN(const float* in, int32_t count) {
    constexpr int32_t kChunk = 64;
    for (int32_t start = 0; start < count; start += kChunk) {
        const int32_t end = std::min(count, start + kChunk);
        bool anyNaN = false;
#pragma omp simd reduction(| : anyNaN)
        for (int32_t k = start; k < end; ++k) anyNaN |= in[k] != in[k];
        if (!anyNaN) continue;
        for (int32_t k = start;; ++k)
            if (in[k] != in[k]) return k;
    }
    return count;
}

// The output is what the doubling ring (see doubling_ring.h) gives: for a hold length N the
// minimum of the last W samples, W the largest power of two not above N. A new hold-time
// value, even an unchanged one, starts afresh, and samples from before it count as 1.0.
//
// For input without NaN the ring's output is the newest of the samples equal to the
// window's minimum, whichever order its comparisons take, and a sliding minimum gives those
// bits at constant cost per sample. With NaN the order of the ring's comparisons decides
// what comes out, so from the first NaN on the ring itself runs, recreated from the last N
// input samples, which are always kept; after N samples without NaN the ring holds none any
// more and the sliding minimum takes over again.
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
        if (length <= 1) {  // also before the first hold time
            std::copy_n(in, count, out);
            return;
        }
        for (int32_t done = 0; done < count;) {
            const float* from = in + done;
            float* to = out + done;
            done += exact ? runRing(from, to, count - done) : runSlidingMinimum(from, to, count - done);
        }
    }

private:
    // Runs up to the first NaN and hands over to the ring there; returns the samples done.
    int32_t runSlidingMinimum(const float* in, float* out, int32_t count) {
        const int32_t clean = samplesBeforeNaN(in, count);
        remember(in, clean);  // first: out may be the same buffer as in
        window.run(in, out, clean);
        if (clean < count) startRing();
        return clean;
    }

    // Runs until N samples in a row without NaN have passed; returns the samples done.
    int32_t runRing(const float* in, float* out, int32_t count) {
        int32_t k = 0;
        for (; k < count && samplesWithoutNaN < length; ++k) {
            const float x = in[k];  // read once: out may be the same buffer
            remember(&x, 1);
            samplesWithoutNaN = x != x ? 0 : samplesWithoutNaN + 1;
            out[k] = ring.push(x);
        }
        if (samplesWithoutNaN >= length) {
            window.resume([this](int32_t ago) { return history[std::size_t(historyPosition(-ago))]; });
            exact = false;
        }
        return k;
    }

    // Replays the samples since the refill, at most the last N, into a fresh ring.
    void startRing() {
        const int32_t first = historyPosition(-samplesSinceRefill);
        ring.fill(length, 1.0f, first);
        for (int32_t i = 0; i < samplesSinceRefill; ++i)
            ring.push(history[std::size_t(historyPosition(i - samplesSinceRefill))]);
        samplesWithoutNaN = 0;
        exact = true;
    }

    void remember(const float* in, int32_t count) {
        for (int32_t k = 0; k < count;) {
            const int32_t run = std::min(count - k, length - historyIndex);
            std::copy_n(in + k, run, history.get() + historyIndex);
            k += run;
            historyIndex = historyIndex + run == length ? 0 : historyIndex + run;
        }
        samplesSinceRefill = count >= length - samplesSinceRefill ? length : samplesSinceRefill + count;
    }

    // Index of the sample `offset` places from the next one to be written; offset >= -N.
    int32_t historyPosition(int32_t offset) const {
        const int32_t position = historyIndex + offset;
        return position < 0 ? position + length : position;
    }

    // The history and the ring take N floats each, the sliding minimum W + 1. All of it is
    // allocated before anything is changed: when the memory for a long hold is not there,
    // the module keeps its hold length, history and window as they were, as if the value
    // had not come, and nothing escapes onPinsUpdated. For a moment the old and the new
    // storage are both held.
    void refill() {
        const float sampleRate = hostSampleRate();
        const int32_t holdLength = holdLengthFor(holdTime.getValue(), sampleRate);
        std::unique_ptr<float[]> newHistory;
        DoublingRing newRing;
        SlidingMinimum newWindow;
        if (holdLength > 1) {
            try {
                // Left unfilled: only samples written since the refill are ever read, and a
                // long hold's pages are then touched as the signal arrives, not all at once.
                newHistory = std::make_unique_for_overwrite<float[]>(std::size_t(holdLength));
                newRing.reserve(holdLength);
                newWindow.reset(largestPowerOfTwoUpTo(holdLength), 1.0f);
            } catch (const std::bad_alloc&) {
                return;
            }
        }
        history = std::move(newHistory);
        ring = std::move(newRing);
        window = std::move(newWindow);
        length = holdLength;
        historyIndex = 0;
        samplesSinceRefill = 0;
        exact = false;
    }

    static int32_t largestPowerOfTwoUpTo(int32_t n) {
        int32_t w = 1;
        while (w <= n / 2) w *= 2;
        return w;
    }

    mp::MpFloatInPin holdTime;  // milliseconds
    mp::AudioInPin input;
    mp::AudioOutPin output;
    int32_t length = 1;                // the hold length N in samples
    std::unique_ptr<float[]> history;  // the last N input samples
    int32_t historyIndex = 0;          // where the next sample goes
    int32_t samplesSinceRefill = 0;    // up to N
    int32_t samplesWithoutNaN = 0;     // while the ring runs, up to N
    bool exact = false;                // the ring runs, not the sliding minimum
    DoublingRing ring;
    SlidingMinimum window;
};

const mp::ModuleRegistration registration(u"Orin Peak Hold", mp::createModule<PeakHold>);

}  // namespace
}  // namespace dynamics
