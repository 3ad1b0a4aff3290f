// The smoother's kernel alone, against the double sum it computes, kept in 128-bit integers
// where nothing can overflow.

#include "modules/fixed_point_smoother.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/support/module_harness.h"

namespace {

using testing_support::expectBitIdentical;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kUnit = 1.0f / 16777216.0f;  // 2^-24, one step of the fixed point

// The whole signal through a fresh smoother, cut into random runs.
std::vector<float> smoothed(const std::vector<float>& input, int32_t length1, int32_t length2, bool inPlace,
                            std::mt19937& random) {
    dynamics::FixedPointSmoother smoother(length1, length2);
    return testing_support::inRandomRuns(
        input, inPlace, random, [&](const float* in, float* out, int32_t count) { smoother.run(in, out, count); });
}

// floor(x × 2^24 + 0.5), the product and sum in float; saturated, NaN to 0.
int64_t quantised(float x) {
    const float z = x * 16777216.0f + 0.5f;
    if (std::isnan(z)) return 0;
    return int64_t(std::clamp(std::floor(double(z)), -2147483648.0, 2147483647.0));
}

// y[n] = sum over i < length1, j < length2 of q[n - i - j], with q = 0 before the start,
// kept as two moving sums in 128-bit integers: box[n] sums the last length1 values of q,
// y[n] the last length2 values of box. Then the float nearest to y, times gain.
std::vector<float> doubleSum(const std::vector<float>& input, int32_t length1, int32_t length2) {
    std::vector<float> output(input.size());
    const float gain = 1.0f / ((float(length1) * 16777216.0f) * float(length2));
    std::vector<__int128> boxes(std::size_t(length2), 0);  // the last length2 values of box
    __int128 box = 0, y = 0;
    for (std::size_t n = 0; n < input.size(); ++n) {
        box += quantised(input[n]);
        if (n >= std::size_t(length1)) box -= quantised(input[n - std::size_t(length1)]);
        __int128& dropped = boxes[n % std::size_t(length2)];
        y += box - dropped;
        dropped = box;
        output[n] = float(y) * gain;
    }
    return output;
}

// Lengths 1 and 1: the input quantised to multiples of 2^-24, rounding halves up and
// saturating at ±128, NaN giving 0.
TEST(FixedPointSmoother, ExtremeInputsQuantiseAndSaturate) {
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
    std::mt19937 random(10);
    expectBitIdentical(smoothed(input, 1, 1, false, random), expected);
}

// Noise, and large inputs: from 32 up to 128 in magnitude a four-tap combination in 32 bits
// would wrap. Lengths 26 and 38 add up to a power of two, which the ring must exceed.
TEST(FixedPointSmoother, LargeInputsMatchTheDoubleSum) {
    struct Case {
        int32_t length1, length2;
        float amplitude;
    };
    const Case cases[] = {{1, 1, 127.9f}, {2, 3, 1.0f}, {19, 29, 1.0f}, {19, 29, 127.9f}, {26, 38, 127.9f}};
    std::mt19937 random(12);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "lengths " << c.length1 << ", " << c.length2 << " at " << c.amplitude);
        const auto input = testing_support::uniformNoise(20000, -c.amplitude, c.amplitude, random);
        expectBitIdentical(smoothed(input, c.length1, c.length2, c.length1 == 19, random),
                           doubleSum(input, c.length1, c.length2));
    }
}

// The sums grow as large as they can on either side of the window where they need more than
// 64 bits (length1 × length2 = 2^32), at 20 s and 192 kHz, and at the longest lengths a
// module asks for, where they reach 2^73. The input steps to full scale (+inf saturates)
// until the step has settled, swings to the negative end for a whole window, then mixes
// noise and extremes in runs of random length. The step is constant from sample
// length1 + length2 - 1 on.
TEST(FixedPointSmoother, LongWindowsStayExact) {
    struct Case {
        int32_t length1, length2;
    };
    const Case cases[] = {{2, 3}, {53507, 80260}, {53514, 80271}, {1536000, 2304000}, {1600000, 2400000}};
    const float extremes[] = {1e30f, -1e30f, kInf, -kInf, kNaN, 127.9f, -127.9f, 128.0f, 0.0f};
    std::mt19937 random(13);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "lengths " << c.length1 << ", " << c.length2);
        const auto window = std::size_t(c.length1 + c.length2);
        std::vector<float> input(window + 1000, kInf);
        input.insert(input.end(), window, -1e30f);
        while (input.size() < 3 * window + 1000) {
            const std::size_t run = 1 + random() % (window / 4);
            const auto kind = random() % 3;
            for (std::size_t k = 0; k < run; ++k)
                input.push_back(kind == 0   ? extremes[random() % std::size(extremes)]
                                : kind == 1 ? std::uniform_real_distribution<float>(-1.0f, 1.0f)(random)
                                            : extremes[run % std::size(extremes)]);
        }
        const auto output = smoothed(input, c.length1, c.length2, c.length1 % 2 == 0, random);
        expectBitIdentical(output, doubleSum(input, c.length1, c.length2));

        EXPECT_NEAR(output[(window - 2) / 2], 64.0f, 1e-3f);  // halfway at the window's centre
        const std::size_t settled = window - 2;  // sample length1 + length2 - 1
        EXPECT_TRUE(std::all_of(output.begin() + std::ptrdiff_t(settled),
                                output.begin() + std::ptrdiff_t(window) + 1000,
                                [&](float x) { return x == output[settled]; }));
        EXPECT_NEAR(output[settled], 128.0f, 1e-4f);
    }
}

// Sums exactly halfway between two floats round to the even one. With lengths 65536 and
// 65537 the constant input c × 2^-14 settles at c × 2^26 × 65537, whose odd part has 25
// bits for c = 383 (halfway, rounding up to the even float) and c = 385 (rounding down).
TEST(FixedPointSmoother, HalfwaySumsRoundToEven) {
    std::mt19937 random(14);
    for (const float c : {383.0f, 385.0f, -383.0f, -385.0f}) {
        SCOPED_TRACE(testing::Message() << "c = " << c);
        const std::vector<float> input(140000, c / 16384.0f);
        expectBitIdentical(smoothed(input, 65536, 65537, false, random), doubleSum(input, 65536, 65537));
    }
}

}  // namespace
