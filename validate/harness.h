#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "validate/check.h"

namespace ovm::validate {

// The range --timeout takes, in seconds.
constexpr double kShortestTimeout = 0.1;
constexpr double kLongestTimeout = 86400;

struct Options {
    std::string libraryPath;
    int strictness = 5;
    std::optional<uint64_t> reproduce;  // the seed of an earlier run; else a fresh one
    std::vector<std::string> include;   // shell patterns on check names; empty: all
    std::vector<std::string> exclude;
    double timeoutSeconds = 60;  // per check
};

struct Result {
    std::string check;
    std::string module;  // empty for library checks
    Status status = Status::pass;
    std::vector<std::string> messages;
    bool random = false;
};

struct Report {
    std::string libraryPath;
    std::string descriptionPath;
    std::vector<std::string> modules;      // identifiers
    std::vector<std::string> moduleNames;  // short names, for the table
    uint64_t seed = 0;
    int strictness = 5;
    std::vector<Result> results;

    // A FAIL, a crash or a hang.
    bool failed() const;
};

bool selected(const Options& options, const Check& check);

// Runs the battery: the library checks, then each module's checks, each group in a child
// process that is watched for crashes and hangs (a crashed or hung check is reported and
// the group carries on in a fresh child from the next check). Throws ovm::Error of the
// usage class for a timeout out of range, a pattern that matches no check or a selection
// of none, and of the library class when the library is missing, its description cannot
// be read, or it cannot be loaded (also when loading hangs or crashes) in a child first.
Report validateLibrary(const Options& options);

}  // namespace ovm::validate
