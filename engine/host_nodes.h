#pragma once

#include <vector>

#include "engine/node.h"
#include "engine/true_peak_filter.h"

namespace ovm {

// Tracks which inputs of a host node stream, from the streaming events it receives.
class InputStreaming {
public:
    void resize(std::size_t inputs) { streaming.assign(inputs, false); }
    void apply(const NodeEvent& event);
    bool any() const;

private:
    std::vector<bool> streaming;
};

// The input file's channels, pins 0, 1, ... (named 1, 2, ... in patches). The engine loads
// each block. A channel streams while its samples change; once it has held one value for
// kStaticRun samples (digital silence, the tail after the file) it is reported static from
// where that value began, and streaming again at the first sample that differs.
class InputNode : public Node {
public:
    static constexpr int32_t kStaticRun = 32;

    InputNode(int32_t channels, int32_t blockSize);
    void connectInput(int32_t, const float*) override {}
    int32_t outputId(std::string_view pinName) const override;
    void process(int32_t count, const std::vector<NodeEvent>& events,
                 std::vector<StreamingChange>& changes) override;

    float* channel(int32_t index) { return outputBuffer(index); }

private:
    struct ChannelState {
        bool streaming = true;
        uint32_t runBits = 0;     // the value of the current run of equal samples
        long long runLength = 0;  // how long it has lasted, across blocks
    };
    void track(int32_t channel, int32_t count, std::vector<StreamingChange>& changes);

    std::vector<ChannelState> states;
    bool started = false;
};

// The output file's channels: inputs only.
class OutputNode : public Node {
public:
    OutputNode(int32_t channels, int32_t blockSize);
    void connectInput(int32_t pinId, const float* buffer) override { inputs.at(std::size_t(pinId)) = buffer; }
    int32_t outputId(std::string_view) const override { return -1; }
    void process(int32_t, const std::vector<NodeEvent>&, std::vector<StreamingChange>&) override {}
    const float* channel(int32_t index) const { return inputs.at(std::size_t(index)); }

private:
    std::vector<float> silence;
    std::vector<const float*> inputs;
};

// out = a × b × gain. An unconnected factor counts as 1, so a lone input with a gain is a
// plain gain stage. Streams while either input streams.
class MultiplyNode : public Node {
public:
    enum Pin : int32_t { a = 0, b = 1, out = 2 };
    MultiplyNode(std::string name, int32_t blockSize, float gain);
    void connectInput(int32_t pinId, const float* buffer) override;
    int32_t outputId(std::string_view pinName) const override { return pinName == "output" ? out : -1; }
    void process(int32_t count, const std::vector<NodeEvent>& events,
                 std::vector<StreamingChange>& changes) override;

private:
    float gain;
    const float* inputA = nullptr;
    const float* inputB = nullptr;
    InputStreaming inputStreaming;
    bool started = false;
    bool streaming = false;
};

// out[n] = in[n − length]: delays a signal by a whole number of samples, and its streaming
// state with it.
class DelayNode : public Node {
public:
    enum Pin : int32_t { in = 0, out = 1 };
    DelayNode(std::string name, int32_t blockSize, long long length);
    void connectInput(int32_t, const float* buffer) override { input = buffer; }
    int32_t outputId(std::string_view pinName) const override { return pinName == "output" ? out : -1; }
    void process(int32_t count, const std::vector<NodeEvent>& events,
                 std::vector<StreamingChange>& changes) override;

private:
    struct Due {
        long long at;  // absolute sample
        bool streaming;
    };

    std::vector<float> silence;
    const float* input = nullptr;
    std::vector<float> ring;
    std::size_t writeIndex = 0;
    long long now = 0;  // absolute sample at the start of the block
    // Streaming changes still inside the delay, in order, from dueHead on. A vector with room
    // reserved, emptied and compacted in place, rather than a deque, which allocates and frees
    // a chunk every few changes: a real-time caller's blocks should allocate nothing.
    std::vector<Due> dueChanges;
    std::size_t dueHead = 0;
    bool started = false;
};

// out[n] = the largest magnitude among x[n − kLatency] and the three points a quarter, a half
// and three quarters of a sample after it, interpolated by the 4x polyphase filter in
// engine/true_peak_filter.h: the peaks a converter reconstructs between samples, which a
// limiter's detector must see to keep a true-peak ceiling. The output streams from where the
// input starts to, and is static once the input has held still for as long as the filter
// reaches back.
class TruePeakNode : public Node {
public:
    enum Pin : int32_t { in = 0, out = 1 };
    static constexpr int32_t kLatency = true_peak::kDelay;
    TruePeakNode(std::string name, int32_t blockSize);
    void connectInput(int32_t, const float* buffer) override { input = buffer; }
    int32_t outputId(std::string_view pinName) const override { return pinName == "output" ? out : -1; }
    void process(int32_t count, const std::vector<NodeEvent>& events,
                 std::vector<StreamingChange>& changes) override;

private:
    static constexpr int32_t kHistory = true_peak::kTapsPerPhase - 1;  // read before the block

    void reportStreaming(int32_t count, const std::vector<NodeEvent>& events,
                         std::vector<StreamingChange>& changes);

    std::vector<float> silence;
    const float* input = nullptr;
    std::vector<float> window;  // kHistory samples of the past, then the block
    std::vector<float> point;   // one interpolated point per sample of the block
    bool started = false;
    bool streaming = false;     // the output's state as last reported
    long long now = 0;          // absolute sample at the start of the block
    long long staticFrom = -1;  // where the output turns static, while that is still ahead
};

}  // namespace ovm
