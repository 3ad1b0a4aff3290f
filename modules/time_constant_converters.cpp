// Ms2Factor and Factor2Ms: conversion between a decay time and the per-sample multiplier of
// an exponential decay that falls by 60 dB (a factor of 1000) within that time.
//
// A time value v stands for v * 10 ms, that is T = v * 0.01 * sampleRate samples. A factor
// value u stands for the multiplier f = 10 * u (the signal carries a tenth of it). The two
// are related by f^T = 1/1000.

#include <cmath>
#include <cstdint>

#include "factory/module_registration.h"
#include "framework/audio_pins.h"
#include "framework/mp_base2.h"

namespace dynamics {
namespace {

// -ln(1000) and -100 * ln(1000).
constexpr double kMinusLn1000 = -6.907755278982137;
constexpr double kMinusLn1000Times100 = -690.7755278982137;

// out = 0.1 * exp(-ln(1000) / (0.01 * v * sampleRate)), every step in double. Nothing is
// guarded: +0 gives 0, -0 gives +inf, negative times give factors above 0.1, NaN gives NaN,
// and a rate of 0 gives 0 for every positive time.
float timeToFactor(float time, float sampleRate) {
    double samples = double(time) * 0.01;
    samples = samples * double(sampleRate);
    const double exponent = kMinusLn1000 / samples;
    return float(std::exp(exponent) * 0.1);
}

// out = -100 * ln(1000) / (sampleRate * ln(10 * u)); the scaling by 10 is a float product,
// the rest is double. 0.1 gives -inf (10 * 0.1f rounds to exactly 1), 0 gives +0, negative
// factors give NaN, factors above 0.1 give negative times.
float factorToTime(float factor, float sampleRate) {
    const float multiplier = factor * 10.0f;
    const double logMultiplier = std::log(double(multiplier));
    const double denominator = logMultiplier * double(sampleRate);
    return float(kMinusLn1000Times100 / denominator);
}

// Both converters have no state: each output sample depends on its input sample and on the
// sample rate the host reports for it. The rate is asked for every sample, never cached, so
// a change of rate applies from the next sample on. The output's streaming state follows
// the input's.
template <float (*convert)(float value, float sampleRate)>
class Converter : public mp::MpBase2 {
public:
    Converter() {
        registerPin(input);
        registerPin(output);
    }

    void onPinsUpdated() override {
        output.setStreaming(input.isStreaming());
        chooseRunFunction(&Converter::run);
    }

    void run(int32_t count) {
        const float* in = input.getBuffer();
        float* out = output.getBuffer();
        for (int32_t i = 0; i < count; ++i) out[i] = convert(in[i], currentSampleRate());
    }

private:
    // Starts from 0 before every query, so a host that writes nothing (or no host at all)
    // yields a rate of 0 rather than a stale or undefined value.
    float currentSampleRate() const {
        float rate = 0.0f;
        if (mp::IMpHost* host = getHost()) host->querySampleRate(&rate);
        return rate;
    }

    mp::AudioInPin input;
    mp::AudioOutPin output;
};

using Ms2Factor = Converter<timeToFactor>;
using Factor2Ms = Converter<factorToTime>;

const mp::ModuleRegistration ms2FactorRegistration(u"Orin ms2factor", mp::createModule<Ms2Factor>);
const mp::ModuleRegistration factor2MsRegistration(u"Orin factor2ms", mp::createModule<Factor2Ms>);

}  // namespace
}  // namespace dynamics
