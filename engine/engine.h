#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "abi/factory_interfaces.h"
#include "engine/engine_defaults.h"
#include "engine/module_description.h"
#include "engine/node.h"
#include "engine/patch.h"

namespace ovm {

class InputNode;
class OutputNode;

// A value given beside the patch (on the command line): at the start, or at a time. A
// target without a node (target.pin only) names one of the patch's variables instead,
// which has one value for the whole run.
struct ValueOverride {
    PinRef target;
    SourceText value;
    std::optional<SourceText> at;
    bool setsVariable() const { return target.node.empty(); }
};

struct EngineConfig {
    int32_t blockSize = kDefaultBlockSize;
    double sampleRate = kDefaultSampleRate;
    int32_t inputChannels = 1;
    std::vector<ValueOverride> overrides;
};

// Runs a patch block by block: nodes in dependency order, each connected audio input reading
// its upstream buffer, streaming changes passed downstream as events at their positions in
// the same block, control values and automation as sample-accurate value events. A module
// that asked to sleep is not called until an event is due for it.
class Engine {
public:
    // Throws ovm::Error: patch class for what the patch gets wrong, library class when the
    // library refuses a module.
    Engine(const Patch& patch, const LibraryDescription& description, mp::IMpFactory2& factory,
           const EngineConfig& config);
    ~Engine();
    // Checks everything the constructor checks that needs no module object (nodes, pins,
    // connections, cycles, values), so that a wrong patch is refused before its library
    // is loaded and any of the library's code runs. Throws like the constructor.
    static void check(const Patch& patch, const LibraryDescription& description, const EngineConfig& config);

    int32_t inputChannels() const;
    int32_t outputChannels() const;
    // Fill before processBlock.
    float* inputChannel(int32_t index);
    void processBlock(int32_t count);
    // Delivers what the first block would start with (each module's values and the
    // announcement of its outputs, each input's streaming) in a block of no samples, so that
    // the modules take the memory their values need now: a real-time caller starts the engine
    // before its first block. The output is the same with or without it.
    void start() { processBlock(0); }
    const float* outputChannel(int32_t index) const;

    // The buffer of any node's audio output, e.g. a gain signal to plot; null when absent.
    const float* tap(const PinRef& pin) const;

    // A module's control input, found by name once, for values set while blocks run.
    struct ControlPin {
        std::size_t node;  // in the engine's order
        int32_t pinId;
        std::string unit;  // the pin's, for toPinValue
    };
    // Throws ovm::Error (patch class) saying why the pin cannot take a value: no such node,
    // not a module, no such pin, or an audio pin.
    ControlPin controlPin(const PinRef& pin) const;
    // Sets a control pin at the start of the next block, after that block's other events at
    // position 0. Allocates nothing and takes no lock for up to kQueuedValuesPerBlock values
    // per block, so a real-time thread may call it between blocks; false when the block has
    // no room left, and the caller keeps the value for the blocks after.
    static constexpr std::size_t kQueuedValuesPerBlock = 32;
    bool setValue(const ControlPin& pin, float value);
    // By how many samples the output lags the input: the longest path from the input to
    // the output, adding the latency of each node on it (a delay's length), with the values
    // in force at the start of the run.
    long long latencySamples() const { return latency; }

    struct NodeReport {
        std::string name;
        NodeStats stats;
    };
    std::vector<NodeReport> nodeStats() const;
    // Values the patch gives that a module will not honour as written (a time beyond the
    // longest it supports): the run goes on, the user should hear of them.
    const std::vector<std::string>& warnings() const { return notes; }

private:
    Engine() = default;

    struct Edge {
        std::size_t fromNode;
        int32_t fromPin;
        std::size_t toNode;
        int32_t toPin;
    };
    struct ScheduledValue {
        long long sample;
        std::size_t node;
        int32_t pinId;
        float value;
    };
    class Builder;

    void deliver(std::size_t node, const std::vector<StreamingChange>& changes);

    std::vector<std::unique_ptr<Node>> nodes;  // in dependency order
    InputNode* input = nullptr;
    OutputNode* output = nullptr;
    std::vector<Edge> edges;
    std::vector<std::vector<NodeEvent>> pending;      // per node, for the current block (reserved)
    std::vector<std::vector<NodeEvent>> startEvents;  // per node, for the first block
    std::vector<ScheduledValue> schedule;             // ascending sample
    std::size_t nextScheduled = 0;
    std::vector<StreamingChange> changes;
    std::vector<std::string> notes;
    long long now = 0;
    bool started = false;
    long long latency = 0;
    int32_t inputCount = 0;
    int32_t outputCount = 0;
};

}  // namespace ovm
