#include "ovm/core/run_report.h"

#include <cmath>

namespace ovm {

namespace {

// JSON has no infinities: silence reports its level as null.
nlohmann::json decibels(double linear) {
    const double db = toDb(linear);
    return std::isfinite(db) ? nlohmann::json(db) : nlohmann::json(nullptr);
}

nlohmann::json channels(const std::vector<ChannelMeter>& meters) {
    nlohmann::json out = nlohmann::json::array();
    for (std::size_t c = 0; c < meters.size(); ++c)
        out.push_back({{"channel", c + 1},
                       {"peak", meters[c].peak()},
                       {"peak_dbfs", decibels(meters[c].peak())},
                       {"rms", meters[c].rms()},
                       {"rms_dbfs", decibels(meters[c].rms())},
                       {"crest_db", meters[c].crestDb()},
                       {"non_finite_samples", meters[c].nonFiniteSamples()}});
    return out;
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
                             {"input", channels(result.inputMeters)},
                             {"output", channels(result.outputMeters)},
                             {"nodes", nodes}};
    if (result.hasGain) report["deepest_gain_reduction_db"] = decibels(result.deepestGain);
    return report;
}

}  // namespace ovm
