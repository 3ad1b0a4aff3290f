#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <vector>

#include "engine/module_description.h"

namespace ovm::validate {

// One event of a programme, at an absolute sample position.
struct TimedEvent {
    int32_t at;
    int32_t type;  // an mp::EventType code
    int32_t pinId;
    float value = 0;  // PinValue only
};

// A deterministic stretch of input for one module, independent of how it is cut into
// blocks: the samples of every audio input and the events, in ascending position. Inputs
// alternate between streaming noise and static stretches (a constant, announced with
// StreamingOff), long enough for a module to ask for sleep.
struct Programme {
    int32_t length = 0;
    std::map<int32_t, std::vector<float>> inputs;
    std::vector<TimedEvent> events;
    bool typicalValues = true;  // every sample and control value finite and normal
};

// Signals are positive (1e-3 to 1), control values typical for the pin's unit: the range in
// which a module may be held to finite, normal outputs.
Programme makeProgramme(const ModuleDescription& module, uint64_t seed, int32_t length);

// Control values that stress a module: zero, negative, tiny, huge, NaN, infinities, subnormal.
const std::vector<float>& extremeValues();

// Block sizes, one per call; the runner cuts the last block to what remains.
using Partition = std::function<int32_t()>;
Partition fixedBlocks(int32_t size);
// Random sizes from 0 to maxSize, skewed to small ones.
Partition randomBlocks(uint64_t seed, int32_t maxSize);

// Mixes a seed with a name, so that every check and module draws its own numbers.
uint64_t mixSeed(uint64_t seed, const std::string& name);

}  // namespace ovm::validate
