#include "engine/engine.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <stdexcept>

#include "abi/event_record.h"
#include "engine/errors.h"
#include "engine/host_node_kinds.h"
#include "engine/host_nodes.h"
#include "engine/message_text.h"
#include "engine/module_node.h"
#include "engine/patch_variables.h"
#include "engine/quantity.h"
#include "host/module_library.h"

namespace ovm {

namespace {

// How the patch names the pins of a node, whatever kind of node it is.
struct PinInfo {
    int32_t id = -1;
    bool output = false;
    bool audio = true;
    std::string unit;
};

// The most channels the WAV writer (libsndfile) takes.
constexpr long long kMostOutputChannels = 1024;

float pinValue(const SourceText& text, const std::string& unit) {
    try {
        return float(toPinValue(parseQuantity(text.text), unit));
    } catch (const std::invalid_argument& error) {
        throw patchError(text.where + ": '" + text.text + "': " + error.what());
    }
}

long long samplesOf(const SourceText& text, double sampleRate) {
    try {
        return toSamples(parseQuantity(text.text), sampleRate);
    } catch (const std::invalid_argument& error) {
        throw patchError(text.where + ": '" + text.text + "': " + error.what());
    }
}

}  // namespace

// Turns a patch into nodes in dependency order, with their edges, start values and schedule.
class Engine::Builder {
public:
    Builder(Engine& engine, const Patch& patch, const LibraryDescription& description,
            mp::IMpFactory2* factory, const EngineConfig& config)
        : engine(engine), patch(patch), description(description), factory(factory), config(config) {}

    void build() {
        declareNodes();
        applyOverrides();
        resolveConnections();
        const std::vector<std::size_t> order = dependencyOrder();
        engine.latency = checkedLatency(order);
        createNodes(order);
        scheduleAutomation();
    }

    // What build() checks before it creates the first module object.
    void check() {
        declareNodes();
        applyOverrides();
        resolveConnections();
        checkedLatency(dependencyOrder());
        for (const Declared& node : declared) {
            if (node.role == Role::host) parametersOf(node);
            startEventsFor(node);
        }
    }

private:
    enum class Role { input, output, module, host };
    struct Declared {
        std::string name;
        Role role;
        const ModuleDescription* module = nullptr;  // for modules
        const HostNodeKind* kind = nullptr;         // for host nodes
        std::map<std::string, SourceText> values;
        std::string where;

        // How messages name its kind; the input and output nodes are each their own.
        std::string kindName() const {
            if (role == Role::host) return std::string(kind->name);
            return role == Role::module ? "module" : name;
        }
    };
    struct Wire {
        std::size_t from;
        PinInfo fromPin;
        std::size_t to;
        PinInfo toPin;
    };

    void declareNodes() {
        declared.push_back({std::string(kInputNode), Role::input, nullptr, nullptr, {}, patch.path});
        for (const NodeEntry& declaration : patch.nodes) {
            Declared node = declare(declaration);
            for (const auto& [pin, value] : declaration.values) node.values[pin] = value;
            declared.push_back(std::move(node));
        }
        declared.push_back({std::string(kOutputNode), Role::output, nullptr, nullptr, {}, patch.path});
        for (const ConnectionEntry& c : patch.connections)
            if (c.to.node == kOutputNode)
                outputChannels = std::max(outputChannels, channelIndex(c.to, c.where) + 1);
        for (std::size_t i = 0; i < declared.size(); ++i) checkValues(declared[i]);
    }

    Declared declare(const NodeEntry& declaration) const {
        Declared node{declaration.name, Role::module, nullptr, nullptr, {}, declaration.where};
        if (declaration.type != "module") {
            node.role = Role::host;
            node.kind = findHostNodeKind(declaration.type);
            if (node.kind == nullptr)
                throw patchError(declaration.where + ": node '" + declaration.name + "': unknown type '" +
                                 declaration.type + "'");
            return node;
        }
        node.module = description.find(declaration.module);
        if (node.module == nullptr)
            throw patchError(declaration.where + ": node '" + declaration.name + "': unknown module '" +
                             declaration.module + "' (not in " + description.path +
                             "; 'ovm list' shows the modules)");
        return node;
    }

    std::size_t nodeIndex(const std::string& name, const std::string& where) const {
        for (std::size_t i = 0; i < declared.size(); ++i)
            if (declared[i].name == name) return i;
        throw patchError(where + ": unknown node '" + name + "'");
    }

    int32_t channelIndex(const PinRef& pin, const std::string& where) const {
        const std::string& text = pin.pin;
        const bool digits = !text.empty() && std::all_of(text.begin(), text.end(), ::isdigit);
        // Past nine digits the number is surely too large; only its size matters then.
        const long long number = !digits ? 0 : text.size() > 9 ? kMostOutputChannels + 1 : std::stoll(text);
        if (number < 1) throw patchError(where + ": '" + pin.text() + "': channels are numbered 1, 2, ...");
        if (pin.node == kOutputNode && number > kMostOutputChannels)
            throw patchError(where + ": '" + pin.text() + "': an output has at most " +
                             std::to_string(kMostOutputChannels) + " channels (output.1 to output." +
                             std::to_string(kMostOutputChannels) + ")");
        return int32_t(std::min<long long>(number, kMostOutputChannels + 1) - 1);
    }

    PinInfo pinOf(const Declared& node, const PinRef& ref, const std::string& where) const {
        if (node.role == Role::input || node.role == Role::output) {
            const int32_t channel = channelIndex(ref, where);
            if (node.role == Role::input && channel >= config.inputChannels)
                throw patchError(where + ": '" + ref.text() + "': the input has " +
                                 std::to_string(config.inputChannels) + " channel(s)");
            return {channel, node.role == Role::input, true, ""};
        }
        if (node.role == Role::host) {
            if (const HostPin* pin = node.kind->pin(ref.pin)) return {pin->id, pin->output, true, ""};
            std::vector<std::string> names;
            for (const HostPin& pin : node.kind->pins) names.emplace_back(pin.name);
            throw patchError(where + ": " + node.kindName() + " node '" + node.name + "' has pins " +
                             listed(names, "and") + ", not '" + ref.pin + "'");
        }
        const int id = node.module->pinId(ref.pin);
        if (id < 0)
            throw patchError(where + ": module '" + node.module->id + "' has no pin '" + ref.pin + "'");
        const PinDescription& pin = node.module->pins[std::size_t(id)];
        return {id, pin.output, pin.audio, pin.unit};
    }

    // Every value must name a control pin (for modules) or a parameter (host nodes), and
    // every parameter without a default needs one.
    void checkValues(const Declared& node) const {
        for (const auto& [name, value] : node.values) {
            if (node.role == Role::host && node.kind->parameter(name) != nullptr) continue;
            if (node.role != Role::module)
                throw patchError(value.where + ": " + node.kindName() + " node '" + node.name +
                                 "' has no value '" + name + "' (" + parameterNames(node) + ")");
            const PinInfo pin = pinOf(node, {node.name, name}, value.where);
            if (pin.audio || pin.output)
                throw patchError(value.where + ": '" + node.name + "." + name +
                                 "' is an audio pin: connect it instead of giving it a value");
        }
        if (node.role != Role::host) return;
        for (const HostParameter& parameter : node.kind->parameters)
            if (!parameter.defaultValue && node.values.count(std::string(parameter.name)) == 0)
                throw patchError(node.where + ": " + node.kindName() + " node '" + node.name + "' needs a " +
                                 std::string(parameter.name) + " (e.g. \"" + std::string(parameter.example) +
                                 "\")");
    }

    static std::string parameterNames(const Declared& node) {
        std::vector<std::string> names;
        if (node.role == Role::host)
            for (const HostParameter& parameter : node.kind->parameters) names.emplace_back(parameter.name);
        return names.empty() ? "it takes none" : listed(names, "or") + " only";
    }

    // A host node's parameters in its kind's units: its value where the patch gives one,
    // else the default.
    ParameterValues parametersOf(const Declared& node) const {
        ParameterValues values;
        for (const HostParameter& parameter : node.kind->parameters) {
            const auto given = node.values.find(std::string(parameter.name));
            values.push_back(given == node.values.end() ? *parameter.defaultValue
                                                        : parameterValue(node, parameter, given->second));
        }
        return values;
    }

    double parameterValue(const Declared& node, const HostParameter& parameter,
                          const SourceText& text) const {
        if (parameter.unit != "samples") return pinValue(text, std::string(parameter.unit));
        const long long samples = samplesOf(text, config.sampleRate);
        if (samples > parameter.largest)
            throw patchError(text.where + ": " + node.kindName() + " node '" + node.name + "': '" +
                             text.text + "' is longer than " + std::to_string(parameter.largest) +
                             " samples");
        return double(samples);
    }

    void applyOverrides() {
        for (const ValueOverride& o : config.overrides) {
            if (o.at || o.setsVariable()) continue;
            const std::size_t index = nodeIndex(o.target.node, o.value.where);
            declared[index].values[o.target.pin] = o.value;
            checkValues(declared[index]);
        }
    }

    void resolveConnections() {
        std::map<std::pair<std::size_t, int32_t>, std::string> fed;
        for (const ConnectionEntry& c : patch.connections) {
            const std::size_t from = nodeIndex(c.from.node, c.where);
            const std::size_t to = nodeIndex(c.to.node, c.where);
            const PinInfo fromPin = pinOf(declared[from], c.from, c.where);
            const PinInfo toPin = pinOf(declared[to], c.to, c.where);
            const std::string link = "'" + c.from.text() + " -> " + c.to.text() + "'";
            if (!fromPin.output || !fromPin.audio)
                throw patchError(c.where + ": " + link + ": '" + c.from.text() + "' is not an audio output");
            if (toPin.output || !toPin.audio)
                throw patchError(c.where + ": " + link + ": '" + c.to.text() + "' is not an audio input" +
                                 (toPin.audio ? "" : " (control pins take values, not connections)"));
            const auto [at, fresh] = fed.emplace(std::make_pair(to, toPin.id), link);
            if (!fresh)
                throw patchError(c.where + ": " + link + ": '" + c.to.text() + "' is already fed by " +
                                 at->second);
            wires.push_back({from, fromPin, to, toPin});
        }
    }

    std::vector<std::size_t> dependencyOrder() const {
        std::vector<int> incoming(declared.size(), 0);
        for (const Wire& w : wires) ++incoming[w.to];
        std::vector<std::size_t> order;
        std::vector<bool> placed(declared.size(), false);
        // Declaration order among the ready nodes keeps the order stable from run to run.
        for (bool progress = true; progress;) {
            progress = false;
            for (std::size_t i = 0; i < declared.size(); ++i) {
                if (placed[i] || incoming[i] != 0) continue;
                placed[i] = true;
                order.push_back(i);
                for (const Wire& w : wires)
                    if (w.from == i) --incoming[w.to];
                progress = true;
            }
        }
        if (order.size() != declared.size())
            throw patchError(patch.path + ": the connections form a cycle: " + describeCycle(placed));
        return order;
    }

    // One cycle among the nodes left unplaced, as "a -> b -> a", starting from the node
    // declared first: every unplaced node is fed by another unplaced node, so walking back
    // along such wires must come round to a node already passed. Nodes that merely lie
    // downstream of the cycle are left out.
    std::string describeCycle(const std::vector<bool>& placed) const {
        std::vector<std::size_t> path;  // each fed by the next
        std::vector<int> seenAt(declared.size(), -1);
        std::size_t at = std::size_t(std::find(placed.begin(), placed.end(), false) - placed.begin());
        while (seenAt[at] < 0) {
            seenAt[at] = int(path.size());
            path.push_back(at);
            for (const Wire& w : wires)
                if (w.to == at && !placed[w.from]) {
                    at = w.from;
                    break;
                }
        }
        std::vector<std::size_t> cycle(path.begin() + seenAt[at], path.end());
        std::reverse(cycle.begin(), cycle.end());  // now each feeds the next
        std::rotate(cycle.begin(), std::min_element(cycle.begin(), cycle.end()), cycle.end());
        std::string text;
        for (std::size_t node : cycle) text += declared[node].name + " -> ";
        return text + declared[cycle.front()].name;
    }

    std::unique_ptr<Node> makeNode(const Declared& node) {
        const int32_t blockSize = config.blockSize;
        if (node.role == Role::input) return std::make_unique<InputNode>(config.inputChannels, blockSize);
        if (node.role == Role::output) return std::make_unique<OutputNode>(outputChannels, blockSize);
        if (node.role == Role::host) return node.kind->make(node.name, blockSize, parametersOf(node));
        try {
            return std::make_unique<ModuleNode>(node.name, *factory, *node.module, blockSize,
                                                float(config.sampleRate));
        } catch (const host::LibraryError& error) {
            throw libraryError(node.where + ": node '" + node.name + "': " + error.what());
        }
    }

    void createNodes(const std::vector<std::size_t>& order) {
        std::vector<std::size_t> position(declared.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            position[order[i]] = i;
            engine.nodes.push_back(makeNode(declared[order[i]]));
            engine.startEvents.push_back(startEventsFor(declared[order[i]]));
        }
        engine.pending.resize(engine.nodes.size());
        // Room for a block's events, so that processBlock need not allocate: the start
        // values, scheduled and live values, and streaming changes from upstream.
        for (std::size_t i = 0; i < engine.pending.size(); ++i)
            engine.pending[i].reserve(engine.startEvents[i].size() + 2 * kQueuedValuesPerBlock + 64);
        for (const Wire& w : wires) {
            Node& to = *engine.nodes[position[w.to]];
            to.connectInput(w.toPin.id, engine.nodes[position[w.from]]->output(w.fromPin.id));
            engine.edges.push_back({position[w.from], w.fromPin.id, position[w.to], w.toPin.id});
        }
        indexByName = [this, position](const std::string& name, const std::string& where) {
            return position[nodeIndex(name, where)];
        };
        engine.input = static_cast<InputNode*>(engine.nodes[position.front()].get());
        engine.output = static_cast<OutputNode*>(engine.nodes[position.back()].get());
        engine.inputCount = config.inputChannels;
        engine.outputCount = outputChannels;
    }

    // A module starts with every control value at position 0, then its outputs announced.
    std::vector<NodeEvent> startEventsFor(const Declared& node) {
        std::vector<NodeEvent> events;
        if (node.role != Role::module) return events;
        for (int32_t id = 0; id < int32_t(node.module->pins.size()); ++id) {
            const PinDescription& pin = node.module->pins[std::size_t(id)];
            if (pin.audio || pin.output) continue;
            const auto given = node.values.find(pin.name);
            const float value =
                given == node.values.end() ? float(pin.defaultValue) : pinValue(given->second, pin.unit);
            if (given != node.values.end()) warnAboveLimit(node.name, pin, value, given->second);
            events.push_back({0, mp::kEventPinValue, id, value});
        }
        events.push_back({0, mp::kEventAnnounceOutputs, -1, 0});
        return events;
    }

    long long latencyOf(const Declared& node) const {
        return node.role == Role::host ? node.kind->latency(parametersOf(node)) : 0;
    }

    // The longest path from the input to the output, each node on it adding its latency.
    // Paths that do not reach the output (a side chain that feeds only a plot) add nothing.
    // Output channels that lag by different amounts are noted: one run can line up only one
    // of them with the input.
    long long pathLatency(const std::vector<std::size_t>& order) {
        std::vector<long long> arrival(declared.size(), -1);  // -1: not reached from the input
        for (const std::size_t node : order) {
            long long latest = declared[node].role == Role::input ? 0 : -1;
            for (const Wire& w : wires)
                if (w.to == node) latest = std::max(latest, arrival[w.from]);
            if (latest >= 0) arrival[node] = latest + latencyOf(declared[node]);
        }
        std::map<int32_t, long long> channels;
        for (const Wire& w : wires)
            if (declared[w.to].role == Role::output && arrival[w.from] >= 0)
                channels[w.toPin.id] = arrival[w.from];
        long long longest = 0, shortest = -1;
        std::vector<std::string> lags;
        for (const auto& [channel, lag] : channels) {
            longest = std::max(longest, lag);
            shortest = shortest < 0 ? lag : std::min(shortest, lag);
            lags.push_back("output." + std::to_string(channel + 1) + " by " + std::to_string(lag));
        }
        if (shortest >= 0 && shortest != longest)
            engine.notes.push_back(patch.path + ": the output channels lag the input by different amounts (" +
                                   listed(lags, "and") + " samples); the run's latency is the longest");
        return longest;
    }

    // The latency from the graph, checked against the one the patch declares, if any.
    long long checkedLatency(const std::vector<std::size_t>& order) {
        const long long latency = pathLatency(order);
        if (!patch.latency || patch.latency->text == "auto") return latency;
        const long long declaredLatency = declaredSamples(*patch.latency);
        if (declaredLatency != latency)
            throw patchError(patch.latency->where + ": 'latency' is '" + patch.latency->text + "' (" +
                             std::to_string(declaredLatency) + " samples at " +
                             formatCount(config.sampleRate) +
                             " Hz), but the longest path from input to output delays by " +
                             std::to_string(latency) + " samples");
        return latency;
    }

    // A declared latency: a whole number of samples, or a time ("5 ms").
    long long declaredSamples(const SourceText& text) const {
        try {
            const Quantity quantity = parseQuantity(text.text);
            if (!quantity.unit.empty()) return toSamples(quantity, config.sampleRate);
            if (quantity.number < 0 || quantity.number != std::floor(quantity.number) ||
                quantity.number > 9.0e15)
                throw std::invalid_argument("a latency is \"auto\", a whole number of samples or a time");
            return (long long)quantity.number;
        } catch (const std::invalid_argument& error) {
            throw patchError(text.where + ": '" + text.text + "': " + error.what());
        }
    }

    void addScheduled(const PinRef& target, const SourceText& at, const SourceText& value) {
        const std::size_t index = nodeIndex(target.node, at.where);
        const Declared& node = declared[index];
        if (node.role != Role::module)
            throw patchError(at.where + ": '" + target.text() +
                             "': only module control pins can be automated");
        const PinInfo pin = pinOf(node, target, at.where);
        if (pin.audio || pin.output)
            throw patchError(at.where + ": '" + target.text() + "' is not a control pin");
        const float number = pinValue(value, pin.unit);
        warnAboveLimit(node.name, node.module->pins[std::size_t(pin.id)], number, value);
        engine.schedule.push_back(
            {samplesOf(at, config.sampleRate), indexByName(target.node, at.where), pin.id, number});
    }

    // A time in milliseconds beyond the longest the module honours still runs, cut to that.
    void warnAboveLimit(const std::string& nodeName, const PinDescription& pin, float value,
                        const SourceText& text) {
        if (!pin.maxSamples || pin.unit != "ms") return;
        const double samples = double(value) * 0.001 * config.sampleRate;
        if (!(samples > *pin.maxSamples)) return;
        engine.notes.push_back(text.where + ": '" + nodeName + "." + pin.name + "' = '" + text.text +
                               "' is " + formatCount(samples) + " samples at " +
                               formatCount(config.sampleRate) + " Hz; the module honours at most " +
                               formatCount(*pin.maxSamples) + " and uses that");
    }

    static std::string formatCount(double value) {
        char text[32];
        std::snprintf(text, sizeof text, "%.0f", value);
        return text;
    }

    void scheduleAutomation() {
        for (const AutomationEntry& a : patch.automation) addScheduled(a.target, a.at, a.value);
        for (const ValueOverride& o : config.overrides)
            if (o.at && !o.setsVariable()) addScheduled(o.target, *o.at, o.value);
        std::stable_sort(
            engine.schedule.begin(), engine.schedule.end(),
            [](const ScheduledValue& a, const ScheduledValue& b) { return a.sample < b.sample; });
    }

    Engine& engine;
    const Patch& patch;
    const LibraryDescription& description;
    mp::IMpFactory2* factory;  // null when only checking
    const EngineConfig& config;
    std::vector<Declared> declared;
    std::vector<Wire> wires;
    int32_t outputChannels = 0;
    std::function<std::size_t(const std::string&, const std::string&)> indexByName;
};

Engine::Engine(const Patch& patch, const LibraryDescription& description, mp::IMpFactory2& factory,
               const EngineConfig& config) {
    if (config.blockSize < 1) throw usageError("the block size must be at least 1");
    if (!(config.sampleRate > 0)) throw usageError("the sample rate must be above 0");
    const Patch resolved = resolveVariables(patch, config.overrides);
    Builder(*this, resolved, description, &factory, config).build();
    changes.reserve(256);
}

void Engine::check(const Patch& patch, const LibraryDescription& description, const EngineConfig& config) {
    Engine unbuilt;
    const Patch resolved = resolveVariables(patch, config.overrides);
    Builder(unbuilt, resolved, description, nullptr, config).check();
}

Engine::~Engine() = default;

int32_t Engine::inputChannels() const { return inputCount; }
int32_t Engine::outputChannels() const { return outputCount; }
float* Engine::inputChannel(int32_t index) { return input->channel(index); }
const float* Engine::outputChannel(int32_t index) const { return output->channel(index); }

const float* Engine::tap(const PinRef& pin) const {
    for (const auto& node : nodes) {
        if (node->name() != pin.node) continue;
        const int32_t id = node->outputId(pin.pin);
        return id >= 0 ? node->output(id) : nullptr;
    }
    return nullptr;
}

std::vector<Engine::NodeReport> Engine::nodeStats() const {
    std::vector<NodeReport> reports;
    for (const auto& node : nodes)
        if (dynamic_cast<const ModuleNode*>(node.get()) != nullptr)
            reports.push_back({node->name(), node->stats()});
    return reports;
}

Engine::ControlPin Engine::controlPin(const PinRef& pin) const {
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i]->name() != pin.node) continue;
        const auto* module = dynamic_cast<const ModuleNode*>(nodes[i].get());
        if (module == nullptr) throw patchError("'" + pin.text() + "': only module control pins take values");
        const ModuleDescription& description = module->description();
        const int id = description.pinId(pin.pin);
        if (id < 0) throw patchError("module '" + description.id + "' has no pin '" + pin.pin + "'");
        const PinDescription& found = description.pins[std::size_t(id)];
        if (found.audio || found.output) throw patchError("'" + pin.text() + "' is not a control pin");
        return {i, id, found.unit};
    }
    throw patchError("'" + pin.text() + "': the patch has no node '" + pin.node + "'");
}

bool Engine::setValue(const ControlPin& pin, float value) {
    std::vector<NodeEvent>& events = pending[pin.node];
    if (events.size() == events.capacity()) return false;
    events.push_back({0, mp::kEventPinValue, pin.pinId, value});
    return true;
}

namespace {

// Stable, in place and without a buffer (std::stable_sort allocates one): a block holds a few
// events, mostly in order already.
void sortByPosition(std::vector<NodeEvent>& events) {
    for (auto at = events.begin(); at != events.end(); ++at) {
        const auto after = std::upper_bound(events.begin(), at, *at, [](const NodeEvent& a, const NodeEvent& b) {
            return a.position < b.position;
        });
        std::rotate(after, at, at + 1);
    }
}

}  // namespace

void Engine::processBlock(int32_t count) {
    // Values set before the first block come after the start values, so they win.
    if (!started)
        for (std::size_t i = 0; i < nodes.size(); ++i)
            pending[i].insert(pending[i].begin(), startEvents[i].begin(), startEvents[i].end());
    started = true;
    for (; nextScheduled < schedule.size() && schedule[nextScheduled].sample < now + count; ++nextScheduled) {
        const ScheduledValue& s = schedule[nextScheduled];
        pending[s.node].push_back(
            {int32_t(std::max(0LL, s.sample - now)), mp::kEventPinValue, s.pinId, s.value});
    }
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        sortByPosition(pending[i]);
        changes.clear();
        nodes[i]->process(count, pending[i], changes);
        pending[i].clear();
        deliver(i, changes);
    }
    now += count;
}

// A node's streaming changes reach every input its outputs feed, at the same positions.
void Engine::deliver(std::size_t node, const std::vector<StreamingChange>& nodeChanges) {
    for (const StreamingChange& change : nodeChanges)
        for (const Edge& edge : edges)
            if (edge.fromNode == node && edge.fromPin == change.pinId)
                pending[edge.toNode].push_back(
                    {change.position, change.streaming ? mp::kEventStreamingOn : mp::kEventStreamingOff,
                     edge.toPin, 0});
}

}  // namespace ovm
