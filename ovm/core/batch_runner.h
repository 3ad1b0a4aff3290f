#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/errors.h"
#include "ovm/core/patch_runner.h"

namespace ovm {

// The most runs a batch runs at once: each holds an engine, a library and its files.
inline constexpr int kMaxJobs = 64;

// One input of a batch and how its run ended.
struct BatchOutcome {
    std::string input;
    std::string output;
    std::optional<RunResult> result;  // set when the audio was written (even if a check failed)
    ExitCode code = ExitCode::ok;
    std::string message;  // the failure, when there was one
};

// Runs the same patch over several inputs, each with its own options (its input, output,
// plot and report), on `jobs` threads (at most kMaxJobs) with one engine each. Before any run, the outputs
// must be files of their own and none an input (a usage error otherwise, and nothing
// runs). A run that fails is reported on standard error, prefixed with its input, and the
// others go on; the ceiling is checked on each. The progress bar (when `progress`) counts
// seconds of input over all files.
std::vector<BatchOutcome> runBatch(const std::vector<RunOptions>& runs, int jobs, bool progress);

// The exit status of a batch: an internal error above all, else the highest of the
// failures' statuses (7, a broken promise, above 6, an output, and so on), 0 when all
// succeeded.
ExitCode worstExitCode(const std::vector<BatchOutcome>& outcomes);

// One line per input: its name, what became of it ("ok", or the exit status and the
// message's start), its output, the output's true peak and the real-time factor.
std::string batchTable(const std::vector<BatchOutcome>& outcomes);

}  // namespace ovm
