// Integrator driven from the built Dynamics.ovm: a running sum, one float addition per
// sample, continuous across blocks and event splits.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/support/module_harness.h"

namespace {

using testing_support::bitsOf;
using testing_support::ModuleHarness;
using testing_support::startEvents;

constexpr int32_t kInput = 0;
constexpr int32_t kOutput = 1;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<float> integrate(ModuleHarness& integrator, const std::vector<float>& input,
                             host::EventList events = {}) {
    return integrator.run({{kInput, input}}, kOutput, events);
}

void expectBits(const std::vector<float>& actual, const std::vector<float>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i)
        EXPECT_EQ(bitsOf(actual[i]), bitsOf(expected[i])) << "sample " << i << ": " << actual[i];
}

TEST(Integrator, CountsOnAcrossBlocksEventSplitsAndEmptyBlocks) {
    ModuleHarness integrator("Orin Integrator", {kInput, kOutput});
    std::vector<float> output = integrate(integrator, std::vector<float>(10, 1.0f), startEvents({kInput}));
    integrator.process(0);
    // A stop and restart of the input at one position, and a repeated start: the run
    // function is chosen again at each, the sum goes on.
    host::EventList splits;
    splits.streaming(3, kInput, false).streaming(3, kInput, true).streaming(7, kInput, true);
    const auto more = integrate(integrator, std::vector<float>(20, 1.0f), splits);
    output.insert(output.end(), more.begin(), more.end());

    std::vector<float> expected(30);
    for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = float(i + 1);
    expectBits(output, expected);

    ModuleHarness fresh("Orin Integrator", {kInput, kOutput});
    expectBits(integrate(fresh, {1.0f}, startEvents({kInput})), {1.0f});
}

TEST(Integrator, RoundsEverySumToFloat) {
    ModuleHarness integrator("Orin Integrator", {kInput, kOutput});
    const float big = 16777216.0f;  // 2^24: the float spacing there is 2
    const float tiny = std::ldexp(1.0f, -24);
    // A wider accumulator would let the ones and the tiny steps add up.
    const auto output = integrate(integrator, {big, 1.0f, 1.0f, 2.0f, -big - 2.0f, 1.0f, tiny, tiny, tiny},
                                  startEvents({kInput}));
    expectBits(output, {big, big, big, big + 2.0f, 0.0f, 1.0f, 1.0f, 1.0f, 1.0f});
}

TEST(Integrator, NonFiniteSumsPersist) {
    ModuleHarness infinite("Orin Integrator", {kInput, kOutput});
    auto output = integrate(infinite, {1.0f, kInf, 5.0f, -1e30f, -kInf, 1.0f}, startEvents({kInput}));
    EXPECT_EQ(output[1], kInf);
    EXPECT_EQ(output[3], kInf);
    EXPECT_TRUE(std::isnan(output[4]));
    EXPECT_TRUE(std::isnan(output[5]));

    ModuleHarness overflow("Orin Integrator", {kInput, kOutput});
    expectBits(integrate(overflow, {FLT_MAX, FLT_MAX, -FLT_MAX}, startEvents({kInput})),
               {FLT_MAX, kInf, kInf});

    ModuleHarness notANumber("Orin Integrator", {kInput, kOutput});
    integrate(notANumber, {kNaN}, startEvents({kInput}));
    for (float sample : integrate(notANumber, {1.0f, -1.0f, 0.0f})) EXPECT_TRUE(std::isnan(sample));
}

TEST(Integrator, NoiseWithSubnormalsMatchesTheRunningSum) {
    std::mt19937 random(7);
    const auto signal =
        testing_support::withTinyValues(testing_support::uniformNoise(50000, -1e-36f, 1e-36f, random), random);
    ModuleHarness integrator("Orin Integrator", {kInput, kOutput});
    const auto output = integrate(integrator, signal, startEvents({kInput}));
    std::vector<float> sums(signal.size());
    float sum = 0.0f;
    for (std::size_t i = 0; i < signal.size(); ++i) sums[i] = sum += signal[i];
    expectBits(output, sums);
}

TEST(Integrator, NeverDrivesItsOutputAndNeverSleepsOnceAnnounced) {
    ModuleHarness integrator("Orin Integrator", {kInput, kOutput});
    host::EventList stop;
    stop.streaming(0, kInput, true).streaming(20, kInput, false);
    integrate(integrator, std::vector<float>(32, 1.0f), stop);
    EXPECT_TRUE(integrator.host().streamingReports().empty());

    host::EventList announce;
    announce.announceOutputs(5);
    integrate(integrator, std::vector<float>(32, 1.0f), announce);
    const int32_t sleepsBefore = integrator.host().sleepRequestCount();
    float last = 0.0f;
    for (int block = 0; block < 8; ++block) last = integrate(integrator, std::vector<float>(64, 1.0f)).back();
    EXPECT_EQ(integrator.host().sleepRequestCount(), sleepsBefore);
    EXPECT_EQ(integrator.host().streamingReports(), (std::vector<host::StreamingReport>{{5, kOutput, true}}));
    // Still summing every sample of the static input.
    EXPECT_EQ(integrator.run({{kInput, {1.0f}}}, kOutput)[0], last + 1.0f);
}

}  // namespace
