#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/engine.h"

namespace ovm::live {

// One engine for one block size and rate, with what the audio thread needs beside it: the
// gain signal the meters show and the delay lines that keep the bypassed signal in time with
// the processed one. Built and destroyed outside the audio thread; the audio thread only
// runs it.
struct LiveGraph {
    LiveGraph(std::unique_ptr<Engine> engine, int32_t blockSize, double sampleRate, const float* gain);

    std::unique_ptr<Engine> engine;
    int32_t blockSize;
    double sampleRate;
    long long latency;
    const float* gain;  // the patch's gain signal, or null
    // Per output channel: the input of the same number (silence when there is none),
    // delayed by the patch's latency, so that bypass changes the sound and not its timing.
    std::vector<std::vector<float>> dryDelay;
    std::size_t dryAt = 0;
    long long framesRun = 0;  // by the audio thread
};

}  // namespace ovm::live
