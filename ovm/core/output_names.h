#pragma once

#include <optional>
#include <string>

#include "ovm/core/output_format.h"

namespace ovm {

// Where a run of many inputs writes each one's output.
struct OutputNaming {
    // A name with {stem} (the input's name without its extension), {name} (with it) and
    // {ext} (the extension without its dot), e.g. "{stem}-limited.flac".
    std::optional<std::string> pattern;
    // The folder the outputs go to (relative patterns are taken inside it).
    std::optional<std::string> folder;
    // Without a pattern the output keeps the input's name, with this format's extension.
    std::optional<Container> format;
};

// The output's path for an input. Throws ovm::Error (usage class) for a placeholder it
// does not know; that the names differ is checked with the run's files (run_files.h).
std::string outputNameFor(const std::string& input, const OutputNaming& naming);

// `pattern` with the input's {stem}, {name} and {ext}, as for outputs (for plots and
// reports of many inputs). Throws like outputNameFor.
std::string expandPattern(const std::string& pattern, const std::string& input);

}  // namespace ovm
