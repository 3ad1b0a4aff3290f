#include "validate/check.h"

#include <algorithm>

namespace ovm::validate {

const char* statusName(Status status) {
    switch (status) {
        case Status::pass:
            return "pass";
        case Status::fail:
            return "FAIL";
        case Status::warn:
            return "WARN";
        case Status::note:
            return "NOTE";
        case Status::crash:
            return "CRASH";
        case Status::timeout:
            return "HANG";
        case Status::skipped:
            return "skip";
    }
    return "?";
}

Status statusFor(Severity severity) {
    switch (severity) {
        case Severity::fail:
            return Status::fail;
        case Severity::warn:
            return Status::warn;
        case Severity::note:
            return Status::note;
    }
    return Status::fail;
}

void CheckContext::problem(std::string message) {
    // A broken module can break a contract on every call: the first few tell the story.
    if (problems.size() < 8) problems.push_back(std::move(message));
}

int CheckContext::scaled(int base) const { return std::max(1, base * strictness / 5); }

const std::vector<Check>& battery() {
    static const std::vector<Check> checks = [] {
        std::vector<Check> all;
        addLibraryChecks(all);
        addObjectChecks(all);
        addProcessingChecks(all);
        addSweepChecks(all);
        addBehaviourChecks(all);
        addRealtimeChecks(all);
        return all;
    }();
    return checks;
}

}  // namespace ovm::validate
