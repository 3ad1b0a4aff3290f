#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/engine.h"
#include "engine/host_nodes.h"

namespace ovm {

// Lines a run's output up with its input, sample for sample. The engine's first `latency`
// output frames (the time the patch takes to answer) are left out, and the run goes on for
// as many frames of silence past the input to flush what is still inside, so the output is
// as long as the input. The input that the meters and the plot compare with the output is
// delayed by as much, so that both describe the same moment. A latency of 0 trims and
// delays nothing: the run then keeps the patch's latency.
class LatencyCompensation {
public:
    LatencyCompensation(Engine& engine, long long latency, int32_t blockSize);

    // The frames left out at the start, and run on silence at the end.
    long long trimmed() const { return latency; }
    // The first frame of the block that starts at engine frame `done` that belongs to the output.
    int32_t firstKept(long long done, int32_t count) const {
        return int32_t(std::clamp<long long>(latency - done, 0, count));
    }
    // Once the engine has processed a block: the input channels of the same moments as the
    // block's output frames.
    const std::vector<const float*>& alignedInputs(int32_t count);

private:
    long long latency;
    std::vector<std::unique_ptr<DelayNode>> delays;  // one per input channel
    std::vector<const float*> inputs;
    std::vector<StreamingChange> ignored;
};

}  // namespace ovm
