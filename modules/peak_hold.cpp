// PeakHold: the minimum of the input over a hold window; on a gain signal it holds the
// deepest reduction.

#include <cmath>
#include <cstdint>
#include <new>

#include "factory/module_registration.h"
#include "framework/audio_pins.h"
#include "framework/control_pin.h"
#include "framework/mp_base2.h"
#include "modules/exact_hold.h"

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

// The output is the exact hold's (see exact_hold.h): for a hold length N the minimum of the
// last W samples, W the largest power of two not above N, as the doubling ring gives it. A
// new hold-time value, even an unchanged one, starts afresh, and samples from before it
// count as 1.0.
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

    void run(int32_t count) { hold.run(input.getBuffer(), output.getBuffer(), count); }

private:
    // The new hold is allocated whole before it replaces the old one: when the memory for a
    // long hold is not there, the module keeps its hold as it was, as if the value had not
    // come, and nothing escapes onPinsUpdated. For a moment the old and the new storage are
    // both held.
    void refill() {
        try {
            hold = ExactHold(holdLengthFor(holdTime.getValue(), hostSampleRate()));
        } catch (const std::bad_alloc&) {
        }
    }

    mp::MpFloatInPin holdTime;  // milliseconds
    mp::AudioInPin input;
    mp::AudioOutPin output;
    ExactHold hold;  // passes the input through until the first hold time
};

const mp::ModuleRegistration registration(u"Orin Peak Hold", mp::createModule<PeakHold>);

}  // namespace
}  // namespace dynamics
