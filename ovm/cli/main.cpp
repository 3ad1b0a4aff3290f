// ovm: a command-line host for module libraries. Lists their modules, runs patches of
// modules over audio files, and shows a look-ahead limiter at work with `ovm demo`.

#include <cstdio>

#include "ovm/cli/commands.h"
#include "ovm/core/errors.h"

int main(int argc, char** argv) {
    CLI::App app{"ovm: runs patches of audio modules from module libraries over audio files"};
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 success, 1 internal error, 2 usage, 3 input audio, 4 module library,\n"
        "5 patch, 6 output, 7 a checked promise failed. 'ovm COMMAND --help' tells more.\n");
    ovm::cli::addListCommand(app);
    ovm::cli::addInfoCommand(app);
    ovm::cli::addRunCommand(app);
    ovm::cli::addDemoCommand(app);
    ovm::cli::addValidateCommand(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
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
