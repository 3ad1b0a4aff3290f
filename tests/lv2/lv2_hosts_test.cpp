// Dynamics.lv2 judged by LV2 hosts nobody here wrote (lilv's tools and jalv): they list and
// read every plug-in, run each over a file, and the results equal ovm run's bit for bit.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "ovm/core/audio_file.h"
#include "ovm/core/demo_signal.h"
#include "tests/ovm/ovm_runner.h"
#include "tests/support/jack_dummy_server.h"
#include "tests/support/true_peak_check.h"

namespace {

using ovm_testing::readInterleaved;
using ovm_testing::shellQuoted;

constexpr double kRate = 48000;
// lv2apply runs a plug-in one frame per call; the patches ovm runs for comparison do the same.
constexpr int kLv2applyBlockSize = 1;

const std::vector<std::string> kPlugins = {
    "urn:dynamics:lv2:factor2ms", "urn:dynamics:lv2:hardknee", "urn:dynamics:lv2:integrator",
    "urn:dynamics:lv2:limiter",   "urn:dynamics:lv2:ms2factor", "urn:dynamics:lv2:peak",
    "urn:dynamics:lv2:peakhold",  "urn:dynamics:lv2:smoother"};

struct Output {
    int exitCode;
    std::string out;
    std::string err;
};

// A host tool run with the build's bundle as the only one on LV2_PATH. In a sanitizer build the
// plug-in needs the sanitizer's runtime loaded before anything else in the (uninstrumented)
// host, and the host's own leaks are not the plug-in's.
Output host(const std::string& command) {
    const std::string errPath = ovm_testing::freshFolder("host-stderr") + "/err.txt";
    std::string environment = "export LV2_PATH=" + shellQuoted(LV2_BUNDLES) + "; ";
    if (std::strlen(SANITIZER_RUNTIME) > 0)
        environment += "export LD_PRELOAD=" + shellQuoted(SANITIZER_RUNTIME) + " ASAN_OPTIONS=detect_leaks=0; ";
    FILE* pipe = popen((environment + command + " 2>" + shellQuoted(errPath)).c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), out,
            ovm_testing::readText(errPath)};
}

bool installed(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

#define REQUIRE_TOOL(tool) \
    if (!installed(tool)) GTEST_SKIP() << tool << " is not installed"

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) result.push_back(line);
    return result;
}

// The demo's programme (loud bursts over a quieter bed), a quarter second.
std::string programmeFile(const std::string& folder, int channels) {
    const std::vector<float> stereo = ovm::demoProgramme(0.25, kRate);
    std::vector<float> samples;
    for (std::size_t n = 0; n < stereo.size(); n += 2)
        for (int c = 0; c < channels; ++c) samples.push_back(stereo[n + std::size_t(c)]);
    const std::string path = folder + "/in" + std::to_string(channels) + ".wav";
    ovm::writeAudioFile(path, samples, channels, kRate, true);
    return path;
}

void expectSameBits(const std::vector<float>& lv2, const std::vector<float>& ovm, const std::string& what) {
    ASSERT_EQ(lv2.size(), ovm.size()) << what;
    const auto differs = std::mismatch(lv2.begin(), lv2.end(), ovm.begin(), [](float a, float b) {
        return std::memcmp(&a, &b, sizeof a) == 0;
    });
    EXPECT_TRUE(differs.first == lv2.end())
        << what << ": first difference at sample " << (differs.first - lv2.begin()) << ": " << *differs.first
        << " (LV2) against " << *differs.second << " (ovm)";
}

TEST(Lv2Hosts, ListAndReadEveryPluginWithoutWarnings) {
    REQUIRE_TOOL("lv2ls");
    const Output listed = host("lv2ls");
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    std::vector<std::string> uris = lines(listed.out);
    std::sort(uris.begin(), uris.end());
    EXPECT_EQ(uris, kPlugins);
    EXPECT_EQ(listed.err, "");
    for (const std::string& uri : kPlugins) {
        const Output info = host("lv2info " + uri);
        EXPECT_EQ(info.exitCode, 0) << uri;
        EXPECT_EQ(info.err, "") << uri;
        EXPECT_NE(info.out.find("Port 0:"), std::string::npos) << uri;
    }
    EXPECT_NE(host("lv2info urn:dynamics:lv2:limiter").out.find("Has latency:       yes"), std::string::npos);
}

struct ModuleCase {
    std::string name;
    int channels;
    std::string lv2Controls;  // lv2apply's -c options
    std::string patchValues;  // the same values in the patch ovm runs
};

TEST(Lv2Hosts, EveryModuleThroughLv2applyEqualsOvmRun) {
    REQUIRE_TOOL("lv2apply");
    const std::string folder = ovm_testing::freshFolder("lv2apply-modules");
    const std::vector<ModuleCase> cases = {
        {"peak", 2, "", ""},
        {"hardknee", 1, "-c threshold 0.25", "threshold = \"0.25x\""},
        {"peakhold", 1, "-c holdTime 3", "holdTime = \"3 ms\""},
        {"smoother", 1, "-c time 2", "time = \"2 ms\""},
        {"integrator", 1, "", ""},
        {"ms2factor", 1, "", ""},
        {"factor2ms", 1, "", ""},
    };
    for (const ModuleCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = programmeFile(folder, c.channels);
        const std::string patch = folder + "/" + c.name + ".toml";
        ovm_testing::writeText(patch, "library = \"Dynamics.ovm\"\nblock_size = " + std::to_string(kLv2applyBlockSize) + "\n" +
                                          "connections = [" +
                                          (c.channels == 2 ? "\"input.1 -> m.inputA\", \"input.2 -> m.inputB\""
                                                           : "\"input.1 -> m.input\"") +
                                          ", \"m.output -> output.1\"]\n[nodes.m]\nmodule = \"" + c.name +
                                          "\"\n" + c.patchValues + "\n");
        const std::string ovmOut = folder + "/" + c.name + "-ovm.wav";
        const auto run = ovm_testing::runOvm(
            {"run", patch, in, ovmOut, "--library", DYNAMICS_LIBRARY_PATH, "--no-progress", "--overwrite"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const std::string lv2Out = folder + "/" + c.name + "-lv2.wav";
        const Output applied = host("lv2apply -i " + shellQuoted(in) + " -o " + shellQuoted(lv2Out) + " " +
                                    c.lv2Controls + " urn:dynamics:lv2:" + c.name);
        ASSERT_EQ(applied.exitCode, 0) << applied.err;
        expectSameBits(readInterleaved(lv2Out), readInterleaved(ovmOut), c.name);
    }
}

// A full-scale tone at a quarter of the rate, its samples at 45 degrees off its peaks: the
// true peak is 3 dB above the sample peak (0 dBFS), which a sample-peak limiter misses.
std::string quarterRateToneFile(const std::string& folder) {
    std::vector<float> samples;
    for (int n = 0; n < int(kRate) / 4; ++n) {
        const float x = float(std::sin(std::numbers::pi / 2 * n + std::numbers::pi / 4) * std::numbers::sqrt2);
        samples.insert(samples.end(), {x, x});
    }
    const std::string path = folder + "/tone.wav";
    ovm::writeAudioFile(path, samples, 2, kRate, true);
    return path;
}

struct LimiterCase {
    std::string name;
    double ceilingDb;
    std::string lv2Controls;
    std::vector<std::string> ovmSets;  // the same settings as ovm run --set values
};

// The limiter plug-in runs the bundled patch: through lv2apply (which does not compensate
// latency) its output is ovm run's with the latency kept, cut to the input's length, and its
// true peak stays at the ceiling.
TEST(Lv2Hosts, LimiterThroughLv2applyEqualsOvmRunAndKeepsItsCeiling) {
    REQUIRE_TOOL("lv2apply");
    const std::string folder = ovm_testing::freshFolder("lv2apply-limiter");
    const std::vector<LimiterCase> cases = {
        {"defaults", -1.0, "", {}},
        {"tighter", -3.0, "-c ceiling -3 -c lookahead 10 -c release 20",
         {"lookahead=10ms", "hold=20ms", "delay=10.25ms", "knee.threshold=-3.5dB"}},
    };
    const std::vector<std::string> programmes = {programmeFile(folder, 2), quarterRateToneFile(folder)};
    for (const LimiterCase& c : cases)
        for (const std::string& in : programmes) {
            SCOPED_TRACE(c.name + " on " + in);
            const std::string ovmOut = folder + "/ovm.wav", lv2Out = folder + "/lv2.wav";
            std::vector<std::string> arguments = {"run", std::string(EXAMPLES_DIR) + "/limiter.toml", in, ovmOut,
                                                  "--library", DYNAMICS_LIBRARY_PATH, "--block-size",
                                                  std::to_string(kLv2applyBlockSize), "--keep-latency",
                                                  "--no-progress", "--overwrite"};
            for (const std::string& set : c.ovmSets) arguments.insert(arguments.end(), {"--set", set});
            const auto run = ovm_testing::runOvm(arguments);
            ASSERT_EQ(run.exitCode, 0) << run.err;
            const Output applied = host("lv2apply -i " + shellQuoted(in) + " -o " + shellQuoted(lv2Out) + " " +
                                        c.lv2Controls + " urn:dynamics:lv2:limiter");
            ASSERT_EQ(applied.exitCode, 0) << applied.err;
            const std::vector<float> lv2 = readInterleaved(lv2Out);
            std::vector<float> ovm = readInterleaved(ovmOut);
            ASSERT_GE(ovm.size(), lv2.size());
            ovm.resize(lv2.size());
            expectSameBits(lv2, ovm, "limiter");
            for (std::size_t channel = 0; channel < 2; ++channel) {
                std::vector<float> samples;
                for (std::size_t n = channel; n < lv2.size(); n += 2) samples.push_back(lv2[n]);
                EXPECT_LE(20 * std::log10(testing_support::truePeak(samples)), c.ceilingDb)
                    << "channel " << channel + 1;
            }
        }
}

TEST(Lv2Hosts, Lv2benchRunsEveryPlugin) {
    REQUIRE_TOOL("lv2bench");
    const Output bench = host("lv2bench -n 48000 -b 256");
    ASSERT_EQ(bench.exitCode, 0) << bench.err;
    for (const std::string& uri : kPlugins) EXPECT_NE(bench.out.find(uri), std::string::npos) << uri;
}

TEST(Lv2Hosts, JalvRunsTheLimiterOnAJackServerAndExitsCleanly) {
    REQUIRE_TOOL("jalv");
    if (!testing_support::JackDummyServer::available()) GTEST_SKIP() << "jackd is not installed";
    const testing_support::JackDummyServer jack(48000, 256);
    ASSERT_TRUE(jack.running());
    // jalv reads commands until its input ends, then exits; "monitors" prints the output
    // controls, among them the latency the running plug-in reports: 5 ms and the detectors'
    // 12 samples, then 10 ms and 12 once the look-ahead has been rebuilt on jalv's worker.
    const Output jalv = host("(sleep 1; echo monitors; echo 'lookahead = 10'; sleep 1; echo monitors; sleep 1) | "
                             "JACK_DEFAULT_SERVER=" + jack.name() +
                             " timeout 20 jalv -n dynamics-limiter urn:dynamics:lv2:limiter");
    EXPECT_EQ(jalv.exitCode, 0) << jalv.err;
    const std::size_t first = jalv.out.find("latency = 252");
    EXPECT_NE(first, std::string::npos) << jalv.out;
    EXPECT_NE(jalv.out.find("latency = 492", first), std::string::npos) << jalv.out;
}

}  // namespace
