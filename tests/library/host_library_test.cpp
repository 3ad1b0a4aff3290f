// The host library: loading libraries with clear errors, counted pointers, event lists.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "abi/plugin_interfaces.h"
#include "host/com_ptr.h"
#include "host/elf_exports.h"
#include "host/event_list.h"
#include "host/module_host.h"
#include "host/module_library.h"

namespace {

std::string loadError(const std::string& path) {
    try {
        host::ModuleLibrary library(path);
    } catch (const host::LibraryError& error) {
        return error.what();
    }
    return "loaded";
}

TEST(ModuleLibrary, ExplainsWhyALibraryCannotBeUsed) {
    EXPECT_NE(loadError("/nonexistent/Dynamics.ovm").find("No such file"), std::string::npos);
    EXPECT_NE(loadError("/tmp").find("directory"), std::string::npos);

    const std::string text = testing::TempDir() + "not_a_library.ovm";
    std::ofstream(text) << "plain text\n";
    EXPECT_NE(loadError(text).find("not a loadable module library"), std::string::npos);
    std::remove(text.c_str());

    EXPECT_NE(loadError(NO_ENTRY_POINT_FIXTURE).find("does not export MP_GetFactory"), std::string::npos);
}

TEST(ElfExports, ListsDefinedExportsOnly) {
    const auto names = host::exportedSymbols(NO_ENTRY_POINT_FIXTURE);
    EXPECT_NE(std::find(names.begin(), names.end(), "fixtureAnswer"), names.end());
    // Imports such as the C library's are not exports.
    EXPECT_EQ(std::find(names.begin(), names.end(), "malloc"), names.end());
    EXPECT_THROW(host::exportedSymbols("/nonexistent"), std::runtime_error);
}

TEST(ComPtr, AddsAndReleasesReferencesInPairs) {
    host::ModuleHost counted;
    {
        auto adopted = host::ComPtr<mp::IMpHost>::adopt(&counted);  // takes no reference
        auto shared = host::ComPtr<mp::IMpHost>::share(&counted);   // takes one
        auto copy = shared;
        auto moved = std::move(copy);
        EXPECT_EQ(counted.addRefCount(), 2);
        auto unknown = shared.query<mp::IMpUnknown>(mp::kIidMpUnknown);
        EXPECT_EQ(counted.addRefCount(), 3);
        auto none = shared.query<mp::IMpUnknown>(mp::kIidMpPlugin);
        EXPECT_FALSE(none);
        adopted.detach();
    }
    EXPECT_EQ(counted.addRefCount(), 3);
    EXPECT_EQ(counted.releaseCount(), 3);
}

TEST(EventList, LinksRecordsInTheOrderAdded) {
    host::EventList events;
    EXPECT_EQ(events.head(), nullptr);
    const double external = 3.0;
    events.value(0, 1, 0.5f).streaming(2, 0, true).rawValue(3, 1, 8, &external, true).announceOutputs(4);
    const mp::EventRecord* record = events.head();
    std::vector<int32_t> types;
    for (; record != nullptr; record = record->next) types.push_back(record->type);
    EXPECT_EQ(types, (std::vector<int32_t>{100, 101, 100, 104}));
    const mp::EventRecord* first = events.head();
    float value;
    std::memcpy(&value, first->inlineData, 4);
    EXPECT_EQ(value, 0.5f);
    EXPECT_EQ(first->size, 4);
    EXPECT_EQ(first->data, nullptr);
    EXPECT_EQ(first->next->next->data, &external);
}

}  // namespace
