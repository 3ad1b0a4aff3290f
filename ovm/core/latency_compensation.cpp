#include "ovm/core/latency_compensation.h"

namespace ovm {

LatencyCompensation::LatencyCompensation(Engine& engine, long long latency, int32_t blockSize)
    : latency(latency) {
    for (int32_t c = 0; c < engine.inputChannels(); ++c) {
        if (latency == 0) {
            inputs.push_back(engine.inputChannel(c));
            continue;
        }
        delays.push_back(std::make_unique<DelayNode>("input", blockSize, latency));
        delays.back()->connectInput(DelayNode::in, engine.inputChannel(c));
        inputs.push_back(delays.back()->output(DelayNode::out));
    }
    ignored.reserve(16);
}

const std::vector<const float*>& LatencyCompensation::alignedInputs(int32_t count) {
    for (const auto& delay : delays) {
        ignored.clear();
        delay->process(count, {}, ignored);
    }
    return inputs;
}

}  // namespace ovm
