#pragma once

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "ovm/core/engine.h"
#include "ovm/core/signal_meter.h"

namespace ovm {

struct RunOptions {
    std::string patchPath;
    std::string patchText;  // when set, used instead of reading patchPath
    std::string inputPath;
    std::string outputPath;
    bool overwrite = false;
    std::optional<int32_t> blockSize;
    std::optional<double> sampleRate;  // for inputs that carry none
    std::string tail = "0";            // silence appended after the input
    std::vector<ValueOverride> overrides;
    std::optional<std::string> plotPath;
    std::string plotTitle;
    bool progress = false;
};

struct RunResult {
    double sampleRate = 0;
    long long frames = 0;  // output frames, tail included
    std::vector<ChannelMeter> inputMeters;
    std::vector<ChannelMeter> outputMeters;
    std::vector<Engine::NodeReport> nodes;
    double deepestGain = 1;  // smallest value of the plotted gain signal once the latency has passed
    bool hasGain = false;
    long long latencySamples = 0;  // the longest delay node
    double processingSeconds = 0;
    std::optional<double> ceiling;      // the patch's promise, when it makes one
    std::vector<std::string> warnings;  // values a module does not honour as written
    double realTimeFactor() const;
    double outputPeak() const;
};

// Runs a patch over an audio file into a 32-bit float WAV file, written through a temporary
// file that becomes OUT only when everything succeeded. Throws ovm::Error.
RunResult runPatch(const RunOptions& options);

// Throws an ovm::Error (check class) when an output sample rose above the patch's ceiling.
void checkCeiling(const RunResult& result, const std::string& outputPath);

// The library a patch names: beside the patch first, then beside this program.
std::string resolveLibraryPath(const std::string& library, const std::string& patchPath);
// The folder this program's executable is in.
std::string programFolder();

}  // namespace ovm
