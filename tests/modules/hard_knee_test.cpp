// HardKnee driven from the built Dynamics.ovm: threshold / input above the threshold, else 1,
// with the threshold arriving as a pin value at event positions.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "tests/support/floating_point_traps.h"
#include "tests/support/module_harness.h"

namespace {

using host::StreamingReport;
using testing_support::bitsOf;
using testing_support::ModuleHarness;
using testing_support::startEvents;

constexpr int32_t kThreshold = 0;
constexpr int32_t kInput = 1;
constexpr int32_t kOutput = 2;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kUnwritten = -123.0f;

// The gains for the given inputs from a fresh module; without a threshold it keeps its
// initial 0.
std::vector<float> gains(std::optional<float> threshold, const std::vector<float>& input) {
    ModuleHarness knee("Orin Hard Knee", {kInput, kOutput});
    host::EventList events = startEvents({kInput});
    if (threshold) events.value(0, kThreshold, *threshold);
    return knee.run({{kInput, input}}, kOutput, events);
}

TEST(HardKnee, GainBringsSamplesAboveTheThresholdDownToIt) {
    struct Case {
        std::optional<float> threshold;
        std::vector<float> input, expected;
    };
    const std::vector<Case> cases = {
        {0.5f, {2.0f, 0.5f, 0.25f, -3.0f, kInf, 0.0f}, {0.25f, 1.0f, 1.0f, 1.0f, 0.0f, 1.0f}},
        {0.5f, {0.75f, 1e30f}, {0.5f / 0.75f, 0.5f / 1e30f}},
        // Zero, also before any threshold arrives: every positive sample is muted.
        {std::nullopt, {1.0f, 1e-40f, kInf, 0.0f, -0.0f, -1.0f}, {0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f}},
        {0.0f, {3.0f, -3.0f}, {0.0f, 1.0f}},
        // A negative threshold is used as given: gains above 1, and -inf for a zero sample.
        {-1.0f, {-0.5f, 0.0f, -2.0f, -1.0f}, {2.0f, -kInf, 1.0f, 1.0f}},
        {kInf, {kInf, 3e38f, -kInf}, {1.0f, 1.0f, 1.0f}},
        {-kInf, {0.0f, kInf, -kInf}, {-kInf, kNaN, 1.0f}},
        {kNaN, {2.0f, 0.0f, -2.0f}, {1.0f, 1.0f, 1.0f}},
        {0.5f, {kNaN, -kNaN}, {1.0f, 1.0f}},
    };
    for (const auto& c : cases) {
        const auto output = gains(c.threshold, c.input);
        for (std::size_t i = 0; i < c.input.size(); ++i) {
            SCOPED_TRACE(testing::Message()
                         << "threshold " << c.threshold.value_or(0.0f) << ", input " << c.input[i]);
            if (std::isnan(c.expected[i]))
                EXPECT_TRUE(std::isnan(output[i])) << output[i];
            else
                EXPECT_EQ(bitsOf(output[i]), bitsOf(c.expected[i])) << output[i];
        }
    }
}

// Debug hosts unmask the floating-point exceptions, so any division by zero, invalid
// operation or overflow kills them. In a child process with those unmasked, every threshold
// class meets zeros of either sign, subnormals, NaN (signalling too), infinities, the
// threshold itself and its neighbours, and inputs whose quotient lies at the edge of the
// float range: no signal, and every gain to the bit what the rule gives, computed beforehand
// with the exceptions masked.
bool gainsAreExactWithExceptionsUnmasked() {
    const float tiny = std::numeric_limits<float>::denorm_min(), smallest = std::numeric_limits<float>::min();
    const float largest = std::numeric_limits<float>::max();
    const float signalling = std::numeric_limits<float>::signaling_NaN();
    const std::vector<float> thresholds = {0.5f,  0.0f, -0.0f, smallest / 4, 1e30f, kInf,      -1.0f,
                                           -3e38f, -smallest / 4, -kInf, kNaN, signalling};
    std::mt19937 random(9);
    std::uniform_real_distribution<float> exponent(-150.0f, 128.0f);
    bool exact = true;
    for (const float t : thresholds) {
        std::vector<float> input = {0.0f, -0.0f, tiny, -tiny, 1e-40f, -1e-40f, smallest, -smallest,
                                    1.0f, -1.0f, kInf, -kInf, kNaN, -kNaN, signalling, largest, -largest,
                                    t, std::nextafter(t, kInf), std::nextafter(t, -kInf)};
        // Around the input whose quotient rounds to the largest float or overflows.
        float x = std::nextafter(float(double(t) / largest), -kInf);
        for (int k = 0; k < 5; ++k) input.push_back(x = std::nextafter(x, kInf));
        for (int k = 0; k < 400; ++k)
            input.push_back(float(random() % 2 ? 1 : -1) * std::exp2(exponent(random)));
        std::vector<float> expected;
        for (const float x : input) expected.push_back(x > t ? t / x : 1.0f);
        ModuleHarness knee("Orin Hard Knee", {kInput, kOutput});
        host::EventList events = startEvents({kInput});
        events.value(0, kThreshold, t);
        testing_support::unmaskFloatingPointExceptions();
        const auto output = knee.run({{kInput, input}}, kOutput, events);
        testing_support::maskFloatingPointExceptions();
        for (std::size_t i = 0; i < input.size(); ++i) {
            if (bitsOf(output[i]) == bitsOf(expected[i])) continue;
            std::fprintf(stderr, "threshold %a, input %a: %a, not %a\n", t, input[i], output[i], expected[i]);
            exact = false;
        }
    }
    return exact;
}

TEST(HardKneeDeathTest, RaisesNoFloatingPointException) {
    EXPECT_EXIT(std::_Exit(gainsAreExactWithExceptionsUnmasked() ? 0 : 1), testing::ExitedWithCode(0), "");
}

TEST(HardKnee, NewThresholdAppliesFromItsEventPosition) {
    ModuleHarness knee("Orin Hard Knee", {kInput, kOutput});
    host::EventList events = startEvents({kInput});
    events.value(0, kThreshold, 0.5f).value(10, kThreshold, 0.25f);
    const auto output = knee.run({{kInput, std::vector<float>(20, 2.0f)}}, kOutput, events);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(output[i], i < 10 ? 0.25f : 0.125f) << "sample " << i;
}

// Noise with subnormal samples. With a threshold of 0 the subnormal samples lie above it,
// unless the host's mode reads them as zero.
TEST(HardKnee, NoiseMatchesTheGainFormula) {
    std::mt19937 random(5);
    const auto signal =
        testing_support::withTinyValues(testing_support::uniformNoise(50000, -2.0f, 2.0f, random), random);
    for (const float threshold : {0.5f, 0.0f}) {
        SCOPED_TRACE(testing::Message() << "threshold " << threshold);
        host::EventList first = startEvents({kInput});
        first.value(0, kThreshold, threshold);
        ModuleHarness knee("Orin Hard Knee", {kInput, kOutput});
        const auto output = knee.run({{kInput, signal}}, kOutput, first);
        for (std::size_t i = 0; i < output.size(); ++i) {
            const float gain = signal[i] > threshold ? threshold / signal[i] : 1.0f;
            ASSERT_EQ(bitsOf(output[i]), bitsOf(gain)) << "sample " << i;
        }
    }
}

TEST(HardKnee, NewThresholdOnAStaticInputRunsOneMoreBlockThenSleeps) {
    ModuleHarness knee("Orin Hard Knee", {kInput, kOutput});  // host block size 64
    const std::vector<float> input(48, 2.0f);
    host::EventList first;
    first.value(0, kThreshold, 0.5f);
    knee.run({{kInput, input}}, kOutput, first);
    host::EventList lower;
    lower.value(8, kThreshold, 0.25f);
    const auto second = knee.run({{kInput, input}}, kOutput, lower);
    EXPECT_EQ(second[7], 0.25f);
    EXPECT_EQ(second[8], 0.125f);
    EXPECT_EQ(knee.host().streamingReports(),
              (std::vector<StreamingReport>{{0, kOutput, false}, {8, kOutput, false}}));
    EXPECT_EQ(knee.host().sleepRequestCount(), 0);

    // 40 samples after the new value ran in the last block; 24 more complete the 64.
    std::fill(knee.buffer(kOutput).begin(), knee.buffer(kOutput).end(), kUnwritten);
    const auto third = knee.run({{kInput, input}}, kOutput);
    EXPECT_EQ(third[23], 0.125f);
    EXPECT_EQ(third[24], kUnwritten);
    EXPECT_EQ(knee.host().sleepRequestCount(), 1);
}

TEST(HardKnee, OutputFollowsTheInputsStreamingState) {
    ModuleHarness knee("Orin Hard Knee", {kInput, kOutput});
    host::EventList events;
    events.streaming(0, kInput, true)
        .value(4, kThreshold, 0.5f)
        .announceOutputs(6)
        .streaming(9, kInput, false);
    knee.run({{kInput, std::vector<float>(16, 1.0f)}}, kOutput, events);
    EXPECT_EQ(knee.host().streamingReports(),
              (std::vector<StreamingReport>{
                  {0, kOutput, true}, {4, kOutput, true}, {6, kOutput, true}, {9, kOutput, false}}));
}

}  // namespace
