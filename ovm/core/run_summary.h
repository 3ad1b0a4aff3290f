#pragma once

#include <string>

#include "ovm/core/patch_runner.h"

namespace ovm {

// What a successful run did, in a few lines: the levels in and out (level_summary.h), the
// ceiling and the deepest gain reduction when the patch has them, how the channels and the
// rates were matched when they were, the latency, the time and the real-time factor, the
// output's format with its dither and clipped samples, and the files written.
std::string runSummary(const RunResult& result);

}  // namespace ovm
