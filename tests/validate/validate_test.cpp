// ovm validate against the shipped library and against fixtures that each break one promise.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
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

struct Refusal {
    std::string name;
    std::vector<std::string> arguments;  // after "validate"
    int exitCode;
    std::string message;
};

void PrintTo(const Refusal& r, std::ostream* out) { *out << r.name; }

class ValidateRefusal : public testing::TestWithParam<Refusal> {};

// Stands for a file that is not a library, with a sound description beside it.
const std::string kJunk = "JUNK";

std::string junkLibrary() {
    const std::string folder = ovm_testing::freshFolder("junk-library");
    ovm_testing::writeText(folder + "/junk.ovm", "not a library\n");
    ovm_testing::writeText(folder + "/junk.toml",
                           ovm_testing::readText(std::string(FIXTURE_DIR) + "/sound.toml"));
    return folder + "/junk.ovm";
}

// A command line that cannot validate what it names says so in one line, quickly, instead
// of passing, failing every check, or validating another library.
TEST_P(ValidateRefusal, SaysWhyInOneLine) {
    const Refusal& r = GetParam();
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::string> arguments = {"validate"};
    for (const std::string& argument : r.arguments)
        arguments.push_back(argument == kJunk ? junkLibrary() : argument);
    const auto result = runOvm(arguments);
    EXPECT_EQ(result.exitCode, r.exitCode) << result.out << result.err;
    EXPECT_NE(result.err.find(r.message), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(result.out.find("PASSED"), std::string::npos) << result.out;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

// Cases that ran checks on the old code are narrowed to one check, so that they end soon.
const std::vector<std::string> kOneCheck = {"--strictness", "1", "--include", "library.load"};

std::vector<std::string> withOneCheck(std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), kOneCheck.begin(), kOneCheck.end());
    return arguments;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValidateRefusal,
    testing::Values(
        Refusal{"include_matching_nothing", {"--include", "x*"}, 2, "--include 'x*' matches no check"},
        Refusal{"exclude_everything", {"--exclude", "*"}, 2, "no check is left to run"},
        Refusal{"pattern_swallowing_the_library",
                {"--strictness", "1", "--include", "library.load", "--exclude", "library.exports",
                 "/nonexistent/Lib.ovm"},
                4,
                "'/nonexistent/Lib.ovm': no such file"},
        Refusal{"missing_library", {"/nonexistent/Lib.ovm"}, 4, "'/nonexistent/Lib.ovm': no such file"},
        Refusal{"timeout_zero", withOneCheck({"--timeout", "0"}), 2, "--timeout"},
        Refusal{"timeout_nan", withOneCheck({"--timeout", "nan"}), 2, "--timeout"},
        Refusal{"negative_seed", withOneCheck({"--reproduce", "-1"}), 2, "--reproduce"},
        Refusal{"unloadable_library", {kJunk}, 4, "is not a loadable module library"},
        Refusal{"library_hanging_while_loading",
                {fixture("hangs_on_load"), "--timeout", "1"},
                4,
                "did not finish loading within 1 s"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
