#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ovm {

// An event the engine delivers to a node within the current block.
struct NodeEvent {
    int32_t position;
    int32_t type;  // mp::EventType code
    int32_t pinId;
    float value;  // for pin values
};

// A change of an output pin's streaming state at a position within the current block.
struct StreamingChange {
    int32_t position;
    int32_t pinId;
    bool streaming;
};

// How often a node ran, slept and was woken.
struct NodeStats {
    long long processCalls = 0;
    long long skippedBlocks = 0;  // blocks it slept through
    long long sleeps = 0;         // times it went to sleep
    long long wakes = 0;          // times an event woke it
};

// One node of the engine's graph: a module instance or one of the host's own nodes. Pins are
// addressed by id; every audio output owns a buffer of one block, every audio input reads an
// upstream buffer or silence.
class Node {
public:
    Node(std::string name, int32_t blockSize) : nodeName(std::move(name)), blockSize(blockSize) {}
    virtual ~Node() = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    const std::string& name() const { return nodeName; }
    virtual void connectInput(int32_t pinId, const float* buffer) = 0;
    const float* output(int32_t pinId) const { return outputs.at(pinId).data(); }
    bool hasOutput(int32_t pinId) const { return outputs.count(pinId) != 0; }
    // The id of the audio output the patch names so, or -1.
    virtual int32_t outputId(std::string_view pinName) const = 0;

    // Processes one block with the events due in it (ascending positions) and appends the
    // streaming changes of its outputs.
    virtual void process(int32_t count, const std::vector<NodeEvent>& events,
                         std::vector<StreamingChange>& changes) = 0;

    const NodeStats& stats() const { return nodeStats; }

protected:
    float* outputBuffer(int32_t pinId) { return outputs.at(pinId).data(); }
    void addOutput(int32_t pinId) { outputs[pinId].assign(std::size_t(blockSize), 0.0f); }

    std::string nodeName;
    int32_t blockSize;
    std::map<int32_t, std::vector<float>> outputs;
    NodeStats nodeStats;
};

}  // namespace ovm
