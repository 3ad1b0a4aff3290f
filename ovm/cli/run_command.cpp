// ovm run PATCH IN OUT: a patch of modules over an audio file.

#include "ovm/cli/commands.h"
#include "ovm/core/audio_file.h"
#include "ovm/core/errors.h"
#include "ovm/core/patch_runner.h"

namespace ovm::cli {

namespace {

struct RunCommandOptions {
    RunOptions run;
    std::vector<std::string> sets;
    bool noProgress = false;
};

void runCommand(RunCommandOptions& options) {
    for (const std::string& set : options.sets) options.run.overrides.push_back(parseValueOverride(set));
    if (options.run.blockSize && (*options.run.blockSize < 1 || *options.run.blockSize > 65536))
        throw usageError("--block-size must be between 1 and 65536");
    options.run.progress = !options.noProgress;
    const RunResult result = runPatch(options.run);
    for (const std::string& warning : result.warnings)
        std::fprintf(stderr, "ovm: warning: %s\n", warning.c_str());
    checkCeiling(result, options.run.outputPath);
}

}  // namespace

void addRunCommand(CLI::App& app) {
    auto options = std::make_shared<RunCommandOptions>();
    CLI::App* run = app.add_subcommand("run", "Run a patch over an audio file into a 32-bit float WAV file");
    run->add_option("PATCH", options->run.patchPath, "Patch file (TOML)")->required();
    run->add_option("IN", options->run.inputPath, "Input audio file (any format libsndfile reads)")
        ->required();
    run->add_option("OUT", options->run.outputPath, "Output WAV file (32-bit float)")->required();
    run->add_option("--set,-s", options->sets,
                    "Set a value: node.pin=value, or at a time: node.pin=value@2.5s (repeatable)");
    run->add_option("--block-size,-b", options->run.blockSize,
                    "Samples per block (default: the patch's, else 64)");
    run->add_option("--sample-rate", options->run.sampleRate, "Sample rate for inputs that carry none");
    run->add_option("--tail", options->run.tail,
                    "Silence appended to flush held and smoothed signals (e.g. 50ms)");
    run->add_option("--plot", options->run.plotPath,
                    "Write a PNG of input, output and gain levels over time");
    run->add_option("--library", options->run.libraryPath,
                    "Module library to load instead of looking up the one the patch names");
    run->add_option("--report", options->run.reportPath,
                    "Write a JSON report to this file ('-' for standard output)");
    run->add_flag("--overwrite", options->run.overwrite, "Replace existing output, plot and report files");
    run->add_flag("--no-progress", options->noProgress, "No progress bar on standard error");
    run->callback([options] {
        options->run.plotTitle = options->run.patchPath + " on " + options->run.inputPath;
        runCommand(*options);
    });
}

}  // namespace ovm::cli
