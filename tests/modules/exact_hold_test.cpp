// The hold's kernel alone: its output must be the doubling ring's to the bit, whether the
// sliding minimum or the ring runs and however the signal is cut.

#include "modules/exact_hold.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <span>
#include <vector>

#include "modules/doubling_ring.h"
#include "tests/support/module_harness.h"

namespace {

using testing_support::expectBitIdentical;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The whole signal through a fresh hold, cut into random runs.
std::vector<float> held(const std::vector<float>& input, int32_t length, bool inPlace, std::mt19937& random) {
    dynamics::ExactHold hold(length);
    return testing_support::inRandomRuns(input, inPlace, random,
                                         [&](const float* in, float* out, int32_t count) { hold.run(in, out, count); });
}

// Around sparse NaN bursts, on ties between -0 and +0, for power-of-two and other hold
// lengths: from the first NaN on the ring takes over, and after N clean samples the sliding
// minimum again; the output must be the plain ring's throughout. Length 1 passes through.
TEST(ExactHold, HandsOverBetweenSlidingMinimumAndRingExactly) {
    std::mt19937 random(5);
    const float levels[] = {-0.0f, 0.0f, 0.25f, 0.5f, 1.0f, 2.0f};
    for (const int32_t length : {1, 2, 3, 5, 7, 100, 257, 1000, 4096}) {
        SCOPED_TRACE(testing::Message() << "hold length " << length);
        const auto size = std::size_t(8 * length + 700);
        std::vector<float> input = testing_support::uniformNoise(size, 0.0f, 1.5f, random);
        for (float& x : input)
            if (random() % 3 == 0) x = levels[random() % std::size(levels)];
        // Bursts of NaN closer together and further apart than the hold length.
        for (std::size_t at = random() % size; at < size; at += 1 + random() % std::size_t(2 * length + 50))
            for (std::size_t k = at; k < std::min(size, at + 1 + random() % 3); ++k)
                input[k] = random() % 2 ? kNaN : -kNaN;

        dynamics::DoublingRing ring;
        ring.fill(length, 1.0f, 0);
        std::vector<float> expected;
        for (const float x : input) expected.push_back(ring.push(x));

        expectBitIdentical(held(input, length, length % 2 == 0, random), expected);
    }
}

// What the ring computes, written over sample indices instead of ring positions: step j
// folds in the partial result of the sample 2^j back, keeping b only when b <= f, 1.0
// standing in before the start. For a power-of-two length this is exact, NaN included.
std::vector<float> doublingFolds(std::span<const float> input, int32_t steps) {
    std::vector<float> level(input.begin(), input.end());
    for (int32_t j = 0; j < steps; ++j) {
        const std::size_t back = std::size_t(1) << j;
        std::vector<float> next(level.size());
        for (std::size_t n = 0; n < level.size(); ++n) {
            const float b = level[n], f = n >= back ? level[n - back] : 1.0f;
            next[n] = b <= f ? b : f;
        }
        level = std::move(next);
    }
    return level;
}

TEST(ExactHold, NaNTakesTheCourseOfTheDoublingFolds) {
    std::mt19937 random(3);
    auto input = testing_support::uniformNoise(10000, 0.0f, 1.5f, random);
    std::bernoulli_distribution isNaN(0.01);
    for (auto& sample : input)
        if (isNaN(random)) sample = random() % 2 ? kNaN : -kNaN;
    for (const int32_t steps : {6, 10}) {
        SCOPED_TRACE(testing::Message() << "hold length 2^" << steps);
        expectBitIdentical(held(input, 1 << steps, steps == 6, random), doublingFolds(input, steps));
    }
}

// Brute force over the window, without NaN: the minimum of the last `window` samples, 1.0
// standing in before the start, the newest of equal samples winning (they differ in their
// bits when the host's mode reads subnormals as zero).
std::vector<float> minimumOverWindow(const std::vector<float>& input, int32_t window) {
    std::vector<float> expected(input.size());
    for (int32_t k = 0; k < int32_t(input.size()); ++k) {
        float minimum = k - window + 1 < 0 ? 1.0f : kInf;
        for (int32_t i = std::max(k - window + 1, 0); i <= k; ++i) minimum = std::min(input[std::size_t(i)], minimum);
        expected[std::size_t(k)] = minimum;
    }
    return expected;
}

// The window is the largest power of two not above the hold length.
TEST(ExactHold, NoiseWithSubnormalsMatchesTheMinimumOverTheWindow) {
    std::mt19937 random(4);
    const auto input =
        testing_support::withTinyValues(testing_support::uniformNoise(20000, 0.0f, 1.5f, random), random);
    for (const auto& [length, window] : {std::pair{10, 8}, {4800, 4096}}) {
        SCOPED_TRACE(testing::Message() << "hold length " << length);
        expectBitIdentical(held(input, length, length == 10, random), minimumOverWindow(input, window));
    }
}

}  // namespace
