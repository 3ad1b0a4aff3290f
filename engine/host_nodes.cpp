#include "engine/host_nodes.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "abi/event_record.h"

namespace ovm {

void InputStreaming::apply(const NodeEvent& event) {
    if (event.pinId < 0 || std::size_t(event.pinId) >= streaming.size()) return;
    if (event.type == mp::kEventStreamingOn) streaming[std::size_t(event.pinId)] = true;
    if (event.type == mp::kEventStreamingOff) streaming[std::size_t(event.pinId)] = false;
}

bool InputStreaming::any() const {
    return std::find(streaming.begin(), streaming.end(), true) != streaming.end();
}

InputNode::InputNode(int32_t channels, int32_t blockSize)
    : Node("input", blockSize), states(std::size_t(channels)) {
    for (int32_t c = 0; c < channels; ++c) addOutput(c);
}

int32_t InputNode::outputId(std::string_view pinName) const {
    for (int32_t c = 0; c < int32_t(states.size()); ++c)
        if (pinName == std::to_string(c + 1)) return c;
    return -1;
}

void InputNode::process(int32_t count, const std::vector<NodeEvent>&, std::vector<StreamingChange>& changes) {
    if (!started)
        for (int32_t c = 0; c < int32_t(states.size()); ++c) changes.push_back({0, c, true});
    started = true;
    for (int32_t c = 0; c < int32_t(states.size()); ++c) track(c, count, changes);
}

void InputNode::track(int32_t channel, int32_t count, std::vector<StreamingChange>& changes) {
    ChannelState& state = states[std::size_t(channel)];
    const float* x = outputBuffer(channel);
    for (int32_t i = 0; i < count; ++i) {
        uint32_t bits;
        std::memcpy(&bits, &x[i], sizeof bits);
        if (state.runLength > 0 && bits == state.runBits) {
            ++state.runLength;
            continue;
        }
        if (!state.streaming) {
            changes.push_back({i, channel, true});
            state.streaming = true;
        }
        state.runBits = bits;
        state.runLength = 1;
    }
    if (state.streaming && state.runLength >= kStaticRun) {
        changes.push_back({int32_t(std::max<long long>(0, count - state.runLength)), channel, false});
        state.streaming = false;
    }
}

OutputNode::OutputNode(int32_t channels, int32_t blockSize)
    : Node("output", blockSize),
      silence(std::size_t(blockSize), 0.0f),
      inputs(std::size_t(channels), silence.data()) {}

MultiplyNode::MultiplyNode(std::string name, int32_t blockSize, float gain)
    : Node(std::move(name), blockSize), gain(gain) {
    addOutput(out);
    inputStreaming.resize(2);
}

void MultiplyNode::connectInput(int32_t pinId, const float* buffer) {
    (pinId == a ? inputA : inputB) = buffer;
}

void MultiplyNode::process(int32_t count, const std::vector<NodeEvent>& events,
                           std::vector<StreamingChange>& changes) {
    for (const NodeEvent& event : events) {
        inputStreaming.apply(event);
        if (!started || inputStreaming.any() != streaming) {
            streaming = inputStreaming.any();
            changes.push_back({event.position, out, streaming});
            started = true;
        }
    }
    if (!started) {
        changes.push_back({0, out, false});
        started = true;
    }
    float* y = outputBuffer(out);
    for (int32_t i = 0; i < count; ++i) {
        const float x = (inputA != nullptr ? inputA[i] : 1.0f) * (inputB != nullptr ? inputB[i] : 1.0f);
        y[i] = x * gain;
    }
}

DelayNode::DelayNode(std::string name, int32_t blockSize, long long length)
    : Node(std::move(name), blockSize),
      silence(std::size_t(blockSize), 0.0f),
      input(silence.data()),
      ring(std::size_t(length), 0.0f) {
    addOutput(out);
}

void DelayNode::process(int32_t count, const std::vector<NodeEvent>& events,
                        std::vector<StreamingChange>& changes) {
    const auto length = (long long)ring.size();
    if (!started) {
        // The first samples out are the silence the ring starts with.
        changes.push_back({0, out, false});
        started = true;
    }
    for (const NodeEvent& event : events)
        if (event.type == mp::kEventStreamingOn || event.type == mp::kEventStreamingOff)
            dueChanges.push_back({now + event.position + length, event.type == mp::kEventStreamingOn});
    while (!dueChanges.empty() && dueChanges.front().at < now + count) {
        changes.push_back({int32_t(dueChanges.front().at - now), out, dueChanges.front().streaming});
        dueChanges.pop_front();
    }
    float* y = outputBuffer(out);
    if (ring.empty()) {
        std::copy_n(input, count, y);
    } else {
        for (int32_t i = 0; i < count; ++i) {
            y[i] = ring[writeIndex];
            ring[writeIndex] = input[i];
            if (++writeIndex == ring.size()) writeIndex = 0;
        }
    }
    now += count;
}

}  // namespace ovm
