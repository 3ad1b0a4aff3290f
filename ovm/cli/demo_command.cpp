// ovm demo: the bundled look-ahead limiter on a synthesised programme with loud transients.

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "ovm/cli/commands.h"
#include "ovm/cli/limiter_patch.h"
#include "ovm/core/audio_file.h"
#include "ovm/core/demo_signal.h"
#include "ovm/core/run_summary.h"
#include "ovm/core/signal_meter.h"
#include "engine/errors.h"
#include "ovm/core/patch_runner.h"
#include "engine/quantity.h"

namespace fs = std::filesystem;

namespace ovm::cli {

namespace {

constexpr double kDemoRate = 48000;
constexpr const char* kPatchName = "examples/limiter.toml";

struct DemoOptions {
    std::string folder = "ovm-demo";
    double seconds = 6;
    bool overwrite = false;
};

void printSummary(const DemoOptions& options, const RunResult& result) {
    std::printf("ovm demo: true-peak look-ahead limiter (%s) on %.1f s of stereo at %.0f Hz\n", kPatchName,
                options.seconds, result.sampleRate);
    std::fputs(runSummary(result).c_str(), stdout);
}

void runDemo(const DemoOptions& options) {
    if (!(options.seconds > 0 && options.seconds <= 3600)) throw usageError("--seconds must be in (0, 3600]");
    std::error_code error;
    fs::create_directories(options.folder, error);
    if (error) throw outputError("cannot create '" + options.folder + "': " + error.message());
    const fs::path folder(options.folder);
    const std::string input = (folder / "input.wav").string();
    for (const char* name : {"input.wav", "output.wav", "levels.png", "report.json"})
        checkOutputPath((folder / name).string(), options.overwrite);

    writeAudioFile(input, demoProgramme(options.seconds, kDemoRate), 2, kDemoRate, options.overwrite);
    RunOptions run;
    run.patchPath = kPatchName;
    run.patchText = kLimiterPatch;
    run.inputPath = input;
    run.outputPath = (folder / "output.wav").string();
    run.overwrite = options.overwrite;
    run.plotPath = (folder / "levels.png").string();
    run.plotTitle = "ovm demo: true-peak look-ahead limiter at -1 dBTP";
    run.reportPath = (folder / "report.json").string();
    run.progress = true;
    RunResult result = runPatch(run);
    result.filesWritten.insert(result.filesWritten.begin(), input);
    printSummary(options, result);

    if (!result.ceiling) throw patchError(std::string(kPatchName) + ": the limiter names no ceiling");
    checkCeiling(result, run.outputPath);
    std::printf("  limiter promise     held: the output's true peak is not above the ceiling\n");
}

}  // namespace

void addDemoCommand(CLI::App& app) {
    auto options = std::make_shared<DemoOptions>();
    CLI::App* demo = app.add_subcommand(
        "demo",
        "Run the bundled true-peak look-ahead limiter on a synthesised stereo programme; write audio, plot and report");
    demo->add_option("FOLDER", options->folder, "Folder for the files (default: ovm-demo)");
    demo->add_option("--seconds", options->seconds, "Length of the programme (default: 6)");
    demo->add_flag("--overwrite", options->overwrite, "Replace the files of an earlier demo");
    demo->callback([options] { runDemo(*options); });
}

}  // namespace ovm::cli
