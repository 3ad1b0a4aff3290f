// Pin ids, pin kinds, and what each of the three event passes does to a pin.

#include <gtest/gtest.h>

#include <cstring>

#include "tests/framework/test_modules.h"

namespace framework_testing {
namespace {

using host::HostCall;

TEST(Pins, GetIdsAndKindsInDeclarationOrder) {
    ProbeHandle probe;
    const ProbeModule& m = *probe.module;
    EXPECT_EQ(m.control.getId(), 0);
    EXPECT_EQ(m.input.getId(), 1);
    EXPECT_EQ(m.output.getId(), 2);
    EXPECT_EQ(m.control.getDatatype(), mp::kDatatypeFloat);
    EXPECT_EQ(m.input.getDatatype(), mp::kDatatypeAudio);
    EXPECT_EQ(m.control.getDirection(), mp::kDirectionInput);
    EXPECT_EQ(m.output.getDirection(), mp::kDirectionOutput);
    // Fresh state: an audio input counts as updated, a control pin does not.
    EXPECT_TRUE(m.input.isUpdated());
    EXPECT_FALSE(m.input.isStreaming());
    EXPECT_EQ(m.control.getValue(), 0.0f);
    EXPECT_FALSE(m.control.isUpdated());
}

TEST(Pins, RegistrationUnderATakenIdKeepsTheFirstPin) {
    ProbeHandle probe;
    mp::AudioInPin extra;
    probe.module->registerPinWithId(1, extra, nullptr);
    float buffer[4] = {};
    probe.plugin->setBuffer(1, buffer);
    EXPECT_EQ(probe.module->input.getBuffer(), buffer);
    // The next free id is still one above the highest.
    mp::AudioOutPin another;
    probe.module->registerPin(another);
    EXPECT_EQ(another.getId(), 3);
}

TEST(Pins, ValueEventTakesBytesInlineOrThroughThePointer) {
    AttachedProbe p;
    const float external = 0.75f;
    host::EventList events;
    events.value(0, 0, 0.25f).rawValue(4, 0, 4, &external, true);
    p.process(8, events);
    ASSERT_EQ(p.m().updates.size(), 2u);
    EXPECT_EQ(p.m().updates[0].value, 0.25f);
    EXPECT_TRUE(p.m().updates[0].valueUpdated);
    EXPECT_EQ(p.m().updates[1].value, 0.75f);
    EXPECT_FALSE(p.m().control.isUpdated());  // cleared by the third pass
}

TEST(Pins, ValueOfOddSizeNeverWritesPastTheValue) {
    mp::MpFloatInPin pin;
    // Eight bytes: a float, then bytes that would set the updated flag if copied.
    unsigned char bytes[8];
    const float value = 2.5f;
    std::memcpy(bytes, &value, 4);
    std::memset(bytes + 4, 1, 4);
    pin.receiveValue(8, bytes);
    EXPECT_EQ(pin.getValue(), 2.5f);
    EXPECT_FALSE(pin.isUpdated());

    pin.receiveValue(0, bytes + 4);
    pin.receiveValue(-3, bytes + 4);
    EXPECT_EQ(pin.getValue(), 2.5f);

    // Two bytes replace only the low half of the value.
    const uint16_t low = 0;
    pin.receiveValue(2, &low);
    uint32_t bits;
    const float result = pin.getValue();
    std::memcpy(&bits, &result, 4);
    EXPECT_EQ(bits, 0x40200000u);
}

TEST(Pins, ValueEventsOfAnySizeThroughProcess) {
    AttachedProbe p;
    const double wide = 1.0;
    host::EventList events;
    events.rawValue(0, 0, 8, &wide).rawValue(1, 0, 0, nullptr).rawValue(2, 0, -1, nullptr, true);
    p.process(8, events);
    ASSERT_EQ(p.m().updates.size(), 3u);
    // Only the first four bytes of the double arrived; size 0 and -1 kept that value.
    float expected;
    std::memcpy(&expected, &wide, 4);
    EXPECT_EQ(p.m().updates[0].value, expected);
    EXPECT_EQ(p.m().updates[2].value, expected);
}

TEST(Pins, StreamingOffOnAStaticInputArmsTheCountdownOnly) {
    AttachedProbe p;
    host::EventList events;
    events.streaming(0, 1, false);
    p.process(0, events);
    ASSERT_EQ(p.m().updates.size(), 1u);
    EXPECT_TRUE(p.m().updates[0].inputUpdated);
    EXPECT_FALSE(p.m().input.isUpdated());
    EXPECT_EQ(p.m().streamingPins(), 0);
    EXPECT_GE(p.m().countdown(), 1);
}

TEST(Pins, StreamingOnForAStreamingInputOnlyMarksItUpdated) {
    AttachedProbe p;
    host::EventList on;
    on.streaming(0, 1, true);
    p.process(4, on);
    const int32_t countdown = p.m().countdown();
    p.process(4, on);
    EXPECT_EQ(p.m().streamingPins(), 1);
    EXPECT_EQ(p.m().countdown(), countdown);
    EXPECT_TRUE(p.m().updates.back().inputUpdated);
    EXPECT_TRUE(p.m().updates.back().inputStreaming);
}

TEST(Pins, SetStreamingReportsEveryCallAndRearmsWhenStatic) {
    AttachedProbe p;
    p.moduleHost.setBlockSize(48);
    p.m().output.setStreaming(false);
    p.m().setCountdown(3);
    p.m().output.setStreaming(false);
    EXPECT_EQ(p.m().countdown(), 48);
    EXPECT_EQ(p.m().streamingPins(), 0);
    p.m().output.setStreaming(true, 5);
    EXPECT_EQ(p.m().streamingPins(), 1);
    const std::vector<HostCall> expected = {
        {HostCall::Kind::QueryBlockSize},
        {HostCall::Kind::ReportPinStreaming, 0, 2, 0},
        {HostCall::Kind::QueryBlockSize},
        {HostCall::Kind::ReportPinStreaming, 0, 2, 0},
        {HostCall::Kind::ReportPinStreaming, 5, 2, 1},
    };
    EXPECT_EQ(p.moduleHost.calls(), expected);
}

TEST(Pins, HostThatKnowsNoBlockSizeLeavesTheCountdown) {
    AttachedProbe p;
    p.moduleHost.setBlockSize(std::nullopt);
    p.m().setCountdown(7);
    p.m().output.setStreaming(false);
    EXPECT_EQ(p.m().countdown(), 7);
}

TEST(Pins, AnnounceTurnsTheOutputStreamingOnce) {
    AttachedProbe p;
    host::EventList events;
    events.announceOutputs(3).announceOutputs(3);
    p.process(8, events);
    EXPECT_EQ(p.m().streamingPins(), 1);
    const std::vector<HostCall> expected = {
        {HostCall::Kind::ReportPinStreaming, 3, 2, 1},
        {HostCall::Kind::ReportPinStreaming, 3, 2, 1},
    };
    EXPECT_EQ(p.moduleHost.calls(), expected);
}

TEST(Pins, ControlPinSendsItsValueToTheHost) {
    AttachedProbe p;
    const float value = 0.5f;
    p.m().control.sendValue(4, &value, 9);
    p.m().control.announce();
    const std::vector<HostCall> expected = {
        {HostCall::Kind::SendPinValue, 9, 0, 4, 0.5f},
        {HostCall::Kind::SendPinValue, 0, 0, 4, 0.0f},
    };
    EXPECT_EQ(p.moduleHost.calls(), expected);
}

}  // namespace
}  // namespace framework_testing
