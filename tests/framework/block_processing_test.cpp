// How process() splits a block at event positions and dispatches each group of events.

#include <gtest/gtest.h>

#include "tests/framework/test_modules.h"

namespace framework_testing {
namespace {

using Runs = std::vector<ProbeModule::Run>;

TEST(BlockProcessing, WithoutEventsRunsTheWholeBlockOnce) {
    AttachedProbe p;
    p.startStreaming();
    p.process(32);
    p.process(0);
    EXPECT_EQ(p.m().runs, (Runs{{0, 32}, {0, 0}}));
    EXPECT_EQ(p.m().position(), 0);
}

TEST(BlockProcessing, GroupsEventsAtOnePositionAndUpdatesOncePerGroup) {
    AttachedProbe p;
    p.startStreaming();
    host::EventList events;
    events.value(0, 0, 1.0f).value(0, 0, 2.0f).value(10, 0, 3.0f);
    p.process(32, events);
    EXPECT_EQ(p.m().runs, (Runs{{0, 10}, {10, 22}}));
    ASSERT_EQ(p.m().updates.size(), 2u);
    EXPECT_EQ(p.m().updates[0].position, 0);
    EXPECT_EQ(p.m().updates[0].value, 2.0f);  // the later of two values in one group
    EXPECT_EQ(p.m().updates[1].position, 10);
    EXPECT_EQ(p.m().updates[1].value, 3.0f);
    // The run function wrote from each run's own position on.
    for (int i = 0; i < 32; ++i) EXPECT_EQ(p.out[i], float(i));
}

TEST(BlockProcessing, EventAtTheBlockEndIsNotDispatched) {
    AttachedProbe p;
    p.startStreaming();
    host::EventList events;
    events.value(32, 0, 5.0f).value(40, 0, 6.0f);
    p.process(32, events);
    EXPECT_EQ(p.m().runs, (Runs{{0, 32}}));
    EXPECT_TRUE(p.m().updates.empty());
    EXPECT_EQ(p.m().control.getValue(), 0.0f);
}

TEST(BlockProcessing, EventsBeyondTheBlockNeverMakeARunPassItsEnd) {
    AttachedProbe p;
    p.startStreaming();
    std::fill(std::begin(p.out), std::end(p.out), -1.0f);
    host::EventList events;
    events.value(4, 0, 1.0f).value(1000, 0, 2.0f);
    p.process(16, events);
    EXPECT_EQ(p.m().runs, (Runs{{0, 4}, {4, 12}}));
    EXPECT_EQ(p.out[15], 15.0f);
    EXPECT_EQ(p.out[16], -1.0f);
}

TEST(BlockProcessing, NegativeCountRunsNothing) {
    AttachedProbe p;
    p.startStreaming();
    host::EventList events;
    events.value(5, 0, 1.0f);
    p.process(-8, events);
    p.process(-8);
    for (const auto& run : p.m().runs) EXPECT_LE(run.count, 0);
}

TEST(BlockProcessing, EventBehindThePositionIsDispatchedWhereTheBlockStands) {
    AttachedProbe p;
    p.startStreaming();
    host::EventList events;
    events.value(8, 0, 1.0f).value(3, 0, 2.0f).value(8, 0, 3.0f).value(12, 0, 4.0f);
    p.process(16, events);
    EXPECT_EQ(p.m().runs, (Runs{{0, 8}, {8, 4}, {12, 4}}));
    // The late record heads a group of its own at 8, with the record after it.
    ASSERT_EQ(p.m().updates.size(), 3u);
    EXPECT_EQ(p.m().updates[1].position, 8);
    EXPECT_EQ(p.m().updates[1].value, 3.0f);
}

TEST(BlockProcessing, OnlyValueAndStreamingEventsCountAsPinUpdates) {
    AttachedProbe p;
    p.startStreaming();
    host::EventList events;
    events.message(2, 0).announceOutputs(4).add({6, 99, 0, 0, {}, nullptr, nullptr}).value(8, 7, 1.0f);
    p.process(16, events);
    // 103, 104 and an unknown type split the block but update nothing; a value for a
    // pin that does not exist still does.
    EXPECT_EQ(p.m().runs, (Runs{{0, 2}, {2, 2}, {4, 2}, {6, 2}, {8, 8}}));
    ASSERT_EQ(p.m().updates.size(), 1u);
    EXPECT_EQ(p.m().updates[0].position, 8);
}

// Two outputs, to see the order of announcements.
class TwoOutputModule : public ProbeModule {
public:
    TwoOutputModule() { registerPin(second); }
    mp::AudioOutPin second;
};

TEST(BlockProcessing, AnnounceOutputsReportsOutputsInIdOrderInTheSecondPass) {
    host::ModuleHost moduleHost;
    moduleHost.setRecording(true);
    auto* module = new TwoOutputModule();
    auto plugin = host::ComPtr<mp::IMpPlugin2>::adopt(module->asPlugin2());
    plugin->setHost(&moduleHost);
    module->onUpdate = [](ProbeModule& m) { EXPECT_EQ(m.streamingPins(), 3); };
    host::EventList events;
    events.streaming(0, 1, true).announceOutputs(0);
    float buffers[3][8] = {};
    for (int pin = 1; pin <= 3; ++pin) plugin->setBuffer(pin, buffers[pin - 1]);
    plugin->process(8, events.head());
    const std::vector<host::StreamingReport> expected = {{0, 2, true}, {0, 3, true}};
    EXPECT_EQ(moduleHost.streamingReports(), expected);
    EXPECT_EQ(module->updates.size(), 1u);
}

TEST(BlockProcessing, ChoiceInOnPinsUpdatedTakesEffectWithTheNextRun) {
    AttachedProbe p;
    p.startStreaming();
    p.m().chooseOnUpdate = false;
    p.m().onUpdate = [](ProbeModule& m) { m.choose(&ProbeModule::otherRun); };
    host::EventList events;
    events.value(5, 0, 1.0f);
    p.process(16, events);
    EXPECT_EQ(p.m().runs, (Runs{{0, 5}}));
    EXPECT_EQ(p.m().otherRuns, (Runs{{5, 11}}));
}

}  // namespace
}  // namespace framework_testing

namespace framework_testing {
namespace {

TEST(BlockProcessing, WithoutBuffersEventsArriveButNothingRuns) {
    host::ModuleHost moduleHost;
    ProbeHandle probe;
    probe.plugin->setHost(&moduleHost);
    float in[8] = {};
    probe.plugin->setBuffer(1, in);  // the output pin has no buffer yet
    host::EventList events;
    events.streaming(0, 1, true).value(4, 0, 2.0f);
    probe.plugin->process(8, events.head());
    EXPECT_TRUE(probe.module->runs.empty());
    EXPECT_EQ(probe.module->control.getValue(), 2.0f);
    float out[8] = {};
    probe.plugin->setBuffer(2, out);
    probe.plugin->process(8, nullptr);
    EXPECT_EQ(probe.module->runs, (std::vector<ProbeModule::Run>{{0, 8}}));
}

}  // namespace
}  // namespace framework_testing
