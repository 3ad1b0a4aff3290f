// The contracts every process() call keeps, each checked after every call of one run of a
// random programme in random blocks.

#include <map>
#include <memory>

#include "ovm/validate/check.h"
#include "ovm/validate/subject.h"

namespace ovm::validate {

namespace {

// One run per module and seed serves all contract checks.
const RunResult& standardRun(CheckContext& context) {
    static std::map<std::pair<std::string, uint64_t>, RunResult> runs;
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
    checks.push_back({"process.written", Severity::fail, true, true, 1, checkContract<kWritten>});
    checks.push_back({"process.canaries", Severity::fail, true, true, 1, checkContract<kCanaries>});
    checks.push_back({"process.inputs", Severity::fail, true, true, 1, checkContract<kInputs>});
    checks.push_back({"process.finite", Severity::fail, true, true, 1, checkContract<kFinite>});
    // Subnormal samples are legal floats, but slow down whatever comes after on many CPUs.
    checks.push_back({"process.subnormal", Severity::warn, true, true, 1, checkContract<kSubnormal>});
    checks.push_back({"process.static-held", Severity::fail, true, true, 1, checkContract<kStatic>});
    checks.push_back({"process.reports", Severity::fail, true, true, 1, checkContract<kReports>});
}

}  // namespace ovm::validate
