#include "ovm/core/patch_runner.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "host/module_library.h"
#include "ovm/core/audio_file.h"
#include "ovm/core/errors.h"
#include "ovm/core/level_plot.h"
#include "ovm/core/message_text.h"
#include "ovm/core/quantity.h"

namespace fs = std::filesystem;

namespace ovm {

double RunResult::realTimeFactor() const {
    return processingSeconds > 0 ? double(frames) / sampleRate / processingSeconds : INFINITY;
}

std::string programFolder() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

std::string resolveLibraryPath(const std::string& library, const std::string& patchPath) {
    const fs::path written(library);
    if (written.is_absolute()) return library;
    const fs::path besidePatch = fs::path(patchPath).parent_path() / written;
    std::error_code error;
    if (fs::exists(besidePatch, error)) return besidePatch.string();
    const fs::path besideProgram = fs::path(programFolder()) / written;
    if (fs::exists(besideProgram, error)) return besideProgram.string();
    return besidePatch.string();
}

namespace {

// The loaded library, its description and its factory, or a library-class error.
struct LoadedLibrary {
    explicit LoadedLibrary(const std::string& path)
        : library(open(path)), description(readLibraryDescription(path)) {
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
    LibraryDescription description;
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
    if (!result.ceiling || result.outputPeak() <= *result.ceiling) return;
    throw Error(ExitCode::check, "output peak " + formatDb(result.outputPeak()) +
                                     " is above the patch's ceiling of " + formatDb(*result.ceiling) +
                                     " (output kept in '" + outputPath + "')");
}

RunResult runPatch(const RunOptions& o) {
    const Patch patch = o.patchText.empty() ? readPatch(o.patchPath) : parsePatch(o.patchText, o.patchPath);
    AudioReader reader(o.inputPath);
    checkOutputPath(o.outputPath, o.inputPath, o.overwrite);
    if (o.plotPath) checkOutputPath(*o.plotPath, o.inputPath, o.overwrite);

    RunResult result;
    result.sampleRate = reader.sampleRate() > 0 ? reader.sampleRate() : o.sampleRate.value_or(0);
    if (!(result.sampleRate > 0))
        throw inputError("input '" + o.inputPath + "' has no sample rate; give one with --sample-rate");
    long long tail = 0;
    try {
        tail = toSamples(parseQuantity(o.tail), result.sampleRate);
    } catch (const std::invalid_argument& error) {
        throw usageError("--tail '" + o.tail + "': " + error.what());
    }

    const LoadedLibrary loaded(resolveLibraryPath(patch.library, patch.path));
    EngineConfig config;
    config.blockSize = o.blockSize.value_or(patch.blockSize.value_or(64));
    config.sampleRate = result.sampleRate;
    config.inputChannels = reader.channels();
    config.overrides = o.overrides;
    Engine engine(patch, loaded.description, *loaded.factory, config);
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

    const long long total = reader.frames() + tail;
    warnOfLateValues(patch, o, result.sampleRate, total);
    warnOfUnusedChannels(patch, inChannels);
    long long fileLeft = reader.frames();
    ProgressBar progress(o.progress, total);
    const auto start = std::chrono::steady_clock::now();
    for (long long done = 0; done < total;) {
        const auto count = int32_t(std::min<long long>(config.blockSize, total - done));
        const long long read =
            fileLeft > 0 ? reader.read(inFrames.data(), std::min<long long>(count, fileLeft)) : 0;
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
    if (o.plotPath)
        writeLevelPlot(*o.plotPath, trace, result.sampleRate, toDb(patch.ceiling.value_or(NAN)), o.plotTitle,
                       o.overwrite);
    writer.commit();
    return result;
}

}  // namespace ovm
