// SmootherGausian driven from the built Dynamics.ovm: the exact fixed-point trapezoid
// filter, against the double sum it computes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "tests/support/module_harness.h"

namespace {

using testing_support::bitsOf;
using testing_support::ModuleHarness;
using testing_support::startEvents;

constexpr int32_t kTime = 0;
constexpr int32_t kInput = 1;
constexpr int32_t kOutput = 2;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kUnit = 1.0f / 16777216.0f;  // 2^-24, one step of the fixed point

struct TimeAt {
    int32_t position;
    float milliseconds;
};

// The whole signal in blocks of up to `block` samples; the time values must lie in the first.
std::vector<float> smoothed(const std::vector<float>& input, const std::vector<TimeAt>& times,
                            std::optional<float> sampleRate = 48000.0f, int32_t block = 8192) {
    ModuleHarness smoother("Orin SmootherG", {kInput, kOutput}, block);
    smoother.host().setSampleRate(sampleRate);
    host::EventList events = startEvents({kInput});
    for (const auto& t : times) events.value(t.position, kTime, t.milliseconds);
    return smoother.run({{kInput, input}}, kOutput, events);
}

// floor(x × 2^24 + 0.5), the product and sum in float; saturated, NaN to 0.
int64_t quantised(float x) {
    const float z = x * 16777216.0f + 0.5f;
    if (std::isnan(z)) return 0;
    return int64_t(std::clamp(std::floor(double(z)), -2147483648.0, 2147483647.0));
}

struct LengthsFrom {
    int32_t position;  // where the filter is rebuilt and its history cleared
    int32_t length1, length2;
};

// y[n] = sum over i < length1, j < length2 of q[n - i - j], with q = 0 before the rebuild,
// kept as two moving sums in 128-bit integers (nothing can overflow): box[n] sums the last
// length1 values of q, y[n] the last length2 values of box. Then the float nearest to y,
// times gain.
std::vector<float> doubleSum(const std::vector<float>& input, const std::vector<LengthsFrom>& segments) {
    std::vector<float> output(input.size());
    for (std::size_t s = 0; s < segments.size(); ++s) {
        const auto [start, length1, length2] = segments[s];
        const auto end = s + 1 < segments.size() ? std::size_t(segments[s + 1].position) : input.size();
        const float gain = 1.0f / ((float(length1) * 16777216.0f) * float(length2));
        std::vector<__int128> boxes(std::size_t(length2), 0);  // the last length2 values of box
        __int128 box = 0, y = 0;
        for (std::size_t n = 0; n < end - std::size_t(start); ++n) {
            box += quantised(input[std::size_t(start) + n]);
            if (n >= std::size_t(length1))
                box -= quantised(input[std::size_t(start) + n - std::size_t(length1)]);
            __int128& dropped = boxes[n % std::size_t(length2)];
            y += box - dropped;
            dropped = box;
            output[std::size_t(start) + n] = float(y) * gain;
        }
    }
    return output;
}

void expectBitIdentical(const std::vector<float>& output, const std::vector<float>& expected) {
    ASSERT_EQ(output.size(), expected.size());
    for (std::size_t k = 0; k < output.size(); ++k)
        ASSERT_EQ(bitsOf(output[k]), bitsOf(expected[k])) << "sample " << k << ": " << output[k];
}

// Lengths 1 and 1: the output is the input quantised to multiples of 2^-24, rounding halves
// up and saturating at ±128. Before any time value the filter works as for a time of 0.
TEST(SmootherGausian, ShortTimesGiveTheQuantisedInput) {
    const float belowLimit = std::nextafter(128.0f, 0.0f);
    const std::vector<float> input = {1.0f,       0.1f,   -1.5f * kUnit, 0.5f * kUnit, -0.5f * kUnit,
                                      belowLimit, 128.0f, 1e30f,         kInf,         -1e30f,
                                      -kInf,      kNaN,   -kNaN,         -128.0f};
    const std::vector<float> expected = {1.0f,    0.10000002384185791f,
                                         -kUnit,  kUnit,
                                         0.0f,    belowLimit,
                                         128.0f,  128.0f,
                                         128.0f,  -128.0f,
                                         -128.0f, 0.0f,
                                         0.0f,    -128.0f};
    struct Case {
        std::optional<float> milliseconds;  // none: no time value ever arrives
        std::optional<float> sampleRate = 48000.0f;
    };
    const Case cases[] = {{std::nullopt}, {0.0f},         {-3.0f},
                          {kNaN},         {-kInf},        {2.0f, 1000.0f},
                          {0.05f},        {100.0f, 0.0f}, {100.0f, std::nullopt}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.milliseconds.value_or(-1) << " ms at " << c.sampleRate.value_or(-1));
        std::vector<TimeAt> times;
        if (c.milliseconds) times.push_back({0, *c.milliseconds});
        expectBitIdentical(smoothed(input, times, c.sampleRate), expected);
    }
}

// T = 5 samples: lengths 2 and 3. The step's third sample is 5 × gain in float, which lands
// one unit above the float nearest 5/6.
TEST(SmootherGausian, FiveMillisecondsAtOneKilohertz) {
    const std::vector<float> impulse = {1, 0, 0, 0, 0, 0};
    EXPECT_EQ(smoothed(impulse, {{0, 5.0f}}, 1000.0f),
              (std::vector<float>{1.0f / 6, 2.0f / 6, 2.0f / 6, 1.0f / 6, 0.0f, 0.0f}));
    const std::vector<float> step(6, 1.0f);
    EXPECT_EQ(smoothed(step, {{0, 5.0f}}, 1000.0f),
              (std::vector<float>{1.0f / 6, 0.5f, std::nextafter(5.0f / 6, 1.0f), 1.0f, 1.0f, 1.0f}));
}

// The impulse response lasts length1 + length2 - 1 samples. 64 ms at 1 kHz gives lengths
// that add up to a power of two, which the ring must exceed. Times beyond the longest
// supported one (4,000,000 samples) are cut to it.
TEST(SmootherGausian, ImpulseResponseFollowsTheLengths) {
    struct Case {
        float sampleRate, milliseconds;
        int32_t length1, length2;
    };
    const Case cases[] = {{48000, 1.0f, 19, 29},
                          {48000, 10.0f, 192, 288},
                          {1000, 64.0f, 26, 38},
                          {48000, 1365.3f, 26214, 39321},
                          {48000, kInf, 1600000, 2400000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.milliseconds << " ms at " << c.sampleRate << " Hz");
        std::vector<float> impulse(std::size_t(c.length1 + c.length2 + 100), 0.0f);
        impulse[0] = 1.0f;
        const auto output = smoothed(impulse, {{0, c.milliseconds}}, c.sampleRate);
        expectBitIdentical(output, doubleSum(impulse, {{0, c.length1, c.length2}}));
        const auto last = std::find_if(output.rbegin(), output.rend(), [](float x) { return x != 0; });
        EXPECT_EQ(output.rend() - last, c.length1 + c.length2 - 1);
    }
}

// Rebuilds with new times, with the same time again (the history is cleared), and a long
// constant stretch that must come out constant without drift.
TEST(SmootherGausian, MatchesTheDoubleSumAcrossRebuilds) {
    std::mt19937 random(11);
    auto input = testing_support::uniformNoise(60000, -1.0f, 1.0f, random);
    std::fill(input.begin() + 40000, input.end(), 0.3f);
    const auto output =
        smoothed(input, {{0, 1.0f}, {10000, 10.0f}, {25000, 10.0f}, {30000, 0.5f}}, 48000.0f, 60000);
    expectBitIdentical(
        output, doubleSum(input, {{0, 19, 29}, {10000, 192, 288}, {25000, 192, 288}, {30000, 10, 14}}));
    EXPECT_TRUE(
        std::all_of(output.begin() + 40000 + 23, output.end(), [&](float x) { return x == output.back(); }));
}

// From 32 up to 128 in magnitude a four-tap combination in 32 bits would wrap.
TEST(SmootherGausian, LargeInputsMatchTheDoubleSum) {
    std::mt19937 random(12);
    const auto input = testing_support::uniformNoise(20000, -127.9f, 127.9f, random);
    expectBitIdentical(smoothed(input, {{0, 1.0f}}), doubleSum(input, {{0, 19, 29}}));
}

// The sums grow as large as they can on either side of the window where they need more than
// 64 bits (length1 × length2 = 2^32), and at 20 s and 192 kHz, where they reach 2^73. The
// input steps to full scale (+inf saturates) until the step has settled, swings to the
// negative end for a whole window, then mixes noise and extremes in runs of random length.
TEST(SmootherGausian, LongWindowsStayExact) {
    struct Case {
        float milliseconds;  // at 192 kHz
        int32_t length1, length2;
    };
    const Case cases[] = {{696.7f, 53507, 80260}, {696.8f, 53514, 80271}, {20000.0f, 1536000, 2304000}};
    const float extremes[] = {1e30f, -1e30f, kInf, -kInf, kNaN, 127.9f, -127.9f, 128.0f, 0.0f};
    std::mt19937 random(13);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.milliseconds << " ms");
        const auto window = std::size_t(c.length1 + c.length2);
        std::vector<float> input(window + 1000, kInf);
        input.insert(input.end(), window, -1e30f);
        while (input.size() < 3 * window) {
            const std::size_t run = 1 + random() % (window / 8);
            const auto kind = random() % 3;
            for (std::size_t k = 0; k < run; ++k)
                input.push_back(kind == 0   ? extremes[random() % std::size(extremes)]
                                : kind == 1 ? std::uniform_real_distribution<float>(-1.0f, 1.0f)(random)
                                            : extremes[run % std::size(extremes)]);
        }
        const auto output = smoothed(input, {{0, c.milliseconds}}, 192000.0f);
        expectBitIdentical(output, doubleSum(input, {{0, c.length1, c.length2}}));

        // Halfway at the window's centre; settled from sample L1 + L2 - 1 on.
        EXPECT_NEAR(output[(window - 2) / 2], 64.0f, 1e-3f);
        const std::size_t settled = window - 2;
        EXPECT_TRUE(std::all_of(output.begin() + std::ptrdiff_t(settled),
                                output.begin() + std::ptrdiff_t(window) + 1000,
                                [&](float x) { return x == output[settled]; }));
        EXPECT_NEAR(output[settled], 128.0f, 1e-4f);
    }
}

// The output is static until announced and streams from then on: the module never reports
// it, so once announced it never sleeps, and unannounced with a static input it does.
TEST(SmootherGausian, NeverDrivesTheOutputsStreamingState) {
    const std::vector<float> input(64, 0.5f);
    for (const bool announce : {true, false}) {
        SCOPED_TRACE(announce ? "announced" : "never announced");
        ModuleHarness smoother("Orin SmootherG", {kInput, kOutput}, 64);
        host::EventList start = announce ? startEvents({kInput}) : host::EventList{};
        start.value(0, kTime, 1.0f);
        if (!announce) start.streaming(0, kInput, true);
        smoother.run({{kInput, input}}, kOutput, start);
        host::EventList stop;
        stop.streaming(10, kInput, false).value(20, kTime, 2.0f);
        smoother.run({{kInput, input}}, kOutput, stop);
        for (int block = 0; block < 3; ++block) smoother.run({{kInput, input}}, kOutput);
        const auto expected = announce ? std::vector<host::StreamingReport>{{0, kOutput, true}}
                                       : std::vector<host::StreamingReport>{};
        EXPECT_EQ(smoother.host().streamingReports(), expected);
        EXPECT_EQ(smoother.host().sleepRequestCount() > 0, !announce);
    }
}

}  // namespace
