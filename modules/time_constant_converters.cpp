// Ms2Factor and Factor2Ms: conversion between a decay time and the per-sample multiplier of
// an exponential decay that falls by 60 dB (a factor of 1000) within that time.
//
// A time value v stands for v * 10 ms, that is T = v * 0.01 * sampleRate samples. A factor
// value u stands for the multiplier f = 10 * u (the signal carries a tenth of it). The two
// are related by f^T = 1/1000.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "factory/module_registration.h"
#include "framework/audio_pins.h"
#include "framework/mp_base2.h"
#include "modules/multiversion.h"

namespace dynamics {
namespace {

// -ln(1000) and -100 * ln(1000).
constexpr double kMinusLn1000 = -6.907755278982137;
constexpr double kMinusLn1000Times100 = -690.7755278982137;

// Each converter works through a block in chunks of kChunk samples: it asks the host for
// the rate of every sample of the chunk first, then runs the arithmetic in passes, so that
// the divisions and the float conversions run as vector instructions, independently of the
// library call. Every sample still gets the same IEEE operations in the same order.
constexpr int32_t kChunk = 64;

// out = 0.1 * exp(-ln(1000) / (0.01 * v * sampleRate)), every step in double. Nothing is
// guarded: +0 gives 0, -0 gives +inf, negative times give factors above 0.1, NaN gives NaN,
// and a rate of 0 gives 0 for every positive time.
DYNAMICS_VECTOR_LOOP
void exponentsForLoop(const float* time, const float* rate, double* exponent, int32_t count) {
#pragma omp simd
    for (int32_t k = 0; k < count; ++k) {
        double samples = double(time[k]) * 0.01;
        samples = samples * double(rate[k]);
        exponent[k] = kMinusLn1000 / samples;
    }
}
const auto exponentsFor = chosenAtLoad<exponentsForLoop>();

void timesToFactors(const float* time, const float* rate, float* out, int32_t count) {
    double exponent[kChunk];
    exponentsFor(time, rate, exponent, count);
    for (int32_t k = 0; k < count; ++k) out[k] = float(std::exp(exponent[k]) * 0.1);
}

// out = -100 * ln(1000) / (sampleRate * ln(10 * u)); the scaling by 10 is a float product,
// the rest is double. 0.1 gives -inf (10 * 0.1f rounds to exactly 1), 0 gives +0, negative
// factors give NaN, factors above 0.1 give negative times.
DYNAMICS_VECTOR_LOOP
void timesForLoop(const double* logMultiplier, const float* rate, float* out, int32_t count) {
#pragma omp simd
    for (int32_t k = 0; k < count; ++k) {
        const double denominator = logMultiplier[k] * double(rate[k]);
        out[k] = float(kMinusLn1000Times100 / denominator);
    }
}
const auto timesFor = chosenAtLoad<timesForLoop>();

// ln(x) with the same bits from every C library. The logarithm of a negative number is NaN,
// and the libraries differ in its sign: glibc gives the processor's default NaN, whose sign
// is set, mingw-w64's a positive one. Given here, it is the default NaN on every system; the
// test is a quiet comparison, so it raises nothing for a NaN x, which std::log passes on.
inline double logarithm(double x) {
    return std::isless(x, 0.0) ? -std::numeric_limits<double>::quiet_NaN() : std::log(x);
}

void factorsToTimes(const float* factor, const float* rate, float* out, int32_t count) {
    double logMultiplier[kChunk];
    for (int32_t k = 0; k < count; ++k) logMultiplier[k] = logarithm(double(factor[k] * 10.0f));
    timesFor(logMultiplier, rate, out, count);
}

// Both converters have no state: each output sample depends on its input sample and on the
// sample rate the host reports for it. The rate is asked for every sample, never cached, so
// a change of rate applies from the next sample on. The output's streaming state follows
// the input's.
template <void (*convert)(const float* in, const float* rate, float* out, int32_t count)>
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
        float rate[kChunk];
        for (int32_t done = 0; done < count; done += kChunk) {
            const int32_t chunk = std::min(count - done, kChunk);
            for (int32_t k = 0; k < chunk; ++k) rate[k] = hostSampleRate();
            convert(in + done, rate, out + done, chunk);
        }
    }

private:
    mp::AudioInPin input;
    mp::AudioOutPin output;
};

using Ms2Factor = Converter<timesToFactors>;
using Factor2Ms = Converter<factorsToTimes>;

const mp::ModuleRegistration ms2FactorRegistration(u"Orin ms2factor", mp::createModule<Ms2Factor>);
const mp::ModuleRegistration factor2MsRegistration(u"Orin factor2ms", mp::createModule<Factor2Ms>);

}  // namespace
}  // namespace dynamics
