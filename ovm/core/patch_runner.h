#pragma once

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "ovm/core/audio_file.h"
#include "ovm/core/loudness_meter.h"

namespace ovm {

class ProgressBar;

struct RunOptions {
    std::string patchPath;
    std::string patchText;  // when set, used instead of reading patchPath
    std::string inputPath;   // "-" for standard input
    std::string outputPath;  // "-" for standard output
    std::optional<RawFormat> raw;  // the input is headerless audio of this kind
    OutputEncoding encoding;
    // The input's channels for the patch's inputs, counted from 0 (--channels).
    std::optional<std::vector<int>> channels;
    // Resample the output back to the input's rate when the patch runs at its own.
    bool keepRate = false;
    std::optional<std::string> libraryPath;  // the user's choice, instead of the patch's library
    bool overwrite = false;
    std::optional<int32_t> blockSize;
    std::optional<double> sampleRate;  // for inputs that carry none
    std::string tail = "0";            // silence appended after the input
    // Leave the patch's latency in the output, which then starts late by that much, rather
    // than line the output up with the input.
    bool keepLatency = false;
    std::vector<ValueOverride> overrides;
    std::optional<std::string> plotPath;
    std::string plotTitle;
    std::optional<std::string> reportPath;  // "-" for standard output
    bool progress = false;
    ProgressBar* sharedProgress = nullptr;  // a batch's bar, counting seconds of input, instead of one's own
    std::string warningPrefix;              // before each warning, e.g. the input's name in a batch
};

struct RunResult {
    double sampleRate = 0;  // the patch's, at which the engine ran and the levels are measured
    double inputRate = 0;   // the input file's
    double outputRate = 0;  // the output file's: the patch's, or the input's with keepRate
    int inputChannels = 0;   // the input file's
    int outputChannels = 0;  // the output file's
    std::string channelNote;  // how the input's channels were mapped, when not one to one
    OutputEncoding encoding;
    long long clippedSamples = 0;  // output samples beyond what the integer format holds
    std::vector<std::string> filesWritten;
    long long frames = 0;  // output frames, tail included (and the latency, when kept)
    StreamLevels inputLevels;  // tail included
    StreamLevels outputLevels;
    std::vector<Engine::NodeReport> nodes;
    double deepestGain = 1;  // smallest value of the plotted gain signal once the latency has passed
    bool hasGain = false;
    long long latencySamples = 0;     // the patch's, see Engine::latencySamples
    bool latencyCompensated = false;  // the output lines up with the input
    double processingSeconds = 0;
    std::optional<Ceiling> ceiling;  // the patch's promise, when it makes one
    double realTimeFactor() const;
    double outputPeak() const;  // the output's sample peak
};

// Runs a patch over an audio file into an audio file of the options' encoding (the
// input's channels mapped to the patch's, resampled to the patch's rate when it fixes one
// and, when asked, back), its output lined up with the
// input unless the options keep the patch's latency, then draws the plot and
// writes the report when asked, each through a temporary file that takes its name only when
// complete. Before any processing, and before the library is loaded, it reads and checks
// the patch, finds the library (see library_lookup.h) and refuses outputs that are one
// file or that would replace anything the run reads. A plot that cannot be drawn fails the
// run (output class) after the audio and the report are written. Throws ovm::Error.
RunResult runPatch(const RunOptions& options);

// Throws an ovm::Error (check class) when the output's sample peak or true peak, as the
// ceiling says, rose above the patch's ceiling, saying by how much and where; when any
// output sample is NaN or infinite, as no ceiling holds for those; and when a true-peak
// ceiling cannot be checked at the run's rate.
void checkCeiling(const RunResult& result, const std::string& outputPath);

}  // namespace ovm
