#include "ovm/core/patch_runner.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "description/library_description_reader.h"
#include "engine/errors.h"
#include "engine/message_text.h"
#include "engine/patch_variables.h"
#include "engine/quantity.h"
#include "host/module_library.h"
#include "ovm/core/audio_file.h"
#include "ovm/core/channel_map.h"
#include "ovm/core/input_stream.h"
#include "ovm/core/latency_compensation.h"
#include "ovm/core/level_plot.h"
#include "ovm/core/library_lookup.h"
#include "ovm/core/loaded_library.h"
#include "ovm/core/output_file.h"
#include "ovm/core/patch_reader.h"
#include "ovm/core/progress_bar.h"
#include "ovm/core/resampler.h"
#include "ovm/core/run_files.h"
#include "ovm/core/run_report.h"
#include "ovm/core/signal_meter.h"

namespace ovm {

double RunResult::realTimeFactor() const {
    return processingSeconds > 0 ? double(frames) / sampleRate / processingSeconds : INFINITY;
}

namespace {

// The meters' window: the plot's resolution, and the true peak's position in a message.
constexpr double kMeterWindowSeconds = 0.01;

std::string formatRate(double rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%g Hz", rate);
    return text;
}

void warn(const RunOptions& o, const std::string& message) {
    std::fprintf(stderr, "ovm: warning: %s%s\n", o.warningPrefix.c_str(), withLongPartsCut(message).c_str());
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
            warn(o, at->where + ": at sample " + std::to_string(sample) + ", not before the run ends (" +
                 std::to_string(end) + " samples): the value is never set");
    }
}

// Input channels no connection reads: the output goes without them.
void warnOfUnusedChannels(const RunOptions& o, const Patch& patch, int32_t channels) {
    std::vector<bool> used(std::size_t(channels), false);
    for (const ConnectionEntry& c : patch.connections)
        if (c.from.node == kInputNode)
            used[std::size_t(std::stoll(c.from.pin) - 1)] = true;  // checked by the engine
    std::string unused;
    int count = 0;
    for (int32_t c = 0; c < channels; ++c)
        if (!used[std::size_t(c)]) unused += (count++ == 0 ? "" : ", ") + std::to_string(c + 1);
    if (count == 1) warn(o, "input channel " + unused + " is not connected in the patch and is left out");
    if (count > 1) warn(o, "input channels " + unused + " are not connected in the patch and are left out");
}

}  // namespace

double RunResult::outputPeak() const { return outputLevels.samplePeak(); }

namespace {

// "output true peak -0.52 dBTP in the 10 ms from 1.230 s is 0.48 dB above ": the true peak
// is found window by window, the sample peak to the sample.
std::string peakOverCeiling(const RunResult& result, bool truePeak, double peak) {
    const StreamLevels& output = result.outputLevels;
    char where[64];
    const double seconds =
        double(truePeak ? output.truePeakFrame : output.samplePeakFrame) / result.sampleRate;
    std::snprintf(where, sizeof where, truePeak ? " in the 10 ms from %.3f s" : " at %.3f s", seconds);
    // A peak barely over shows its few millionths of a dB, not "0.00".
    const double over = toDb(peak) - toDb(result.ceiling->level);
    char amount[64];
    std::snprintf(amount, sizeof amount, " is %.*f dB above ", over < 0.01 ? 7 : 2, over);
    return std::string("output ") + (truePeak ? "true" : "sample") + " peak " +
           formatDb(peak, truePeak ? "dBTP" : "dBFS") + where + amount;
}

}  // namespace

void checkCeiling(const RunResult& result, const std::string& outputPath) {
    if (!result.ceiling) return;
    const StreamLevels& output = result.outputLevels;
    const std::string kept = " (output kept in '" + outputPath + "')";
    if (const long long nonFinite = output.nonFiniteSamples(); nonFinite > 0)
        throw Error(ExitCode::check, std::to_string(nonFinite) +
                                         " output samples are NaN or infinite, above any ceiling" + kept);
    const bool truePeak = result.ceiling->measure == Ceiling::Measure::truePeak;
    const std::string ceiling =
        "the patch's ceiling of " + formatDb(result.ceiling->level, truePeak ? "dBTP" : "dBFS");
    if (truePeak && !output.truePeakMeasured())
        throw Error(ExitCode::check, "cannot check " + ceiling + ": true peak is measured at " +
                                         formatRate(LoudnessMeter::kLowestRate) + " to " +
                                         formatRate(LoudnessMeter::kHighestRate) + ", not at " +
                                         formatRate(result.sampleRate) + kept);
    const double peak = truePeak ? output.truePeak() : output.samplePeak();
    if (peak > result.ceiling->level)
        throw Error(ExitCode::check, peakOverCeiling(result, truePeak, peak) + ceiling + kept);
}

namespace {

// Long enough to flush any hold or smoothing; a longer tail is a mistyped unit.
constexpr double kLongestTailSeconds = 600;

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

// Containers that count their bytes in 32 bits hold about 4 GiB.
void checkFileSize(long long frames, int32_t channels, const OutputFormat& format, const std::string& path) {
    const int bytesPerSample = format.integerBits() > 0 ? format.integerBits() / 8 : 4;
    if (format.largestBytes() > 0 && frames > format.largestBytes() / bytesPerSample / channels)
        throw outputError("cannot write '" + path + "': " + std::to_string(frames) + " frames of " +
                          std::to_string(channels) + " channel(s) exceed the 4 GiB a " + format.describe() +
                          " file holds; write .w64, .rf64 or .flac");
}

// Every file the run reads and writes, checked before anything is read or loaded.
void checkRunFiles(const RunOptions& o, const Patch& patch, const std::string& libraryPath) {
    std::vector<RunFile> inputs = {{"library", libraryPath},
                                   {"library description", descriptionPathFor(libraryPath)}};
    if (o.patchText.empty()) inputs.push_back({"patch", patch.path});
    if (o.inputPath != "-") inputs.push_back({"input audio", o.inputPath});
    std::vector<RunFile> outputs;
    if (o.outputPath != "-") outputs.push_back({"output", o.outputPath});
    if (o.plotPath) outputs.push_back({"plot", *o.plotPath});
    if (o.reportPath && *o.reportPath != "-") outputs.push_back({"report", *o.reportPath});
    checkDistinctFiles(inputs, outputs);
    for (const RunFile& output : outputs) checkOutputPath(output.path, o.overwrite);
}

// The plot and the report come after the audio is safe; a plot that fails still leaves
// the report, then fails the run saying what went wrong and where the audio is.
void writeAfterwards(const RunOptions& o, const RunResult& result, const LevelTrace& trace,
                     const std::optional<Ceiling>& ceiling) {
    std::optional<Error> plotFailure;
    if (o.plotPath) try {
            writeLevelPlot(*o.plotPath, trace, result.sampleRate, ceiling, o.plotTitle, o.overwrite);
        } catch (const Error& error) {
            plotFailure = error;
        }
    if (o.reportPath) writeTextFile(*o.reportPath, runReport(result).dump(2) + "\n", o.overwrite);
    if (plotFailure)
        throw outputError(std::string(plotFailure->what()) + " (the audio is written to '" + o.outputPath +
                          "')");
}

Patch loadPatch(const RunOptions& o) {
    return o.patchText.empty() ? readPatch(o.patchPath) : parsePatch(o.patchText, o.patchPath);
}

double sampleRateOf(const AudioReader& reader, const RunOptions& o) {
    const double rate = reader.sampleRate() > 0 ? reader.sampleRate() : o.sampleRate.value_or(0);
    if (!(rate > 0))
        throw inputError("input '" + o.inputPath + "' has no sample rate; give one with --sample-rate");
    return rate;
}

EngineConfig engineConfig(const RunOptions& o, const Patch& patch, double sampleRate, int32_t inputChannels) {
    EngineConfig config;
    config.blockSize = o.blockSize.value_or(patch.blockSize.value_or(kDefaultBlockSize));
    config.sampleRate = sampleRate;
    config.inputChannels = inputChannels;
    config.overrides = o.overrides;
    return config;
}

// The gain signal the patch plots, or null; throws when the patch has no output or names
// no audio output to plot.
const float* checkedGainTap(const Engine& engine, const Patch& patch) {
    if (engine.outputChannels() == 0) throw patchError(patch.path + ": nothing is connected to output.1");
    const float* gain = patch.plotGain ? engine.tap(*patch.plotGain) : nullptr;
    if (patch.plotGain && gain == nullptr)
        throw patchError(patch.path + ": [plot] gain: '" + patch.plotGain->text() +
                         "' is not an audio output");
    return gain;
}

// The input's frames into the engine's input channels, block by block, each patch input
// from the file channel the map gives it, then silence for the tail. A stream may end
// before the frames its header announced.
class InputFeed {
public:
    InputFeed(InputStream& input, Engine& engine, const ChannelMap& map, int32_t blockSize, long long tail)
        : input(input),
          engine(engine),
          sources(map.sources),
          blockSize(blockSize),
          tail(tail),
          fileLeft(input.expectedFrames()),
          totalFrames(fileLeft + tail),
          frames(std::size_t(blockSize * input.channels())) {}

    // The frames the run produces: the file's and the tail's.
    long long total() const { return totalFrames; }

    // Loads the next block, which starts at frame `done`; returns the frames it holds, none
    // when a stream ended at the block before.
    int32_t load(long long done) {
        auto count = int32_t(std::min<long long>(blockSize, totalFrames - done));
        const long long wanted = std::min<long long>(count, fileLeft);
        const long long read = wanted > 0 ? input.read(frames.data(), wanted) : 0;
        if (read < wanted) {
            totalFrames = done + read + tail;
            fileLeft = read;
            count = int32_t(std::min<long long>(count, totalFrames - done));
        }
        std::fill(frames.begin() + read * input.channels(), frames.end(), 0.0f);
        deinterleave(count);
        fileLeft -= read;
        return count;
    }

private:
    void deinterleave(int32_t count) {
        const int32_t width = input.channels();
        for (std::size_t c = 0; c < sources.size(); ++c)
            for (int32_t i = 0; i < count; ++i)
                engine.inputChannel(int32_t(c))[i] = frames[std::size_t(i * width + sources[c])];
    }

    InputStream& input;
    Engine& engine;
    std::vector<int> sources;
    int32_t blockSize;
    long long tail;
    long long fileLeft;
    long long totalFrames;
    std::vector<float> frames;  // interleaved, as the file has them
};

// The engine's output channels, interleaved into the output file block by block, resampled
// to the file's rate when it is not the engine's.
class OutputSink {
public:
    OutputSink(const Engine& engine, const RunOptions& o, double engineRate, double fileRate, int32_t blockSize)
        : writer(o.outputPath, engine.outputChannels(), fileRate, o.overwrite, o.encoding),
          path(o.outputPath),
          format(o.encoding.format),
          frames(std::size_t(blockSize * engine.outputChannels())) {
        for (int32_t c = 0; c < engine.outputChannels(); ++c) channels.push_back(engine.outputChannel(c));
        if (fileRate != engineRate)
            resampler = std::make_unique<Resampler>(engine.outputChannels(), engineRate, fileRate);
    }

    // Throws when the file would grow past what its format can hold.
    void checkSize(long long totalFrames) const {
        const double ratio = resampler ? resampler->ratio() : 1.0;
        checkFileSize((long long)(double(totalFrames) * ratio), int32_t(channels.size()), format, path);
    }

    // Frames first to count - 1 of the block.
    void write(int32_t first, int32_t count) {
        const std::size_t stride = channels.size();
        for (std::size_t c = 0; c < stride; ++c)
            for (int32_t i = first; i < count; ++i)
                frames[std::size_t(i - first) * stride + c] = channels[c][i];
        if (!resampler) return writer.write(frames.data(), count - first);
        const std::vector<float>& converted = resampler->push(frames.data(), count - first);
        writer.write(converted.data(), resampler->framesOut());
    }

    long long clippedSamples() const { return writer.clippedSamples(); }

    void commit() {
        if (resampler) {
            const std::vector<float>& rest = resampler->finish();
            writer.write(rest.data(), resampler->framesOut());
        }
        writer.commit();
    }

private:
    AudioWriter writer;
    std::string path;
    OutputFormat format;
    std::unique_ptr<Resampler> resampler;
    std::vector<const float*> channels;
    std::vector<float> frames;  // interleaved
};

// What the run measures block by block: the levels in and out, the deepest value of the
// plotted gain signal, and the trace the plot draws.
class RunMeters {
public:
    RunMeters(const Engine& engine, const float* gain, bool plotting, RunResult& result)
        : gain(gain),
          plotting(plotting),
          result(result),
          window(std::max<int32_t>(1, int32_t(result.sampleRate * kMeterWindowSeconds))),
          inputMeter(engine.inputChannels(), result.sampleRate, window, plotting),
          outputMeter(engine.outputChannels(), result.sampleRate, window, plotting) {
        for (int32_t c = 0; c < engine.outputChannels(); ++c) outputs.push_back(engine.outputChannel(c));
    }

    // The block that starts at engine frame `done`, once processed: the frames from `first`
    // on are the output's, and `inputs` the input of the same moments.
    void add(long long done, int32_t first, int32_t count, const std::vector<const float*>& inputs) {
        shifted(outputs, first, outputsFromFirst);
        shifted(inputs, first, inputsFromFirst);
        const int32_t kept = count - first;
        outputMeter.add(outputsFromFirst, kept);
        inputMeter.add(inputsFromFirst, kept);
        trackGain(done, count);
        if (plotting && gain != nullptr) traceGain(gain + first, kept);
    }

    // The figures into the result, once the last block is in.
    void finish() {
        result.inputLevels = inputMeter.finish();
        result.outputLevels = outputMeter.finish();
        if (framesInGainWindow > 0) trace.gain.push_back(gainInWindow);
        trace.windowFrames = window;
        trace.frames = result.frames;
        trace.input = inputMeter.windows();
        trace.output = outputMeter.windows();
    }

    const LevelTrace& levels() const { return trace; }

private:
    // While the delayed audio has not arrived yet, a gain signal still ramping up from its
    // start (a smoother's cleared history) reduces nothing: count it from then on.
    void trackGain(long long done, int32_t count) {
        if (gain == nullptr) return;
        for (int32_t i = int32_t(std::clamp<long long>(result.latencySamples - done, 0, count)); i < count;
             ++i)
            result.deepestGain = std::min(result.deepestGain, double(gain[i]));
    }

    static void shifted(const std::vector<const float*>& channels, int32_t first,
                        std::vector<const float*>& into) {
        into.resize(channels.size());
        for (std::size_t c = 0; c < channels.size(); ++c) into[c] = channels[c] + first;
    }

    void traceGain(const float* values, int32_t count) {
        for (int32_t i = 0; i < count; ++i) {
            gainInWindow = std::min(gainInWindow, double(values[i]));
            if (++framesInGainWindow == window) {
                trace.gain.push_back(gainInWindow);
                gainInWindow = 1;
                framesInGainWindow = 0;
            }
        }
    }

    const float* gain;
    bool plotting;
    RunResult& result;
    int32_t window;
    LoudnessMeter inputMeter, outputMeter;
    std::vector<const float*> outputs;
    std::vector<const float*> outputsFromFirst, inputsFromFirst;
    LevelTrace trace;
    double gainInWindow = 1;
    int32_t framesInGainWindow = 0;
};

// Every block from the input file through the engine to the output file, timed.
void stream(Engine& engine, InputFeed& feed, LatencyCompensation& compensation, OutputSink& sink,
            RunMeters& meters, const RunOptions& o, bool knownLength, RunResult& result) {
    // A stream's length is unknown: a bar would promise what its header happens to say.
    ProgressBar own(o.progress && knownLength && o.sharedProgress == nullptr, double(feed.total()));
    ProgressBar& progress = o.sharedProgress != nullptr ? *o.sharedProgress : own;
    // A batch's bar counts seconds of input, whatever each file's rate.
    const double unit = o.sharedProgress != nullptr ? 1.0 / result.sampleRate : 1.0;
    const auto start = std::chrono::steady_clock::now();
    for (long long done = 0; done < feed.total();) {
        const int32_t count = feed.load(done);
        if (count == 0) break;
        const int32_t first = compensation.firstKept(done, count);
        sink.checkSize(result.frames + count - first);
        engine.processBlock(count);
        meters.add(done, first, count, compensation.alignedInputs(count));
        sink.write(first, count);
        done += count;
        result.frames += count - first;
        progress.add(double(count) * unit);
    }
    result.processingSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The patch's fewer outputs than the channels of the input it reads: the output has fewer.
void noteFewerOutputs(const RunOptions& o, const ChannelMap& map, RunResult& result) {
    const auto read = int(std::set<int>(map.sources.begin(), map.sources.end()).size());
    if (result.outputChannels >= read) return;
    const std::string note = "the patch has " + std::to_string(result.outputChannels) +
                             " output channel(s) for the input's " + std::to_string(read) + ": the output has " +
                             std::to_string(result.outputChannels);
    warn(o, note);
    result.channelNote += (result.channelNote.empty() ? "" : "; ") + note;
}

void warnOfClipping(const RunOptions& o, const RunResult& result) {
    if (result.clippedSamples == 0) return;
    warn(o, std::to_string(result.clippedSamples) + " samples clipped: beyond the full scale " +
                result.encoding.format.describe() + " holds (lower the level, or write float)");
}

}  // namespace

RunResult runPatch(const RunOptions& o) {
    const Patch patch = resolveVariables(loadPatch(o), o.overrides);
    const std::string libraryPath =
        o.libraryPath ? *o.libraryPath : resolveLibraryPath(patch.library, patch.path, patch.libraryWhere);
    checkRunFiles(o, patch, libraryPath);
    AudioReader reader(o.inputPath, o.raw);
    RunResult result;
    result.inputRate = sampleRateOf(reader, o);
    result.sampleRate = patch.sampleRate ? double(*patch.sampleRate) : result.inputRate;
    result.outputRate = o.keepRate ? result.inputRate : result.sampleRate;
    result.inputChannels = reader.channels();
    result.encoding = o.encoding;
    const long long tail = tailSamples(o.tail, result.sampleRate);
    const ChannelMap channelMap = mapChannels(reader.channels(), patchInputChannels(patch), o.channels);
    result.channelNote = channelMap.note;

    const LibraryDescription description = readLibraryDescription(libraryPath);
    const EngineConfig config = engineConfig(o, patch, result.sampleRate, int32_t(channelMap.sources.size()));
    Engine::check(patch, description, config);
    const LoadedLibrary loaded(libraryPath);
    Engine engine(patch, description, *loaded.factory, config);
    for (const std::string& warning : engine.warnings()) warn(o, warning);
    const float* gain = checkedGainTap(engine, patch);
    result.latencySamples = engine.latencySamples();
    result.latencyCompensated = !o.keepLatency;
    result.hasGain = gain != nullptr;
    result.ceiling = patch.ceiling;
    result.outputChannels = engine.outputChannels();
    noteFewerOutputs(o, channelMap, result);

    InputStream input(reader, result.sampleRate);
    OutputSink sink(engine, o, result.sampleRate, result.outputRate, config.blockSize);
    RunMeters meters(engine, gain, o.plotPath.has_value(), result);
    LatencyCompensation compensation(engine, o.keepLatency ? 0 : result.latencySamples, config.blockSize);
    InputFeed feed(input, engine, channelMap, config.blockSize, tail + compensation.trimmed());
    if (reader.seekable()) sink.checkSize(feed.total() - compensation.trimmed());
    warnOfLateValues(patch, o, result.sampleRate, feed.total());
    warnOfUnusedChannels(o, patch, engine.inputChannels());
    stream(engine, feed, compensation, sink, meters, o, reader.seekable(), result);
    meters.finish();
    result.nodes = engine.nodeStats();
    sink.commit();
    result.clippedSamples = sink.clippedSamples();
    warnOfClipping(o, result);
    result.filesWritten.push_back(o.outputPath);
    writeAfterwards(o, result, meters.levels(), patch.ceiling);
    if (o.plotPath) result.filesWritten.push_back(*o.plotPath);
    if (o.reportPath && *o.reportPath != "-") result.filesWritten.push_back(*o.reportPath);
    return result;
}

}  // namespace ovm
