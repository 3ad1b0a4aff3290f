#pragma once

#include <nlohmann/json.hpp>

#include "ovm/core/patch_runner.h"

namespace ovm {

// The run as JSON: per channel peak, RMS, crest factor and the count of NaN and infinite
// samples, per module node its process
// calls, sleeps and wakes, and the timing.
nlohmann::json runReport(const RunResult& result);

}  // namespace ovm
