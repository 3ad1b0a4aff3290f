#pragma once

#include <cstdint>
#include <vector>

namespace ovm {

// A stereo test programme: a sustained chord with a slow swell, and drum-like hits whose
// peaks rise well above 0 dBFS, some on one channel only. Deterministic for a given seed.
// Interleaved, two channels.
std::vector<float> demoProgramme(double seconds, double sampleRate, uint32_t seed = 1);

}  // namespace ovm
