// The run's meter against levels known without it: analytic peaks between samples, the
// loudness of a tone from the K-weighting's published coefficients, silence, and samples
// that are not numbers.

#include "ovm/core/loudness_meter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <numbers>

#include "ovm/core/signal_meter.h"

namespace {

using std::numbers::pi;

constexpr double kRate = 48000;

// Runs `seconds` of a signal, the same in every channel, through a meter in blocks of 512.
ovm::StreamLevels meter(const std::function<float(long long)>& signal, double seconds, int32_t channels = 2,
                        double rate = kRate) {
    ovm::LoudnessMeter meter(channels, rate, int32_t(rate / 100), false);
    const auto frames = static_cast<long long>(seconds * rate);
    std::vector<float> block(512);
    const std::vector<const float*> all(std::size_t(channels), block.data());
    for (long long done = 0; done < frames; done += 512) {
        const auto count = int32_t(std::min<long long>(512, frames - done));
        for (int32_t i = 0; i < count; ++i) block[std::size_t(i)] = signal(done + i);
        meter.add(all, count);
    }
    return meter.finish();
}

// The gain of BS.1770's K-weighting at 48 kHz (its two published biquads) at `hz`.
double kWeightingPowerGain(double hz) {
    const std::complex<double> z = std::polar(1.0, -2 * pi * hz / kRate);  // z^-1
    const auto biquad = [&](double b0, double b1, double b2, double a1, double a2) {
        return (b0 + b1 * z + b2 * z * z) / (1.0 + a1 * z + a2 * z * z);
    };
    const std::complex<double> shelf =
        biquad(1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241, 0.73248077421585);
    const std::complex<double> highPass = biquad(1.0, -2.0, 1.0, -1.99004745483398, 0.99007225036621);
    return std::norm(shelf * highPass);
}

// A full-scale sine at a quarter of the rate, sampled 45 degrees off its crests: every
// sample is at 1/sqrt(2) (-3.01 dBFS) and the waveform between them reaches 1 (0 dBTP).
TEST(LoudnessMeter, FindsThePeakBetweenTheSamples) {
    const ovm::StreamLevels levels =
        meter([](long long n) { return float(std::sin(pi / 2 * double(n) + pi / 4)); }, 1);
    EXPECT_NEAR(ovm::toDb(levels.samplePeak()), -3.0103, 1e-3);
    // A 4x interpolator lands on the crests; its ripple may read a little high.
    EXPECT_NEAR(ovm::toDb(levels.truePeak()), 0.0, 0.2);
    EXPECT_EQ(levels.nonFiniteSamples(), 0);
}

// Loudness is -0.691 dB + 10 log10 of the K-weighted mean squares summed over the two
// front channels: a steady tone of amplitude A gives A^2/2 per channel.
TEST(LoudnessMeter, ReadsATonesLoudnessFromItsWeightedPower) {
    const double amplitude = 0.1;  // -20 dBFS
    const double hz = 997;
    const double expected = -0.691 + 10 * std::log10(2 * amplitude * amplitude / 2 * kWeightingPowerGain(hz));
    const ovm::StreamLevels levels =
        meter([&](long long n) { return float(amplitude * std::sin(2 * pi * hz * double(n) / kRate)); }, 10);
    EXPECT_NEAR(expected, -20.0, 0.05);  // the weighting is designed near 0 dB here
    EXPECT_NEAR(levels.integratedLufs, expected, 0.01);
    EXPECT_NEAR(levels.shortTermMaxLufs, expected, 0.01);
    EXPECT_NEAR(levels.loudnessRangeLu, 0.0, 0.01);
    EXPECT_NEAR(ovm::toDb(levels.truePeak()), -20.0, 0.05);
}

struct Edge {
    const char* name;
    std::function<float(long long)> signal;
    double rate;
    double samplePeak, rms, truePeak;  // linear; NaN: not measured
    double integratedLufs;             // NaN: not measured
    long long nonFinite;               // over both channels
};

// Equal, or both not a number.
void expectSame(double actual, double expected, const char* name) {
    if (std::isnan(expected))
        EXPECT_TRUE(std::isnan(actual)) << name << ": " << actual;
    else
        EXPECT_DOUBLE_EQ(actual, expected) << name;
}

// Silence reads minus infinity, not a number; NaN and infinities are counted and metered as
// silence; rates libebur128 cannot meter leave its figures unmeasured, not invented.
TEST(LoudnessMeter, SilenceNonFiniteSamplesAndUnmeteredRates) {
    const Edge edges[] = {
        {"silence", [](long long) { return 0.0f; }, kRate, 0, 0, 0, -INFINITY, 0},
        {"non-finite", [](long long n) { return n % 4800 == 7 ? (n % 9600 == 7 ? NAN : -INFINITY) : 0.0f; },
         kRate, 0, 0, 0, -INFINITY, 10},
        {"low rate", [](long long n) { return n == 100 ? 0.5f : 0.0f; }, 4000, 0.5, 0.5 / std::sqrt(2000.0),
         NAN, NAN, 0},
    };
    for (const Edge& e : edges) {
        const ovm::StreamLevels levels = meter(e.signal, 0.5, 2, e.rate);
        expectSame(levels.samplePeak(), e.samplePeak, e.name);
        expectSame(levels.channels[0].rms, e.rms, e.name);
        expectSame(levels.truePeak(), e.truePeak, e.name);
        expectSame(levels.integratedLufs, e.integratedLufs, e.name);
        EXPECT_EQ(levels.nonFiniteSamples(), e.nonFinite) << e.name;
    }
}

}  // namespace
