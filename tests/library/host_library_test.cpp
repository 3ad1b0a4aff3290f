// The host library: loading libraries with clear errors, counted pointers, event lists.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "abi/plugin_interfaces.h"
#include "host/com_ptr.h"
#include "host/library_exports.h"
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

// What the system says of a missing folder and of a file that is no library: on Windows the
// code GetLastError gave comes with its text.
#ifdef _WIN32
constexpr const char* kMissingFolder = "(error 3)";     // ERROR_PATH_NOT_FOUND
constexpr const char* kNotALibrary = "(error 193)";     // ERROR_BAD_EXE_FORMAT
#else
constexpr const char* kMissingFolder = "No such file";  // ENOENT
constexpr const char* kNotALibrary = "file too short";
#endif

TEST(ModuleLibrary, ExplainsWhyALibraryCannotBeUsed) {
    EXPECT_NE(loadError("/nonexistent/Dynamics.ovm").find(kMissingFolder), std::string::npos);
    EXPECT_NE(loadError(testing::TempDir()).find("directory"), std::string::npos);

    const std::string text = testing::TempDir() + "not_a_library.ovm";
    std::ofstream(text) << "plain text\n";
    const std::string notALibrary = loadError(text);
    EXPECT_NE(notALibrary.find("not a loadable module library"), std::string::npos);
    EXPECT_NE(notALibrary.find(kNotALibrary), std::string::npos) << notALibrary;
    std::remove(text.c_str());

    EXPECT_NE(loadError(NO_ENTRY_POINT_FIXTURE).find("does not export MP_GetFactory"), std::string::npos);
}

// Paths are UTF-8 on every system: on Windows they reach the loader as UTF-16, so a name
// outside the user's code page loads as well.
TEST(ModuleLibrary, LoadsFromAPathWithCharactersBeyondAscii) {
    const std::u8string name = u8"Dyn\u00e4mics \u0394\u4e2d.ovm";
    const std::filesystem::path copy = std::filesystem::path(testing::TempDir()) / name;
    std::filesystem::copy_file(DYNAMICS_LIBRARY_PATH, copy, std::filesystem::copy_options::overwrite_existing);
    const std::u8string utf8 = copy.u8string();
    {
        host::ModuleLibrary library(std::string(utf8.begin(), utf8.end()));
        EXPECT_TRUE(library.factory());
    }
    std::filesystem::remove(copy);
}

TEST(LibraryExports, ListsDefinedExportsOnly) {
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
