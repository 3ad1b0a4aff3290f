// Integrator: a running sum of its input.

#include <cstdint>

#include "factory/module_registration.h"
#include "framework/audio_pins.h"
#include "framework/mp_base2.h"

namespace dynamics {
namespace {

// Every output sample is the sum of all input samples since the object was created, the
// current one included. The sum is one float addition per sample in strict order, so the
// output does not depend on how blocks and events cut the signal.
//
// The module never drives its output's streaming state: the output is static until the host
// announces the outputs and streams from then on, so an announced Integrator never sleeps.
// Nothing resets the sum; an infinite or NaN input stays in it for good.
class Integrator : public mp::MpBase2 {
public:
    Integrator() {
        registerPin(input);
        registerPin(output);
    }

    void onPinsUpdated() override { chooseRunFunction(&Integrator::run); }

    void run(int32_t count) {
        const float* in = input.getBuffer();
        float* out = output.getBuffer();
        float sum = total;
        int32_t i = 0;
        for (; i < count && sum == sum; ++i) {
            sum += in[i];
            out[i] = sum;
        }
        // A NaN sum is held as it is: adding a second NaN would keep the one that comes first
        // in the instruction the compiler chose, which differs between builds, so the sign
        // and payload of the output would too.
        for (; i < count; ++i) out[i] = sum;
        total = sum;
    }

private:
    mp::AudioInPin input;
    mp::AudioOutPin output;
    float total = 0.0f;
};

const mp::ModuleRegistration registration(u"Orin Integrator", mp::createModule<Integrator>);

}  // namespace
}  // namespace dynamics
