// Peak: the larger magnitude of two signals, sample by sample.

#include <algorithm>
#include <bit>
#include <cstdint>

#include "factory/module_registration.h"
#include "framework/audio_pins.h"
#include "framework/mp_base2.h"
#include "modules/multiversion.h"

namespace dynamics {
namespace {

// With the sign bit cleared, the bit patterns of floats order exactly as their values do
// (+0 < denormals < normals < +inf), so the larger magnitude is an integer maximum: no
// branch, and the loop vectorises. -0 becomes +0 and -inf becomes +inf.
//
// NaN: a NaN's pattern lies above +inf, so a NaN on either input gives a NaN (sign cleared)
// at the output. The result is the same whichever input carries it, and a broken signal
// stays visible instead of being masked by the other input.
inline float largerMagnitude(float a, float b) {
    constexpr uint32_t kMagnitudeMask = 0x7fffffffu;
    const uint32_t magnitudeA = std::bit_cast<uint32_t>(a) & kMagnitudeMask;
    const uint32_t magnitudeB = std::bit_cast<uint32_t>(b) & kMagnitudeMask;
    return std::bit_cast<float>(std::max(magnitudeA, magnitudeB));
}

DYNAMICS_MULTIVERSION
void largerMagnitudes(const float* a, const float* b, float* out, int32_t count) {
#pragma omp simd
    for (int32_t i = 0; i < count; ++i) out[i] = largerMagnitude(a[i], b[i]);
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
        largerMagnitudes(inputA.getBuffer(), inputB.getBuffer(), output.getBuffer(), count);
    }

private:
    mp::AudioInPin inputA;
    mp::AudioInPin inputB;
    mp::AudioOutPin output;
};

const mp::ModuleRegistration registration(u"Orin Peak", mp::createModule<Peak>);

}  // namespace
}  // namespace dynamics
