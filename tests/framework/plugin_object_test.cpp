// The plug-in object's views, reference counting, host attachment and destruction.

#include <gtest/gtest.h>

#include "abi/factory_interfaces.h"
#include "host/module_host.h"
#include "tests/framework/test_modules.h"

namespace framework_testing {
namespace {

template <typename View>
void* queried(View* view, const mp::MpGuid& iid, int32_t expectedResult = mp::kResultOk) {
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(view->queryInterface(&iid, &object), expectedResult);
    return object;
}

TEST(PluginObject, AnswersEachIdentifierWithItsViewAndAReference) {
    ProbeHandle probe;
    ProbeModule& m = *probe.module;
    void* plugin1 = static_cast<mp::IMpPlugin*>(m.asPlugin());
    EXPECT_EQ(queried(m.asPlugin2(), mp::kIidMpPlugin2), static_cast<void*>(m.asPlugin2()));
    EXPECT_EQ(queried(m.asPlugin2(), mp::kIidMpPlugin), plugin1);
    EXPECT_EQ(queried(m.asLegacyInitialization(), mp::kIidMpUnknown), plugin1);
    EXPECT_EQ(queried(m.asPlugin(), mp::kIidMpLegacyInitialization),
              static_cast<void*>(m.asLegacyInitialization()));
    // The four answers each added one reference to the creator's one.
    EXPECT_EQ(m.addRef(), 6);
    for (int i = 0; i < 5; ++i) m.release();
}

TEST(PluginObject, RefusesOtherIdentifiersWithNull) {
    ProbeHandle probe;
    for (const auto& iid : {mp::kIidMpFactory, mp::kIidMpFactory2, mp::kIidMpHost}) {
        EXPECT_EQ(queried(probe.plugin.get(), iid, mp::kResultNoInterface), nullptr);
    }
    // One byte off in the last group is another identifier.
    mp::MpGuid almost = mp::kIidMpPlugin2;
    almost.data4[7] ^= 1;
    EXPECT_EQ(queried(probe.plugin.get(), almost, mp::kResultNoInterface), nullptr);
    EXPECT_EQ(probe.module->addRef(), 2);
    probe.module->release();
}

TEST(PluginObject, CountsReferencesAndIsDestroyedByTheLastRelease) {
    const int before = ProbeModule::liveObjects;
    auto* module = new ProbeModule();
    mp::IMpPlugin2* plugin = module->asPlugin2();
    EXPECT_EQ(plugin->addRef(), 2);
    EXPECT_EQ(module->asPlugin()->addRef(), 3);
    EXPECT_EQ(plugin->release(), 2);
    EXPECT_EQ(module->asLegacyInitialization()->release(), 1);
    EXPECT_EQ(ProbeModule::liveObjects, before + 1);
    EXPECT_EQ(plugin->release(), 0);
    EXPECT_EQ(ProbeModule::liveObjects, before);
}

TEST(PluginObject, DestructionReleasesTheHostInterfaceExactlyOnce) {
    host::ModuleHost moduleHost;
    {
        ProbeHandle probe;
        ASSERT_EQ(probe.plugin->setHost(&moduleHost), mp::kResultOk);
        EXPECT_EQ(moduleHost.heldReferences(), 1);
    }
    EXPECT_EQ(moduleHost.releaseCount(), 1);
    EXPECT_EQ(moduleHost.heldReferences(), 0);
}

TEST(PluginObject, ObjectWithoutHostNeverCallsOne) {
    // Everything that would reach a host: sleep, streaming reports, block size queries.
    ProbeHandle probe;
    host::EventList events;
    events.streaming(0, 1, false).announceOutputs(2).value(3, 0, 1.0f);
    float buffer[16] = {};
    probe.plugin->setBuffer(1, buffer);
    probe.plugin->setBuffer(2, buffer);
    probe.plugin->process(16, events.head());
    probe.module->output.setStreaming(false);
    probe.module->control.sendValue(4, buffer);
    probe.plugin->process(16, nullptr);
    SUCCEED();
}

TEST(PluginObject, EveryAttachmentViewStoresTheSameHost) {
    using Attach = std::function<int32_t(ProbeModule&, mp::IMpUnknown*)>;
    const std::vector<Attach> views = {
        [](ProbeModule& m, mp::IMpUnknown* h) { return m.asPlugin2()->setHost(h); },
        [](ProbeModule& m, mp::IMpUnknown* h) { return m.asOldSchoolInitialisation()->setHost(h); },
        [](ProbeModule& m, mp::IMpUnknown* h) { return m.asLegacyInitialization()->setHost(h); },
    };
    for (const auto& attach : views) {
        host::ModuleHost moduleHost;
        moduleHost.setAnswerSecondary(true);
        {
            ProbeHandle probe;
            EXPECT_EQ(attach(*probe.module, &moduleHost), mp::kResultOk);
            // Both interfaces were asked for; the object reaches the host for sleep.
            EXPECT_EQ(moduleHost.heldReferences(), 2);
            probe.plugin->process(8, nullptr);
            EXPECT_EQ(moduleHost.sleepRequestCount(), 1);
        }
        // The secondary interface is kept but never released.
        EXPECT_EQ(moduleHost.releaseCount(), 1);
    }
}

// A host that refuses its own interface: setHost passes the refusal on.
class RefusingHost : public mp::IMpUnknown {
public:
    int32_t queryInterface(const mp::MpGuid*, void** object) override {
        *object = nullptr;
        return mp::kResultNoInterface;
    }
    int32_t addRef() override { return 1; }
    int32_t release() override { return 1; }
};

TEST(PluginObject, SetHostReturnsTheHostsAnswer) {
    ProbeHandle probe;
    RefusingHost refusing;
    EXPECT_EQ(probe.plugin->setHost(&refusing), mp::kResultNoInterface);
    probe.plugin->process(8, nullptr);  // no host interface: nothing is called
}

TEST(PluginObject, RepeatedSetHostReleasesTheReplacedHost) {
    host::ModuleHost first;
    host::ModuleHost second;
    ProbeHandle probe;
    probe.plugin->setHost(&first);
    probe.plugin->setHost(&second);
    EXPECT_EQ(first.heldReferences(), 0);
    EXPECT_EQ(second.heldReferences(), 1);
    probe.plugin->process(8, nullptr);
    EXPECT_EQ(first.sleepRequestCount(), 0);
    EXPECT_EQ(second.sleepRequestCount(), 1);
    // Attaching the same host again keeps exactly one reference.
    probe.plugin->setHost(&second);
    EXPECT_EQ(second.heldReferences(), 1);
}

TEST(PluginObject, SetBufferAcceptsOnlyRegisteredPins) {
    ProbeHandle probe;
    float buffer[4] = {};
    EXPECT_EQ(probe.plugin->setBuffer(0, buffer), mp::kResultOk);  // control pin: ignored
    EXPECT_EQ(probe.plugin->setBuffer(1, buffer), mp::kResultOk);
    EXPECT_EQ(probe.module->asPlugin()->setBuffer(2, buffer), mp::kResultOk);
    EXPECT_EQ(probe.plugin->setBuffer(3, buffer), mp::kResultFail);
    EXPECT_EQ(probe.plugin->setBuffer(-1, buffer), mp::kResultFail);
    EXPECT_EQ(probe.module->control.getValue(), 0.0f);
}

TEST(PluginObject, OpenAndProcessAreTheSameThroughBothVersions) {
    host::ModuleHost moduleHost;
    ProbeHandle probe;
    probe.plugin->setHost(&moduleHost);
    EXPECT_EQ(probe.module->asPlugin()->open(), 0);
    float in[8] = {}, out[8] = {};
    probe.plugin->setBuffer(1, in);
    probe.plugin->setBuffer(2, out);
    host::EventList events;
    events.streaming(0, 1, true);
    probe.module->asPlugin()->process(8, events.head());
    EXPECT_EQ(probe.module->runs, (std::vector<ProbeModule::Run>{{0, 8}}));
}

// auxiliaryCall: each version forwards to the other once, under a guard.
class AuxiliaryV2Module : public ProbeModule {
public:
    int calls = 0;

protected:
    int32_t auxiliaryCallV2(int32_t index, int32_t value, void*) override {
        ++calls;
        return index + value;
    }
};

class AuxiliaryV1Module : public ProbeModule {
public:
    int calls = 0;

protected:
    int32_t auxiliaryCallV1(int32_t index, int32_t value, void*) override {
        ++calls;
        return index * value;
    }
};

TEST(PluginObject, AuxiliaryCallWithoutOverrideAnswersZero) {
    ProbeHandle probe;
    EXPECT_EQ(probe.module->asPlugin()->auxiliaryCall(1, 2, nullptr), 0);
    EXPECT_EQ(probe.plugin->auxiliaryCall(1, 2, nullptr), 0);
}

TEST(PluginObject, AuxiliaryCallReachesAnOverrideOnceThroughEitherVersion) {
    auto* v2 = new AuxiliaryV2Module();
    EXPECT_EQ(v2->asPlugin()->auxiliaryCall(3, 4, nullptr), 7);
    EXPECT_EQ(v2->asPlugin2()->auxiliaryCall(3, 4, nullptr), 7);
    EXPECT_EQ(v2->calls, 2);
    v2->release();

    auto* v1 = new AuxiliaryV1Module();
    EXPECT_EQ(v1->asPlugin()->auxiliaryCall(3, 4, nullptr), 12);
    EXPECT_EQ(v1->asPlugin2()->auxiliaryCall(3, 4, nullptr), 12);
    EXPECT_EQ(v1->calls, 2);
    v1->release();
}

}  // namespace
}  // namespace framework_testing
