// The host's own nodes driven directly: the samples each puts out and where it says its
// output starts or stops streaming.

#include "engine/host_nodes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <tuple>

#include "abi/event_record.h"

namespace {

using ovm::NodeEvent;
using Change = std::tuple<long long, int32_t, bool>;  // absolute position, pin, streaming

// Runs one block and returns its streaming changes at absolute positions.
std::vector<Change> runBlock(ovm::Node& node, long long start, int32_t count,
                             const std::vector<NodeEvent>& events = {}) {
    std::vector<ovm::StreamingChange> changes;
    node.process(count, events, changes);
    std::vector<Change> absolute;
    for (const auto& c : changes) absolute.emplace_back(start + c.position, c.pinId, c.streaming);
    return absolute;
}

std::vector<float> outputOf(const ovm::Node& node, int32_t pin, int32_t count) {
    return {node.output(pin), node.output(pin) + count};
}

TEST(MultiplyNode, MultipliesItsInputsByTheGainAndStreamsWhileEitherInputDoes) {
    using ovm::MultiplyNode;
    const std::vector<float> a = {1, 2, 3, 4}, b = {2, 2, -1, 0.25f};
    MultiplyNode both("g", 4, 0.5f), gainStage("h", 4, 0.5f);
    both.connectInput(MultiplyNode::a, a.data());
    both.connectInput(MultiplyNode::b, b.data());
    gainStage.connectInput(MultiplyNode::b, b.data());
    const std::vector<NodeEvent> events = {{1, mp::kEventStreamingOn, MultiplyNode::a, 0},
                                           {2, mp::kEventStreamingOn, MultiplyNode::b, 0},
                                           {3, mp::kEventStreamingOff, MultiplyNode::a, 0}};
    EXPECT_EQ(runBlock(both, 0, 4, events), (std::vector<Change>{{1, MultiplyNode::out, true}}));
    EXPECT_EQ(outputOf(both, MultiplyNode::out, 4), (std::vector<float>{1, 2, -1.5f, 0.5f}));
    EXPECT_EQ(runBlock(both, 4, 4, {{0, mp::kEventStreamingOff, MultiplyNode::b, 0}}),
              (std::vector<Change>{{4, MultiplyNode::out, false}}));
    // An unconnected factor counts as 1; without events the output is static from the start.
    EXPECT_EQ(runBlock(gainStage, 0, 4), (std::vector<Change>{{0, MultiplyNode::out, false}}));
    EXPECT_EQ(outputOf(gainStage, MultiplyNode::out, 4), (std::vector<float>{1, 1, -0.5f, 0.125f}));
}

class DelayNodeLength : public testing::TestWithParam<long long> {};

// Over blocks shorter and longer than the delay: out[n] = in[n - length], silence before,
// and a streaming change leaves as many samples after it came in.
TEST_P(DelayNodeLength, DelaysSamplesAndStreamingAlike) {
    using ovm::DelayNode;
    const long long length = GetParam();
    const int32_t block = 4;
    DelayNode node("d", block, length);
    std::vector<float> in(block);
    node.connectInput(DelayNode::in, in.data());
    std::vector<Change> changes;
    for (long long start = 0; start < 24; start += block) {
        for (int32_t i = 0; i < block; ++i) in[std::size_t(i)] = float(start + i + 1);
        std::vector<NodeEvent> events;
        if (start == 4) events.push_back({2, mp::kEventStreamingOn, DelayNode::in, 0});
        for (const Change& c : runBlock(node, start, block, events)) changes.push_back(c);
        for (int32_t i = 0; i < block; ++i) {
            const long long n = start + i;
            ASSERT_EQ(node.output(DelayNode::out)[i], n >= length ? float(n - length + 1) : 0.0f)
                << "sample " << n;
        }
    }
    EXPECT_EQ(changes, (std::vector<Change>{{0, DelayNode::out, false}, {6 + length, DelayNode::out, true}}));
}

INSTANTIATE_TEST_SUITE_P(Lengths, DelayNodeLength, testing::Values(0, 3, 9));

// A channel streams while its samples change, is static from where a value began once it
// has held for kStaticRun samples, and streams again at the first sample that differs.
TEST(InputNode, ReportsHeldValuesAsStatic) {
    static_assert(ovm::InputNode::kStaticRun == 32, "the signal below holds for 40 samples");
    ovm::InputNode node(1, 64);
    float* x = node.channel(0);
    for (int32_t i = 0; i < 64; ++i) x[i] = i < 24 ? float(i % 5) : 0.25f;
    EXPECT_EQ(runBlock(node, 0, 64), (std::vector<Change>{{0, 0, true}, {24, 0, false}}));
    for (int32_t i = 0; i < 64; ++i) x[i] = i < 10 ? 0.25f : float(i);
    EXPECT_EQ(runBlock(node, 64, 64), (std::vector<Change>{{74, 0, true}}));
}

struct TruePeakCase {
    double cyclesPerSample;
    double phase;  // radians at sample 0
};

class TruePeakNodeSine : public testing::TestWithParam<TruePeakCase> {};

// Against the sine itself: with d the latency the node declares, the output at n is within
// the filter's 1.2 % (its design figure up to 0.4 fs) of the largest magnitude of the sine at
// n - d, n - d + 0.25, n - d + 0.5 and n - d + 0.75, and never below the sample at n - d.
// At a quarter of the rate with a phase of 45 degrees the samples sit 3 dB below the peaks.
TEST_P(TruePeakNodeSine, ReadsThePeaksBetweenSamples) {
    using ovm::TruePeakNode;
    const TruePeakCase c = GetParam();
    const int32_t block = 16;
    TruePeakNode node("tp", block);
    std::vector<float> in(block);
    node.connectInput(TruePeakNode::in, in.data());
    const auto sine = [&](double t) { return std::sin(2 * std::numbers::pi * c.cyclesPerSample * t + c.phase); };
    for (long long start = 0; start < 192; start += block) {
        for (int32_t i = 0; i < block; ++i) in[std::size_t(i)] = float(sine(double(start + i)));
        runBlock(node, start, block);
        for (int32_t i = 0; i < block; ++i) {
            const long long n = start + i;
            const long long at = n - TruePeakNode::kLatency;
            if (at < TruePeakNode::kLatency) continue;  // the filter still reads the silence before
            double peak = 0;
            for (double quarter : {0.0, 0.25, 0.5, 0.75}) peak = std::max(peak, std::fabs(sine(double(at) + quarter)));
            const float y = node.output(TruePeakNode::out)[i];
            ASSERT_NEAR(y, peak, 0.012) << "sample " << n;
            ASSERT_GE(y, std::fabs(float(sine(double(at))))) << "sample " << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sines, TruePeakNodeSine,
                         testing::Values(TruePeakCase{0.25, std::numbers::pi / 4}, TruePeakCase{0.01, 0.3},
                                         TruePeakCase{0.375, std::numbers::pi / 8}, TruePeakCase{0.4, 1.0}));

// The output streams from the start until the filter has left the silence before it, from
// where the input starts to stream, and until the 23 samples before each output sample that
// the filter reads have passed the input's last change.
TEST(TruePeakNode, StreamsWhileAnyInputItReadsChanges) {
    using ovm::TruePeakNode;
    TruePeakNode node("tp", 8);
    std::vector<Change> changes;
    for (long long start = 0; start < 80; start += 8) {
        std::vector<NodeEvent> events;
        if (start == 32) events = {{4, mp::kEventStreamingOn, TruePeakNode::in, 0},
                                   {6, mp::kEventStreamingOff, TruePeakNode::in, 0}};
        if (start == 40) events = {{1, mp::kEventStreamingOn, TruePeakNode::in, 0},
                                   {2, mp::kEventStreamingOff, TruePeakNode::in, 0}};
        for (const Change& c : runBlock(node, start, 8, events)) changes.push_back(c);
    }
    EXPECT_EQ(changes, (std::vector<Change>{{0, TruePeakNode::out, true},
                                            {23, TruePeakNode::out, false},
                                            {36, TruePeakNode::out, true},
                                            {65, TruePeakNode::out, false}}));
}

}  // namespace
