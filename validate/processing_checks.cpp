// The contracts every process() call keeps, each checked after every call of one run of a
// random programme in random blocks.

#include <map>
#include <memory>

#include "validate/check.h"
#include "validate/subject.h"

namespace ovm::validate {

namespace {

// One run per module and seed serves all contract checks.
const ProgrammeRun& standardRun(CheckContext& context) {
    static std::map<std::pair<std::string, uint64_t>, ProgrammeRun> runs;
    const auto key = std::make_pair(context.module->id, context.seed);
    auto found = runs.find(key);
    if (found == runs.end()) {
        const Programme programme = makeProgramme(*context.module, context.seed, context.scaled(20000));
        found = runs.emplace(key, runProgramme(*context.factory, *context.module, programme,
                                               randomBlocks(context.seed, 4096)))
                    .first;
    }
    return found->second;
}

template <const char* contract>
void checkContract(CheckContext& context) {
    for (const Violation& v : standardRun(context).violations)
        if (v.contract == contract || v.contract == std::string("create")) context.problem(v.message);
}

constexpr char kWritten[] = "written";
constexpr char kCanaries[] = "canaries";
constexpr char kInputs[] = "inputs";
constexpr char kFinite[] = "finite";
constexpr char kSubnormal[] = "subnormal";
constexpr char kStatic[] = "static";
constexpr char kReports[] = "reports";

}  // namespace

void addProcessingChecks(std::vector<Check>& checks) {
    checks.push_back({.name = "process.written", .random = true, .run = checkContract<kWritten>});
    checks.push_back({.name = "process.canaries", .random = true, .run = checkContract<kCanaries>});
    checks.push_back({.name = "process.inputs", .random = true, .run = checkContract<kInputs>});
    checks.push_back({.name = "process.finite", .random = true, .run = checkContract<kFinite>});
    // Subnormal samples are legal floats, but slow down whatever comes after on many CPUs.
    checks.push_back({.name = "process.subnormal",
                      .severity = Severity::warn,
                      .random = true,
                      .run = checkContract<kSubnormal>});
    checks.push_back({.name = "process.static-held", .random = true, .run = checkContract<kStatic>});
    checks.push_back({.name = "process.reports", .random = true, .run = checkContract<kReports>});
}

}  // namespace ovm::validate
