// SmootherGausian: a trapezoid-weighted moving average, computed exactly in fixed point.

#include <cmath>
#include <cstdint>

#include "factory/module_registration.h"
#include "framework/audio_pins.h"
#include "framework/control_pin.h"
#include "framework/mp_base2.h"
#include "modules/fixed_point_smoother.h"

namespace dynamics {
namespace {

// Longest supported smoothing time: 4,000,000 samples (20.8 s at 192 kHz, 83 s at 48 kHz);
// longer times, +inf included, are cut to it. The lengths then add up to at most 4,000,001,
// within the smoother's longest window (2^22), so its ring holds at most 2^22 + 64 entries
// (16 MiB); at 20 s and 192 kHz it is as large.
constexpr float kLongestTime = 4000000.0f;

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

// The output is the fixed-point smoother's (see fixed_point_smoother.h) with
// length1 ≈ 0.4 T and length2 ≈ 0.6 T: the window is about T samples long and centred
// (length1 + length2 - 2) / 2 samples back.
//
// Until the first time value arrives the filter is built as for a time of 0 (lengths 1
// and 1): the run function always has a smoother to work on, and the output is the input
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
        if (time.isUpdated() || smoother.empty()) rebuild();
        chooseRunFunction(&SmootherGausian::run);
    }

    void run(int32_t count) { smoother.run(input.getBuffer(), output.getBuffer(), count); }

private:
    // Every time value, also an unchanged one, clears the history: the output starts again
    // as if the input had been 0 before. The new smoother is allocated whole before it
    // replaces the old one, so when that fails the filter stays entirely as it was and the
    // failure propagates to the caller.
    void rebuild() {
        float samples = samplesFor(hostSampleRate(), time.getValue());
        if (samples > kLongestTime) samples = kLongestTime;
        smoother = FixedPointSmoother(lengthFor(samples, 0.4), lengthFor(samples, 0.6));
    }

    mp::MpFloatInPin time;  // milliseconds
    mp::AudioInPin input;
    mp::AudioOutPin output;
    FixedPointSmoother smoother;
};

const mp::ModuleRegistration registration(u"Orin SmootherG", mp::createModule<SmootherGausian>);

}  // namespace
}  // namespace dynamics
