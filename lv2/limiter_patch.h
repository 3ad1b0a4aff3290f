#pragma once

#include <vector>

#include "engine/engine.h"
#include "engine/patch.h"

namespace dynamics_lv2 {

// The true-peak limiter the bundle offers: the patch ovm demo runs (examples/limiter.toml,
// built into the plug-in), with its ceiling, look-ahead and release set by the plug-in's
// controls.
const ovm::Patch& limiterPatch();

struct LimiterSettings {
    double ceilingDb;    // dBTP
    double lookaheadMs;  // the smoother's window; the audio waits as long, and for the detectors
    double releaseMs;    // how long a reduction is held before it recovers
};

// The values the patch itself gives.
LimiterSettings patchDefaults(const ovm::Patch& limiter);

// The patch's variables for these settings at this rate: the look-ahead, the hold (the release,
// but never shorter than the look-ahead needs to hold each reduction until the smoother has
// taken it in full) and the delay (the look-ahead and the detectors' latency), and the knee's
// threshold, as far under the ceiling as the patch puts it.
std::vector<ovm::ValueOverride> limiterOverrides(const ovm::Patch& limiter, const LimiterSettings& settings,
                                                 double sampleRate);

// The knee's threshold pin, which takes the ceiling while the limiter runs.
ovm::PinRef kneeThresholdPin();
// How far the patch puts the knee's threshold from its ceiling, in dB (negative: below).
double kneeMarginDb(const ovm::Patch& limiter);
// The threshold's value (linear) for a ceiling in dBTP, as the patch reader turns dB into a
// level. Allocates nothing; the ceiling must be finite.
float kneeThreshold(double ceilingDb, double marginDb);

}  // namespace dynamics_lv2
