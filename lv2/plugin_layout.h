#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/module_description.h"
#include "engine/patch.h"

namespace dynamics_lv2 {

// The bundle's plug-ins are named below this URI: one per module, by its short name, and
// the limiter.
inline constexpr const char* kUriBase = "urn:dynamics:lv2:";
// The module library and its description, inside the bundle.
inline constexpr const char* kLibraryFile = "Dynamics.ovm";

// One port of a plug-in, in index order. Both the Turtle the bundle describes its plug-ins
// with and the plug-in that runs them are made from these, so the two cannot disagree.
struct Port {
    enum class Kind { audioIn, audioOut, controlIn, latencyOut };
    Kind kind;
    std::string symbol;
    std::string name;
    // For audio ports the engine's channel; for a module's controls the module's pin id.
    int32_t index = 0;
    // Controls: the unit as the description writes it ("ms", "linear", "dB" or empty), the
    // default and the range.
    std::string unit;
    double defaultValue = 0;
    std::optional<double> minimum;
    std::optional<double> maximum;
};

struct PluginLayout {
    std::string uri;
    std::string name;
    std::string summary;
    std::vector<Port> ports;

    bool isControl(std::size_t port) const { return ports[port].kind == Port::Kind::controlIn; }
    // Counts of one kind of port.
    int32_t count(Port::Kind kind) const;
};

// A module's plug-in: its audio input pins, in id order, are the engine's input channels
// (and the plug-in's audio inputs), its audio outputs the engine's output channels; each
// float input pin is a control port with the pin's unit, default and range.
PluginLayout moduleLayout(const ovm::ModuleDescription& module);

// The limiter's controls, by symbol.
inline constexpr const char* kCeiling = "ceiling";
inline constexpr const char* kLookahead = "lookahead";
inline constexpr const char* kRelease = "release";
inline constexpr const char* kLatency = "latency";

// The true-peak limiter's plug-in: the patch's input and output channels, its ceiling (dBTP),
// look-ahead and release, with the patch's values as defaults, and the latency it reports.
PluginLayout limiterLayout(const ovm::Patch& limiter);

// Every plug-in of the bundle: the modules in the description's order, then the limiter.
std::vector<PluginLayout> bundleLayouts(const ovm::LibraryDescription& description, const ovm::Patch& limiter);

}  // namespace dynamics_lv2
