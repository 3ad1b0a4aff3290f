#include "tests/framework/test_modules.h"

namespace framework_testing {

int ProbeModule::liveObjects = 0;

ProbeModule::ProbeModule() {
    registerPin(control);
    registerPin(input);
    registerPin(output);
    ++liveObjects;
}

ProbeModule::~ProbeModule() { --liveObjects; }

void ProbeModule::onPinsUpdated() {
    updates.push_back({blockPosition, control.getValue(), control.isUpdated(), input.isUpdated(),
                       input.isStreaming(), isCounting()});
    if (onUpdate) onUpdate(*this);
    if (chooseOnUpdate) chooseRunFunction(&ProbeModule::run);
}

void ProbeModule::run(int32_t count) {
    runs.push_back({blockPosition, count});
    if (onRun) onRun(*this);
    float* out = output.getBuffer();
    for (int32_t i = 0; i < count; ++i) out[i] = float(blockPosition + i);
}

void ProbeModule::otherRun(int32_t count) { otherRuns.push_back({blockPosition, count}); }

ProbeHandle::ProbeHandle()
    : module(new ProbeModule()), plugin(host::ComPtr<mp::IMpPlugin2>::adopt(module->asPlugin2())) {}

}  // namespace framework_testing
