#pragma once

#include <string>

#include "ovm/core/signal_meter.h"

namespace ovm {

// Draws input peak level, output peak level and gain reduction in dB over time into a PNG
// with gnuplot. Writes through a temporary file like the audio output. Throws ovm::Error
// (output class) when gnuplot is missing or fails.
void writeLevelPlot(const std::string& path, const LevelTrace& trace, double sampleRate, double thresholdDb,
                    const std::string& title, bool overwrite);

}  // namespace ovm
