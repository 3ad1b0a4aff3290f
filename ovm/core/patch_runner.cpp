#include "ovm/core/patch_runner.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "host/module_library.h"
#include "ovm/core/audio_file.h"
#include "engine/errors.h"
#include "ovm/core/level_plot.h"
#include "ovm/core/library_lookup.h"
#include "ovm/core/output_file.h"
#include "engine/message_text.h"
#include "engine/quantity.h"
#include "ovm/core/run_files.h"
#include "ovm/core/run_report.h"

namespace ovm {

double RunResult::realTimeFactor() const {
    return processingSeconds > 0 ? double(frames) / sampleRate / processingSeconds : INFINITY;
}

namespace {

// The loaded library and its factory, or a library-class error.
struct LoadedLibrary {
    explicit LoadedLibrary(const std::string& path) : library(open(path)) {
        factory = library->factory();
        if (!factory) throw libraryError("'" + path + "': its factory does not answer the factory interface");
    }
    static std::unique_ptr<host::ModuleLibrary> open(const std::string& path) {
        try {
            return std::make_unique<host::ModuleLibrary>(path);
        } catch (const host::LibraryError& error) {
            throw libraryError(error.what());
        }
    }
    std::unique_ptr<host::ModuleLibrary> library;
    host::ComPtr<mp::IMpFactory2> factory;
};

long long longestDelay(const Patch& patch, double sampleRate) {
    long long longest = 0;
    for (const NodeEntry& node : patch.nodes)
        for (const auto& [name, value] : node.values)
            if (node.type == "delay" && name == "time")
                longest = std::max(longest, toSamples(parseQuantity(value.text), sampleRate));
    return longest;
}

class ProgressBar {
public:
    ProgressBar(bool enabled, long long total)
        : enabled(enabled && isatty(STDERR_FILENO) && total > 0), total(total) {}
    ~ProgressBar() {
        if (enabled && drawn) std::fputs("\r\033[K", stderr);
    }
    void update(long long done) {
        if (!enabled) return;
        const auto now = std::chrono::steady_clock::now();
        if (drawn && now - last < std::chrono::milliseconds(100)) return;
        last = now;
        drawn = true;
        const int width = 40;
        const int filled = int(double(done) / double(total) * width);
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(std::size_t(filled), '#').c_str(),
                     std::string(std::size_t(width - filled), '.').c_str(),
                     int(100.0 * double(done) / double(total)));
    }

private:
    bool enabled;
    long long total;
    bool drawn = false;
    std::chrono::steady_clock::time_point last;
};

void warn(const std::string& message) {
    std::fprintf(stderr, "ovm: warning: %s\n", withLongPartsCut(message).c_str());
}

// Values timed at or after the run's end: they would never be set.
void warnOfLateValues(const Patch& patch, const RunOptions& o, double sampleRate, long long end) {
    std::vector<const SourceText*> times;
    for (const AutomationEntry& a : patch.automation) times.push_back(&a.at);
    for (const ValueOverride& v : o.overrides)
        if (v.at) times.push_back(&*v.at);
    for (const SourceText* at : times) {
        const long long sample = toSamples(parseQuantity(at->text), sampleRate);
        if (sample >= end)
            warn(at->where + ": at sample " + std::to_string(sample) + ", not before the run ends (" +
                 std::to_string(end) + " samples): the value is never set");
    }
}

// Input channels no connection reads: the output goes without them.
void warnOfUnusedChannels(const Patch& patch, int32_t channels) {
    std::vector<bool> used(std::size_t(channels), false);
    for (const ConnectionEntry& c : patch.connections)
        if (c.from.node == kInputNode)
            used[std::size_t(std::stoll(c.from.pin) - 1)] = true;  // checked by the engine
    std::string unused;
    int count = 0;
    for (int32_t c = 0; c < channels; ++c)
        if (!used[std::size_t(c)]) unused += (count++ == 0 ? "" : ", ") + std::to_string(c + 1);
    if (count == 1) warn("input channel " + unused + " is not connected in the patch and is left out");
    if (count > 1) warn("input channels " + unused + " are not connected in the patch and are left out");
}

}  // namespace

double RunResult::outputPeak() const {
    double peak = 0;
    for (const auto& meter : outputMeters) peak = std::max(peak, meter.peak());
    return peak;
}

void checkCeiling(const RunResult& result, const std::string& outputPath) {
    if (!result.ceiling) return;
    long long nonFinite = 0;
    for (const auto& meter : result.outputMeters) nonFinite += meter.nonFiniteSamples();
    if (nonFinite > 0)
        throw Error(ExitCode::check,
                    std::to_string(nonFinite) +
                        " output samples are NaN or infinite, above any ceiling (output kept in '" +
                        outputPath + "')");
    if (result.outputPeak() <= *result.ceiling) return;
    throw Error(ExitCode::check, "output peak " + formatDb(result.outputPeak()) +
                                     " is above the patch's ceiling of " + formatDb(*result.ceiling) +
                                     " (output kept in '" + outputPath + "')");
}

namespace {

// Long enough to flush any hold or smoothing; a longer tail is a mistyped unit.
constexpr double kLongestTailSeconds = 600;
// A WAV file counts its bytes in 32 bits.
constexpr long long kLargestWavBytes = 0xFFFFFFFFLL - 4096;

long long tailSamples(const std::string& text, double sampleRate) {
    try {
        const long long tail = toSamples(parseQuantity(text), sampleRate);
        if (double(tail) > kLongestTailSeconds * sampleRate)
            throw std::invalid_argument("longer than " + std::to_string(int(kLongestTailSeconds)) +
                                        " seconds");
        return tail;
    } catch (const std::invalid_argument& error) {
        throw usageError("--tail '" + text + "': " + error.what());
    }
}

void checkWavSize(long long frames, int32_t channels, const std::string& path) {
    if (frames > kLargestWavBytes / 4 / channels)
        throw outputError("cannot write '" + path + "': " + std::to_string(frames) + " frames of " +
                          std::to_string(channels) + " channel(s) exceed the 4 GiB a WAV file holds");
}

// Every file the run reads and writes, checked before anything is read or loaded.
void checkRunFiles(const RunOptions& o, const Patch& patch, const std::string& libraryPath) {
    std::vector<RunFile> inputs = {{"input audio", o.inputPath},
                                   {"library", libraryPath},
                                   {"library description", descriptionPathFor(libraryPath)}};
    if (o.patchText.empty()) inputs.push_back({"patch", patch.path});
    std::vector<RunFile> outputs = {{"output", o.outputPath}};
    if (o.plotPath) outputs.push_back({"plot", *o.plotPath});
    if (o.reportPath && *o.reportPath != "-") outputs.push_back({"report", *o.reportPath});
    checkDistinctFiles(inputs, outputs);
    for (const RunFile& output : outputs) checkOutputPath(output.path, o.overwrite);
}

// The plot and the report come after the audio is safe; a plot that fails still leaves
// the report, then fails the run saying what went wrong and where the audio is.
void writeAfterwards(const RunOptions& o, const RunResult& result, const LevelTrace& trace,
                     const std::optional<double>& ceiling) {
    std::optional<Error> plotFailure;
    if (o.plotPath) try {
            writeLevelPlot(*o.plotPath, trace, result.sampleRate, toDb(ceiling.value_or(NAN)), o.plotTitle,
                           o.overwrite);
        } catch (const Error& error) {
            plotFailure = error;
        }
    if (o.reportPath) writeTextFile(*o.reportPath, runReport(result).dump(2) + "\n", o.overwrite);
    if (plotFailure)
        throw outputError(std::string(plotFailure->what()) + " (the audio is written to '" + o.outputPath +
                          "')");
}

}  // namespace

RunResult runPatch(const RunOptions& o) {
    const Patch patch = o.patchText.empty() ? readPatch(o.patchPath) : parsePatch(o.patchText, o.patchPath);
    const std::string libraryPath =
        o.libraryPath ? *o.libraryPath : resolveLibraryPath(patch.library, patch.path, patch.libraryWhere);
    checkRunFiles(o, patch, libraryPath);
    AudioReader reader(o.inputPath);

    RunResult result;
    result.sampleRate = reader.sampleRate() > 0 ? reader.sampleRate() : o.sampleRate.value_or(0);
    if (!(result.sampleRate > 0))
        throw inputError("input '" + o.inputPath + "' has no sample rate; give one with --sample-rate");
    const long long tail = tailSamples(o.tail, result.sampleRate);

    const LibraryDescription description = readLibraryDescription(libraryPath);
    EngineConfig config;
    config.blockSize = o.blockSize.value_or(patch.blockSize.value_or(64));
    config.sampleRate = result.sampleRate;
    config.inputChannels = reader.channels();
    config.overrides = o.overrides;
    Engine::check(patch, description, config);
    const LoadedLibrary loaded(libraryPath);
    Engine engine(patch, description, *loaded.factory, config);
    for (const std::string& warning : engine.warnings()) warn(warning);
    result.latencySamples = longestDelay(patch, result.sampleRate);
    const int32_t inChannels = engine.inputChannels();
    const int32_t outChannels = engine.outputChannels();
    if (outChannels == 0) throw patchError(patch.path + ": nothing is connected to output.1");
    const float* gain = patch.plotGain ? engine.tap(*patch.plotGain) : nullptr;
    if (patch.plotGain && gain == nullptr)
        throw patchError(patch.path + ": [plot] gain: '" + patch.plotGain->text() +
                         "' is not an audio output");
    result.hasGain = gain != nullptr;
    result.ceiling = patch.ceiling;

    AudioWriter writer(o.outputPath, outChannels, result.sampleRate, o.overwrite);
    result.inputMeters.resize(std::size_t(inChannels));
    result.outputMeters.resize(std::size_t(outChannels));
    LevelTrace trace(std::max<int32_t>(1, int32_t(result.sampleRate / 100)));
    std::vector<float> inFrames(std::size_t(config.blockSize * inChannels));
    std::vector<float> outFrames(std::size_t(config.blockSize * outChannels));
    std::vector<const float*> inputs, outputs;
    for (int32_t c = 0; c < inChannels; ++c) inputs.push_back(engine.inputChannel(c));
    for (int32_t c = 0; c < outChannels; ++c) outputs.push_back(engine.outputChannel(c));

    long long total = reader.frames() + tail;
    if (reader.seekable()) checkWavSize(total, outChannels, o.outputPath);
    warnOfLateValues(patch, o, result.sampleRate, total);
    warnOfUnusedChannels(patch, inChannels);
    long long fileLeft = reader.frames();
    ProgressBar progress(o.progress, total);
    const auto start = std::chrono::steady_clock::now();
    for (long long done = 0; done < total;) {
        auto count = int32_t(std::min<long long>(config.blockSize, total - done));
        const long long wanted = std::min<long long>(count, fileLeft);
        const long long read = wanted > 0 ? std::max(0LL, reader.read(inFrames.data(), wanted)) : 0;
        if (read < wanted) {
            // A file that ends before its header says is damaged; a stream just ends.
            if (reader.seekable())
                throw inputError("input '" + o.inputPath + "' ends at frame " + std::to_string(done + read) +
                                 ", before the " + std::to_string(reader.frames()) +
                                 " frames its header declares");
            total = done + read + tail;
            fileLeft = read;
            count = int32_t(std::min<long long>(count, total - done));
            if (count == 0) break;
        }
        checkWavSize(done + count, outChannels, o.outputPath);
        std::fill(inFrames.begin() + read * inChannels, inFrames.end(), 0.0f);
        for (int32_t c = 0; c < inChannels; ++c)
            for (int32_t i = 0; i < count; ++i)
                engine.inputChannel(c)[i] = inFrames[std::size_t(i * inChannels + c)];
        fileLeft -= read;
        engine.processBlock(count);
        for (int32_t c = 0; c < outChannels; ++c) {
            for (int32_t i = 0; i < count; ++i)
                outFrames[std::size_t(i * outChannels + c)] = outputs[std::size_t(c)][i];
            result.outputMeters[std::size_t(c)].add(outputs[std::size_t(c)], count);
        }
        for (int32_t c = 0; c < inChannels; ++c)
            result.inputMeters[std::size_t(c)].add(inputs[std::size_t(c)], count);
        // While the delayed audio has not arrived yet, a gain signal still ramping up from its
        // start (a smoother's cleared history) reduces nothing: count it from then on.
        if (gain != nullptr)
            for (int32_t i = int32_t(std::clamp<long long>(result.latencySamples - done, 0, count));
                 i < count; ++i)
                result.deepestGain = std::min(result.deepestGain, double(gain[i]));
        if (o.plotPath) trace.add(inputs, outputs, gain, count);
        writer.write(outFrames.data(), count);
        done += count;
        result.frames = done;
        progress.update(done);
    }
    result.processingSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.nodes = engine.nodeStats();
    writer.commit();
    writeAfterwards(o, result, trace, patch.ceiling);
    return result;
}

}  // namespace ovm
