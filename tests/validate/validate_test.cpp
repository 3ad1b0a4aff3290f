// ovm validate against the shipped library and against fixtures that each break one promise.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/ovm/ovm_runner.h"

namespace {

using ovm_testing::runOvm;

std::string fixture(const std::string& name) { return std::string(FIXTURE_DIR) + "/" + name + ".ovm"; }

struct Validation {
    int exitCode;
    nlohmann::json report;
    std::string err;
};

Validation validate(const std::string& library, std::vector<std::string> options = {}) {
    std::vector<std::string> arguments = {"validate", library, "--json"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const auto result = runOvm(arguments);
    nlohmann::json report;
    if (!result.out.empty()) report = nlohmann::json::parse(result.out, nullptr, false);
    return {result.exitCode, report, result.err};
}

// The status of one check for the fixture's module, or "" when it did not run.
std::string statusOf(const nlohmann::json& report, const std::string& check) {
    for (const auto& result : report["results"])
        if (result["check"] == check) return result["status"];
    return "";
}

TEST(Validate, PassesTheShippedLibraryAndTheSoundFixture) {
    for (const std::string& library : {std::string(DYNAMICS_LIBRARY), fixture("sound")}) {
        const Validation v = validate(library, {"--strictness", "2"});
        EXPECT_EQ(v.exitCode, 0) << library << "\n" << v.report.dump(2) << v.err;
        EXPECT_EQ(v.report["passed"], true);
    }
}

struct Fault {
    const char* fixture;
    const char* check;
    const char* status;
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.fixture << " -> " << fault.check; }

class FaultyFixture : public testing::TestWithParam<Fault> {};

TEST_P(FaultyFixture, FailsWithTheCheckThatCatchesIt) {
    const Fault fault = GetParam();
#ifdef SANITIZER_BUILD
    if (std::string(fault.check) == "realtime.process")
        GTEST_SKIP() << "no allocation tracking under sanitizers";
#endif
    const Validation v = validate(fixture(fault.fixture), {"--timeout", "20"});
    EXPECT_EQ(v.exitCode, 7) << v.err;
    EXPECT_EQ(v.report["passed"], false);
    EXPECT_EQ(statusOf(v.report, fault.check), fault.status) << v.report.dump(2);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FaultyFixture,
                         testing::Values(Fault{"past_block", "process.canaries", "FAIL"},
                                         Fault{"allocates", "realtime.process", "FAIL"},
                                         Fault{"leaks_reference", "object.refcount", "FAIL"},
                                         Fault{"unwritten", "process.written", "FAIL"},
                                         Fault{"static_lie", "process.static-held", "FAIL"},
                                         Fault{"extra_symbol", "library.exports", "FAIL"},
                                         Fault{"crash_on_value", "sweep.control-values", "CRASH"}),
                         [](const auto& info) {
                             return std::string(info.param.fixture) + "_" + std::to_string(info.index);
                         });

// A hanging check is killed at the timeout and reported; the battery goes on after it.
TEST(Validate, ReportsAHangAndCarriesOn) {
    const Validation v = validate(
        fixture("hangs"), {"--timeout", "2", "--include", "sweep.control-values", "--include", "sleep.*"});
    EXPECT_EQ(v.exitCode, 7) << v.err;
    EXPECT_EQ(statusOf(v.report, "sweep.control-values"), "HANG");
    EXPECT_EQ(statusOf(v.report, "sleep.requests"), "pass");
}

TEST(Validate, FiltersAndReplaysBySeed) {
    const Validation first = validate(
        fixture("sound"), {"--include", "process.*", "--exclude", "process.finite", "--reproduce", "1234"});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.report["seed"], 1234);
    EXPECT_EQ(statusOf(first.report, "process.written"), "pass");
    EXPECT_EQ(statusOf(first.report, "process.finite"), "");
    EXPECT_EQ(statusOf(first.report, "library.load"), "");
    EXPECT_EQ(validate(fixture("sound"), {"--strictness", "11"}).exitCode, 2);
}

}  // namespace
