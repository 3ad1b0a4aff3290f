// ovm run PATCH IN OUT, or PATCH IN... with --output-dir or --output: a patch of modules
// over audio files.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "engine/engine_defaults.h"
#include "engine/errors.h"
#include "ovm/cli/commands.h"
#include "ovm/core/batch_runner.h"
#include "ovm/core/channel_map.h"
#include "ovm/core/output_names.h"
#include "ovm/core/patch_runner.h"
#include "ovm/core/run_report.h"
#include "ovm/core/run_summary.h"
#include "ovm/core/value_override_parser.h"

namespace ovm::cli {

namespace {

struct RunCommandOptions {
    RunOptions run;
    std::vector<std::string> files;  // IN OUT, or the inputs when an output pattern or folder is given
    std::optional<std::string> outputPattern;
    std::optional<std::string> outputFolder;
    std::optional<std::string> format;
    std::optional<std::string> bits;
    std::optional<std::string> raw;
    std::optional<std::string> channels;
    bool noDither = false;
    bool noProgress = false;
    bool quiet = false;
    bool json = false;
    int jobs = int(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::string> setValues;
};

// Names without their folders: a long path would crowd the title out of the picture.
std::string plotTitle(const RunOptions& run) {
    const auto name = [](const std::string& path) { return std::filesystem::path(path).filename().string(); };
    return name(run.outputPath) + ": " + name(run.patchPath) + " on " + name(run.inputPath);
}

// The options every run shares, checked once.
void checkSharedOptions(RunCommandOptions& options) {
    RunOptions& run = options.run;
    if (run.sampleRate && !(*run.sampleRate >= 1 && *run.sampleRate <= 10e6))
        throw usageError("--sample-rate must be between 1 and 10000000 (Hz)");
    if (run.blockSize && (*run.blockSize < 1 || *run.blockSize > kMaxBlockSize))
        throw usageError("--block-size must be between 1 and " + std::to_string(kMaxBlockSize));
    if (options.jobs < 1 || options.jobs > kMaxJobs)
        throw usageError("--jobs must be between 1 and " + std::to_string(kMaxJobs));
    for (const std::string& set : options.setValues) run.overrides.push_back(parseValueOverride(set));
    if (options.raw) run.raw = parseRawFormat(*options.raw);
    if (options.channels) run.channels = parseChannelList(*options.channels);
    run.encoding.dither = !options.noDither;
    run.progress = !options.noProgress && !options.quiet;
}

// Each input with its output, plot and report named.
std::vector<RunOptions> plannedRuns(const RunCommandOptions& options) {
    std::vector<RunOptions> runs;
    const bool named = options.outputPattern || options.outputFolder;
    if (!named && options.files.size() != 2)
        throw usageError(options.files.size() < 2
                             ? "give an input and an output (IN OUT), or inputs with --output-dir or --output"
                             : "several inputs need --output-dir DIR or --output PATTERN (e.g. '{stem}-limited.flac')");
    const std::vector<std::string> inputs(options.files.begin(), named ? options.files.end() : options.files.end() - 1);
    OutputNaming naming{options.outputPattern, options.outputFolder, std::nullopt};
    if (options.format) naming.format = chooseOutputFormat("-", options.format, std::nullopt).container;
    for (const std::string& input : inputs) {
        RunOptions run = options.run;
        run.inputPath = input;
        run.outputPath = named ? outputNameFor(input, naming) : options.files.back();
        if (inputs.size() > 1 && input == "-") throw usageError("standard input ('-') takes a run of its own");
        if (inputs.size() > 1) {
            if (run.plotPath) run.plotPath = expandPattern(*run.plotPath, input);
            if (run.reportPath) run.reportPath = expandPattern(*run.reportPath, input);
        }
        run.encoding.format = chooseOutputFormat(run.outputPath, options.format, options.bits);
        run.plotTitle = plotTitle(run);
        runs.push_back(std::move(run));
    }
    return runs;
}

void runOne(const RunCommandOptions& options, const RunOptions& run) {
    const bool audioOnStdout = run.outputPath == "-";
    const bool reportOnStdout = run.reportPath && *run.reportPath == "-";
    if (audioOnStdout && (options.json || reportOnStdout))
        throw usageError("the audio goes to standard output; the report cannot go there too");
    if (options.json && reportOnStdout) throw usageError("--json and --report -: give one of them");
    const RunResult result = runPatch(run);
    if (options.json) std::printf("%s\n", runReport(result).dump(2).c_str());
    // Standard output keeps to the audio or the JSON; the summary then goes to standard error.
    if (!options.quiet)
        std::fputs(runSummary(result).c_str(), audioOnStdout || reportOnStdout || options.json ? stderr : stdout);
    checkCeiling(result, run.outputPath);
}

void runMany(const RunCommandOptions& options, const std::vector<RunOptions>& runs) {
    for (const RunOptions& run : runs)
        if (run.reportPath && *run.reportPath == "-")
            throw usageError("--report -: several runs cannot share standard output; use --json");
    const std::vector<BatchOutcome> outcomes = runBatch(runs, options.jobs, runs.front().progress);
    if (options.json) {
        nlohmann::json files = nlohmann::json::array();
        for (const BatchOutcome& o : outcomes)
            files.push_back({{"input", o.input},
                             {"output", o.output},
                             {"exit_status", int(o.code)},
                             {"message", o.message},
                             {"report", o.result ? runReport(*o.result) : nlohmann::json(nullptr)}});
        std::printf("%s\n", nlohmann::json{{"files", files}}.dump(2).c_str());
    }
    if (!options.quiet) std::fputs(batchTable(outcomes).c_str(), options.json ? stderr : stdout);
    const ExitCode worst = worstExitCode(outcomes);
    if (worst != ExitCode::ok) {
        const auto failed = std::count_if(outcomes.begin(), outcomes.end(),
                                          [](const BatchOutcome& o) { return o.code != ExitCode::ok; });
        throw Error(worst, std::to_string(failed) + " of " + std::to_string(outcomes.size()) + " inputs failed");
    }
}

void runCommand(RunCommandOptions& options) {
    checkSharedOptions(options);
    const std::vector<RunOptions> runs = plannedRuns(options);
    if (runs.size() == 1)
        runOne(options, runs.front());
    else
        runMany(options, runs);
}

}  // namespace

void addRunCommand(CLI::App& app) {
    auto options = std::make_shared<RunCommandOptions>();
    CLI::App* run = app.add_subcommand(
        "run", "Run a patch over an audio file (IN OUT), or over many (IN... with --output-dir or --output)");
    run->add_option("PATCH", options->run.patchPath, "Patch file (TOML)")->required();
    run->add_option("FILES", options->files,
                    "IN OUT: an input (any format libsndfile reads, '-' for standard input) and the output "
                    "('-' for standard output, with --format); or, with --output-dir or --output, the inputs")
        ->required();
    run->add_option("--output,-o", options->outputPattern,
                    "Name each output after its input: {stem}, {name} and {ext} are the input's "
                    "(e.g. '{stem}-limited.flac')");
    run->add_option("--output-dir", options->outputFolder,
                    "Write the outputs into this folder (under the input's name, or the --output pattern)");
    run->add_option("--jobs,-j", options->jobs, "Files processed at once (default: the number of cores)");
    run->add_option("--format", options->format,
                    "Output format: wav, flac, aiff, ogg, opus, w64 or rf64 (default: from OUT's extension)");
    run->add_option("--bits", options->bits,
                    "Output samples: 16, 24, 32 (integers) or float (default: float; FLAC 24)");
    run->add_flag("--no-dither", options->noDither, "Round to integers without TPDF dither");
    run->add_option("--raw", options->raw,
                    "The input is headerless: RATE:CHANNELS:ENCODING, the encoding s8, u8, s16, s24, s32, f32 or "
                    "f64 (add 'be' for big-endian), e.g. 48000:2:s16");
    run->add_option("--channels", options->channels,
                    "The input's channels for the patch's inputs, from 1 (e.g. 1,2 or 3,4; one channel feeds all)");
    run->add_flag("--keep-rate", options->run.keepRate,
                  "When the patch fixes its sample rate, resample the output back to the input's");
    run->add_option("--set,-s", options->setValues,
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
                    "Write a PNG of input, output and gain levels over time (a pattern for many inputs)");
    run->add_option("--library", options->run.libraryPath,
                    "Module library to load instead of looking up the one the patch names");
    run->add_option("--report", options->run.reportPath,
                    "Write a JSON report to this file ('-' for standard output; a pattern for many inputs)");
    run->add_flag("--json", options->json, "Print the report (for many inputs, all of them) on standard output");
    run->add_flag("--quiet,-q", options->quiet, "No summary, no progress bar: only warnings and errors");
    run->add_flag("--overwrite", options->run.overwrite, "Replace existing output, plot and report files");
    run->add_flag("--no-progress", options->noProgress, "No progress bar on standard error");
    run->callback([options] { runCommand(*options); });
}

}  // namespace ovm::cli
