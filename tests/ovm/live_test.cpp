// ovm live against a JACK dummy server of the test's own: a client of the test plays a known
// signal into ovm's inputs and records its outputs, which must equal `ovm run` of the same
// signal bit for bit; commands on standard input change the output at a block boundary;
// signals and server failures end the client cleanly with a defined status.

#include <signal.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <functional>
#include <cmath>
#include <thread>

#include <gtest/gtest.h>

#include "ovm/core/audio_file.h"
#include "tests/ovm/ovm_runner.h"
#include "tests/support/jack_dummy_server.h"

namespace {

using namespace ovm_testing;
using testing_support::JackDummyServer;

constexpr int kRate = 48000;
constexpr int kPeriod = 64;
const std::string kLimiter = std::string(EXAMPLES_DIR) + "/limiter.toml";

bool waitFor(const std::function<bool()>& condition, double seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A client of the test: plays a signal into another client's inputs, from the cycle play()
// asks for on, and records that client's outputs from the same cycle.
class PlayAndRecord {
public:
    PlayAndRecord(const JackDummyServer& server, std::vector<std::vector<float>> signal, std::size_t recordFrames)
        : client(server.openClient("player")), signal(std::move(signal)) {
        for (std::size_t c = 0; c < this->signal.size(); ++c) {
            const std::string n = std::to_string(c + 1);
            outs.push_back(jack_port_register(client, ("play_" + n).c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0));
            ins.push_back(jack_port_register(client, ("rec_" + n).c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0));
            recording.emplace_back(recordFrames, 0.0f);
        }
        jack_set_process_callback(client, onProcess, this);
        jack_activate(client);
    }
    ~PlayAndRecord() {
        jack_deactivate(client);
        jack_client_close(client);
    }

    // Wires the other client's ports to this one's once it has them and is active (the
    // server refuses connections to an inactive client's ports).
    bool connect(const std::string& other) {
        const auto wire = [&](const std::string& from, const std::string& to) {
            const int result = jack_connect(client, from.c_str(), to.c_str());
            return result == 0 || result == EEXIST;
        };
        return waitFor([&] {
            for (std::size_t c = 0; c < outs.size(); ++c) {
                const std::string n = std::to_string(c + 1);
                if (!wire(jack_port_name(outs[c]), other + ":in_" + n) || !wire(other + ":out_" + n, jack_port_name(ins[c])))
                    return false;
            }
            return true;
        });
    }
    void play() { playing = true; }
    long long played() const { return position.load(); }
    bool recorded() const { return position.load() >= (long long)recording[0].size(); }
    const std::vector<std::vector<float>>& taken() const { return recording; }

private:
    static int onProcess(jack_nframes_t frames, void* self) {
        auto& s = *static_cast<PlayAndRecord*>(self);
        // A connection made meanwhile may reach the running graph a few cycles later: start
        // in the first cycle that has them all.
        const auto wired = [](jack_port_t* port) { return jack_port_connected(port) > 0; };
        if (!s.playing || !std::all_of(s.outs.begin(), s.outs.end(), wired) ||
            !std::all_of(s.ins.begin(), s.ins.end(), wired)) {
            for (jack_port_t* port : s.outs) std::fill_n(static_cast<float*>(jack_port_get_buffer(port, frames)), frames, 0.0f);
            return 0;
        }
        const long long at = s.position.load();
        for (std::size_t c = 0; c < s.outs.size(); ++c) {
            auto* out = static_cast<float*>(jack_port_get_buffer(s.outs[c], frames));
            const auto* in = static_cast<const float*>(jack_port_get_buffer(s.ins[c], frames));
            for (jack_nframes_t i = 0; i < frames; ++i) {
                const auto frame = std::size_t(at + i);
                out[i] = frame < s.signal[c].size() ? s.signal[c][frame] : 0.0f;
                if (frame < s.recording[c].size()) s.recording[c][frame] = in[i];
            }
        }
        s.position.store(at + frames);
        return 0;
    }

    jack_client_t* client;
    std::vector<std::vector<float>> signal;
    std::vector<std::vector<float>> recording;
    std::vector<jack_port_t*> outs, ins;
    std::atomic<bool> playing{false};
    std::atomic<long long> position{0};
};

// Two channels of noise whose level swells from quiet to 3 dB over full scale and back, so
// that the limiter both rests and works, with a gap of digital silence every 1536 frames, so
// that the patch's streams stop and start again (and its delays keep many changes due).
std::vector<std::vector<float>> testSignal(std::size_t frames) {
    std::vector<std::vector<float>> channels(2, std::vector<float>(frames));
    uint32_t state = 12345;
    for (std::size_t i = 0; i < frames; ++i)
        for (auto& channel : channels) {
            state = state * 1664525u + 1013904223u;
            const float noise = float(state >> 8) / float(1 << 23) * 2.0f - 1.0f;
            const bool gap = i % 1536 >= 1408;
            channel[i] = gap ? 0.0f : noise * float(0.05 + 1.36 * std::sin(M_PI * double(i) / double(frames)));
        }
    return channels;
}

void writeWav(const std::string& path, const std::vector<std::vector<float>>& channels) {
    std::vector<float> interleaved;
    for (std::size_t i = 0; i < channels[0].size(); ++i)
        for (const auto& channel : channels) interleaved.push_back(channel[i]);
    ovm::AudioWriter writer(path, int(channels.size()), kRate, true);
    writer.write(interleaved.data(), (long long)channels[0].size());
    writer.commit();
}

class Live : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (JackDummyServer::available()) server = new JackDummyServer(kRate, kPeriod);
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        if (!JackDummyServer::available()) GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(server->running());
    }
    static JackDummyServer* server;
};
JackDummyServer* Live::server = nullptr;

// `ovm run` of the signal with the patch's latency kept, channel by channel, as the live
// output comes.
std::vector<std::vector<float>> rendered(const std::string& folder, const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {"run", kLimiter, folder + "/in.wav", folder + "/out.wav", "--overwrite",
                                          "--keep-latency", "--block-size", std::to_string(kPeriod)};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const CommandResult run = runOvm(arguments);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    int count = 0;
    const std::vector<float> interleaved = readInterleaved(folder + "/out.wav", &count);
    std::vector<std::vector<float>> channels(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < interleaved.size(); ++i) channels[i % count].push_back(interleaved[i]);
    return channels;
}

std::size_t firstNonZero(const std::vector<float>& x) {
    return std::size_t(std::find_if(x.begin(), x.end(), [](float v) { return v != 0; }) - x.begin());
}

// The first frame of `expected` that the recording, from `offset` on, does not hold bit for bit.
std::size_t firstDifference(const std::vector<std::vector<float>>& recording, std::size_t offset,
                            const std::vector<std::vector<float>>& expected) {
    for (std::size_t i = 0; i < expected[0].size(); ++i)
        for (std::size_t c = 0; c < expected.size(); ++c)
            if (offset + i >= recording[c].size() ||
                std::bit_cast<uint32_t>(recording[c][offset + i]) != std::bit_cast<uint32_t>(expected[c][i]))
                return i;
    return expected[0].size();
}

TEST_F(Live, OutputEqualsOvmRunBitForBitAndACommandTakesEffectAtABlockBoundary) {
    const std::string folder = freshFolder("live_bits");
    const auto signal = testSignal(72000);
    writeWav(folder + "/in.wav", signal);
    BackgroundOvm ovm({"live", kLimiter, "--server", server->name(), "--name", "ovmbits", "--no-connect",
                       "--check-realtime"},
                      folder + "/err.txt", true);
    PlayAndRecord player(*server, signal, signal[0].size() + 8192);
    ASSERT_TRUE(player.connect("ovmbits")) << readText(folder + "/err.txt");
    player.play();
    ASSERT_TRUE(waitFor([&] { return player.played() >= 24000; }));
    // Refused with a line of its own, changing nothing; then a value the output must show.
    writeAll(ovm.input(), "bogus\nset knee.threshold -6 dB\n");
    ASSERT_TRUE(waitFor([&] { return player.played() >= 48000; }));
    writeAll(ovm.input(), "bypass\n");
    ASSERT_TRUE(waitFor([&] { return player.recorded(); }));
    writeAll(ovm.input(), "quit\n");
    EXPECT_EQ(ovm.wait(), 0);
    const std::string err = readText(folder + "/err.txt");
    EXPECT_NE(err.find("ovm: unknown command 'bogus' (commands: set NODE.PIN"), std::string::npos) << err;
#if LIVE_COUNTS_REALTIME_CALLS
    EXPECT_NE(err.find(" callbacks, 0 allocations, 0 frees, 0 locks"), std::string::npos) << err;
#endif

    const auto recording = player.taken();
    const auto unchanged = rendered(folder, {});
    const std::size_t offset = firstNonZero(recording[0]) - firstNonZero(unchanged[0]);
    const std::size_t change = firstDifference(recording, offset, unchanged);
    ASSERT_GT(change, 20000u) << "the live output departs from ovm run before the command";
    ASSERT_LT(change, unchanged[0].size()) << "the command changed nothing";
    // Played from a cycle's start, the signal's frames share the blocks' boundaries: the value
    // comes at the start of the block the first changed frame is in (which may lie a little
    // later, where the new value first makes a difference).
    const std::size_t block = change - change % kPeriod;
    const auto changed = rendered(folder, {"--set", "knee.threshold=-6 dB@" + std::to_string(block) + " samples"});
    const std::size_t bypassed = firstDifference(recording, offset, changed);
    ASSERT_GT(bypassed, 44000u) << "the live output is not ovm run with the value set at frame " << block;
    ASSERT_LT(bypassed, changed[0].size()) << "bypass changed nothing";
    // From a block's start on, the input delayed as the patch delays it: 5.25 ms, 252 frames.
    const std::size_t dryFrom = bypassed - bypassed % kPeriod;
    std::vector<std::vector<float>> dry(2);
    for (std::size_t c = 0; c < 2; ++c)
        for (std::size_t i = dryFrom; i < changed[0].size(); ++i) dry[c].push_back(signal[c][i - 252]);
    EXPECT_EQ(firstDifference(recording, offset + dryFrom, dry), dry[0].size()) << "bypassed from frame " << dryFrom;
}

TEST_F(Live, PortsCarryTheLatencyNewBufferSizesGetANewGraphAndSigtermLeavesNoClient) {
    const std::string folder = freshFolder("live_sigterm");
    const std::string errPath = folder + "/err.txt";
    BackgroundOvm ovm(
        {"live", kLimiter, "--server", server->name(), "--name", "ovmterm", "--no-connect", "--check-realtime"},
        errPath);
    jack_client_t* observer = server->openClient("observer");
    ASSERT_NE(observer, nullptr);
    const auto present = [&] { return jack_port_by_name(observer, "ovmterm:out_1") != nullptr; };
    ASSERT_TRUE(waitFor(present)) << readText(errPath);
    // What reaches in_1 leaves out_1 (connected to nothing) delayed by the patch's 5.25 ms.
    const auto inputLatency = [&] {
        jack_latency_range_t range{};
        jack_port_get_latency_range(jack_port_by_name(observer, "ovmterm:in_1"), JackPlaybackLatency, &range);
        return range.min == 252 && range.max == 252;
    };
    EXPECT_TRUE(waitFor(inputLatency, 3)) << "the patch's latency is not on the ports";
    for (const int frames : {256, kPeriod}) {
        ASSERT_EQ(jack_set_buffer_size(observer, jack_nframes_t(frames)), 0);
        const std::string line = "the server now runs " + std::to_string(frames) + " frames";
        EXPECT_TRUE(waitFor([&] { return readText(errPath).find(line) != std::string::npos; })) << readText(errPath);
    }
    kill(ovm.pid(), SIGTERM);
    EXPECT_EQ(ovm.wait(), 0) << readText(errPath);
    EXPECT_FALSE(present());
    char* uuid = jack_get_uuid_for_client_name(observer, "ovmterm");
    EXPECT_EQ(uuid, nullptr) << "the client outlived ovm";
    jack_free(uuid);
    jack_client_close(observer);
#if LIVE_COUNTS_REALTIME_CALLS
    EXPECT_NE(readText(errPath).find(" callbacks, 0 allocations, 0 frees, 0 locks"), std::string::npos)
        << readText(errPath);
#endif
}

TEST_F(Live, AServerThatIsMissingOrShutsDownEndsTheRunWithStatus8) {
    const std::string folder = freshFolder("live_server");
    const CommandResult missing = runOvm({"live", kLimiter, "--server", server->name() + "-absent"});
    EXPECT_EQ(missing.exitCode, 8);
    EXPECT_NE(missing.err.find("none is running"), std::string::npos) << missing.err;

    JackDummyServer doomed(kRate, kPeriod);
    ASSERT_TRUE(doomed.running());
    BackgroundOvm ovm({"live", kLimiter, "--server", doomed.name(), "--name", "ovmdoomed"}, folder + "/err.txt");
    jack_client_t* observer = doomed.openClient("observer");
    // Connected to the playback ports by default: running, past its start.
    ASSERT_TRUE(waitFor([&] {
        const jack_port_t* port = jack_port_by_name(observer, "ovmdoomed:out_1");
        return port != nullptr && jack_port_connected_to(port, "system:playback_1");
    })) << readText(folder + "/err.txt");
    jack_client_close(observer);
    doomed.stop();
    EXPECT_EQ(ovm.wait(), 8);
    EXPECT_NE(readText(folder + "/err.txt").find("the JACK server shut down"), std::string::npos)
        << readText(folder + "/err.txt");
}

}  // namespace
