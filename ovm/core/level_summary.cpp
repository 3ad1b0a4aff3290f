#include "ovm/core/level_summary.h"

#include <cmath>
#include <cstdio>

#include "ovm/core/signal_meter.h"

namespace ovm {

namespace {

// One figure in a column 14 characters wide.
std::string cell(double value, const char* unit, const char* format) {
    char text[48];
    if (std::isnan(value))
        std::snprintf(text, sizeof text, "%14s", "n/a");
    else if (std::isinf(value))
        std::snprintf(text, sizeof text, "%9s %-4s", value < 0 ? "-inf" : "+inf", unit);
    else {
        char number[32];
        std::snprintf(number, sizeof number, format, value);
        std::snprintf(text, sizeof text, "%9s %-4s", number, unit);
    }
    return text;
}

std::string row(const char* name, const std::string& input, const std::string& output) {
    char text[128];
    std::snprintf(text, sizeof text, "  %-18s%s%s", name, input.c_str(), output.c_str());
    std::string line = text;
    line.erase(line.find_last_not_of(' ') + 1);
    return line + "\n";
}

}  // namespace

std::string levelSummary(const RunResult& result) {
    const StreamLevels& in = result.inputLevels;
    const StreamLevels& out = result.outputLevels;
    return row("", "         input", "        output") +
           row("sample peak", cell(toDb(in.samplePeak()), "dBFS", "%+.2f"),
               cell(toDb(out.samplePeak()), "dBFS", "%+.2f")) +
           row("true peak", cell(in.truePeakMeasured() ? toDb(in.truePeak()) : NAN, "dBTP", "%+.2f"),
               cell(out.truePeakMeasured() ? toDb(out.truePeak()) : NAN, "dBTP", "%+.2f")) +
           row("integrated", cell(in.integratedLufs, "LUFS", "%+.1f"),
               cell(out.integratedLufs, "LUFS", "%+.1f")) +
           row("loudness range", cell(in.loudnessRangeLu, "LU", "%.1f"),
               cell(out.loudnessRangeLu, "LU", "%.1f")) +
           row("short-term max", cell(in.shortTermMaxLufs, "LUFS", "%+.1f"),
               cell(out.shortTermMaxLufs, "LUFS", "%+.1f"));
}

}  // namespace ovm
