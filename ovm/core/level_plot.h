#pragma once

#include <string>

#include "ovm/core/signal_meter.h"

namespace ovm {

// Draws input peak level, output peak level and gain reduction in dB over time into a PNG
// with gnuplot, through an OutputFile like the audio output. Throws ovm::Error (output
// class) saying what failed: too little audio to plot, gnuplot missing, or gnuplot's own
// message.
void writeLevelPlot(const std::string& path, const LevelTrace& trace, double sampleRate, double thresholdDb,
                    const std::string& title, bool overwrite);

}  // namespace ovm
