// The module tests can run as a host's audio thread runs: with flush-to-zero and
// denormals-are-zero set (DYNAMICS_TEST_FTZ_DAZ=1 in the environment; ctest runs the
// reference-model and split tests a second time so). The mode then covers the modules and
// the tests' own reference arithmetic alike, as an audio thread covers a host's.

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cstdlib>
#include <limits>

namespace {

constexpr unsigned kFlushToZero = 0x8000;
constexpr unsigned kDenormalsAreZero = 0x0040;

bool hostModeRequested() {
    const char* value = std::getenv("DYNAMICS_TEST_FTZ_DAZ");
    return value != nullptr && value[0] == '1';
}

class HostFloatingPointMode : public testing::Environment {
public:
    void SetUp() override {
        if (hostModeRequested()) _mm_setcsr(_mm_getcsr() | kFlushToZero | kDenormalsAreZero);
    }
};

[[maybe_unused]] const auto* const environment = testing::AddGlobalTestEnvironment(new HostFloatingPointMode);

// The mode is in force where the tests run exactly when it was asked for.
TEST(FloatingPointMode, SubnormalsReadAsZeroExactlyWhenRequested) {
    volatile float tiny = std::numeric_limits<float>::denorm_min();
    EXPECT_EQ(tiny + 0.0f == 0.0f, hostModeRequested());
}

}  // namespace
