#include "ovm/live/live_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "description/library_description_reader.h"
#include "engine/errors.h"
#include "engine/patch_variables.h"
#include "engine/quantity.h"
#include "ovm/core/audio_file.h"
#include "ovm/core/library_lookup.h"
#include "ovm/core/loaded_library.h"
#include "ovm/core/patch_reader.h"
#include "ovm/live/jack_client.h"
#include "ovm/live/live_command.h"
#include "ovm/live/live_processor.h"
#include "ovm/live/meter_display.h"

namespace ovm::live {

namespace {

// An input file is held in memory (the audio thread reads no disk); longer ones are refused.
constexpr double kLongestInputSeconds = 30 * 60;
constexpr auto kMeterPeriod = std::chrono::milliseconds(100);

void warn(const std::string& message) { std::fprintf(stderr, "ovm: warning: %s\n", message.c_str()); }

// The highest input channel the patch reads: the ports it needs when no file gives the count.
int32_t patchInputChannels(const Patch& patch) {
    int32_t channels = 1;
    for (const ConnectionEntry& c : patch.connections) {
        if (c.from.node != kInputNode || c.from.pin.empty() || c.from.pin.size() > 4 ||
            c.from.pin.find_first_not_of("0123456789") != std::string::npos)
            continue;  // Engine::check says what is wrong with it
        channels = std::max(channels, int32_t(std::stoi(c.from.pin)));
    }
    return channels;
}

FileInput readFileInput(const std::string& path, bool loop) {
    AudioReader reader(path);
    FileInput input;
    input.channels = reader.channels();
    input.sampleRate = reader.sampleRate();
    input.loop = loop;
    const auto longest = (long long)(kLongestInputSeconds * reader.sampleRate());
    std::vector<float> block(std::size_t(4096 * input.channels));
    for (long long read; (read = reader.read(block.data(), 4096)) > 0;) {
        input.frames.insert(input.frames.end(), block.begin(), block.begin() + read * input.channels);
        if (input.length() > longest)
            throw inputError("input '" + path + "' is longer than " + std::to_string(int(kLongestInputSeconds / 60)) +
                             " minutes, the most ovm live holds in memory");
    }
    if (input.length() == 0) throw inputError("input '" + path + "' holds no audio");
    return input;
}

// SIGINT, SIGTERM and SIGHUP become a byte in a pipe the control loop polls, whichever thread
// (the JACK library runs several) they arrive on: the loop then stops the client in order
// rather than the process dying with its client registered. Writing to a pipe is
// async-signal-safe.
class StopSignals {
public:
    StopSignals() {
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        writeEnd = fds[1];
        struct sigaction action {};
        action.sa_handler = [](int) {
            const int saved = errno;
            [[maybe_unused]] const ssize_t written = write(writeEnd, "s", 1);
            errno = saved;
        };
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &previous[i]);
    }
    ~StopSignals() {
        for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &previous[i], nullptr);
        writeEnd = -1;
        close(fds[0]);
        close(fds[1]);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    int fd() const { return fds[0]; }

private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    static inline volatile sig_atomic_t writeEnd = -1;
    int fds[2] = {-1, -1};
    struct sigaction previous[std::size(kSignals)];
};

// What the server tells the client from its own threads, for the control loop.
struct ServerNews {
    std::atomic<long long> xruns{0};
    std::atomic<uint32_t> bufferSize{0};
    std::atomic<uint32_t> sampleRate{0};
    std::atomic<bool> shutDown{false};
    char shutdownReason[256] = {};
};

class Session {
public:
    explicit Session(const LiveOptions& options);
    // No callback may run once the processor and the graphs it runs start to go.
    ~Session() { client.deactivate(); }
    LiveSummary run();

private:
    static int onProcess(jack_nframes_t frames, void* self);
    static void onLatency(jack_latency_callback_mode_t mode, void* self);
    static void onShutdown(jack_status_t, const char* reason, void* self);

    std::unique_ptr<LiveGraph> build(int32_t bufferSize, double sampleRate);
    void openPorts();
    void setCallbacks();
    void connectPorts();
    void readCommands(std::string& pending, bool& stdinOpen, LiveSummary& summary);
    void apply(const LiveCommand& command, LiveSummary& summary);
    void followServer();
    void reportXruns();

    const LiveOptions& o;
    Patch patch;
    std::string libraryPath;
    LibraryDescription description;
    std::optional<FileInput> file;
    StopSignals signals;
    ServerNews news;
    JackClient client;
    std::optional<LoadedLibrary> library;
    std::vector<ValueOverride> applied;  // the base values and those set since, for rebuilds
    std::unique_ptr<LiveProcessor> processor;
    std::unique_ptr<LiveGraph> waiting;  // built for the server's new settings, not yet taken
    std::atomic<long long> latency{0};
    std::vector<jack_port_t*> inPorts, outPorts;
    std::vector<const float*> inBuffers;
    std::vector<float*> outBuffers;
    std::atomic<long long> callbacks{0};
    MeterDisplay display;
    long long reportedXruns = 0;
    std::chrono::steady_clock::time_point nextXrunReport;
    bool bypassed = false;
    bool quit = false;
};

Patch loadPatch(const LiveOptions& o) { return resolveVariables(readPatch(o.patchPath), o.overrides); }

Session::Session(const LiveOptions& options)
    : o(options),
      patch(loadPatch(options)),
      libraryPath(o.libraryPath ? *o.libraryPath
                                : resolveLibraryPath(patch.library, patch.path, patch.libraryWhere)),
      description(readLibraryDescription(libraryPath)),
      file(o.inputPath ? std::optional(readFileInput(*o.inputPath, o.loop)) : std::nullopt),
      client(o.clientName, o.serverName),
      applied(o.overrides),
      display(isatty(STDERR_FILENO) != 0, o.jsonMeters) {
    news.bufferSize = uint32_t(client.bufferSize());
    news.sampleRate = uint32_t(client.sampleRate());
    if (file && file->sampleRate != client.sampleRate())
        throw inputError("input '" + *o.inputPath + "' is at " + std::to_string(int(file->sampleRate)) +
                         " Hz, the JACK server at " + std::to_string(int(client.sampleRate())) +
                         " Hz (convert it first, e.g. with sox)");
    processor = std::make_unique<LiveProcessor>(build(client.bufferSize(), client.sampleRate()), file ? &*file : nullptr);
    latency = processor->latestGraph().latency;
    for (const std::string& warning : processor->latestGraph().engine->warnings()) warn(warning);
    openPorts();
    setCallbacks();
}

std::unique_ptr<LiveGraph> Session::build(int32_t bufferSize, double sampleRate) {
    EngineConfig config;
    config.blockSize = std::min(bufferSize, kMaxBlockSize);
    config.sampleRate = sampleRate;
    config.inputChannels = file ? file->channels : patchInputChannels(patch);
    config.overrides = applied;
    Engine::check(patch, description, config);
    if (!library) library.emplace(libraryPath);
    auto engine = std::make_unique<Engine>(patch, description, *library->factory, config);
    if (engine->outputChannels() == 0) throw patchError(patch.path + ": nothing is connected to output.1");
    const float* gain = patch.plotGain ? engine->tap(*patch.plotGain) : nullptr;
    // The first block delivers every start value, on which a module may size its buffers:
    // run it here on silence, so that the audio thread never sees that allocation.
    engine->processBlock(config.blockSize);
    return std::make_unique<LiveGraph>(std::move(engine), config.blockSize, sampleRate, gain);
}

void Session::openPorts() {
    const Engine& engine = *processor->latestGraph().engine;
    if (!file)
        for (int32_t c = 0; c < engine.inputChannels(); ++c)
            inPorts.push_back(client.registerPort("in_" + std::to_string(c + 1), true));
    for (int32_t c = 0; c < engine.outputChannels(); ++c)
        outPorts.push_back(client.registerPort("out_" + std::to_string(c + 1), false));
    inBuffers.resize(inPorts.size());
    outBuffers.resize(outPorts.size());
}

void Session::setCallbacks() {
    jack_client_t* handle = client.handle();
    jack_set_process_callback(handle, onProcess, this);
    jack_set_latency_callback(handle, onLatency, this);
    jack_on_info_shutdown(handle, onShutdown, this);
    jack_set_xrun_callback(
        handle, [](void* self) { return ++static_cast<Session*>(self)->news.xruns, 0; }, this);
    jack_set_buffer_size_callback(
        handle, [](jack_nframes_t frames, void* self) { return static_cast<Session*>(self)->news.bufferSize = frames, 0; },
        this);
    jack_set_sample_rate_callback(
        handle, [](jack_nframes_t rate, void* self) { return static_cast<Session*>(self)->news.sampleRate = rate, 0; },
        this);
}

// The audio thread: the ports' buffers into the processor, nothing else.
int Session::onProcess(jack_nframes_t frames, void* self) {
    Session& s = *static_cast<Session*>(self);
    if (s.o.probe.enter) s.o.probe.enter();
    for (std::size_t c = 0; c < s.inPorts.size(); ++c)
        s.inBuffers[c] = static_cast<const float*>(jack_port_get_buffer(s.inPorts[c], frames));
    for (std::size_t c = 0; c < s.outPorts.size(); ++c)
        s.outBuffers[c] = static_cast<float*>(jack_port_get_buffer(s.outPorts[c], frames));
    s.processor->process(int32_t(frames), s.inBuffers.data(), s.outBuffers.data());
    s.callbacks.store(s.callbacks.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (s.o.probe.leave) s.o.probe.leave();
    return 0;
}

// The patch delays what passes through it by its latency: a recording host that knows it
// lines the recording up with what it played.
void Session::onLatency(jack_latency_callback_mode_t mode, void* self) {
    Session& s = *static_cast<Session*>(self);
    const auto delay = jack_nframes_t(s.latency.load());
    const bool capture = mode == JackCaptureLatency;
    // Capture latency flows from the inputs to the outputs, playback latency the other way.
    const std::vector<jack_port_t*>& from = capture ? s.inPorts : s.outPorts;
    const std::vector<jack_port_t*>& to = capture ? s.outPorts : s.inPorts;
    jack_latency_range_t range{from.empty() ? 0 : UINT32_MAX, 0};
    for (jack_port_t* port : from) {
        jack_latency_range_t upstream;
        jack_port_get_latency_range(port, mode, &upstream);
        range.min = std::min(range.min, upstream.min);
        range.max = std::max(range.max, upstream.max);
    }
    range.min += delay;
    range.max += delay;
    for (jack_port_t* port : to) jack_port_set_latency_range(port, mode, &range);
}

void Session::onShutdown(jack_status_t, const char* reason, void* self) {
    Session& s = *static_cast<Session*>(self);
    std::snprintf(s.news.shutdownReason, sizeof s.news.shutdownReason, "%s", reason ? reason : "");
    s.news.shutDown = true;
}

void Session::connectPorts() {
    if (!o.connect) return;
    const std::vector<std::string> capture = client.physicalPorts(true);
    const std::vector<std::string> playback = client.physicalPorts(false);
    for (std::size_t c = 0; c < inPorts.size() && c < capture.size(); ++c)
        client.connect(capture[c], jack_port_name(inPorts[c]));
    for (std::size_t c = 0; c < outPorts.size() && c < playback.size(); ++c)
        client.connect(jack_port_name(outPorts[c]), playback[c]);
    if (capture.size() < inPorts.size() || playback.size() < outPorts.size())
        warn("the server has " + std::to_string(capture.size()) + " capture and " + std::to_string(playback.size()) +
             " playback ports for the patch's " + std::to_string(inPorts.size()) + " inputs and " +
             std::to_string(outPorts.size()) + " outputs; the rest stay unconnected");
}

void Session::readCommands(std::string& pending, bool& stdinOpen, LiveSummary& summary) {
    char chunk[4096];
    const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
    if (got <= 0) {
        stdinOpen = got < 0 && (errno == EAGAIN || errno == EINTR);
        return;
    }
    pending.append(chunk, std::size_t(got));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
        try {
            if (const auto command = parseLiveCommand(std::string_view(pending).substr(0, end)))
                apply(*command, summary);
        } catch (const std::invalid_argument& error) {
            display.clear();
            std::fprintf(stderr, "ovm: %s\n", error.what());
        } catch (const Error& error) {
            display.clear();
            std::fprintf(stderr, "ovm: %s\n", error.what());
        }
    }
}

void Session::apply(const LiveCommand& command, LiveSummary& summary) {
    LiveEvent event;
    switch (command.kind) {
    case LiveCommand::Kind::quit:
        quit = true;
        summary.stoppedBy = "quit";
        return;
    case LiveCommand::Kind::meters:
        display.setOn(*command.on);
        return;
    case LiveCommand::Kind::bypass:
        bypassed = command.on.value_or(!bypassed);
        event.kind = bypassed ? LiveEvent::Kind::bypassOn : LiveEvent::Kind::bypassOff;
        break;
    case LiveCommand::Kind::set: {
        const Engine::ControlPin pin = processor->latestGraph().engine->controlPin(command.target);
        try {
            event.value = float(toPinValue(parseQuantity(command.value), pin.unit));
        } catch (const std::invalid_argument& error) {
            throw std::invalid_argument("'" + command.value + "' for " + command.target.text() + ": " + error.what());
        }
        event.node = uint32_t(pin.node);
        event.pinId = pin.pinId;
        std::erase_if(applied, [&](const ValueOverride& v) { return !v.at && v.target.text() == command.target.text(); });
        applied.push_back({command.target, {command.value, "standard input"}, std::nullopt});
        break;
    }
    }
    if (!processor->post(event)) throw std::invalid_argument("the audio thread takes no commands now; try again");
}

// A new buffer size or rate from the server: a graph for it is built here and handed over;
// until it is taken, the old one runs the callbacks in pieces of its own block size.
void Session::followServer() {
    const auto size = int32_t(news.bufferSize.load());
    const double rate = news.sampleRate.load();
    const LiveGraph& latest = waiting ? *waiting : processor->latestGraph();
    if (std::min(size, kMaxBlockSize) != latest.blockSize || rate != latest.sampleRate) {
        if (file && rate != file->sampleRate)
            throw inputError("the JACK server changed its rate to " + std::to_string(int(rate)) +
                             " Hz; the input file is at " + std::to_string(int(file->sampleRate)) + " Hz");
        waiting = build(size, rate);
        display.clear();
        std::fprintf(stderr, "ovm: the server now runs %d frames at %g Hz: the patch is built anew for it\n", size, rate);
    }
    if (waiting) {
        const long long delay = waiting->latency;
        if (processor->replace(waiting) && delay != latency.exchange(delay))
            jack_recompute_total_latencies(client.handle());
    }
    processor->releaseRetired();
}

// At most a line a second: a struggling system has many xruns, and the meters count them all.
void Session::reportXruns() {
    const long long xruns = news.xruns.load();
    const auto now = std::chrono::steady_clock::now();
    if (xruns == reportedXruns || (!o.stopOnXrun && now < nextXrunReport)) return;
    reportedXruns = xruns;
    nextXrunReport = now + std::chrono::seconds(1);
    display.clear();
    const double at = double(processor->framesProcessed()) / processor->latestGraph().sampleRate;
    if (o.stopOnXrun)
        throw Error(ExitCode::xrun, "stopped at an xrun at " + std::to_string(int(at * 1000)) +
                                        " ms: a cycle missed its deadline, the audio may have a gap");
    std::fprintf(stderr, "ovm: xrun at %.2f s: a cycle missed its deadline, the audio may have a gap (%lld so far)\n",
                 at, xruns);
}

LiveSummary Session::run() {
    client.activate();
    connectPorts();
    const std::string name = client.name();
    if (name != o.clientName) warn("the server already has a client '" + o.clientName + "'; this one is '" + name + "'");
    long long durationFrames = -1;
    if (o.duration) try {
            durationFrames = toSamples(parseQuantity(*o.duration), client.sampleRate());
        } catch (const std::invalid_argument& error) {
            throw usageError("--duration '" + *o.duration + "': " + error.what());
        }
    LiveSummary summary;
    std::string pending;
    bool stdinOpen = true;
    auto nextMeters = std::chrono::steady_clock::now() + kMeterPeriod;
    while (!quit) {
        pollfd fds[2] = {{signals.fd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextMeters - std::chrono::steady_clock::now());
        poll(fds, stdinOpen ? 2 : 1, int(std::clamp<long long>(wait.count(), 0, 100)));
        if (fds[0].revents & POLLIN) {
            summary.stoppedBy = "signal";
            break;
        }
        if (stdinOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) readCommands(pending, stdinOpen, summary);
        if (news.shutDown)
            throw Error(ExitCode::server, std::string("the JACK server shut down") +
                                              (news.shutdownReason[0] ? ": " + std::string(news.shutdownReason) : ""));
        reportXruns();
        followServer();
        if (durationFrames >= 0 && processor->framesProcessed() >= durationFrames) summary.stoppedBy = "duration";
        if (processor->fileFinished()) summary.stoppedBy = "end of input";
        if (!summary.stoppedBy.empty()) break;
        if (std::chrono::steady_clock::now() >= nextMeters) {
            for (MeterFrame frame; processor->popMeters(frame);) display.add(frame);
            display.show(double(processor->framesProcessed()) / processor->latestGraph().sampleRate, news.xruns);
            nextMeters += kMeterPeriod;
        }
    }
    client.deactivate();
    display.clear();
    summary.seconds = double(processor->framesProcessed()) / processor->latestGraph().sampleRate;
    summary.callbacks = callbacks;
    summary.xruns = news.xruns;
    return summary;
}

}  // namespace

LiveSummary runLive(const LiveOptions& options) { return Session(options).run(); }

}  // namespace ovm::live
