// Ms2Factor and Factor2Ms driven from the built Dynamics.ovm: a time value v (v * 10 ms)
// and a factor value u (a tenth of the per-sample multiplier of a 60 dB decay over that time)
// converted into each other with the sample rate the host reports for every sample.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/module_harness.h"

namespace {

using host::StreamingReport;
using testing_support::bitsOf;
using testing_support::ModuleHarness;
using testing_support::startEvents;

constexpr int32_t kInput = 0;
constexpr int32_t kOutput = 1;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kUnwritten = -123.0f;
constexpr const char* kMs2Factor = "Orin ms2factor";
constexpr const char* kFactor2Ms = "Orin factor2ms";
const long double kLn1000 = std::log(1000.0L);

std::vector<float> convert(const char* module, const std::vector<float>& input,
                           std::optional<float> sampleRate = 48000.0f) {
    ModuleHarness converter(module, {kInput, kOutput});
    converter.host().setSampleRate(sampleRate);
    return converter.run({{kInput, input}}, kOutput, startEvents({kInput}));
}

// The exact values, rounded once to float.
float timeToFactor(float time, float rate) {
    return float(0.1L * std::exp(-kLn1000 / (0.01L * time * rate)));
}
float factorToTime(float factor, float rate) {
    const float multiplier = factor * 10.0f;  // the module scales in float on purpose
    return float(-100.0L * kLn1000 / (std::log((long double)multiplier) * rate));
}

int32_t ulpsApart(float a, float b) { return std::abs(int32_t(bitsOf(a)) - int32_t(bitsOf(b))); }

std::vector<float> logUniform(std::size_t count, float low, float high, std::mt19937& random) {
    std::uniform_real_distribution<float> exponent(std::log(low), std::log(high));
    std::vector<float> samples(count);
    for (auto& sample : samples) sample = std::exp(exponent(random));
    return samples;
}

void expectBitsOrNaN(const std::vector<float>& actual, const std::vector<float>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        if (std::isnan(expected[i]))
            EXPECT_TRUE(std::isnan(actual[i])) << "sample " << i << ": " << actual[i];
        else
            EXPECT_EQ(bitsOf(actual[i]), bitsOf(expected[i])) << "sample " << i << ": " << actual[i];
    }
}

TEST(TimeConstantConverters, KnownValuesAt48kHz) {
    const auto factors = convert(kMs2Factor, {1.0f, 0.1f, 1e4f, 1e30f});
    EXPECT_NEAR(factors[0], 0.0985712f, 1e-7f);  // 480 samples to fall by 60 dB
    EXPECT_NEAR(factors[1], 0.0865964f, 1e-7f);
    // Long times approach 0.1 from below, until the float cannot tell them apart.
    EXPECT_LT(factors[2], 0.1f);
    EXPECT_NEAR(factors[2], 0.1f, 2e-7f);
    EXPECT_EQ(factors[3], 0.1f);

    const auto times = convert(kFactor2Ms, {0.0985712f, 0.05f});
    EXPECT_NEAR(times[0], 1.0f, 1e-4f);  // the 7-digit factor is the inexact part
    EXPECT_NEAR(times[1], 0.0207621f, 1e-7f);
}

// Each step in double keeps the result within one float step of the exact value, even for
// short times, where the exponent is large and a float computation would drift.
TEST(TimeConstantConverters, ResultsAreWithinOneFloatStepOfTheExactValues) {
    std::mt19937 random(3);
    const auto times = logUniform(2000, 1e-3f, 1e3f, random);
    const auto factors = convert(kMs2Factor, times);
    for (std::size_t i = 0; i < times.size(); ++i)
        ASSERT_LE(ulpsApart(factors[i], timeToFactor(times[i], 48000.0f)), 1) << "time " << times[i];

    const auto someFactors = logUniform(2000, 1e-6f, 0.0999f, random);
    const auto backTimes = convert(kFactor2Ms, someFactors);
    for (std::size_t i = 0; i < someFactors.size(); ++i)
        ASSERT_LE(ulpsApart(backTimes[i], factorToTime(someFactors[i], 48000.0f)), 1)
            << "factor " << someFactors[i];
}

TEST(TimeConstantConverters, Ms2FactorEdges) {
    const float tiny = 1e-30f;
    const auto factors = convert(kMs2Factor, {0.0f, tiny, -0.0f, -tiny, -1.0f, kNaN});
    expectBitsOrNaN({factors[0], factors[1], factors[2], factors[3], factors[5]},
                    {0.0f, 0.0f, kInf, kInf, kNaN});
    EXPECT_GT(factors[4], 0.1f);  // a negative time grows instead of decaying
    EXPECT_LT(factors[4], kInf);
}

TEST(TimeConstantConverters, Factor2MsEdges) {
    const auto times = convert(kFactor2Ms, {0.1f, 0.2f, 0.0f, -0.05f, kNaN});
    expectBitsOrNaN({times[0], times[2], times[3], times[4]}, {-kInf, 0.0f, kNaN, kNaN});
    EXPECT_LT(times[1], 0.0f);  // a multiplier above 1 grows: a negative time
}

TEST(TimeConstantConverters, ZeroRateIsUsedAsItIs) {
    for (std::optional<float> rate : {std::optional<float>(0.0f), std::optional<float>()}) {
        SCOPED_TRACE(rate ? "rate 0" : "no rate written");
        expectBitsOrNaN(convert(kMs2Factor, {1.0f, 1e-3f}, rate), {0.0f, 0.0f});
        expectBitsOrNaN(convert(kFactor2Ms, {0.05f, 0.2f, 0.0f}, rate), {kInf, -kInf, kNaN});
    }
}

TEST(TimeConstantConverters, AsksForTheRateAtEverySample) {
    ModuleHarness converter(kMs2Factor, {kInput, kOutput});
    converter.host().setRecording(true);
    host::EventList events = startEvents({kInput});
    events.streaming(20, kInput, true);
    const auto at48k = converter.run({{kInput, std::vector<float>(37, 1.0f)}}, kOutput, events);
    const auto& calls = converter.host().calls();
    EXPECT_EQ(std::count_if(
                  calls.begin(), calls.end(),
                  [](const host::HostCall& c) { return c.kind == host::HostCall::Kind::QuerySampleRate; }),
              37);

    converter.host().setSampleRate(96000.0f);
    const auto at96k = converter.run({{kInput, {1.0f}}}, kOutput);
    EXPECT_LE(ulpsApart(at96k[0], timeToFactor(1.0f, 96000.0f)), 1);
    // A host that stops writing the rate gives 0, not the rate of the last sample.
    converter.host().setSampleRate(std::nullopt);
    EXPECT_EQ(bitsOf(converter.run({{kInput, {1.0f}}}, kOutput)[0]), bitsOf(0.0f));
    EXPECT_EQ(at48k[36], at48k[0]);
}

// The round trip loses what the float factor cannot hold: its rounding error is magnified
// by T / ln(1000) in the logarithm, T being the decay time in samples.
TEST(TimeConstantConverters, RoundTripGivesTheTimeBack) {
    std::mt19937 random(17);
    const auto times = logUniform(50000, 1e-3f, 10.0f, random);
    ModuleHarness whole(kMs2Factor, {kInput, kOutput});
    ModuleHarness split(kMs2Factor, {kInput, kOutput});
    const auto factors = whole.run({{kInput, times}}, kOutput, startEvents({kInput}));
    const auto splitFactors =
        split.runSplit({{kInput, times}}, kOutput, kInput, random, startEvents({kInput}));
    ModuleHarness back(kFactor2Ms, {kInput, kOutput});
    const auto roundTrip = back.run({{kInput, factors}}, kOutput, startEvents({kInput}));
    for (std::size_t i = 0; i < times.size(); ++i) {
        ASSERT_EQ(bitsOf(splitFactors[i]), bitsOf(factors[i])) << "sample " << i;
        const double samples = double(times[i]) * 0.01 * 48000.0;
        const double tolerance = std::ldexp(1.0, -22) * (samples / double(kLn1000) + 1.0);
        ASSERT_NEAR(roundTrip[i] / times[i], 1.0, tolerance) << "time " << times[i];
    }
}

TEST(TimeConstantConverters, OutputFollowsTheInputAndSleepsABlockAfterItStops) {
    for (const char* module : {kMs2Factor, kFactor2Ms}) {
        SCOPED_TRACE(module);
        ModuleHarness converter(module, {kInput, kOutput});  // host block size 64
        const std::vector<float> input(40, 0.05f);
        host::EventList events;
        events.streaming(0, kInput, true).streaming(20, kInput, false).streaming(30, kInput, false);
        converter.run({{kInput, input}}, kOutput, events);
        EXPECT_EQ(
            converter.host().streamingReports(),
            (std::vector<StreamingReport>{{0, kOutput, true}, {20, kOutput, false}, {30, kOutput, false}}));
        // The repeated stop at 30 re-armed the countdown: 10 samples ran, 54 are left.
        std::fill(converter.buffer(kOutput).begin(), converter.buffer(kOutput).end(), kUnwritten);
        const auto output = converter.run({{kInput, std::vector<float>(64, 0.05f)}}, kOutput);
        EXPECT_NE(output[53], kUnwritten);
        EXPECT_EQ(output[54], kUnwritten);
        EXPECT_EQ(converter.host().sleepRequestCount(), 1);
    }
}

}  // namespace
