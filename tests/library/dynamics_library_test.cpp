// The built Dynamics.ovm as a host sees it: its one export and its factory.

#include "tests/support/dynamics_library.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "host/library_exports.h"

namespace {

using testing_support::dynamicsFactory;
using testing_support::dynamicsLibrary;

TEST(DynamicsLibrary, ExportsOnlyTheEntryPoint) {
    EXPECT_EQ(host::exportedSymbols(DYNAMICS_LIBRARY_PATH), std::vector<std::string>{"MP_GetFactory"});
}

TEST(DynamicsLibrary, EntryPointHandsOutTheSameFactoryEveryTime) {
    void* first = nullptr;
    void* second = nullptr;
    EXPECT_EQ(dynamicsLibrary().entryPoint()(&first), mp::kResultOk);
    EXPECT_EQ(dynamicsLibrary().entryPoint()(&second), mp::kResultOk);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(first, second);
}

TEST(DynamicsLibrary, FactoryIsNeverDestroyedByRelease) {
    auto& factory = dynamicsFactory();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(factory.release(), 1);
    EXPECT_EQ(factory.addRef(), 1);
    int32_t version = 0;
    EXPECT_EQ(factory.getSdkInfo(&version, 0, nullptr), mp::kResultOk);
    EXPECT_EQ(version, 30800);
}

TEST(DynamicsLibrary, SdkInfoNeverWritesPastAShortBuffer) {
    for (int32_t capacity : {-5, 0, 1, 5, 27}) {
        char16_t text[40];
        std::fill(std::begin(text), std::end(text), u'#');
        dynamicsFactory().getSdkInfo(nullptr, capacity, text + 1);
        EXPECT_EQ(text[0], u'#');
        const int32_t written = std::max(capacity, 0);
        for (int i = 1 + written; i < 40; ++i) ASSERT_EQ(text[i], u'#') << "capacity " << capacity;
        // What fits is a cut, zero-terminated text.
        if (capacity > 0) {
            EXPECT_EQ(text[capacity], u'\0');
            EXPECT_EQ(std::u16string(text + 1), std::u16string(u"MS Compiler V1934 (Release)", capacity - 1));
        }
    }
}

TEST(DynamicsLibrary, UnknownModulesAreRefusedWithNull) {
    for (const char16_t* id : {u"Orin PEAK", u"Orin Pea", u"Orin Peak ", u"", u"orin peak hold"}) {
        void* object = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(dynamicsFactory().createInstance(id, 0, &object), mp::kResultNoInterface);
        EXPECT_EQ(object, nullptr);
    }
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(dynamicsFactory().createInstance(u"Orin Peak", 1, &object), mp::kResultNoInterface);
    EXPECT_EQ(object, nullptr);
}

}  // namespace
