#include "lv2/limiter_patch.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "engine/errors.h"
#include "engine/host_node_kinds.h"
#include "engine/quantity.h"
#include "lv2/limiter_patch_text.h"
#include "ovm/core/patch_reader.h"

namespace dynamics_lv2 {

namespace {

constexpr const char* kPatchName = "examples/limiter.toml";

const ovm::SourceText& variable(const ovm::Patch& limiter, const std::string& name) {
    for (const auto& [variableName, value] : limiter.variables)
        if (variableName == name) return value;
    throw ovm::patchError(std::string(kPatchName) + ": the limiter has no variable '" + name + "'");
}

double milliseconds(const ovm::SourceText& text) {
    return ovm::toPinValue(ovm::parseQuantity(text.text), "ms");
}

// The knee's threshold in dB, as the patch writes it.
double kneeDb(const ovm::Patch& limiter) {
    const ovm::PinRef pin = kneeThresholdPin();
    for (const ovm::NodeEntry& node : limiter.nodes)
        for (const auto& [name, value] : node.values)
            if (node.name == pin.node && name == pin.pin) {
                const ovm::Quantity level = ovm::parseQuantity(value.text);
                if (level.unit == "db") return level.number;
            }
    throw ovm::patchError(std::string(kPatchName) + ": '" + pin.text() + "' is not given in dB");
}

double ceilingDb(const ovm::Patch& limiter) {
    if (!limiter.ceiling || limiter.ceiling->measure != ovm::Ceiling::Measure::truePeak)
        throw ovm::patchError(std::string(kPatchName) + ": the limiter names no true-peak ceiling");
    // As the control holds it: a float, so that the default ceiling gives the patch's threshold.
    return double(float(20.0 * std::log10(limiter.ceiling->level)));
}

std::string text(double number, const char* unit) {
    char buffer[64];
    // 17 digits: the number comes back exactly when the patch's value is read.
    std::snprintf(buffer, sizeof buffer, "%.17g %s", number, unit);
    return buffer;
}

ovm::ValueOverride setVariable(const std::string& name, const std::string& value) {
    return {{"", name}, {value, "the plug-in's controls"}, std::nullopt};
}

}  // namespace

const ovm::Patch& limiterPatch() {
    static const ovm::Patch patch = ovm::parsePatch(kLimiterPatchText, kPatchName);
    return patch;
}

ovm::PinRef kneeThresholdPin() { return {"knee", "threshold"}; }

LimiterSettings patchDefaults(const ovm::Patch& limiter) {
    return {ceilingDb(limiter), milliseconds(variable(limiter, "lookahead")),
            milliseconds(variable(limiter, "hold"))};
}

double kneeMarginDb(const ovm::Patch& limiter) { return kneeDb(limiter) - ceilingDb(limiter); }

float kneeThreshold(double ceiling, double marginDb) {
    return float(ovm::toPinValue({ceiling + marginDb, "db"}, "linear"));
}

std::vector<ovm::ValueOverride> limiterOverrides(const ovm::Patch& limiter, const LimiterSettings& settings,
                                                 double sampleRate) {
    const long long lookahead = ovm::toSamples({settings.lookaheadMs, "ms"}, sampleRate);
    // The hold keeps the largest power of two of samples not above its time; that window must
    // cover the smoother's, which is not longer than the look-ahead. A quarter sample over the
    // power of two keeps the hold's own rounding from falling short of it.
    long long window = 1;
    while (window < lookahead) window *= 2;
    const double shortestHoldMs = (double(window) + 0.25) * 1000.0 / sampleRate;
    const long long detectors = ovm::findHostNodeKind("truepeak")->latency({});
    const ovm::PinRef knee = kneeThresholdPin();
    return {
        setVariable("lookahead", text(settings.lookaheadMs, "ms")),
        setVariable("hold", text(std::max(settings.releaseMs, shortestHoldMs), "ms")),
        setVariable("delay", text(double(lookahead + detectors), "samples")),
        {knee, {text(settings.ceilingDb + kneeMarginDb(limiter), "dB"), "the plug-in's controls"},
         std::nullopt},
    };
}

}  // namespace dynamics_lv2
