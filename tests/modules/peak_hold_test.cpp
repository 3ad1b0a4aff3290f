// PeakHold driven from the built Dynamics.ovm: the minimum over a power-of-two window that
// follows a hold time in milliseconds.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "tests/support/module_harness.h"

namespace {

using testing_support::expectBitIdentical;
using testing_support::ModuleHarness;
using testing_support::startEvents;

constexpr int32_t kHoldTime = 0;
constexpr int32_t kInput = 1;
constexpr int32_t kOutput = 2;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct HoldTimeAt {
    int32_t position;
    float milliseconds;
};

// The whole signal in one block, with the hold-time values at their positions.
std::vector<float> held(const std::vector<float>& input, const std::vector<HoldTimeAt>& holdTimes,
                        std::optional<float> sampleRate = 48000.0f) {
    ModuleHarness hold("Orin Peak Hold", {kInput, kOutput}, int32_t(input.size()));
    hold.host().setSampleRate(sampleRate);
    host::EventList events = startEvents({kInput});
    for (const auto& h : holdTimes) events.value(h.position, kHoldTime, h.milliseconds);
    return hold.run({{kInput, input}}, kOutput, events);
}

struct WindowFrom {
    int32_t position;  // where the hold time arrives and refills the window with 1.0
    int32_t window;
};

// Brute force: the minimum of the last `window` samples, 1.0 standing in for samples from
// before the last refill.
std::vector<float> minimumOverWindows(const std::vector<float>& input,
                                      const std::vector<WindowFrom>& windows) {
    std::vector<float> expected(input.size());
    for (std::size_t segment = 0; segment < windows.size(); ++segment) {
        const int32_t start = windows[segment].position, window = windows[segment].window;
        const auto end = segment + 1 < windows.size() ? windows[segment + 1].position : int32_t(input.size());
        for (int32_t k = start; k < end; ++k) {
            const int32_t first = k - window + 1;
            float minimum = first < start ? 1.0f : kInf;
            // The newest of equal samples: they differ in their bits when the host's mode
            // reads subnormals as zero.
            for (int32_t i = std::max(first, start); i <= k; ++i) minimum = std::min(input[i], minimum);
            expected[k] = minimum;
        }
    }
    return expected;
}

TEST(PeakHold, WindowIsTheLargestPowerOfTwoNotAboveTheHoldLength) {
    struct Case {
        float sampleRate, milliseconds;
        int32_t window;
    };
    // At 1 kHz the hold time in ms is the hold length N.
    const Case cases[] = {{1000, 2, 2}, {1000, 3, 2},       {1000, 4, 4},    {1000, 5, 4},
                          {1000, 9, 8}, {48000, 100, 4096}, {44100, 10, 256}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.milliseconds << " ms at " << c.sampleRate << " Hz");
        // A steady 2.0 with one dip to 0.2: 1.0 until the window has filled, then the dip
        // for exactly `window` samples from its own position.
        std::vector<float> input(std::size_t(3 * c.window + 10), 2.0f);
        const int32_t dip = c.window + 5;
        input[dip] = 0.2f;
        const auto output = held(input, {{0, c.milliseconds}}, c.sampleRate);
        for (int32_t k = 0; k < int32_t(output.size()); ++k) {
            const float expected = k < c.window - 1 ? 1.0f : (k >= dip && k < dip + c.window) ? 0.2f : 2.0f;
            ASSERT_EQ(output[k], expected) << "sample " << k;
        }
    }
}

TEST(PeakHold, HoldLengthsOfOnePassTheInputThrough) {
    struct Case {
        std::optional<float> milliseconds;  // none: no hold time ever arrives
        std::optional<float> sampleRate = 48000.0f;
    };
    const Case cases[] = {
        {std::nullopt}, {0.0f},  {-5.0f}, {0.03f},        {kNaN},
        {kInf},         {-kInf}, {1e9f},  {100.0f, 0.0f}, {100.0f, std::nullopt},
    };
    std::mt19937 random(1);
    const auto input = testing_support::uniformNoise(500, -1.0f, 2.0f, random);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.milliseconds.value_or(-1) << " ms at " << c.sampleRate.value_or(-1));
        std::vector<HoldTimeAt> holdTimes;
        if (c.milliseconds) holdTimes.push_back({0, *c.milliseconds});
        expectBitIdentical(held(input, holdTimes, c.sampleRate), input);
    }
}

// Refills with a new length, with the same value again (the hold restarts), and with a
// length far below the write position reached (4800 down to 10 after 3000 samples).
TEST(PeakHold, MatchesTheMinimumOverTheWindowAcrossRefills) {
    std::mt19937 random(2);
    const auto input = testing_support::uniformNoise(50000, 0.0f, 1.5f, random);
    const std::vector<HoldTimeAt> holdTimes = {{0, 4800},   {3000, 10}, {9000, 10},   {12000, 441},
                                               {20000, 64}, {30000, 2}, {33000, 1000}};
    const std::vector<WindowFrom> windows = {{0, 4096},   {3000, 8},  {9000, 8},   {12000, 256},
                                             {20000, 64}, {30000, 2}, {33000, 512}};
    expectBitIdentical(held(input, holdTimes, 1000.0f), minimumOverWindows(input, windows));
}

// 10^6 ms at 48 kHz asks for 48 000 000 samples, whose window would be 2^25; the ring is
// cut to 2^24 entries, so a dip is held for exactly 2^24 samples.
TEST(PeakHold, HoldLengthIsCutTo2To24Samples) {
    constexpr int32_t kBlock = 1 << 16;
    ModuleHarness hold("Orin Peak Hold", {kInput, kOutput}, kBlock);
    auto& in = hold.buffer(kInput);
    const auto& out = hold.buffer(kOutput);
    std::fill(in.begin(), in.end(), 0.9f);
    in[0] = 0.2f;
    host::EventList events = startEvents({kInput});
    events.value(0, kHoldTime, 1e6f);
    hold.process(kBlock, events);
    in[0] = 0.9f;
    bool heldThroughout = std::all_of(out.begin(), out.end(), [](float x) { return x == 0.2f; });
    for (int32_t block = 1; block < (1 << 24) / kBlock; ++block) {
        hold.process(kBlock);
        heldThroughout &= std::all_of(out.begin(), out.end(), [](float x) { return x == 0.2f; });
    }
    EXPECT_TRUE(heldThroughout);
    hold.process(kBlock);
    EXPECT_EQ(out[0], 0.9f);
}

#if defined(__SANITIZE_ADDRESS__)
#define ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ADDRESS_SANITIZER 1
#endif
#endif

#ifndef _WIN32
// Lets the process map only `headroom` more bytes than it has mapped now.
void limitAddressSpace(long headroom) {
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = rlim_t(pages * sysconf(_SC_PAGESIZE) + headroom);
    setrlimit(RLIMIT_AS, &limit);
}
#endif

// In a child process with little address space to spare, the 192 MiB hold cannot be had: the
// module keeps its state (a fresh one passes the input through), nothing escapes, and a later
// short hold time works again.
bool passesThroughWithoutMemoryThenRecovers() {
    ModuleHarness hold("Orin Peak Hold", {kInput, kOutput}, 64);
    std::vector<float> input(64, 0.9f);
    input[0] = 0.2f;
#ifndef _WIN32
    limitAddressSpace(16 << 20);
#endif
    host::EventList longHold = startEvents({kInput});
    longHold.value(0, kHoldTime, 1e6f);
    if (hold.run({{kInput, input}}, kOutput, longHold) != input) return false;
    host::EventList shortHold;
    shortHold.value(0, kHoldTime, 100.0f);
    const auto output = hold.run({{kInput, input}}, kOutput, shortHold);
    return std::all_of(output.begin(), output.end(), [](float x) { return x == 0.2f; });
}

TEST(PeakHoldDeathTest, PassesTheInputThroughWhenTheRingCannotBeAllocated) {
#ifdef ADDRESS_SANITIZER
    GTEST_SKIP() << "the address sanitizer cannot run under an address-space limit";
#endif
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no limit on a process's address space to set";
#endif
    EXPECT_EXIT(std::_Exit(passesThroughWithoutMemoryThenRecovers() ? 0 : 1), testing::ExitedWithCode(0), "");
}

// The output is static until announced and streams from then on: the module never reports
// it, so once announced it never sleeps, and unannounced with a static input it does.
TEST(PeakHold, NeverDrivesTheOutputsStreamingState) {
    const std::vector<float> input(64, 0.5f);
    for (const bool announce : {true, false}) {
        SCOPED_TRACE(announce ? "announced" : "never announced");
        ModuleHarness hold("Orin Peak Hold", {kInput, kOutput}, 64);
        host::EventList start = announce ? startEvents({kInput}) : host::EventList{};
        start.value(0, kHoldTime, 1.0f);
        if (!announce) start.streaming(0, kInput, true);
        hold.run({{kInput, input}}, kOutput, start);
        host::EventList stop;
        stop.streaming(10, kInput, false).value(20, kHoldTime, 2.0f);
        hold.run({{kInput, input}}, kOutput, stop);
        for (int block = 0; block < 3; ++block) hold.run({{kInput, input}}, kOutput);
        const auto expected = announce ? std::vector<host::StreamingReport>{{0, kOutput, true}}
                                       : std::vector<host::StreamingReport>{};
        EXPECT_EQ(hold.host().streamingReports(), expected);
        EXPECT_EQ(hold.host().sleepRequestCount() > 0, !announce);
    }
}

}  // namespace
