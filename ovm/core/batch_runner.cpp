#include "ovm/core/batch_runner.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "ovm/core/audio_file.h"
#include "ovm/core/progress_bar.h"
#include "ovm/core/run_files.h"
#include "ovm/core/signal_meter.h"

namespace ovm {

namespace {

// Seconds of audio over all inputs, for the progress bar; an input that cannot be read
// counts nothing here and fails in its run. Only regular files are opened: reading a
// pipe's header would take it from its run.
double totalSeconds(const std::vector<RunOptions>& runs) {
    double seconds = 0;
    for (const RunOptions& run : runs) try {
            std::error_code error;
            if (!std::filesystem::is_regular_file(run.inputPath, error)) continue;
            const AudioReader reader(run.inputPath, run.raw);
            if (reader.sampleRate() > 0) seconds += double(reader.frames()) / reader.sampleRate();
        } catch (const Error&) {
        }
    return seconds;
}

void checkBatchFiles(const std::vector<RunOptions>& runs) {
    std::vector<RunFile> inputs, outputs;
    for (const RunOptions& run : runs) {
        inputs.push_back({"input audio", run.inputPath});
        outputs.push_back({"output", run.outputPath});
        if (run.plotPath) outputs.push_back({"plot", *run.plotPath});
        if (run.reportPath) outputs.push_back({"report", *run.reportPath});
    }
    checkDistinctFiles(inputs, outputs);
}

BatchOutcome runOne(RunOptions run, ProgressBar& progress) {
    BatchOutcome outcome{run.inputPath, run.outputPath, std::nullopt, ExitCode::ok, ""};
    run.sharedProgress = &progress;
    run.warningPrefix = run.inputPath + ": ";
    try {
        outcome.result = runPatch(run);
        checkCeiling(*outcome.result, run.outputPath);
    } catch (const Error& error) {
        outcome.code = error.code();
        outcome.message = error.what();
    } catch (const std::exception& error) {
        outcome.code = ExitCode::internal;
        outcome.message = std::string("internal error: ") + error.what();
    }
    if (outcome.code != ExitCode::ok)
        std::fprintf(stderr, "ovm: %s: %s\n", run.inputPath.c_str(), outcome.message.c_str());
    return outcome;
}

int rank(ExitCode code) { return code == ExitCode::internal ? 100 : int(code); }

}  // namespace

std::vector<BatchOutcome> runBatch(const std::vector<RunOptions>& runs, int jobs, bool progress) {
    checkBatchFiles(runs);
    std::vector<BatchOutcome> outcomes(runs.size());
    ProgressBar bar(progress, progress ? totalSeconds(runs) : 0);
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> finished{0};
    const auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < runs.size();) {
            outcomes[i] = runOne(runs[i], bar);
            bar.setLabel(std::to_string(finished.fetch_add(1) + 1) + "/" + std::to_string(runs.size()) + " files");
        }
    };
    std::vector<std::thread> threads;
    const auto count = std::size_t(std::clamp<long long>(std::min(jobs, kMaxJobs), 1, (long long)runs.size()));
    for (std::size_t t = 1; t < count; ++t) threads.emplace_back(work);
    work();
    for (std::thread& thread : threads) thread.join();
    return outcomes;
}

ExitCode worstExitCode(const std::vector<BatchOutcome>& outcomes) {
    ExitCode worst = ExitCode::ok;
    for (const BatchOutcome& o : outcomes)
        if (rank(o.code) > rank(worst)) worst = o.code;
    return worst;
}

std::string batchTable(const std::vector<BatchOutcome>& outcomes) {
    std::size_t width = 5;
    for (const BatchOutcome& o : outcomes) width = std::max(width, o.input.size());
    width = std::min<std::size_t>(width, 40);
    std::string table;
    char text[512];
    std::snprintf(text, sizeof text, "  %-*s  %-8s %12s %8s  %s\n", int(width), "input", "status", "true peak",
                  "speed", "output / failure");
    table += text;
    for (const BatchOutcome& o : outcomes) {
        const bool written = o.result.has_value();
        const double peak = written ? toDb(o.result->outputLevels.truePeak()) : NAN;
        char peakText[32] = "", speedText[32] = "";
        if (written && std::isfinite(peak)) std::snprintf(peakText, sizeof peakText, "%+.2f dBTP", peak);
        if (written) std::snprintf(speedText, sizeof speedText, "%.0fx", o.result->realTimeFactor());
        const std::string status = o.code == ExitCode::ok ? "ok" : "failed " + std::to_string(int(o.code));
        const std::string last = o.code == ExitCode::ok ? o.output : o.message.substr(0, 120);
        std::snprintf(text, sizeof text, "  %-*s  %-8s %12s %8s  %s\n", int(width), o.input.c_str(), status.c_str(),
                      peakText, speedText, last.c_str());
        table += text;
    }
    return table;
}

}  // namespace ovm
