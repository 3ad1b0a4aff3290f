// ovm: a command-line host for module libraries. Lists their modules, runs patches of
// modules over audio files, and shows a look-ahead limiter at work with `ovm demo`.

#include <cstdio>
#include <optional>
#include <string>

#include "ovm/cli/commands.h"
#include "engine/errors.h"

namespace {

// The first argument when it is meant as a command but names none: CLI11 would only say
// that a command is missing.
std::optional<std::string> unknownCommand(const CLI::App& app, int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') return std::nullopt;
    for (const CLI::App* command : app.get_subcommands(std::function<bool(const CLI::App*)>()))
        if (command->check_name(argv[1])) return std::nullopt;
    return std::string(argv[1]);
}

std::string commandNames(const CLI::App& app) {
    std::string names;
    for (const CLI::App* command : app.get_subcommands(std::function<bool(const CLI::App*)>()))
        names += (names.empty() ? "" : ", ") + command->get_name();
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"ovm: runs patches of audio modules from module libraries over audio files"};
    app.require_subcommand(1);
    ovm::cli::addVersionFlag(app);
    app.footer(
        "Exit status: 0 success, 1 internal error, 2 usage, 3 input audio, 4 module library,\n"
        "5 patch, 6 output, 7 a checked promise failed, 8 audio server, 9 xrun.\n"
        "'ovm COMMAND --help' tells more.\n");
    ovm::cli::addListCommand(app);
    ovm::cli::addInfoCommand(app);
    ovm::cli::addRunCommand(app);
    ovm::cli::addDemoCommand(app);
    ovm::cli::addValidateCommand(app);
    ovm::cli::addLiveCommand(app);
    ovm::cli::addBashCompletionFlag(app);
    if (const auto command = unknownCommand(app, argc, argv)) {
        const std::string message = "unknown command '" + *command + "' (the commands are " +
                                    commandNames(app) + "; 'ovm --help' tells more)";
        std::fprintf(stderr, "ovm: %s\n", ovm::withLongPartsCut(message).c_str());
        return int(ovm::ExitCode::usage);
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::Success&) {
        return 0;
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return int(ovm::ExitCode::usage);
    } catch (const ovm::Error& error) {
        std::fprintf(stderr, "ovm: %s\n", error.what());
        return int(error.code());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ovm: internal error: %s\n", error.what());
        return int(ovm::ExitCode::internal);
    }
    return 0;
}
