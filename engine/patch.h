#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ovm {

// A value as the patch (or the command line) wrote it, with where it was written.
struct SourceText {
    std::string text;
    std::string where;  // "file:line" or "--set"
};

// "node.pin", as connections, automation and --set name a pin.
struct PinRef {
    std::string node;
    std::string pin;
    std::string text() const { return node + "." + pin; }
};

struct NodeEntry {
    std::string name;
    std::string type;    // "module", or a host node kind (host_node_kinds.h)
    std::string module;  // for modules: identifier or short name in the library's description
    std::vector<std::pair<std::string, SourceText>> values;  // pin (or parameter) name and value
    std::string where;
};

struct ConnectionEntry {
    PinRef from;
    PinRef to;
    std::string where;
};

struct AutomationEntry {
    PinRef target;
    SourceText at;
    SourceText value;
};

// The level no output may exceed, and how the output's level is measured against it.
struct Ceiling {
    enum class Measure { samplePeak, truePeak };
    double level = 1;  // linear, 1 is 0 dBFS or 0 dBTP
    Measure measure = Measure::samplePeak;
};

// A patch: the module library, the nodes, their wiring and the automation (ovm reads it
// from a file, see ovm/core/patch_reader.h). The nodes
// "input" (pins 1, 2, ... : the input file's channels) and "output" (pins 1, 2, ... : the
// output file's channels) belong to the host and are not declared.
struct Patch {
    std::string path;
    std::string library;  // as written; resolved against the patch's folder
    std::string libraryWhere;
    std::optional<int> blockSize;
    std::optional<int> sampleRate;  // the rate the patch runs at, whatever its input's
    std::vector<NodeEntry> nodes;
    std::vector<ConnectionEntry> connections;
    std::vector<AutomationEntry> automation;
    std::optional<PinRef> plotGain;  // a gain signal the plot shows as gain reduction
    std::optional<Ceiling> ceiling;  // the patch's promise on the output's level
    // The latency the patch promises, checked against the one its graph has; absent for "auto".
    std::optional<SourceText> latency;
    // Values named once and used as "$name" wherever a node value, an automation or the
    // latency is written (patch_variables.h).
    std::vector<std::pair<std::string, SourceText>> variables;
};

inline constexpr std::string_view kInputNode = "input";
inline constexpr std::string_view kOutputNode = "output";

// "node.pin"; throws std::invalid_argument when it is not of that form.
PinRef parsePinRef(std::string_view text);

}  // namespace ovm
