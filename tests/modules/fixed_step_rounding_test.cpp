// The fixed-step rounding against the compiler's own conversion of 128-bit integers to float,
// at every range it may be chosen for: ends of ranges, halfway values and the extreme
// distances, on both sides of zero.

#include "modules/fixed_step_rounding.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using dynamics::fixedStepRounding;

// Checks the run's ends and start, their neighbours, and the halfway values next to them
// and their neighbours.
void expectNearestForRun(__int128 start, uint64_t reach) {
    const auto rounding = fixedStepRounding(start, reach);
    if (!rounding) return;
    const auto step = __int128(rounding->magic / 0x1.8p52);
    const __int128 low = start - __int128(reach), high = start + __int128(reach);
    for (const __int128 end : {low, start, high}) {
        const __int128 below = end & ~(step - 1);
        const __int128 halfway = below + step / 2;
        for (const __int128 y : {end, end - 1, end + 1, halfway, halfway - 1, halfway + 1, halfway - step}) {
            if (y < low || y > high) continue;
            ASSERT_EQ(rounding->nearest(int64_t(y - rounding->base)), float(y))
                << "y = " << double(y) << ", start " << double(start) << ", reach " << reach;
        }
    }
}

TEST(FixedStepRounding, GivesTheNearestFloatWhereverItIsChosen) {
    std::mt19937_64 random(15);
    int chosen = 0;
    for (int e = 0; e <= 73; ++e)
        for (const int sign : {1, -1})
            for (int trial = 0; trial < 200; ++trial) {
                const __int128 binadeStart = __int128{1} << e;
                const __int128 offset = ((__int128(random() >> 1) << 64) | random()) % binadeStart;
                const uint64_t reach = trial % 4 == 0 ? 0 : random() >> (2 + trial % 62);
                const __int128 magnitude = trial % 3 == 0   ? binadeStart + __int128(reach)
                                           : trial % 3 == 1 ? 2 * binadeStart - 1 - __int128(reach)
                                                            : binadeStart + offset;
                expectNearestForRun(sign * magnitude, reach);
                chosen += fixedStepRounding(sign * magnitude, reach).has_value();
            }
    EXPECT_GT(chosen, 10000);  // many runs here stay within one range
    EXPECT_FALSE(fixedStepRounding(__int128{1} << 40, uint64_t{1} << 50));
    EXPECT_FALSE(fixedStepRounding(-(__int128{1} << 73), 0));
    EXPECT_FALSE(fixedStepRounding(__int128{1} << 30, uint64_t{1} << 30));  // crosses 2^30
}

}  // namespace
