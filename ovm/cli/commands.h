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

// The library used when a command names none: the Dynamics.ovm that ovm ships with.
std::string defaultLibraryPath();

}  // namespace ovm::cli
