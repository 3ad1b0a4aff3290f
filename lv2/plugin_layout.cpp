#include "lv2/plugin_layout.h"

#include <algorithm>

#include "lv2/limiter_patch.h"

namespace dynamics_lv2 {

namespace {

Port unitless(Port::Kind kind, std::string symbol, std::string name, int32_t index) {
    return {kind, std::move(symbol), std::move(name), index, "", 0, std::nullopt, std::nullopt};
}

}  // namespace

int32_t PluginLayout::count(Port::Kind kind) const {
    return int32_t(std::count_if(ports.begin(), ports.end(), [kind](const Port& p) { return p.kind == kind; }));
}

PluginLayout moduleLayout(const ovm::ModuleDescription& module) {
    PluginLayout layout{kUriBase + module.name, "Dynamics " + module.name, module.summary, {}};
    int32_t inputs = 0, outputs = 0;
    for (int32_t id = 0; id < int32_t(module.pins.size()); ++id) {
        const ovm::PinDescription& pin = module.pins[std::size_t(id)];
        if (pin.audio) {
            const auto kind = pin.output ? Port::Kind::audioOut : Port::Kind::audioIn;
            layout.ports.push_back(unitless(kind, pin.name, pin.name, pin.output ? outputs++ : inputs++));
        } else if (!pin.output) {
            layout.ports.push_back(
                {Port::Kind::controlIn, pin.name, pin.name, id, pin.unit, pin.defaultValue, pin.minimum, pin.maximum});
        }
    }
    return layout;
}

PluginLayout limiterLayout(const ovm::Patch& limiter) {
    int32_t channels = 0;
    for (const ovm::ConnectionEntry& c : limiter.connections)
        if (c.from.node == ovm::kInputNode) channels = std::max(channels, std::stoi(c.from.pin));
    PluginLayout layout{std::string(kUriBase) + "limiter", "Dynamics true-peak limiter",
                        "Look-ahead limiter that keeps the true peak (between samples too) at or below the ceiling",
                        {}};
    for (int32_t c = 0; c < channels; ++c)
        layout.ports.push_back(unitless(Port::Kind::audioIn, "in" + std::to_string(c + 1), "In " + std::to_string(c + 1), c));
    for (int32_t c = 0; c < channels; ++c)
        layout.ports.push_back(
            unitless(Port::Kind::audioOut, "out" + std::to_string(c + 1), "Out " + std::to_string(c + 1), c));
    const LimiterSettings defaults = patchDefaults(limiter);
    layout.ports.push_back({Port::Kind::controlIn, kCeiling, "Ceiling (dBTP)", 0, "dB", defaults.ceilingDb, -24.0, 0.0});
    layout.ports.push_back({Port::Kind::controlIn, kLookahead, "Look-ahead", 0, "ms", defaults.lookaheadMs, 1.0, 50.0});
    layout.ports.push_back({Port::Kind::controlIn, kRelease, "Release", 0, "ms", defaults.releaseMs, 1.0, 1000.0});
    layout.ports.push_back(unitless(Port::Kind::latencyOut, kLatency, "Latency", 0));
    return layout;
}

std::vector<PluginLayout> bundleLayouts(const ovm::LibraryDescription& description, const ovm::Patch& limiter) {
    std::vector<PluginLayout> layouts;
    for (const ovm::ModuleDescription& module : description.modules) layouts.push_back(moduleLayout(module));
    layouts.push_back(limiterLayout(limiter));
    return layouts;
}

}  // namespace dynamics_lv2
