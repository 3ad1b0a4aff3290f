// SmootherGausian driven from the built Dynamics.ovm: the lengths it takes for a time, its
// rebuilds and its streaming state; the filter itself is tested in
// fixed_point_smoother_test.cpp.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "modules/fixed_point_smoother.h"
#include "tests/support/module_harness.h"

namespace {

using testing_support::expectBitIdentical;
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

struct LengthsFrom {
    int32_t position;  // where the filter is rebuilt and its history cleared
    int32_t length1, length2;
};

// The smoother's kernel (tested on its own against the double sum it computes), started
// afresh at each position with the lengths given.
std::vector<float> kernelOutput(const std::vector<float>& input, const std::vector<LengthsFrom>& segments) {
    std::vector<float> output(input.size());
    for (std::size_t s = 0; s < segments.size(); ++s) {
        const auto [start, length1, length2] = segments[s];
        const auto end = s + 1 < segments.size() ? std::size_t(segments[s + 1].position) : input.size();
        dynamics::FixedPointSmoother(length1, length2)
            .run(input.data() + start, output.data() + start, int32_t(end - std::size_t(start)));
    }
    return output;
}

// Times that give lengths 1 and 1, and no time value at all: the output is the input
// quantised to multiples of 2^-24.
TEST(SmootherGausian, ShortTimesGiveTheQuantisedInput) {
    const std::vector<float> input = {1.0f, 0.1f, -1.5f * kUnit, 0.5f * kUnit, 128.0f, -kInf, kNaN};
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
        expectBitIdentical(smoothed(input, times, c.sampleRate), kernelOutput(input, {{0, 1, 1}}));
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

// The lengths for a time: 0.4 T and 0.6 T, rounded. Times beyond the longest supported one
// (4,000,000 samples) are cut to it.
TEST(SmootherGausian, ImpulseResponseFollowsTheLengths) {
    struct Case {
        float sampleRate, milliseconds;
        int32_t length1, length2;
    };
    const Case cases[] = {{48000, 1.0f, 19, 29},
                          {48000, 10.0f, 192, 288},
                          {1000, 64.0f, 26, 38},
                          {48000, 1365.3f, 26214, 39321},
                          {192000, 20000.0f, 1536000, 2304000},
                          {48000, kInf, 1600000, 2400000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.milliseconds << " ms at " << c.sampleRate << " Hz");
        std::vector<float> impulse(std::size_t(c.length1 + c.length2 + 100), 0.0f);
        impulse[0] = 1.0f;
        expectBitIdentical(smoothed(impulse, {{0, c.milliseconds}}, c.sampleRate),
                           kernelOutput(impulse, {{0, c.length1, c.length2}}));
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
        output, kernelOutput(input, {{0, 19, 29}, {10000, 192, 288}, {25000, 192, 288}, {30000, 10, 14}}));
    EXPECT_TRUE(
        std::all_of(output.begin() + 40000 + 23, output.end(), [&](float x) { return x == output.back(); }));
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
