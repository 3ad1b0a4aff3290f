#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/patch.h"
#include "ovm/core/loudness_meter.h"

namespace ovm {

// Levels over a run, window by window, for the plot.
struct LevelTrace {
    int32_t windowFrames = 1;
    long long frames = 0;  // the whole run: the time axis ends there
    std::vector<WindowPeaks> input, output;
    std::vector<double> gain;  // the smallest value per window; empty without a gain signal
};

// Draws the input's sample peak, the output's sample and true peaks, the gain reduction
// and the ceiling in dB over time into a PNG with gnuplot, through an OutputFile like the
// audio output. Throws ovm::Error (output class) saying what failed: too little audio to
// plot, gnuplot missing, or gnuplot's own message.
void writeLevelPlot(const std::string& path, const LevelTrace& trace, double sampleRate,
                    const std::optional<Ceiling>& ceiling, const std::string& title, bool overwrite);

}  // namespace ovm
