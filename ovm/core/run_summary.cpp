#include "ovm/core/run_summary.h"

#include <cstdio>

#include "ovm/core/level_summary.h"
#include "ovm/core/signal_meter.h"

namespace ovm {

namespace {

std::string line(const char* name, const std::string& text) {
    char start[32];
    std::snprintf(start, sizeof start, "  %-20s", name);
    return start + text + "\n";
}

std::string printed(const char* format, double a, double b = 0) {
    char text[96];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::string rates(const RunResult& r) {
    if (r.inputRate == r.sampleRate && r.outputRate == r.sampleRate) return "";
    std::string text = printed("%g Hz resampled to the patch's %g Hz", r.inputRate, r.sampleRate);
    if (r.outputRate != r.sampleRate) text += printed(" and back to %g Hz", r.outputRate);
    return line("sample rate", text);
}

std::string channels(const RunResult& r) {
    const std::string counts = std::to_string(r.inputChannels) + " in, " + std::to_string(r.outputChannels) + " out";
    return line("channels", r.channelNote.empty() ? counts : counts + ": " + r.channelNote);
}

std::string encoding(const RunResult& r) {
    const OutputFormat& format = r.encoding.format;
    std::string text = format.describe();
    if (format.integerBits() > 0) {
        text += r.encoding.dither ? ", TPDF dither" : ", no dither";
        text += ", " + std::to_string(r.clippedSamples) + " samples clipped";
    }
    return line("output format", text);
}

std::string files(const RunResult& r) {
    std::string names;
    for (const std::string& file : r.filesWritten)
        names += (names.empty() ? "" : ", ") + (file == "-" ? std::string("standard output") : file);
    return line("files written", names);
}

}  // namespace

std::string runSummary(const RunResult& r) {
    std::string text = levelSummary(r);
    if (r.ceiling)
        text += line("ceiling", printed(r.ceiling->measure == Ceiling::Measure::truePeak ? "%+7.2f dBTP" : "%+7.2f dBFS",
                                        toDb(r.ceiling->level)));
    if (r.hasGain) text += line("deepest reduction", printed("%+7.2f dB", toDb(r.deepestGain)));
    text += channels(r) + rates(r);
    text += line("latency", printed("%.0f samples (%.2f ms)", double(r.latencySamples),
                                    1000.0 * double(r.latencySamples) / r.sampleRate) +
                                (r.latencyCompensated ? ", compensated: the output lines up with the input"
                                                      : ", kept: the output starts that late"));
    text += line("time", printed("%.2f s of audio in %.2f s", double(r.frames) / r.sampleRate, r.processingSeconds) +
                             printed(", real-time factor %.0fx", r.realTimeFactor()));
    return text + encoding(r) + files(r);
}

}  // namespace ovm
