#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "abi/factory_interfaces.h"
#include "engine/module_description.h"

namespace ovm::validate {

enum class Severity { fail, warn, note };

// What one check found for one module (or for the library as a whole).
enum class Status { pass, fail, warn, note, crash, timeout, skipped };

const char* statusName(Status status);
Status statusFor(Severity severity);

// Everything a check may use. A check reports what it finds with problem() (counted at the
// check's severity) or note() (never fails), and leaves the rest to the harness.
struct CheckContext {
    std::string libraryPath;
    const LibraryDescription* description = nullptr;
    const ModuleDescription* module = nullptr;  // null for library checks
    mp::IMpFactory2* factory = nullptr;
    int strictness = 5;
    uint64_t seed = 0;  // the run's seed mixed with the module identifier

    std::vector<std::string> problems;
    std::vector<std::string> notes;

    void problem(std::string message);
    void note(std::string message) { notes.push_back(std::move(message)); }
    // Scales a count of iterations with the strictness (5 gives base).
    int scaled(int base) const;
};

// The tables name only what differs from the usual check: one that fails the module, runs
// once per module, uses no seed and runs at every strictness.
struct Check {
    std::string name;
    Severity severity = Severity::fail;
    bool perModule = true;  // run once per described module, else once per library
    bool random = false;    // uses the seed, which the report prints
    int minStrictness = 1;  // run from this strictness on
    void (*run)(CheckContext& context) = nullptr;
};

// The whole battery, in running order.
const std::vector<Check>& battery();

// Groups of checks, one file each.
void addLibraryChecks(std::vector<Check>& checks);
void addObjectChecks(std::vector<Check>& checks);
void addProcessingChecks(std::vector<Check>& checks);
void addSweepChecks(std::vector<Check>& checks);
void addBehaviourChecks(std::vector<Check>& checks);
void addRealtimeChecks(std::vector<Check>& checks);

}  // namespace ovm::validate
