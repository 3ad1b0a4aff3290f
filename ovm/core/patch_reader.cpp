#include "ovm/core/patch_reader.h"

#include <cmath>
#include <stdexcept>

#include "description/text_file.h"
#include "description/toml_fields.h"
#include "engine/engine_defaults.h"
#include "engine/errors.h"
#include "engine/host_node_kinds.h"
#include "engine/message_text.h"
#include "engine/patch_variables.h"
#include "engine/quantity.h"

namespace ovm {

namespace {

// Rates a resampler and the meters handle; a patch that fixes one outside is mistyped.
constexpr int64_t kLowestSampleRate = 1000;
constexpr int64_t kHighestSampleRate = 768000;

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

PinRef pinRefAt(const TomlFields& fields, std::string_view key, std::string_view text) {
    try {
        return parsePinRef(trim(text));
    } catch (const std::invalid_argument& error) {
        fields.fail(key, error.what());
    }
}

// "\"module\", \"multiply\" or ...": what a node's type may be.
std::string nodeTypes() {
    std::vector<std::string> types = {"\"module\""};
    for (const HostNodeKind& kind : hostNodeKinds()) types.push_back("\"" + std::string(kind.name) + "\"");
    return listed(types, "or");
}

NodeEntry readNode(const std::string& name, const TomlFields& fields) {
    if (name == kInputNode || name == kOutputNode)
        fields.fail("", "'" + name + "' is the host's own node and cannot be declared");
    NodeEntry node;
    node.name = name;
    node.where = fields.where();
    node.type = fields.optionalString("type").value_or("module");
    if (node.type != "module" && findHostNodeKind(node.type) == nullptr)
        fields.fail("type", "must be " + nodeTypes());
    if (node.type == "module") node.module = fields.requiredString("module");
    for (const auto& [key, value] : fields.table()) {
        const std::string pin(key.str());
        if (pin == "type" || pin == "module") continue;
        node.values.push_back({pin, {*fields.optionalQuantity(pin), fields.where(pin)}});
    }
    return node;
}

ConnectionEntry readConnection(const TomlFields& fields, std::string_view text) {
    const auto arrow = text.find("->");
    if (arrow == std::string_view::npos)
        fields.fail("connections", "'" + std::string(text) + "' is not of the form \"node.pin -> node.pin\"");
    return {pinRefAt(fields, "connections", text.substr(0, arrow)),
            pinRefAt(fields, "connections", text.substr(arrow + 2)), fields.where("connections")};
}

AutomationEntry readAutomation(const TomlFields& fields) {
    fields.allowOnly({"at", "set", "value"});
    const auto at = fields.optionalQuantity("at");
    const auto value = fields.optionalQuantity("value");
    if (!at) fields.fail("at", "missing (when the value is set, e.g. \"2.5 s\")");
    if (!value) fields.fail("value", "missing");
    return {pinRefAt(fields, "set", fields.requiredString("set")),
            {*at, fields.where("at")},
            {*value, fields.where("value")}};
}

// "-1 dBTP" (true peak) or "-1 dBFS" (sample peak). Older patches write the sample peak as
// "-1 dB" or a percentage and keep working; like every level, a ceiling is never a bare
// number, which could be read as decibels or as a factor.
Ceiling readCeiling(const TomlFields& root, const std::string& text) {
    Ceiling ceiling;
    try {
        const Quantity quantity = parseQuantity(text);
        const std::string& unit = quantity.unit;
        if (unit == "dbtp") {
            ceiling.measure = Ceiling::Measure::truePeak;
            ceiling.level = std::pow(10.0, quantity.number / 20.0);
        } else if (unit == "dbfs" || unit == "db" || unit == "%" || unit == "x" || unit.empty()) {
            ceiling.level = toPinValue(quantity, "linear");
        } else {
            root.fail("ceiling",
                      "'" + text + "': a ceiling is in dBTP (true peak) or dBFS (sample peak), e.g. \"-1 dBTP\"");
        }
    } catch (const std::invalid_argument& error) {
        root.fail("ceiling", error.what());
    }
    if (!(ceiling.level > 0 && std::isfinite(ceiling.level)))
        root.fail("ceiling", "must be a level above 0 (e.g. \"-1 dBTP\" or \"-1 dBFS\")");
    return ceiling;
}

// [vars]: names and their values, each usable as "$name" (patch_variables.h).
std::vector<std::pair<std::string, SourceText>> readVariables(const TomlFields& root,
                                                              const std::string& path) {
    std::vector<std::pair<std::string, SourceText>> variables;
    if (!root.table().contains("vars")) return variables;
    const toml::table* table = root.table().get("vars")->as_table();
    if (table == nullptr) root.fail("vars", "must be a table ([vars] name = \"5 ms\")");
    const TomlFields fields(nullptr, *table, path, "vars", ExitCode::patch);
    for (const auto& [key, value] : *table) {
        const std::string name(key.str());
        if (!isVariableName(name))
            fields.fail(name, "a variable's name is letters, digits and '_', not starting with a digit");
        variables.push_back({name, {*fields.optionalQuantity(name), fields.where(name)}});
    }
    return variables;
}

}  // namespace

Patch parsePatch(std::string_view text, const std::string& path) {
    const TomlFields root = TomlFields::parse(text, path, ExitCode::patch);
    root.allowOnly({"library", "block_size", "sample_rate", "ceiling", "latency", "vars", "connections", "nodes",
                    "automation", "plot"});
    Patch patch;
    patch.path = path;
    patch.library = root.requiredString("library");
    if (patch.library.empty())
        root.fail("library", "is empty (name the module library, e.g. \"Dynamics.ovm\")");
    patch.libraryWhere = root.where("library");
    if (const auto blockSize = root.optionalInteger("block_size")) {
        if (*blockSize < 1 || *blockSize > kMaxBlockSize)
            root.fail("block_size", "must be between 1 and " + std::to_string(kMaxBlockSize));
        patch.blockSize = int(*blockSize);
    }
    if (const auto rate = root.optionalInteger("sample_rate")) {
        if (*rate < kLowestSampleRate || *rate > kHighestSampleRate)
            root.fail("sample_rate", "must be between " + std::to_string(kLowestSampleRate) + " and " +
                                         std::to_string(kHighestSampleRate) + " (Hz)");
        patch.sampleRate = int(*rate);
    }
    if (const auto ceiling = root.optionalQuantity("ceiling")) patch.ceiling = readCeiling(root, *ceiling);
    if (const auto latency = root.optionalQuantity("latency"))
        patch.latency = {*latency, root.where("latency")};
    patch.variables = readVariables(root, path);
    for (const auto& [name, fields] : root.namedTables("nodes"))
        patch.nodes.push_back(readNode(name, fields));
    for (const std::string& connection : root.stringArray("connections"))
        patch.connections.push_back(readConnection(root, connection));
    for (const TomlFields& automation : root.tables("automation"))
        patch.automation.push_back(readAutomation(automation));
    if (root.table().contains("plot")) {
        const toml::table* plot = root.table().get("plot")->as_table();
        if (plot == nullptr) root.fail("plot", "must be a table");
        const TomlFields fields(nullptr, *plot, path, "plot", ExitCode::patch);
        fields.allowOnly({"gain"});
        if (const auto gain = fields.optionalString("gain")) patch.plotGain = pinRefAt(fields, "gain", *gain);
    }
    return patch;
}

Patch readPatch(const std::string& path) {
    return parsePatch(readTextFile(path, "patch", ExitCode::patch), path);
}

}  // namespace ovm
