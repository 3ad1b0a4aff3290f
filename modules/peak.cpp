// Peak: the larger magnitude of two signals, sample by sample.

#include <algorithm>
#include <bit>
#include <cstdint>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "factory/module_registration.h"
#include "framework/audio_pins.h"
#include "framework/mp_base2.h"
#include "modules/multiversion.h"

namespace dynamics {
namespace {

// The larger magnitude is b if b > a, else a, exactly as the processor's maximum
// instruction (maxps with b first) gives it in the calling thread's floating-point mode.
// With the sign bit cleared the bit patterns of floats order exactly as their values do
// (+0 < subnormals < normals < +inf), so that maximum is an integer maximum: no branch, no
// floating-point operation that could raise an exception, and the loop vectorises. -0
// becomes +0 and -inf becomes +inf.
//
// NaN: a NaN's pattern lies above +inf, so a NaN on either input gives a NaN (sign cleared)
// at the output. The result is the same whichever input carries it, and a broken signal
// stays visible instead of being masked by the other input.
inline uint32_t largerMagnitude(float a, float b) {
    constexpr uint32_t kMagnitudeMask = 0x7fffffffu;
    const uint32_t magnitudeA = std::bit_cast<uint32_t>(a) & kMagnitudeMask;
    const uint32_t magnitudeB = std::bit_cast<uint32_t>(b) & kMagnitudeMask;
    return std::max(magnitudeA, magnitudeB);
}

// A thread that reads subnormal operands as zero (denormals-are-zero, as hosts run their
// audio threads) compares subnormal magnitudes as zero, and its maximum instruction gives +0
// for them: results with a pattern below `smallestKept` become +0. A pattern never exceeds
// 0x7fffffff, so the comparison may be a signed one, which vectorises everywhere.
DYNAMICS_VECTOR_LOOP
void largerMagnitudesLoop(const float* a, const float* b, float* out, int32_t count, uint32_t smallestKept) {
#pragma omp simd
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t larger = largerMagnitude(a[i], b[i]);
        out[i] = std::bit_cast<float>(int32_t(larger) >= int32_t(smallestKept) ? larger : 0u);
    }
}
const auto largerMagnitudes = chosenAtLoad<largerMagnitudesLoop>();

// The smallest magnitude pattern the calling thread's arithmetic reads as it is: the
// smallest normal under denormals-are-zero (bit 6 of MXCSR), else 0. Reading the control
// register is one instruction, no system call.
uint32_t smallestMagnitudeRead() {
#if defined(__SSE__)
    constexpr unsigned kDenormalsAreZero = 0x0040;
    constexpr uint32_t kSmallestNormal = 0x00800000u;
    return (_mm_getcsr() & kDenormalsAreZero) != 0 ? kSmallestNormal : 0u;
#else
    return 0u;
#endif
}

// The output streams while at least one input streams; once both are static the output is
// reported static too, and the framework lets the module sleep after one more block.
class Peak : public mp::MpBase2 {
public:
    Peak() {
        registerPin(inputA);
        registerPin(inputB);
        registerPin(output);
    }

    void onPinsUpdated() override {
        output.setStreaming(inputA.isStreaming() || inputB.isStreaming());
        chooseRunFunction(&Peak::run);
    }

    void run(int32_t count) {
        largerMagnitudes(inputA.getBuffer(), inputB.getBuffer(), output.getBuffer(), count, smallestMagnitudeRead());
    }

private:
    mp::AudioInPin inputA;
    mp::AudioInPin inputB;
    mp::AudioOutPin output;
};

const mp::ModuleRegistration registration(u"Orin Peak", mp::createModule<Peak>);

}  // namespace
}  // namespace dynamics
