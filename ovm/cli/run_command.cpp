// ovm run PATCH IN OUT: a patch of modules over an audio file.

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "engine/engine_defaults.h"
#include "engine/errors.h"
#include "ovm/cli/commands.h"
#include "ovm/core/audio_file.h"
#include "ovm/core/level_summary.h"
#include "ovm/core/patch_runner.h"
#include "ovm/core/value_override_parser.h"

namespace ovm::cli {

namespace {

struct RunCommandOptions {
    RunOptions run;
    std::vector<std::string> sets;
    bool noProgress = false;
};

// Until the format follows the extension, the output is WAV whatever its name: a name that
// promises another format is refused rather than filled with WAV bytes. A name without an
// extension (a device, say) is taken as it is.
void checkOutputFormat(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (!extension.empty() && extension != ".wav" && extension != ".wave")
        throw usageError("output '" + path +
                         "': ovm writes WAV files only; name it .wav (or give no extension)");
}

void checkSampleRate(const std::optional<double>& rate) {
    if (rate && !(*rate >= 1 && *rate <= 10e6))
        throw usageError("--sample-rate must be between 1 and 10000000 (Hz)");
}

// Names without their folders: a long path would crowd the title out of the picture.
std::string plotTitle(const RunOptions& run) {
    const auto name = [](const std::string& path) { return std::filesystem::path(path).filename().string(); };
    return name(run.outputPath) + ": " + name(run.patchPath) + " on " + name(run.inputPath);
}

void runCommand(RunCommandOptions& options) {
    checkOutputFormat(options.run.outputPath);
    checkSampleRate(options.run.sampleRate);
    for (const std::string& set : options.sets) options.run.overrides.push_back(parseValueOverride(set));
    if (options.run.blockSize && (*options.run.blockSize < 1 || *options.run.blockSize > kMaxBlockSize))
        throw usageError("--block-size must be between 1 and " + std::to_string(kMaxBlockSize));
    options.run.progress = !options.noProgress;
    const RunResult result = runPatch(options.run);
    // A report on standard output keeps it to JSON; the summary then goes to standard error.
    const bool reportOnStdout = options.run.reportPath && *options.run.reportPath == "-";
    std::fputs(levelSummary(result).c_str(), reportOnStdout ? stderr : stdout);
    checkCeiling(result, options.run.outputPath);
}

}  // namespace

void addRunCommand(CLI::App& app) {
    auto options = std::make_shared<RunCommandOptions>();
    CLI::App* run = app.add_subcommand("run", "Run a patch over an audio file into a 32-bit float WAV file");
    run->add_option("PATCH", options->run.patchPath, "Patch file (TOML)")->required();
    run->add_option("IN", options->run.inputPath, "Input audio file (any format libsndfile reads)")
        ->required();
    run->add_option("OUT", options->run.outputPath,
                    "Output WAV file (32-bit float; .wav, .wave or no extension)")
        ->required();
    run->add_option("--set,-s", options->sets,
                    "Set a value: node.pin=value, at a time: node.pin=value@2.5s, or a patch variable: "
                    "name=value (repeatable)");
    run->add_option(
        "--block-size,-b", options->run.blockSize,
        "Samples per block (default: the patch's, else " + std::to_string(kDefaultBlockSize) + ")");
    run->add_option("--sample-rate", options->run.sampleRate,
                    "Sample rate for inputs that carry none (1 to 10000000 Hz)");
    run->add_option("--tail", options->run.tail,
                    "Silence appended to flush held and smoothed signals (e.g. 50ms)");
    run->add_flag("--keep-latency", options->run.keepLatency,
                  "Keep the patch's latency: the output starts that late and is that much longer "
                  "(by default it lines up with the input)");
    run->add_option("--plot", options->run.plotPath,
                    "Write a PNG of input, output and gain levels over time");
    run->add_option("--library", options->run.libraryPath,
                    "Module library to load instead of looking up the one the patch names");
    run->add_option("--report", options->run.reportPath,
                    "Write a JSON report to this file ('-' for standard output)");
    run->add_flag("--overwrite", options->run.overwrite, "Replace existing output, plot and report files");
    run->add_flag("--no-progress", options->noProgress, "No progress bar on standard error");
    run->callback([options] {
        options->run.plotTitle = plotTitle(options->run);
        runCommand(*options);
    });
}

}  // namespace ovm::cli
