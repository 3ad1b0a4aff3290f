// The counting run function in front of the module's own, and when it asks the host to sleep.

#include <gtest/gtest.h>

#include "tests/framework/test_modules.h"

namespace framework_testing {
namespace {

using Runs = std::vector<ProbeModule::Run>;

TEST(SleepProtocol, NewModuleAsksToSleepAtOnceWithoutRunning) {
    AttachedProbe p;
    p.process(64);
    EXPECT_TRUE(p.m().runs.empty());
    EXPECT_EQ(p.moduleHost.sleepRequestCount(), 1);
}

TEST(SleepProtocol, StaticOutputRunsOneHostBlockThenSleeps) {
    AttachedProbe p;
    p.moduleHost.setBlockSize(64);
    p.m().onUpdate = [](ProbeModule& m) { m.output.setStreaming(false); };
    host::EventList events;
    events.value(0, 0, 1.0f);
    p.process(64, events);
    EXPECT_EQ(p.m().runs, (Runs{{0, 64}}));
    EXPECT_EQ(p.moduleHost.sleepRequestCount(), 1);
    p.process(64);
    p.process(64);
    EXPECT_EQ(p.m().runs.size(), 1u);
    EXPECT_EQ(p.moduleHost.sleepRequestCount(), 3);
}

TEST(SleepProtocol, SpentCountdownLeavesTheRestOfTheBlockUnprocessed) {
    AttachedProbe p;
    p.m().choose(&ProbeModule::run);
    p.m().setCountdown(10);
    p.process(64);
    EXPECT_EQ(p.m().runs, (Runs{{0, 10}}));
    EXPECT_EQ(p.moduleHost.sleepRequestCount(), 1);
    EXPECT_EQ(p.m().position(), 0);
}

TEST(SleepProtocol, StretchBeforeEventsRunsToItsEndDespiteTheCountdown) {
    AttachedProbe p;
    p.m().choose(&ProbeModule::run);
    p.m().setCountdown(4);
    host::EventList events;
    events.message(20, 0).message(30, 0);
    p.process(64, events);
    // 4 counted samples, then the countdown is re-armed to the rest of the stretch; the
    // block's last run asks to sleep at its start.
    EXPECT_EQ(p.m().runs, (Runs{{0, 4}, {4, 16}, {20, 10}}));
    EXPECT_EQ(p.moduleHost.sleepRequestCount(), 1);
}

TEST(SleepProtocol, StreamingOffRearmsTheCountdownForTheRestOfTheBlock) {
    AttachedProbe p;
    p.m().choose(&ProbeModule::run);
    host::EventList events;
    events.streaming(10, 1, false);
    p.process(32, events);
    // Stretch of 10 runs to its end, the StreamingOff arms one more sample, then sleep.
    EXPECT_EQ(p.m().runs, (Runs{{0, 10}, {10, 1}}));
    EXPECT_EQ(p.moduleHost.sleepRequestCount(), 1);
}

TEST(SleepProtocol, ChoosingWhileCountingKeepsTheCounterInFront) {
    AttachedProbe p;
    EXPECT_TRUE(p.m().counting());
    p.m().choose(&ProbeModule::otherRun);
    EXPECT_TRUE(p.m().counting());
    EXPECT_TRUE(p.m().chose(&ProbeModule::otherRun));
    p.m().setCountdown(8);
    p.process(8);
    EXPECT_EQ(p.m().otherRuns, (Runs{{0, 8}}));
}

TEST(SleepProtocol, ChoosingInTheDirectStateTakesEffectAtOnce) {
    AttachedProbe p;
    p.startStreaming();
    EXPECT_FALSE(p.m().counting());
    EXPECT_TRUE(p.m().activeIs(&ProbeModule::run));
    p.m().choose(&ProbeModule::otherRun);
    EXPECT_TRUE(p.m().activeIs(&ProbeModule::otherRun));
}

TEST(SleepProtocol, LastStreamingOffSwitchesToCountingBeforeOnPinsUpdated) {
    AttachedProbe p;
    p.startStreaming();
    p.m().chooseOnUpdate = false;
    p.m().onUpdate = [](ProbeModule& m) { m.choose(&ProbeModule::otherRun); };
    host::EventList events;
    events.streaming(0, 1, false);
    p.process(0, events);
    EXPECT_TRUE(p.m().updates[0].counting);
    EXPECT_TRUE(p.m().counting());
    EXPECT_TRUE(p.m().chose(&ProbeModule::otherRun));
}

TEST(SleepProtocol, StreamingOutputKeepsTheModuleAwake) {
    AttachedProbe p;
    host::EventList events;
    events.announceOutputs(0);
    p.m().choose(&ProbeModule::run);
    p.process(16, events);
    p.process(16);
    EXPECT_EQ(p.m().runs, (Runs{{0, 16}, {0, 16}}));
    EXPECT_EQ(p.moduleHost.sleepRequestCount(), 0);
    EXPECT_FALSE(p.m().counting());
}

TEST(SleepProtocol, ModuleWokenByAnEventRunsAgain) {
    AttachedProbe p;
    p.m().choose(&ProbeModule::run);
    p.process(16);
    EXPECT_EQ(p.moduleHost.sleepRequestCount(), 1);
    host::EventList events;
    events.streaming(0, 1, true);
    p.process(16, events);
    EXPECT_EQ(p.m().runs, (Runs{{0, 16}}));
    EXPECT_EQ(p.moduleHost.sleepRequestCount(), 1);
}

}  // namespace
}  // namespace framework_testing
