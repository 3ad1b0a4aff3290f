// Integrator: a running sum of its input.

#include <algorithm>
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
        if (sum != sum) {
            std::fill_n(out, count, sum);
            return;
        }
        for (int32_t i = 0; i < count; ++i) {
            sum += in[i];
            out[i] = sum;
        }
        total = sum != sum ? holdFirstNaN(out, count) : sum;
    }

private:
    // A NaN sum is held as it is: adding a second NaN would keep the one that comes first in
    // the instruction the compiler chose, which differs between builds, so the sign and
    // payload of the output would too. The first NaN of a block met a number (or was made
    // from two infinities), so its bits are fixed; the block's later samples are rewritten
    // to it after the loop, which keeps the loop itself free of tests. So within that block
    // it goes on adding after the sum has turned NaN, and a signalling NaN input there raises
    // invalid-operation, as one before the first NaN does. Returns that NaN.
    static float holdFirstNaN(float* out, int32_t count) {
        float* first = std::find_if(out, out + count, [](float x) { return x != x; });
        std::fill(first + 1, out + count, *first);
        return *first;
    }

    mp::AudioInPin input;
    mp::AudioOutPin output;
    float total = 0.0f;
};

const mp::ModuleRegistration registration(u"Orin Integrator", mp::createModule<Integrator>);

}  // namespace
}  // namespace dynamics
