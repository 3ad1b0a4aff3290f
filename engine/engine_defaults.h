#pragma once

#include <cstdint>

namespace ovm {

// What a run takes when neither the patch nor the user says otherwise.
inline constexpr int32_t kDefaultBlockSize = 64;
inline constexpr double kDefaultSampleRate = 48000;
// The longest block a patch or the command line may ask for.
inline constexpr int32_t kMaxBlockSize = 65536;

}  // namespace ovm
