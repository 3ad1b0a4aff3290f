// No exception leaves an interface call, whatever a module or a host throws.

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <stdexcept>

#include "tests/framework/test_modules.h"

namespace framework_testing {
namespace {

class ThrowingAuxiliaryModule : public ProbeModule {
protected:
    int32_t auxiliaryCallV2(int32_t, int32_t, void*) override { throw std::runtime_error("aux"); }
};

class ThrowingHost : public mp::IMpUnknown {
public:
    int32_t queryInterface(const mp::MpGuid*, void**) override { throw std::runtime_error("host"); }
    int32_t addRef() override { return 1; }
    int32_t release() override { return 1; }
};

// The update at 4 fails: the block goes on with the module as it was, and the value's flag is
// cleared, so the group at 8 is not taken for another update of the value.
TEST(ExceptionSafety, ThrowingOnPinsUpdatedKeepsTheBlockGoing) {
    AttachedProbe p;
    p.startStreaming();
    p.m().onUpdate = [](ProbeModule& m) {
        if (m.control.isUpdated()) throw std::bad_alloc();
    };
    host::EventList events;
    events.value(4, 0, 1.0f).streaming(8, 1, true);
    EXPECT_NO_THROW(p.process(16, events));
    EXPECT_EQ(p.m().runs, (std::vector<ProbeModule::Run>{{0, 4}, {4, 4}, {8, 8}}));
    ASSERT_EQ(p.m().updates.size(), 2u);
    EXPECT_FALSE(p.m().updates[1].valueUpdated);
}

// A module whose first update fails has no run function: its outputs carry silence until an
// update succeeds.
TEST(ExceptionSafety, FailedFirstUpdateLeavesSilence) {
    AttachedProbe p;
    std::fill(std::begin(p.out), std::end(p.out), -1.0f);
    p.m().onUpdate = [](ProbeModule&) { throw std::bad_alloc(); };
    host::EventList start;
    start.streaming(0, 1, true);
    p.process(16, start);
    EXPECT_TRUE(std::all_of(p.out, p.out + 16, [](float x) { return x == 0.0f; }));
    p.m().onUpdate = nullptr;
    host::EventList retry;
    retry.value(0, 0, 1.0f);
    p.process(16, retry);
    EXPECT_EQ(p.out[15], 15.0f);
}

// What a throwing run left is unknown: from its stretch on, the block is silence.
TEST(ExceptionSafety, ThrowingRunSilencesTheRestOfTheBlock) {
    AttachedProbe p;
    p.startStreaming();
    std::fill(std::begin(p.out), std::end(p.out), -1.0f);
    p.m().onRun = [](ProbeModule& m) {
        if (m.position() == 4) throw std::bad_alloc();
    };
    host::EventList events;
    events.value(4, 0, 1.0f);
    EXPECT_NO_THROW(p.process(16, events));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(p.out[i], i < 4 ? float(i) : 0.0f) << "sample " << i;
    EXPECT_EQ(p.out[16], -1.0f);
    // The module goes on working with the next block.
    p.m().onRun = nullptr;
    p.process(16);
    EXPECT_EQ(p.m().runs.back(), (ProbeModule::Run{0, 16}));
}

TEST(ExceptionSafety, ThrowingAuxiliaryCallReportsFailure) {
    auto* module = new ThrowingAuxiliaryModule();
    EXPECT_EQ(module->asPlugin()->auxiliaryCall(0, 0, nullptr), mp::kResultFail);
    EXPECT_EQ(module->asPlugin2()->auxiliaryCall(0, 0, nullptr), mp::kResultFail);
    // The guard was cleared: the override is reached again.
    EXPECT_EQ(module->asPlugin()->auxiliaryCall(0, 0, nullptr), mp::kResultFail);
    module->release();
}

TEST(ExceptionSafety, ThrowingHostFailsSetHost) {
    ProbeHandle probe;
    ThrowingHost throwing;
    EXPECT_EQ(probe.plugin->setHost(&throwing), mp::kResultFail);
}

}  // namespace
}  // namespace framework_testing
