#pragma once

#include <nlohmann/json.hpp>

#include "ovm/core/patch_runner.h"

namespace ovm {

// The run as JSON: for the input and the output, per channel the sample peak, true peak,
// RMS, crest factor and the count of NaN and infinite samples, and over all channels the
// peaks, integrated loudness, loudness range and short-term maximum, side by side in
// "levels"; per module node its process calls, sleeps and wakes; the timing; the rates and
// channels of input and output; and the output's format, with its dither and clipped
// samples when it holds integers.
// JSON has no infinities: a level of minus infinity (silence, or nothing above the
// loudness gate) is null, and so is a figure not measured at the run's rate.
nlohmann::json runReport(const RunResult& result);

}  // namespace ovm
