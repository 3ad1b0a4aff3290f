// HardKnee: the gain that brings a sample above the threshold down to it.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "factory/module_registration.h"
#include "framework/audio_pins.h"
#include "framework/control_pin.h"
#include "framework/mp_base2.h"
#include "modules/multiversion.h"

namespace dynamics {
namespace {

constexpr uint32_t kMagnitudeMask = 0x7fffffffu;
constexpr uint32_t kInfinityBits = 0x7f800000u;
constexpr uint32_t kMinusInfinityBits = 0xff800000u;
// What this processor's division gives for -inf / +inf: the negative quiet NaN.
constexpr uint32_t kDivisionNaNBits = 0xffc00000u;
constexpr float kInf = std::numeric_limits<float>::infinity();

// Tested on the bits: a floating-point comparison would raise the invalid-operation
// exception for a signalling NaN.
inline bool isNotANumber(float v) { return (std::bit_cast<uint32_t>(v) & kMagnitudeMask) > kInfinityBits; }

// x with a NaN replaced by -inf, which lies above no threshold: the ordered comparison's
// result, reached by a comparison that never meets a NaN and so raises nothing.
inline float comparable(float x) {
    const uint32_t bits = std::bit_cast<uint32_t>(x);
    const uint32_t number = 0u - uint32_t((bits & kMagnitudeMask) <= kInfinityBits);  // all ones or zero
    return std::bit_cast<float>((bits & number) | (kMinusInfinityBits & ~number));
}

// x with a NaN replaced by +0, which lies above no threshold of zero or more: one mask
// fewer than comparable(x), for the loop that matters.
inline float numberOrZero(float x) {
    const uint32_t bits = std::bit_cast<uint32_t>(x);
    // Signed: a magnitude pattern fits in 31 bits, and the comparison is one instruction.
    const uint32_t notANumber = 0u - uint32_t(int32_t(bits & kMagnitudeMask) > int32_t(kInfinityBits));
    return std::bit_cast<float>(bits & ~notANumber);
}

inline float select(uint32_t mask, float taken, float otherwise) {
    return std::bit_cast<float>((std::bit_cast<uint32_t>(taken) & mask) |
                                (std::bit_cast<uint32_t>(otherwise) & ~mask));
}

// threshold / x for x above the threshold, else 1, for a threshold that is a number and not
// below zero. Only x above the threshold is divided by; the other lanes divide by 1.0,
// which cannot trap. Every choice is a bit mask: the compiler would otherwise move the
// division behind a branch, and the loop would not vectorise. x above a threshold of zero
// or more is positive, so the quotient is at most 1: it never overflows, and no division
// by zero or of infinities occurs.
inline float gainFor(float x, float threshold) {
    const uint32_t above = 0u - uint32_t(numberOrZero(x) > threshold);
    const float quotient = threshold / select(above, x, 1.0f);
    return select(above, quotient, 1.0f);
}

DYNAMICS_VECTOR_LOOP
void gainsForLoop(const float* in, float threshold, float* out, int32_t count) {
#pragma omp simd
    for (int32_t i = 0; i < count; ++i) out[i] = gainFor(in[i], threshold);
}
const auto gainsFor = chosenAtLoad<gainsForLoop>();

// Every quotient of two floats at least this large in magnitude rounds to infinity in
// single precision: 2^128 - 2^103, half way between the largest float and 2^128.
constexpr double kSingleOverflow = 0x1.ffffffp127;

// The same for a negative threshold (-inf included), where x above it may be ±0, tiny or
// +inf. The IEEE results come without a trapping operation: ±0 gives the infinity of the
// quotient's sign (-inf for +0, +inf for -0), -inf / +inf the NaN the division gives, and a
// quotient beyond the float range its infinity instead of an overflow. The quotient is
// formed in double, where no quotient of floats overflows, and is exact enough that
// rounding it to float gives the single-precision quotient to the bit.
inline float gainBelowZeroFor(float x, float threshold) {
    const float c = comparable(x);
    const bool above = c > threshold;
    const bool zero = c == 0.0f;
    const bool infinities = c == kInf && threshold == -kInf;
    const double quotient = double(threshold) / (above && !zero && !infinities ? double(c) : 1.0);
    // Rounding an infinity to float is exact; rounding a quotient beyond the range is not.
    const bool overflows = std::fabs(quotient) >= kSingleOverflow;
    float gain = float(overflows ? std::copysign(double(kInf), quotient) : quotient);
    if (zero) gain = std::copysign(kInf, -c);
    if (infinities) gain = std::bit_cast<float>(kDivisionNaNBits);
    return above ? gain : 1.0f;
}

void gainsBelowZeroFor(const float* in, float threshold, float* out, int32_t count) {
    for (int32_t i = 0; i < count; ++i) out[i] = gainBelowZeroFor(in[i], threshold);
}

// The threshold is a linear level used as given: no clamping and no check of its sign, so a
// threshold of 0 mutes every positive sample and a negative threshold yields gains above 1
// or negative. The output's streaming state follows the input alone; a new threshold while
// the input is static re-reports the output static, so the new constant gain runs for one
// more block before the module asks to sleep.
class HardKnee : public mp::MpBase2 {
public:
    HardKnee() {
        registerPin(threshold);
        registerPin(input);
        registerPin(output);
    }

    void onPinsUpdated() override {
        output.setStreaming(input.isStreaming());
        chooseRunFunction(&HardKnee::run);
    }

    // A threshold that is not a number lies below no sample: every gain is 1. Thresholds of
    // zero and above, the usual ones, take the vectorised loop.
    void run(int32_t count) {
        const float t = threshold.getValue();
        float* out = output.getBuffer();
        if (isNotANumber(t))
            std::fill_n(out, count, 1.0f);
        else if (t < 0.0f)
            gainsBelowZeroFor(input.getBuffer(), t, out, count);
        else
            gainsFor(input.getBuffer(), t, out, count);
    }

private:
    mp::MpFloatInPin threshold;
    mp::AudioInPin input;
    mp::AudioOutPin output;
};

const mp::ModuleRegistration registration(u"Orin Hard Knee", mp::createModule<HardKnee>);

}  // namespace
}  // namespace dynamics
