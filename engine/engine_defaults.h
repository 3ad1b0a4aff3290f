#pragma once

#include <cstdint>

#include "host/defaults.h"

namespace ovm {

// What a run takes when neither the patch nor the user says otherwise: the host's defaults,
// the rate in the double precision the engine computes times in.
using host::kDefaultBlockSize;
inline constexpr double kDefaultSampleRate = host::kDefaultSampleRate;
// The longest block a patch or the command line may ask for.
using host::kMaxBlockSize;

}  // namespace ovm
