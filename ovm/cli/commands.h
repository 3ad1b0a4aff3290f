#pragma once

#include <CLI/CLI.hpp>

namespace ovm::cli {

// Each command adds its subcommand and options; the callback runs when it is chosen and
// throws ovm::Error on failure.
void addListCommand(CLI::App& app);
void addInfoCommand(CLI::App& app);
void addRunCommand(CLI::App& app);
void addDemoCommand(CLI::App& app);
void addValidateCommand(CLI::App& app);
void addLiveCommand(CLI::App& app);

// --version: ovm's version, the compiler that built it and the bundled library's build text.
void addVersionFlag(CLI::App& app);
// --bash-completion (hidden): prints the bash completion for every command and option of
// `app` as it stands when the command line is parsed, those added after this call included.
void addBashCompletionFlag(CLI::App& app);

// The library used when a command names none: the Dynamics.ovm that ovm ships with.
std::string defaultLibraryPath();

}  // namespace ovm::cli
