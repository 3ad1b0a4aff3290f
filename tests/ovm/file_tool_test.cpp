// ovm run as a file tool: formats and depths, pipes, channels, a patch's own rate, and many
// files at once. sox, an independent reader, checks what ovm writes.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "ovm/core/audio_file.h"
#include "tests/ovm/ovm_runner.h"

namespace ovm_testing {
namespace {

constexpr double kRate = 48000;
constexpr const char* kStereoThrough =
    "library = \"Dynamics.ovm\"\nconnections = [\"input.1 -> output.1\", \"input.2 -> output.2\"]\n";

// A shell command's standard output and error together, and its exit status.
CommandResult shell(const std::string& command) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = pclose(pipe);
    return {WEXITSTATUS(status), out, ""};
}

bool haveSox() { return shell("command -v sox").exitCode == 0; }

// Half a second of stereo: a sine at -6 dBFS on the left, quieter noise on the right, so
// that every bit of a sample matters somewhere.
std::vector<float> programme(double rate = kRate, std::size_t frames = 24000) {
    std::vector<float> samples(frames * 2);
    uint32_t noise = 1;
    for (std::size_t n = 0; n < frames; ++n) {
        samples[2 * n] = float(0.5 * std::sin(2 * M_PI * 997 * double(n) / rate));
        noise = noise * 1664525u + 1013904223u;
        samples[2 * n + 1] = float(double(noise) / 4294967296.0 * 0.2 - 0.1);
    }
    return samples;
}

struct Scene {
    explicit Scene(const std::string& name) : folder(freshFolder(name)) {
        writeText(patch, kStereoThrough);
        ovm::writeAudioFile(input, programme(), 2, kRate, true);
    }
    std::string folder;
    std::string patch = folder + "/p.toml";
    std::string input = folder + "/in.wav";
};

// Each format and depth: a float file holds the engine's output (here the input, through a
// patch that passes it on) exactly, an integer file within its dither (±1 step of TPDF and
// the rounding's half step), a lossy one its length; sox reads each without a warning.
TEST(OvmFormats, EachFormatAndDepthHoldsTheOutput) {
    if (!haveSox()) GTEST_SKIP() << "sox is not installed";
    const Scene scene("formats");
    const std::vector<float> engineOutput = readInterleaved(scene.input);
    const struct {
        const char* name;
        std::vector<std::string> options;
        int bits;  // 0 float, -1 lossy
        bool soxReads;
    } cases[] = {
        {"a.wav", {}, 0, true},           {"b.wav", {"--bits", "16"}, 16, true},
        {"c.wav", {"--bits", "24"}, 24, true}, {"d.wav", {"--bits", "32"}, 32, true},
        {"e.flac", {}, 24, true},         {"f.flac", {"--bits", "16"}, 16, true},
        {"g.aiff", {}, 0, true},          {"h.aif", {"--bits", "24"}, 24, true},
        {"i.w64", {}, 0, true},           {"j.rf64", {"--bits", "16"}, 16, true},
        {"k.ogg", {}, -1, true},          {"l.opus", {}, -1, false},
        {"m", {"--format", "flac"}, 24, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string output = scene.folder + "/" + c.name;
        std::vector<std::string> arguments = {"run", scene.patch, scene.input, output, "-q"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const CommandResult run = runOvm(arguments);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "") << "-q prints nothing";
        const std::vector<float> written = readInterleaved(output);
        ASSERT_EQ(written.size(), engineOutput.size());
        if (c.bits == 0) {
            EXPECT_EQ(written, engineOutput);
        } else if (c.bits > 0) {
            const double step = std::ldexp(1.0, 1 - c.bits);
            double worst = 0;
            for (std::size_t i = 0; i < written.size(); ++i)
                worst = std::max(worst, std::fabs(double(written[i]) - double(engineOutput[i])));
            // Read back as floats, 32-bit integers keep the float's 24 bits.
            EXPECT_LE(worst, 1.5 * step + std::ldexp(1.0, -25));
            if (c.bits < 32) {
                EXPECT_GT(worst, 0.5 * step) << "dithered, not just rounded";
            }
        }
        if (c.soxReads) {
            const CommandResult sox = shell("sox " + shellQuoted(output) + " -n");
            EXPECT_EQ(sox.exitCode, 0);
            EXPECT_EQ(sox.out, "") << "sox's warnings";
        }
    }
}

// Dither is seeded: a rerun gives the same bytes. Without it, the integers are the rounded
// samples. Clipping is counted, not silent.
TEST(OvmFormats, DitherRepeatsAndClippingIsCounted) {
    const Scene scene("dither");
    const std::string a = scene.folder + "/a.wav", b = scene.folder + "/b.wav", c = scene.folder + "/c.wav";
    for (const std::string& out : {a, b}) ASSERT_EQ(runOvm({"run", scene.patch, scene.input, out, "--bits", "16"}).exitCode, 0);
    EXPECT_EQ(readText(a), readText(b));
    ASSERT_EQ(runOvm({"run", scene.patch, scene.input, c, "--bits", "16", "--no-dither"}).exitCode, 0);
    const std::vector<float> input = readInterleaved(scene.input), rounded = readInterleaved(c);
    for (std::size_t i = 0; i < input.size(); ++i)
        ASSERT_EQ(rounded[i], float(std::nearbyint(double(input[i]) * 32768) / 32768)) << i;

    std::vector<float> loud(2 * 4800, 0.5f);
    for (std::size_t i = 0; i < 7; ++i) loud[100 + i] = 1.5f;
    ovm::writeAudioFile(scene.folder + "/loud.wav", loud, 2, kRate, true);
    const CommandResult run =
        runOvm({"run", scene.patch, scene.folder + "/loud.wav", scene.folder + "/loud.flac", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out)["clipped_samples"], 7);
    EXPECT_NE(run.err.find("7 samples clipped"), std::string::npos) << run.err;
}

// Standard input and output through pipes, with sox at both ends; the summary stays off the
// audio.
TEST(OvmStreams, PipesCarryTheSameAudioAsFiles) {
    if (!haveSox()) GTEST_SKIP() << "sox is not installed";
    const Scene scene("pipes");
    const std::string in = shellQuoted(scene.input);
    const std::string out = shellQuoted(scene.folder + "/out.wav");
    const struct {
        const char* name;
        std::vector<std::string> arguments;  // after run PATCH
        std::string before, after;
    } cases[] = {
        {"wav both ways", {"-", "-", "--format", "wav"}, "sox " + in + " -t wav - |", "| sox -t wav - " + out},
        {"raw in", {"-", scene.folder + "/out.wav", "--raw", "48000:2:f32"},
         "sox " + in + " -t raw -e floating-point -b 32 - |", ""},
        {"wav out to a file", {scene.input, "-", "--format", "wav"}, "", "> " + out},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove((scene.folder + "/out.wav").c_str());
        std::vector<std::string> arguments = {"run", scene.patch};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const CommandResult run = runOvm(arguments, c.before, c.after);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE((run.out + run.err).find("real-time factor"), std::string::npos) << "the summary";
        // sox carries samples as 32-bit integers: floats come back within a few of those steps.
        const std::vector<float> out = readInterleaved(scene.folder + "/out.wav"), in = readInterleaved(scene.input);
        ASSERT_EQ(out.size(), in.size());
        for (std::size_t i = 0; i < in.size(); ++i) ASSERT_NEAR(out[i], in[i], 1e-7) << i;
    }
    // Written to a file, the header has its sizes: sox reads it without a warning.
    EXPECT_EQ(shell("sox " + out + " -n").out, "");
    EXPECT_NE(runOvm({"run", scene.patch, scene.input, "-"}).err.find("standard output needs --format"),
              std::string::npos);
    EXPECT_NE(runOvm({"run", scene.patch, scene.input, "-", "--format", "flac"}).err.find("standard output"),
              std::string::npos);
}

// The file's channels into the patch's: a mono file fills every input, --channels picks and
// orders them, and a file with more channels than the patch takes needs it.
TEST(OvmChannels, FileChannelsMapOntoThePatch) {
    const Scene scene("channels");
    std::vector<float> mono(4800);
    for (std::size_t n = 0; n < mono.size(); ++n) mono[n] = float(n % 100) / 200.0f;
    ovm::writeAudioFile(scene.folder + "/mono.wav", mono, 1, kRate, true);
    writeText(scene.folder + "/mono.toml", "library = \"Dynamics.ovm\"\nconnections = [\"input.1 -> output.1\"]\n");
    const std::vector<float> stereo = readInterleaved(scene.input);
    const auto swapped = [&] {
        std::vector<float> out(stereo);
        for (std::size_t n = 0; n + 1 < out.size(); n += 2) std::swap(out[n], out[n + 1]);
        return out;
    }();
    std::vector<float> right;
    for (std::size_t n = 1; n < stereo.size(); n += 2) right.push_back(stereo[n]);
    std::vector<float> doubled;
    for (float x : mono) doubled.insert(doubled.end(), {x, x});
    const struct {
        const char* name;
        std::string patch, input;
        std::vector<std::string> options;
        int exitCode;
        std::vector<float> expected;
        std::string said;
    } cases[] = {
        {"mono into stereo", "p.toml", "mono.wav", {}, 0, doubled, "mono input duplicated"},
        {"swapped", "p.toml", "in.wav", {"--channels", "2,1"}, 0, swapped, "input channels 2,1 of 2"},
        {"right only", "mono.toml", "in.wav", {"--channels", "2"}, 0, right, ""},
        {"too many", "mono.toml", "in.wav", {}, 2, {}, "the patch takes 1 channel: pick them with --channels"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> arguments = {"run", scene.folder + "/" + c.patch, scene.folder + "/" + c.input,
                                              scene.folder + "/out.wav",
                                              "--overwrite"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const CommandResult run = runOvm(arguments);
        ASSERT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE((run.out + run.err).find(c.said), std::string::npos) << run.out << run.err;
        if (c.exitCode == 0) {
            EXPECT_EQ(readInterleaved(scene.folder + "/out.wav"), c.expected);
        }
    }
}

// A 44.1 kHz input through a patch fixed at 48 kHz: the output is the same sine at 48 kHz,
// and with --keep-rate at 44.1 kHz again, as long as the input.
TEST(OvmSampleRate, APatchRunsAtItsOwnRateAndBack) {
    const std::string folder = freshFolder("rates");
    writeText(folder + "/p.toml", "library = \"Dynamics.ovm\"\nsample_rate = 48000\nconnections = [\"input.1 -> output.1\"]\n");
    const auto sine = [](double rate, std::size_t frames) {
        std::vector<float> out(frames);
        for (std::size_t n = 0; n < frames; ++n) out[n] = float(0.5 * std::sin(2 * M_PI * 1000 * double(n) / rate));
        return out;
    };
    ovm::writeAudioFile(folder + "/in.wav", sine(44100, 22050), 1, 44100, true);
    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "--keep-rate" : "at the patch's rate");
        std::vector<std::string> arguments = {"run", folder + "/p.toml", folder + "/in.wav", folder + "/out.wav",
                                              "--overwrite"};
        if (keep) arguments.push_back("--keep-rate");
        const CommandResult run = runOvm(arguments);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.out.find("44100 Hz resampled to the patch's 48000 Hz"), std::string::npos) << run.out;
        const double rate = keep ? 44100 : 48000;
        EXPECT_EQ(ovm::AudioReader(folder + "/out.wav").sampleRate(), rate);
        const std::vector<float> out = readInterleaved(folder + "/out.wav");
        const std::vector<float> expected = sine(rate, std::size_t(rate / 2));
        ASSERT_EQ(out.size(), expected.size());
        // Away from the ends, where the filter sees the signal start and stop.
        double worst = 0;
        for (std::size_t n = 500; n + 500 < out.size(); ++n)
            worst = std::max(worst, std::fabs(double(out[n]) - double(expected[n])));
        EXPECT_LT(worst, 1e-4);
    }
}

// Eight inputs, one of them not audio, on three jobs: the seven are written, the broken one
// is reported, the table lists all eight, and the exit status is the input error's.
TEST(OvmBatch, OneBrokenInputDoesNotStopTheOthers) {
    const Scene scene("batch");
    std::vector<std::string> arguments = {"run", scene.patch};
    for (int i = 0; i < 8; ++i) {
        const std::string input = scene.folder + "/in" + std::to_string(i) + ".wav";
        if (i == 5)
            writeText(input, "not audio");
        else
            ovm::writeAudioFile(input, programme(kRate, 4800), 2, kRate, true);
        arguments.push_back(input);
    }
    std::filesystem::create_directory(scene.folder + "/out");
    std::vector<std::string> batch = arguments;
    batch.insert(batch.end(), {"--output-dir", scene.folder + "/out", "-o", "{stem}-limited.flac", "--jobs", "3"});
    const CommandResult run = runOvm(batch);
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_NE(run.err.find("in5.wav: cannot read input"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("1 of 8 inputs failed"), std::string::npos) << run.err;
    for (int i = 0; i < 8; ++i) {
        const std::string name = "in" + std::to_string(i);
        EXPECT_EQ(exists(scene.folder + "/out/" + name + "-limited.flac"), i != 5) << name;
        EXPECT_NE(run.out.find(name + ".wav"), std::string::npos) << run.out;
    }
    EXPECT_NE(run.out.find("failed 3"), std::string::npos) << run.out;
    // Outputs that would replace the inputs: refused before anything runs.
    std::vector<std::string> overInputs = arguments;
    overInputs.insert(overInputs.end(), {"--output-dir", scene.folder, "--overwrite"});
    const CommandResult refused = runOvm(overInputs);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("over the input audio"), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace ovm_testing
