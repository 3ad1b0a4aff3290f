#include "engine/module_node.h"

#include <algorithm>

namespace ovm {

ModuleNode::ModuleNode(std::string name, mp::IMpFactory2& factory, const ModuleDescription& description,
                       int32_t blockSize, float sampleRate)
    : Node(std::move(name), blockSize),
      module(description),
      instance(factory, description.id, {blockSize, sampleRate, nullptr}),
      silence(std::size_t(blockSize), 0.0f) {
    for (int32_t id = 0; id < int32_t(description.pins.size()); ++id) {
        const PinDescription& pin = description.pins[std::size_t(id)];
        if (!pin.audio) continue;
        if (pin.output) {
            addOutput(id);
            outputStates[id] = {};
            instance.setBuffer(id, outputBuffer(id));
        } else {
            // Unconnected inputs read silence, which never streams.
            instance.setBuffer(id, silence.data());
        }
    }
    // Room enough that a block's events and reports need no allocation.
    eventList.reserve(64 + 2 * description.pins.size());
    instance.host().reserveStreamingReports(4 * description.pins.size() + 4);
    instance.open();
}

void ModuleNode::connectInput(int32_t pinId, const float* buffer) {
    // The module reads its inputs only; the binary interface has one buffer type for both.
    instance.setBuffer(pinId, const_cast<float*>(buffer));
}

int32_t ModuleNode::outputId(std::string_view pinName) const {
    const int32_t id = module.pinId(pinName);
    return hasOutput(id) ? id : -1;
}

void ModuleNode::process(int32_t count, const std::vector<NodeEvent>& events,
                         std::vector<StreamingChange>& changes) {
    if (instance.maySkip(!events.empty())) {
        ++nodeStats.skippedBlocks;
        holdStaticOutputs(count);
        return;
    }
    if (instance.asleep()) ++nodeStats.wakes;
    eventList.clear();
    for (const NodeEvent& e : events) eventList.event(e.position, e.type, e.pinId, e.value);
    for (auto& [pin, state] : outputStates) state.staticFrom = 0;
    ++nodeStats.processCalls;
    instance.process(count, eventList);
    collectChanges(count, changes);
    if (instance.asleep()) {
        ++nodeStats.sleeps;
        holdStaticOutputs(count);
    }
}

// Reports become changes for the engine; a static output's value is read where it turned
// static, so that the rest of the block and later skipped blocks can hold it.
void ModuleNode::collectChanges(int32_t count, std::vector<StreamingChange>& changes) {
    // Read, then cleared rather than taken: the reports' buffer stays for the next block.
    for (const host::StreamingReport& report : instance.host().streamingReports()) {
        auto state = outputStates.find(report.pinId);
        if (state == outputStates.end()) continue;  // not an audio output: ignore
        const int32_t position = std::clamp(report.position, 0, std::max(count - 1, 0));
        changes.push_back({position, report.pinId, report.streaming});
        state->second.streaming = report.streaming;
        if (!report.streaming) {
            state->second.staticFrom = position;
            state->second.valueKnown = false;
        }
    }
    instance.host().clearStreamingReports();
    for (auto& [pin, state] : outputStates) {
        if (state.streaming || state.valueKnown || state.staticFrom >= count) continue;
        state.staticValue = outputBuffer(pin)[state.staticFrom];
        state.valueKnown = true;
    }
}

// A sleeping module leaves the rest of its block unwritten: its static outputs keep their value.
void ModuleNode::holdStaticOutputs(int32_t count) {
    for (auto& [pin, state] : outputStates) {
        if (state.streaming || !state.valueKnown) continue;
        std::fill(outputBuffer(pin) + state.staticFrom, outputBuffer(pin) + count, state.staticValue);
        state.staticFrom = 0;
    }
}

}  // namespace ovm
