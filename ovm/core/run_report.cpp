#include "ovm/core/run_report.h"

#include <cmath>

#include "ovm/core/signal_meter.h"

namespace ovm {

namespace {

// JSON has no infinities: silence reports its level as null, as does a figure not measured.
nlohmann::json finiteOrNull(double value) {
    return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json(nullptr);
}

nlohmann::json decibels(double linear) { return finiteOrNull(toDb(linear)); }

nlohmann::json channels(const StreamLevels& levels) {
    nlohmann::json out = nlohmann::json::array();
    for (std::size_t c = 0; c < levels.channels.size(); ++c) {
        const ChannelLevels& channel = levels.channels[c];
        out.push_back({{"channel", c + 1},
                       {"peak", channel.samplePeak},
                       {"peak_dbfs", decibels(channel.samplePeak)},
                       {"true_peak_dbtp", decibels(channel.truePeak)},
                       {"rms", channel.rms},
                       {"rms_dbfs", decibels(channel.rms)},
                       {"crest_db", channel.crestDb()},
                       {"non_finite_samples", channel.nonFiniteSamples}});
    }
    return out;
}

nlohmann::json overall(const StreamLevels& levels, double sampleRate) {
    return {{"sample_peak_dbfs", decibels(levels.samplePeak())},
            {"sample_peak_seconds", double(levels.samplePeakFrame) / sampleRate},
            {"true_peak_dbtp", decibels(levels.truePeak())},
            {"true_peak_seconds", levels.truePeakMeasured()
                                      ? nlohmann::json(double(levels.truePeakFrame) / sampleRate)
                                      : nlohmann::json(nullptr)},
            {"integrated_lufs", finiteOrNull(levels.integratedLufs)},
            {"loudness_range_lu", finiteOrNull(levels.loudnessRangeLu)},
            {"short_term_max_lufs", finiteOrNull(levels.shortTermMaxLufs)},
            {"non_finite_samples", levels.nonFiniteSamples()}};
}

}  // namespace

nlohmann::json runReport(const RunResult& result) {
    nlohmann::json nodes = nlohmann::json::object();
    for (const auto& node : result.nodes)
        nodes[node.name] = {{"process_calls", node.stats.processCalls},
                            {"blocks_asleep", node.stats.skippedBlocks},
                            {"sleeps", node.stats.sleeps},
                            {"wakes", node.stats.wakes}};
    nlohmann::json report = {{"sample_rate", result.sampleRate},
                             {"frames", result.frames},
                             {"seconds", double(result.frames) / result.sampleRate},
                             {"latency_samples", result.latencySamples},
                             {"latency_compensated", result.latencyCompensated},
                             {"processing_seconds", result.processingSeconds},
                             {"real_time_factor", result.realTimeFactor()},
                             {"input", channels(result.inputLevels)},
                             {"output", channels(result.outputLevels)},
                             {"levels",
                              {{"input", overall(result.inputLevels, result.sampleRate)},
                               {"output", overall(result.outputLevels, result.sampleRate)}}},
                             {"nodes", nodes}};
    report["input_sample_rate"] = result.inputRate;
    report["output_sample_rate"] = result.outputRate;
    report["input_channels"] = result.inputChannels;
    report["output_channels"] = result.outputChannels;
    if (!result.channelNote.empty()) report["channel_note"] = result.channelNote;
    report["output_format"] = result.encoding.format.describe();
    if (result.encoding.format.integerBits() > 0) {
        report["dither"] = result.encoding.dither;
        report["clipped_samples"] = result.clippedSamples;
    }
    if (result.hasGain) report["deepest_gain_reduction_db"] = decibels(result.deepestGain);
    return report;
}

}  // namespace ovm
