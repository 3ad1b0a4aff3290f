// A module whose run function does nothing, built into its own library for the benchmarks:
// timing its process() measures the framework alone (event dispatch, pin updates, the call
// of the run function).

#include <cstdint>

#include "factory/module_registration.h"
#include "framework/audio_pins.h"
#include "framework/control_pin.h"
#include "framework/mp_base2.h"

namespace {

class NullModule : public mp::MpBase2 {
public:
    NullModule() {
        registerPin(level);
        registerPin(input);
        registerPin(output);
    }

    void onPinsUpdated() override {
        output.setStreaming(input.isStreaming());
        chooseRunFunction(&NullModule::run);
    }

    void run(int32_t) {}

private:
    mp::MpFloatInPin level;
    mp::AudioInPin input;
    mp::AudioOutPin output;
};

const mp::ModuleRegistration registration(u"Bench Null", mp::createModule<NullModule>);

}  // namespace
