// Peak driven from the built Dynamics.ovm: the larger magnitude of two inputs, and an output
// that streams while either input does.

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/support/module_harness.h"

namespace {

using host::StreamingReport;
using testing_support::bitsOf;
using testing_support::ModuleHarness;
using testing_support::startEvents;

constexpr int32_t kInputA = 0;
constexpr int32_t kInputB = 1;
constexpr int32_t kOutput = 2;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kUnwritten = -123.0f;  // a peak is never negative

std::vector<float> peakOf(ModuleHarness& peak, const std::vector<float>& a, const std::vector<float>& b,
                          host::EventList events = {}) {
    return peak.run({{kInputA, a}, {kInputB, b}}, kOutput, events);
}

TEST(Peak, TakesTheLargerMagnitudeWithoutSign) {
    struct Case {
        float a, b, expected;
    };
    const float tiny = std::numeric_limits<float>::denorm_min();
    const std::vector<Case> cases = {
        {-0.7f, 0.5f, 0.7f},  {0.25f, -0.5f, 0.5f},    {0.5f, -0.5f, 0.5f},       {-0.0f, 0.0f, 0.0f},
        {-0.0f, -0.0f, 0.0f}, {-kInf, 1.0f, kInf},     {2.0f, -kInf, kInf},       {-tiny, 0.0f, tiny},
        {0.0f, 0.0f, 0.0f},   {-3e38f, 1e-30f, 3e38f}, {-1e-30f, 1e-31f, 1e-30f},
    };
    std::vector<float> a, b;
    for (const auto& c : cases) a.push_back(c.a), b.push_back(c.b);
    ModuleHarness peak("Orin Peak", {kInputA, kInputB, kOutput});
    const auto output = peakOf(peak, a, b, startEvents({kInputA, kInputB}));
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(bitsOf(output[i]), bitsOf(cases[i].expected)) << "|" << a[i] << "| vs |" << b[i] << "|";
}

TEST(Peak, NotANumberOnEitherInputGivesAPositiveNotANumber) {
    ModuleHarness peak("Orin Peak", {kInputA, kInputB, kOutput});
    const auto output =
        peakOf(peak, {kNaN, 1.0f, -kNaN, kInf}, {1.0f, kNaN, 0.0f, -kNaN}, startEvents({kInputA}));
    for (float sample : output) {
        EXPECT_TRUE(std::isnan(sample));
        EXPECT_FALSE(std::signbit(sample));
    }
}

// The larger magnitude is what the maximum instruction gives with b first (b if b > a, else
// a), in the host's mode: under denormals-are-zero it reads subnormal magnitudes as zero.
float maximumInstruction(float b, float a) { return _mm_cvtss_f32(_mm_max_ss(_mm_set_ss(b), _mm_set_ss(a))); }

TEST(Peak, NoiseWithSubnormalsMatchesTheMaximumInstruction) {
    std::mt19937 random(11);
    const auto a = testing_support::withTinyValues(testing_support::uniformNoise(50000, -2.0f, 2.0f, random), random);
    const auto b = testing_support::withTinyValues(testing_support::uniformNoise(50000, -2.0f, 2.0f, random), random);
    ModuleHarness peak("Orin Peak", {kInputA, kInputB, kOutput});
    const auto output = peakOf(peak, a, b, startEvents({kInputA, kInputB}));
    for (std::size_t i = 0; i < output.size(); ++i) {
        const float expectedPeak = maximumInstruction(std::fabs(b[i]), std::fabs(a[i]));
        ASSERT_EQ(bitsOf(output[i]), bitsOf(expectedPeak)) << "sample " << i;
    }
}

TEST(Peak, OutputStreamsWhileEitherInputStreamsThenSleepsABlockLater) {
    ModuleHarness peak("Orin Peak", {kInputA, kInputB, kOutput});  // host block size 64
    const std::vector<float> a(64, -0.5f), b(64, 0.25f);
    host::EventList first;
    first.streaming(0, kInputA, true);
    peakOf(peak, a, b, first);
    // Only B changes, but the output is evaluated from both inputs each time.
    host::EventList onlyB;
    onlyB.streaming(4, kInputB, true).streaming(8, kInputB, false);
    peakOf(peak, a, b, onlyB);
    host::EventList stopA;
    stopA.streaming(10, kInputA, false);
    std::fill(peak.buffer(kOutput).begin(), peak.buffer(kOutput).end(), kUnwritten);
    const auto stopping = peakOf(peak, a, b, stopA);
    EXPECT_EQ(peak.host().streamingReports(),
              (std::vector<StreamingReport>{
                  {0, kOutput, true}, {4, kOutput, true}, {8, kOutput, true}, {10, kOutput, false}}));
    EXPECT_TRUE(std::all_of(stopping.begin(), stopping.end(), [](float s) { return s == 0.5f; }));
    EXPECT_EQ(peak.host().sleepRequestCount(), 0);

    // Ten samples of the next block complete the 64 after the stop; then it asks to sleep.
    std::fill(peak.buffer(kOutput).begin(), peak.buffer(kOutput).end(), kUnwritten);
    const auto last = peakOf(peak, a, b);
    EXPECT_EQ(peak.host().sleepRequestCount(), 1);
    EXPECT_EQ(last[9], 0.5f);
    EXPECT_EQ(last[10], kUnwritten);
}

TEST(Peak, AnnouncedOutputStreamsUntilTheNextInputEvent) {
    ModuleHarness peak("Orin Peak", {kInputA, kInputB, kOutput});
    host::EventList events;
    events.announceOutputs(0).streaming(16, kInputA, false);
    peakOf(peak, std::vector<float>(32, 1.0f), std::vector<float>(32, 0.0f), events);
    EXPECT_EQ(peak.host().streamingReports(),
              (std::vector<StreamingReport>{{0, kOutput, true}, {16, kOutput, false}}));
}

}  // namespace
