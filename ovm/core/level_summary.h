#pragma once

#include <string>

#include "ovm/core/patch_runner.h"

namespace ovm {

// The run's levels as a few lines of text, the input's beside the output's: sample peak,
// true peak, integrated loudness, loudness range and short-term maximum. A level of minus
// infinity (silence, or nothing above the loudness gate) reads "-inf", a figure not
// measured at the run's rate "n/a".
std::string levelSummary(const RunResult& result);

}  // namespace ovm
