// No exception leaves an interface call, whatever a module or a host throws.

#include <gtest/gtest.h>

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

TEST(ExceptionSafety, ThrowingOnPinsUpdatedEndsTheBlockQuietly) {
    AttachedProbe p;
    p.startStreaming();
    p.m().onUpdate = [](ProbeModule&) { throw std::bad_alloc(); };
    host::EventList events;
    events.value(4, 0, 1.0f);
    EXPECT_NO_THROW(p.process(16, events));
    // The module goes on working with the next block.
    p.m().onUpdate = nullptr;
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
