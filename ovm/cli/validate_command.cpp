// ovm validate LIB: the conformance battery for a module library.

#include <charconv>
#include <cstdio>

#include "ovm/cli/commands.h"
#include "engine/errors.h"
#include "validate/harness.h"
#include "validate/report.h"

namespace ovm::cli {

namespace {

struct ValidateOptions {
    validate::Options battery;
    std::string reproduce;  // digits only: a number type would take "-1" and wrap it
    bool json = false;
    bool listChecks = false;
};

void listChecks() {
    for (const validate::Check& check : validate::battery())
        std::printf("%-24s %-6s %s from strictness %d%s\n", check.name.c_str(),
                    validate::statusName(validate::statusFor(check.severity)),
                    check.perModule ? "per module," : "per library,", check.minStrictness,
                    check.random ? ", seeded" : "");
}

uint64_t seedFrom(const std::string& text) {
    uint64_t seed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seed);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        throw usageError("--reproduce '" + text +
                         "': a seed is a whole number from 0 up, as a run printed it");
    return seed;
}

void runValidation(ValidateOptions& options, bool reproduceGiven) {
    if (options.listChecks) return listChecks();
    if (reproduceGiven) options.battery.reproduce = seedFrom(options.reproduce);
    const validate::Report report = validate::validateLibrary(options.battery);
    std::fputs((options.json ? validate::formatJson(report) : validate::formatTable(report)).c_str(), stdout);
    std::fflush(stdout);
    if (report.failed()) throw Error(ExitCode::check, "the library failed validation");
}

}  // namespace

void addValidateCommand(CLI::App& app) {
    auto options = std::make_shared<ValidateOptions>();
    options->battery.libraryPath = defaultLibraryPath();
    CLI::App* command = app.add_subcommand(
        "validate",
        "Check that a module library keeps the binary interface's promises (exit 7 when it does not)");
    command->add_option("LIB", options->battery.libraryPath,
                        "Module library (default: the Dynamics.ovm ovm ships with)");
    command->add_option("--strictness", options->battery.strictness, "1 (quick) to 10 (thorough); default 5")
        ->check(CLI::Range(1, 10));
    CLI::Option* reproduce = command->add_option("--reproduce", options->reproduce,
                                                 "Replay the random checks of an earlier run by its seed");
    // One pattern per occurrence, so that a library named after the patterns is not taken
    // for one more of them.
    command
        ->add_option("--include", options->battery.include,
                     "Run only checks matching this pattern (e.g. 'process.*'; repeatable)")
        ->allow_extra_args(false);
    command
        ->add_option("--exclude", options->battery.exclude, "Skip checks matching this pattern (repeatable)")
        ->allow_extra_args(false);
    command->add_option("--timeout", options->battery.timeoutSeconds,
                        "Seconds one check may take before it counts as hung (0.1 to 86400; default 60)");
    command->add_flag("--json", options->json, "Print JSON for machines");
    command->add_flag("--list-checks", options->listChecks, "List the checks and stop");
    command->callback([options, reproduce] { runValidation(*options, reproduce->count() > 0); });
}

}  // namespace ovm::cli
