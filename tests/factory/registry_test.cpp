// The module registry's order and first-registration rule, and the factory's creating
// operations, with creators of the test's own.

#include <gtest/gtest.h>

#include <new>

#include "factory/module_registration.h"
#include "host/com_ptr.h"
#include "host/module_host.h"
#include "tests/framework/test_modules.h"

namespace framework_testing {
namespace {

mp::IMpPlugin2* createProbe() { return (new ProbeModule())->asPlugin2(); }
mp::IMpPlugin2* createOtherProbe() { return (new ProbeModule())->asPlugin2(); }
mp::IMpPlugin2* throwingCreator() { throw std::bad_alloc(); }

const mp::ModuleRegistration probeRegistration(u"Test Probe", createProbe);
const mp::ModuleRegistration duplicateRegistration(u"Test Probe", createOtherProbe);
const mp::ModuleRegistration typedRegistration(u"Test Probe", createOtherProbe, 3);
const mp::ModuleRegistration throwingRegistration(u"Test Throws", throwingCreator);
const mp::ModuleRegistration nullRegistration(u"Test Null", nullptr);

mp::MpFactory& factory() { return mp::MpFactory::instance(); }

TEST(ModuleRegistry, OrdersByTypeThenByCodeUnits) {
    mp::ModuleRegistry registry;
    for (const char16_t* id : {u"Orin Peak Hold", u"Orin Peak", u"orin a", u"Orin peak", u"\u00e9", u""})
        registry.add(0, id, createProbe);
    registry.add(-1, u"zzz", createProbe);
    std::vector<mp::RegistryKey> keys;
    for (const auto& [key, creator] : registry.entries()) keys.push_back(key);
    const std::vector<mp::RegistryKey> expected = {
        {-1, u"zzz"},      {0, u""},       {0, u"Orin Peak"}, {0, u"Orin Peak Hold"},
        {0, u"Orin peak"}, {0, u"orin a"}, {0, u"\u00e9"}};
    EXPECT_EQ(keys, expected);
}

TEST(ModuleRegistry, FirstRegistrationOfAKeyStays) {
    EXPECT_EQ(factory().registry().find(0, u"Test Probe"), &createProbe);
    EXPECT_EQ(factory().registry().find(3, u"Test Probe"), &createOtherProbe);
}

TEST(Factory, CreatesOnlyExactMatches) {
    for (const char16_t* id : {u"Test probe", u"Test Prob", u"Test Probe ", u""}) {
        void* object = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(factory().createInstance(id, 0, &object), mp::kResultNoInterface);
        EXPECT_EQ(object, nullptr);
    }
    void* object = nullptr;
    EXPECT_EQ(factory().createInstance(u"Test Probe", 1, &object), mp::kResultNoInterface);
    EXPECT_EQ(object, nullptr);
}

TEST(Factory, CreatesDistinctObjectsHoldingOneReference) {
    host::ComPtr<mp::IMpPlugin2> first, second;
    ASSERT_EQ(factory().createInstance(u"Test Probe", 0, first.put()), mp::kResultOk);
    ASSERT_EQ(factory().createInstance(u"Test Probe", 0, second.put()), mp::kResultOk);
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(first->addRef(), 2);
    first->release();
}

TEST(Factory, ThrowingOrMissingCreatorFailsWithNull) {
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory().createInstance(u"Test Throws", 0, &object), mp::kResultFail);
    EXPECT_EQ(object, nullptr);
    host::ModuleHost moduleHost;
    object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory().createInstanceWithHost(u"Test Throws", 0, &moduleHost, &object), mp::kResultFail);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory().createInstance(u"Test Null", 0, &object), mp::kResultNoInterface);
    EXPECT_EQ(moduleHost.addRefCount(), 0);
}

TEST(Factory, CreateWithHostAttachesTheHost) {
    host::ModuleHost moduleHost;
    {
        host::ComPtr<mp::IMpPlugin2> object;
        ASSERT_EQ(factory().createInstanceWithHost(u"Test Probe", 0, &moduleHost, object.put()),
                  mp::kResultOk);
        EXPECT_EQ(moduleHost.heldReferences(), 1);
        object->process(4, nullptr);
        EXPECT_EQ(moduleHost.sleepRequestCount(), 1);
        EXPECT_EQ(object->addRef(), 2);  // the cast added no reference
        object->release();
    }
    EXPECT_EQ(moduleHost.heldReferences(), 0);
}

}  // namespace
}  // namespace framework_testing
