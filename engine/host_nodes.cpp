#include "engine/host_nodes.h"

#include <algorithm>
#include <cmath>
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
    dueChanges.reserve(256);
}

void DelayNode::process(int32_t count, const std::vector<NodeEvent>& events,
                        std::vector<StreamingChange>& changes) {
    const auto length = (long long)ring.size();
    if (!started) {
        // The first samples out are the silence the ring starts with.
        changes.push_back({0, out, false});
        started = true;
    }
    // The changes already passed on go before new ones take their room.
    if (dueHead > 0 && dueHead * 2 >= dueChanges.size()) {
        dueChanges.erase(dueChanges.begin(), dueChanges.begin() + std::ptrdiff_t(dueHead));
        dueHead = 0;
    }
    for (const NodeEvent& event : events)
        if (event.type == mp::kEventStreamingOn || event.type == mp::kEventStreamingOff)
            dueChanges.push_back({now + event.position + length, event.type == mp::kEventStreamingOn});
    for (; dueHead < dueChanges.size() && dueChanges[dueHead].at < now + count; ++dueHead)
        changes.push_back({int32_t(dueChanges[dueHead].at - now), out, dueChanges[dueHead].streaming});
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

TruePeakNode::TruePeakNode(std::string name, int32_t blockSize)
    : Node(std::move(name), blockSize),
      silence(std::size_t(blockSize), 0.0f),
      input(silence.data()),
      window(std::size_t(kHistory + blockSize), 0.0f),
      point(std::size_t(blockSize), 0.0f) {
    addOutput(out);
}

void TruePeakNode::process(int32_t count, const std::vector<NodeEvent>& events,
                           std::vector<StreamingChange>& changes) {
    using namespace true_peak;
    reportStreaming(count, events, changes);
    std::copy_n(input, count, window.begin() + kHistory);
    const float* x = window.data() + kHistory;  // x[i - k] is k samples before the block's i
    float* y = outputBuffer(out);
    for (int32_t i = 0; i < count; ++i) y[i] = std::fabs(x[i - kDelay]);
    // Phase by phase and tap by tap, so that each loop runs straight along the block.
    for (const auto& taps : kTaps) {
        std::fill_n(point.begin(), count, 0.0f);
        for (int32_t t = 0; t < kTapsPerPhase; ++t)
            for (int32_t i = 0; i < count; ++i) point[std::size_t(i)] += taps[t] * x[i - t];
        for (int32_t i = 0; i < count; ++i) y[i] = std::max(y[i], std::fabs(point[std::size_t(i)]));
    }
    std::copy_n(window.begin() + count, kHistory, window.begin());
    now += count;
}

// The output at n depends on the input from n − kHistory to n: it streams from where the
// input starts to, and turns static kHistory samples after the input last did. From the start
// it streams until the filter has left the silence before the first sample.
void TruePeakNode::reportStreaming(int32_t count, const std::vector<NodeEvent>& events,
                                   std::vector<StreamingChange>& changes) {
    if (!started) {
        changes.push_back({0, out, true});
        streaming = started = true;
        staticFrom = kHistory;
    }
    for (const NodeEvent& event : events) {
        if (event.type == mp::kEventStreamingOn) {
            staticFrom = -1;
            if (!streaming) changes.push_back({event.position, out, true});
            streaming = true;
        } else if (event.type == mp::kEventStreamingOff) {
            staticFrom = now + event.position + kHistory;
        }
    }
    if (streaming && staticFrom >= 0 && staticFrom < now + count) {
        changes.push_back({int32_t(staticFrom - now), out, false});
        streaming = false;
        staticFrom = -1;
    }
}

}  // namespace ovm
