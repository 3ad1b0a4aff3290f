// HardKnee: the gain that brings a sample above the threshold down to it.

#include <bit>
#include <cstdint>

#include "factory/module_registration.h"
#include "framework/audio_pins.h"
#include "framework/control_pin.h"
#include "framework/mp_base2.h"
#include "modules/multiversion.h"

namespace dynamics {
namespace {

// threshold / x for x above the threshold, else 1. The comparison is ordered, so a NaN
// input or threshold gives 1. The quotient is formed for every sample and picked with a bit
// mask: the compiler would otherwise move the division (which may trap, as far as it knows)
// behind a branch, and the loop would not vectorise. For samples that keep gain 1 the
// quotient (possibly inf or NaN from a division by zero) is simply discarded.
inline float gainFor(float x, float threshold) {
    const uint32_t reduction = std::bit_cast<uint32_t>(threshold / x);
    const uint32_t unity = std::bit_cast<uint32_t>(1.0f);
    const uint32_t above = 0u - uint32_t(x > threshold);  // all ones when above, else zero
    return std::bit_cast<float>((reduction & above) | (unity & ~above));
}

DYNAMICS_MULTIVERSION
void gainsFor(const float* in, float threshold, float* out, int32_t count) {
#pragma omp simd
    for (int32_t i = 0; i < count; ++i) out[i] = gainFor(in[i], threshold);
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

    void run(int32_t count) { gainsFor(input.getBuffer(), threshold.getValue(), output.getBuffer(), count); }

private:
    mp::MpFloatInPin threshold;
    mp::AudioInPin input;
    mp::AudioOutPin output;
};

const mp::ModuleRegistration registration(u"Orin Hard Knee", mp::createModule<HardKnee>);

}  // namespace
}  // namespace dynamics
