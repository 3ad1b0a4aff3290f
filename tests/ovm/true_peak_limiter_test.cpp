// The limiter example run over hard programmes, its output measured by the tests' own
// true-peak check.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "ovm/core/demo_signal.h"
#include "ovm/core/patch_reader.h"
#include "tests/support/true_peak_check.h"
#include "tests/support/dynamics_library.h"

namespace {

constexpr double kRate = 48000;
constexpr int32_t kLength = 24000;  // half a second
constexpr double kPi = std::numbers::pi;

using Stereo = std::vector<std::vector<float>>;  // two channels

// Both channels alike, scaled so that the sample peak is exactly 1 (0 dBFS).
Stereo fullScale(const std::function<double(int32_t)>& signal) {
    std::vector<double> x(kLength);
    double peak = 0;
    for (int32_t n = 0; n < kLength; ++n) peak = std::max(peak, std::fabs(x[std::size_t(n)] = signal(n)));
    std::vector<float> channel(kLength);
    for (int32_t n = 0; n < kLength; ++n) channel[std::size_t(n)] = float(x[std::size_t(n)] / peak);
    return {channel, channel};
}

Stereo bursts() {
    const std::vector<float> interleaved = ovm::demoProgramme(double(kLength) / kRate, kRate);
    Stereo x(2, std::vector<float>(kLength));
    for (std::size_t n = 0; n < kLength; ++n)
        for (std::size_t c = 0; c < 2; ++c) x[c][n] = interleaved[2 * n + c];
    return x;
}

// White noise from a fixed generator through a three-pole pink filter (-3 dB per octave).
Stereo pinkNoise() {
    uint32_t state = 12345;
    double b0 = 0, b1 = 0, b2 = 0;
    return fullScale([&](int32_t) {
        state = state * 1664525u + 1013904223u;
        const double white = double(state) / 4294967296.0 - 0.5;
        b0 = 0.99765 * b0 + white * 0.0990460;
        b1 = 0.96300 * b1 + white * 0.2965164;
        b2 = 0.57000 * b2 + white * 1.0526913;
        return b0 + b1 + b2 + white * 0.1848;
    });
}

// A tone faded in and out over 10 ms, as test tones are: cut in abruptly at full scale near
// half the rate, a tone overshoots its level by up to 2 dB in the first samples, a
// step that no short interpolation filter reconstructs (the detector reads 12 samples).
Stereo sine(double cyclesPerSample, double phase) {
    constexpr int32_t kFade = 480;
    return fullScale([=](int32_t n) {
        const double edge = std::min(1.0, double(std::min(n, kLength - 1 - n)) / kFade);
        return std::sin(2 * kPi * cyclesPerSample * n + phase) * (0.5 - 0.5 * std::cos(kPi * edge));
    });
}

struct Programme {
    std::string name;
    Stereo (*make)();
};

void PrintTo(const Programme& p, std::ostream* out) { *out << p.name; }

// Runs the limiter example over the programme and the silence its latency needs to come out.
Stereo limit(const Stereo& in) {
    const ovm::Patch patch = ovm::readPatch(std::string(EXAMPLES_DIR) + "/limiter.toml");
    ovm::EngineConfig config;
    config.blockSize = 64;
    config.sampleRate = kRate;
    config.inputChannels = 2;
    ovm::Engine engine(patch, testing_support::dynamicsDescription(), testing_support::dynamicsFactory(), config);
    const auto total = std::size_t(kLength + engine.latencySamples() + 1024);
    Stereo out(2, std::vector<float>(total));
    for (std::size_t start = 0; start < total; start += std::size_t(config.blockSize)) {
        const auto count = int32_t(std::min<std::size_t>(std::size_t(config.blockSize), total - start));
        for (int32_t c = 0; c < 2; ++c)
            for (int32_t i = 0; i < count; ++i) {
                const std::size_t n = start + std::size_t(i);
                engine.inputChannel(c)[i] = n < kLength ? in[std::size_t(c)][n] : 0.0f;
            }
        engine.processBlock(count);
        for (int32_t c = 0; c < 2; ++c)
            std::copy_n(engine.outputChannel(c), count, out[std::size_t(c)].begin() + std::ptrdiff_t(start));
    }
    return out;
}

class TruePeakLimiter : public testing::TestWithParam<Programme> {};

TEST_P(TruePeakLimiter, KeepsTheOutputAtOrBelowMinusOneDecibelTruePeak) {
    const Stereo out = limit(GetParam().make());
    for (std::size_t c = 0; c < 2; ++c) {
        const double level = 20 * std::log10(testing_support::truePeak(out[c]));
        EXPECT_LE(level, -1.0) << "channel " << c + 1;
    }
}

// The sines at a quarter of the rate (phase 45 degrees) and at 3/8 of it (phase 22.5 degrees)
// peak 3.01 dB and 0.69 dB above their samples; the one near half the rate lies where a short
// interpolation filter reads least.
INSTANTIATE_TEST_SUITE_P(
    Programmes, TruePeakLimiter,
    testing::Values(Programme{"bursts", bursts}, Programme{"pink_noise", pinkNoise},
                    Programme{"square_1kHz", [] { return fullScale([](int32_t n) { return n % 48 < 24 ? 1.0 : -1.0; }); }},
                    Programme{"sine_quarter_rate", [] { return sine(0.25, kPi / 4); }},
                    Programme{"sine_three_eighths_rate", [] { return sine(0.375, kPi / 8); }},
                    Programme{"sine_near_half_rate", [] { return sine(0.45, 0.3); }}));

}  // namespace
