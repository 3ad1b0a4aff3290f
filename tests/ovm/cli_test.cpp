// ovm end to end: the demo's promise, reruns, sleep and wake, automation, and bad input.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "ovm/core/audio_file.h"
#include "tests/ovm/ovm_runner.h"
#include "tests/support/true_peak_check.h"

namespace ovm_testing {
namespace {

constexpr double kRate = 48000;

// A patch with one module between input.1 and output.1.
std::string singleModulePatch(const std::string& module, const std::string& values,
                              const std::string& wiring) {
    return "library = \"" + std::string(DYNAMICS_LIBRARY_PATH) + "\"\nconnections = [" + wiring +
           "]\n[nodes.m]\nmodule = \"" + module + "\"\n" + values;
}

void writeMono(const std::string& path, const std::vector<float>& samples) {
    ovm::writeAudioFile(path, samples, 1, kRate, true);
}

TEST(OvmDemo, LimiterHoldsItsCeiling) {
    const std::string folder = freshFolder("demo");
    const CommandResult result = runOvm({"demo", folder, "--seconds", "2"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    for (const char* figure : {"true peak", "integrated", "loudness range", "held"})
        EXPECT_NE(result.out.find(figure), std::string::npos) << figure << " in " << result.out;
    for (const char* file : {"/input.wav", "/output.wav", "/levels.png", "/report.json"})
        EXPECT_TRUE(exists(folder + file)) << file;

    float inputPeak = 0;
    for (float x : readInterleaved(folder + "/input.wav")) inputPeak = std::max(inputPeak, std::fabs(x));
    EXPECT_GT(inputPeak, 2.0f);  // well above 0 dBFS
    const std::vector<float> output = readInterleaved(folder + "/output.wav");
    for (std::size_t channel = 0; channel < 2; ++channel) {
        std::vector<float> samples;
        for (std::size_t n = channel; n < output.size(); n += 2) samples.push_back(output[n]);
        const double truePeak = 20 * std::log10(testing_support::truePeak(samples));
        EXPECT_LE(truePeak, -1.0) << "channel " << channel + 1;
        EXPECT_GT(truePeak, -1.5) << "channel " << channel + 1;  // it limits, it does not just attenuate
    }
    // Its latency compensated, the output lines up with the input, frame for frame.
    EXPECT_EQ(output.size(), readInterleaved(folder + "/input.wav").size());

    // Without --overwrite a second demo leaves the first one's files alone.
    EXPECT_EQ(runOvm({"demo", folder, "--seconds", "1"}).exitCode, 6);
}

// A patch's ceiling is checked on every run, on the output's true peak or sample peak as
// it says; a broken one fails the run, says where and by how much, and keeps the output.
TEST(OvmRun, CeilingsHoldOrBreakInTruePeakAndSamplePeak) {
    const std::string folder = freshFolder("ceiling");
    // 5 ms of a sine at a quarter of the rate, sampled 45 degrees off its crests, from 0.252 s:
    // its samples peak at 0.85 / sqrt(2) (-4.42 dBFS), the waveform between them at 0.85
    // (-1.41 dBTP).
    std::vector<float> input(24000, 0.0f);
    for (int n = 12096; n < 12096 + 240; ++n)
        input[std::size_t(n)] = float(0.85 * std::sin(M_PI / 2 * n + M_PI / 4));
    writeMono(folder + "/in.wav", input);
    const struct {
        const char* ceiling;
        int exitCode;
        std::vector<const char*> said;
    } cases[] = {
        {"-2 dBTP",
         7,
         {"output true peak -1.", " in the 10 ms from 0.250 s is 0.",
          " dB above the patch's ceiling of -2 dBTP"}},
        {"-4 dBFS", 0, {}},
        {"-5 dBFS",
         7,
         {"output sample peak -4.42", " at 0.252 s is 0.58 dB above the patch's ceiling of -5 dBFS"}},
        {"-5 dB",
         7,
         {"output sample peak -4.42", " at 0.252 s is 0.58 dB above the patch's ceiling of -5 dBFS"}},
        {"-1 dBTP", 0, {}},
    };
    for (const auto& c : cases) {
        writeText(folder + "/p.toml", "library = \"" + std::string(DYNAMICS_LIBRARY_PATH) +
                                          "\"\nceiling = \"" + c.ceiling +
                                          "\"\nconnections = [\"input.1 -> output.1\"]\n");
        const CommandResult run = runOvm({"run", folder + "/p.toml", folder + "/in.wav", folder + "/out.wav",
                                          "--report", folder + "/r.json", "--overwrite"});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.ceiling << ": " << run.err;
        for (const char* part : c.said)
            EXPECT_NE(run.err.find(part), std::string::npos) << part << " in " << run.err;
        EXPECT_TRUE(exists(folder + "/out.wav")) << c.ceiling;
        EXPECT_NE(run.out.find("true peak"), std::string::npos) << run.out;
        const auto levels = nlohmann::json::parse(readText(folder + "/r.json"))["levels"];
        for (const char* stream : {"input", "output"})
            EXPECT_NEAR(levels[stream]["true_peak_dbtp"].get<double>(), 20 * std::log10(0.85), 0.2) << stream;
    }
    // Where the true peak is not measured, a true-peak ceiling is not held by default.
    ovm::writeAudioFile(folder + "/low.wav", input, 1, 4000, true);
    const CommandResult low =
        runOvm({"run", folder + "/p.toml", folder + "/low.wav", folder + "/low-out.wav"});
    EXPECT_EQ(low.exitCode, 7);
    EXPECT_NE(
        low.err.find(
            "cannot check the patch's ceiling of -1 dBTP: true peak is measured at 8000 Hz to 768000 Hz, "
            "not at 4000 Hz"),
        std::string::npos)
        << low.err;
}

TEST(OvmRun, SameInputGivesTheSameBytesWhateverTheBlockSize) {
    const std::string folder = freshFolder("rerun");
    ASSERT_EQ(runOvm({"demo", folder, "--seconds", "1"}).exitCode, 0);
    const std::string patch = std::string(EXAMPLES_DIR) + "/limiter.toml";
    const std::string input = folder + "/input.wav";
    ASSERT_EQ(runOvm({"run", patch, input, folder + "/a.wav", "--tail", "20ms"}).exitCode, 0);
    // A second later: a file that records when it was written would differ.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    ASSERT_EQ(runOvm({"run", patch, input, folder + "/b.wav", "--tail", "20ms"}).exitCode, 0);
    ASSERT_EQ(runOvm({"run", patch, input, folder + "/c.wav", "--tail", "20ms", "-b", "37"}).exitCode, 0);
    EXPECT_EQ(readText(folder + "/a.wav"), readText(folder + "/b.wav"));
    EXPECT_EQ(readInterleaved(folder + "/a.wav"), readInterleaved(folder + "/c.wav"));
}

TEST(OvmRun, ModuleSleepsThroughSilenceAndWakesWhenTheSignalReturns) {
    const std::string folder = freshFolder("sleep");
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> input(std::size_t(0.7 * kRate), 0.0f);
    for (std::size_t i = 0; i < input.size(); ++i)
        if (i < 9600 || i >= 24000) input[i] = noise(random);
    writeMono(folder + "/in.wav", input);
    writeText(
        folder + "/p.toml",
        singleModulePatch("Orin Peak", "",
                          "\"input.1 -> m.inputA\", \"input.1 -> m.inputB\", \"m.output -> output.1\""));
    const CommandResult result = runOvm(
        {"run", folder + "/p.toml", folder + "/in.wav", folder + "/out.wav", "--report", folder + "/r.json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto report = nlohmann::json::parse(readText(folder + "/r.json"));
    EXPECT_GE(report["nodes"]["m"]["sleeps"].get<int>(), 1);
    EXPECT_GE(report["nodes"]["m"]["wakes"].get<int>(), 1);
    EXPECT_GT(report["nodes"]["m"]["blocks_asleep"].get<int>(), 100);
    // Sleeping changed nothing: the output is |x| at every sample.
    const std::vector<float> output = readInterleaved(folder + "/out.wav");
    ASSERT_EQ(output.size(), input.size());
    for (std::size_t i = 0; i < input.size(); ++i)
        ASSERT_EQ(output[i], std::fabs(input[i])) << "sample " << i;
}

// A click through a patch that delays by a variable's time, declared as its latency: by
// default the output lines up with the input (the click comes out where it went in, and the
// meters see the same frames); with --keep-latency it comes out late by the latency, which
// the report gives as it is at the start of the run. The output is as long as the input.
TEST(OvmRun, CompensatesTheLatencyInForceAtTheStart) {
    const std::string folder = freshFolder("latency");
    writeText(folder + "/p.toml", "library = \"" + std::string(DYNAMICS_LIBRARY_PATH) +
                                      "\"\nblock_size = 64\nlatency = \"$lookahead\"\n"
                                      "connections = [\"input.1 -> d.input\", \"d.output -> output.1\"]\n"
                                      "[vars]\nlookahead = \"100 samples\"\n"
                                      "[nodes.d]\ntype = \"delay\"\ntime = \"$lookahead\"\n");
    constexpr long long kLength = 1000;
    struct Case {
        std::vector<std::string> options;
        long long latency;
        bool kept;
    };
    for (const Case& c : {Case{{}, 100, false}, Case{{"--keep-latency"}, 100, true},
                          Case{{"--set", "lookahead=3.125ms"}, 150, false},
                          Case{{"--set", "lookahead=150 samples", "--keep-latency"}, 150, true}})
        for (const long long k : {0LL, 63LL, 64LL, 500LL, kLength - 1}) {
            SCOPED_TRACE(testing::Message()
                         << "click at " << k << ", latency " << c.latency << (c.kept ? " kept" : ""));
            std::vector<float> click(kLength, 0.0f);
            click[std::size_t(k)] = 1.0f;
            writeMono(folder + "/in.wav", click);
            std::vector<std::string> arguments = {
                "run",         folder + "/p.toml", folder + "/in.wav", folder + "/out.wav",
                "--overwrite", "--report",         folder + "/r.json"};
            arguments.insert(arguments.end(), c.options.begin(), c.options.end());
            const CommandResult result = runOvm(arguments);
            ASSERT_EQ(result.exitCode, 0) << result.err;
            const long long at = c.kept ? k + c.latency : k;
            std::vector<float> expected(kLength, 0.0f);
            if (at < kLength) expected[std::size_t(at)] = 1.0f;
            EXPECT_EQ(readInterleaved(folder + "/out.wav"), expected);
            const auto report = nlohmann::json::parse(readText(folder + "/r.json"));
            EXPECT_EQ(report["latency_samples"], c.latency);
            EXPECT_EQ(report["frames"], kLength);
            if (!c.kept) {
                EXPECT_EQ(report["output"][0]["rms"], report["input"][0]["rms"]);
            }
        }
}

// One module between input.1 and output.1 over a constant mono input, with one value in the
// patch, one automated and the options given (e.g. a --set at a time).
CommandResult runAutomated(const std::string& folder, const std::string& module, const std::string& value,
                           const std::string& automated, std::vector<std::string> options) {
    writeMono(folder + "/in.wav", std::vector<float>(48000, 1.0f));
    writeText(folder + "/p.toml",
              singleModulePatch(module, value + "\n", "\"input.1 -> m.input\", \"m.output -> output.1\"") +
                  "[[automation]]\n" + automated + "\n");
    options.insert(options.begin(), {"run", folder + "/p.toml", folder + "/in.wav", folder + "/out.wav"});
    return runOvm(options);
}

TEST(OvmRun, AutomationTakesEffectAtItsExactSample) {
    const std::string folder = freshFolder("automation");
    const CommandResult result = runAutomated(folder, "Orin Hard Knee", "threshold = \"0.5x\"",
                                              "at = \"0.25 s\"\nset = \"m.threshold\"\nvalue = \"-12 dB\"",
                                              {"--set", "m.threshold=0.125x@30001samples", "-b", "100"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<float> out = readInterleaved(folder + "/out.wav");
    const float minus12 = float(std::pow(10.0, -12.0 / 20.0));
    EXPECT_EQ(out[11999], 0.5f);
    EXPECT_EQ(out[12000], minus12);
    EXPECT_EQ(out[30000], minus12);
    EXPECT_EQ(out[30001], 0.125f);
    EXPECT_EQ(out.back(), 0.125f);
}

// Times beyond the smoother's longest (4,000,000 samples, from its description) run, cut to
// it, with a warning for each value given, whether at the start or automated.
TEST(OvmRun, TimesBeyondAModulesLimitWarnButRun) {
    const CommandResult result = runAutomated(freshFolder("limit"), "Orin SmootherG", "time = \"100 s\"",
                                              "at = \"0.05 s\"\nset = \"m.time\"\nvalue = \"20 s\"",
                                              {"--set", "m.time=90s@0.08s", "--no-progress"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("'m.time' = '100 s' is 4800000 samples at 48000 Hz; the module honours at most "
                              "4000000 and uses that"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("'m.time' = '90s' is 4320000 samples"), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;
}

struct BadInput {
    std::string name;
    std::string patch;                   // empty: the limiter example
    std::vector<std::string> arguments;  // after PATCH IN OUT
    int exitCode;
    std::string message;
    bool goodInput = true;
    std::string output = "out.wav";
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const BadInput& c, std::ostream* out) { *out << c.name; }

class OvmBadInput : public testing::TestWithParam<BadInput> {};

TEST_P(OvmBadInput, GivesOneClearMessageAndNoOutput) {
    const BadInput& c = GetParam();
    const std::string folder = freshFolder("bad-" + c.name);
    const std::string input = folder + "/in.wav";
    if (c.goodInput)
        writeMono(input, std::vector<float>(4800, 0.25f));
    else
        writeText(input, "this is not audio\n");
    const std::string patch = c.patch.empty() ? "" : folder + "/p.toml";
    if (!patch.empty()) writeText(patch, c.patch);
    std::vector<std::string> arguments = {"run", patch, input, folder + "/" + c.output};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const CommandResult result = runOvm(arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err.substr(0, 1000);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err.substr(0, 1000);
    EXPECT_LT(result.err.size(), 1000u) << "names in messages are cut short";
    EXPECT_FALSE(exists(folder + "/" + c.output));
}

const std::string kWire = "\"input.1 -> m.input\", \"m.output -> output.1\"";
const std::string kIntegrator = singleModulePatch("Orin Integrator", "", kWire);

INSTANTIATE_TEST_SUITE_P(
    Cases, OvmBadInput,
    testing::Values(
        BadInput{"not-audio", singleModulePatch("Orin Integrator", "", kWire), {}, 3, "as audio", false},
        BadInput{"unknown-module",
                 singleModulePatch("Orin Compressor", "", kWire),
                 {},
                 5,
                 "p.toml:3: node 'm': unknown module"},
        BadInput{"negative-time",
                 singleModulePatch("Orin Peak Hold", "holdTime = \"-6 ms\"\n", kWire),
                 {},
                 5,
                 "p.toml:5: '-6 ms': a time cannot be negative"},
        BadInput{"negative-time-set",
                 singleModulePatch("Orin SmootherG", "", kWire),
                 {"--set", "m.time=-1s"},
                 5,
                 "'-1s': a time cannot be negative"},
        BadInput{"empty-library", "library = \"\"\n", {}, 5, "p.toml:1: 'library': is empty"},
        BadInput{"long-name",
                 singleModulePatch(std::string(100000, 'x'), "", kWire),
                 {},
                 5,
                 "unknown module 'xxx"},
        BadInput{"unknown-extension", kIntegrator, {}, 2, "out.mp3': unknown extension '.mp3'", true, "out.mp3"},
        BadInput{"unknown-format", kIntegrator, {"--format", "mp3"}, 2, "--format 'mp3': ovm writes wav, flac"},
        BadInput{"flac-float", kIntegrator, {"--bits", "float"}, 2, "FLAC holds 16 or 24 bits", true, "out.flac"},
        BadInput{"bits", kIntegrator, {"--bits", "12"}, 2, "--bits '12': must be 16, 24, 32 or float"},
        BadInput{"channel-beyond-input", kIntegrator, {"--channels", "2"}, 2, "--channels 2: the input has 1 channel"},
        BadInput{"raw-encoding", kIntegrator, {"--raw", "48000:1:s12"}, 2, "the encoding is s8, u8"},
        BadInput{"patch-rate", "library = \"x\"\nsample_rate = 100\n", {}, 5, "p.toml:2: 'sample_rate': must be between 1000"},
        BadInput{"batch-without-outputs", kIntegrator, {"x.wav"}, 2, "several inputs need --output-dir"},
        BadInput{"sample-rate-nan", kIntegrator, {"--sample-rate", "nan"}, 2, "--sample-rate"},
        BadInput{"sample-rate-negative", kIntegrator, {"--sample-rate", "-1"}, 2, "--sample-rate"},
        BadInput{"sample-rate-zero", kIntegrator, {"--sample-rate", "0"}, 2, "--sample-rate"},
        BadInput{"bad-ceiling", "library = \"x\"\nceiling = \"-1 ms\"\n", {}, 5, "'ceiling'"},
        BadInput{"bad-unit",
                 singleModulePatch("Orin Hard Knee", "threshold = \"-1 dBu\"\n", kWire),
                 {},
                 5,
                 "p.toml:5: '-1 dBu': a level takes dB, dBFS, % or x"},
        BadInput{"bare-level-set",
                 singleModulePatch("Orin Hard Knee", "", kWire),
                 {"--set", "m.threshold=-0.5"},
                 5,
                 "--set m.threshold=-0.5: '-0.5': -0.5 is ambiguous for a level: write -0.5 dB (0.944x)"},
        BadInput{"bad-number",
                 singleModulePatch("Orin Hard Knee", "threshold = \"loud\"\n", kWire),
                 {},
                 5,
                 "'loud': not a number"},
        BadInput{"syntax", "library = \"x\"\nconnections = [\n", {}, 5, "p.toml:2:"},
        BadInput{
            "misspelt-key", "library = \"x\"\nconection = []\n", {}, 5, "p.toml:2: 'conection': unknown key"},
        BadInput{"not-a-library",
                 "library = \"x\"\n",
                 {"--library", "/etc/hostname"},
                 4,
                 "cannot read the module description '/etc/hostname.toml'"},
        BadInput{"bad-block-size",
                 singleModulePatch("Orin Integrator", "", kWire),
                 {"-b", "0"},
                 2,
                 "--block-size"}),
    [](const testing::TestParamInfo<BadInput>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

TEST(OvmRun, MissingFilesAndProtectedOutputs) {
    const std::string folder = freshFolder("files");
    const std::string patch = std::string(EXAMPLES_DIR) + "/limiter.toml";
    const std::string input = folder + "/in.wav";
    ovm::writeAudioFile(input, std::vector<float>(960, 0.5f), 2, kRate, true);

    CommandResult missing = runOvm({"run", patch, folder + "/nothing.wav", folder + "/out.wav"});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_NE(missing.err.find("nothing.wav': no such file"), std::string::npos) << missing.err;

    CommandResult overInput = runOvm({"run", patch, input, input, "--overwrite"});
    EXPECT_EQ(overInput.exitCode, 2);
    EXPECT_NE(overInput.err.find("over the input"), std::string::npos);

    writeText(folder + "/kept.wav", "precious");
    CommandResult existing = runOvm({"run", patch, input, folder + "/kept.wav"});
    EXPECT_EQ(existing.exitCode, 6);
    EXPECT_EQ(readText(folder + "/kept.wav"), "precious");
    EXPECT_EQ(runOvm({"run", patch, input, folder + "/kept.wav", "--overwrite"}).exitCode, 0);
    EXPECT_NE(readText(folder + "/kept.wav"), "precious");

    EXPECT_EQ(runOvm({"run", patch}).exitCode, 2);
    EXPECT_EQ(runOvm({"run", "--help"}).exitCode, 0);
}

// A run that leaves out part of what it was given, or gives less, says so, and still succeeds.
TEST(OvmRun, WarnsOfWhatItLeavesOut) {
    struct Case {
        std::string name;
        std::string module;
        std::string wiring;
        std::vector<std::string> arguments;
        std::string warning;
    };
    const std::string fromSecond = "\"input.2 -> m.input\", \"m.output -> output.1\"";
    const std::string bothIntoOne = "\"input.1 -> m.inputA\", \"input.2 -> m.inputB\", \"m.output -> output.1\"";
    for (const Case& c : {Case{"late-set", "Orin Hard Knee", kWire, {"--channels", "1", "--set", "m.threshold=0.5x@3600s"}, "is never set"},
                          Case{"unused-channel", "Orin Hard Knee", fromSecond, {}, "input channel 1 is not connected"},
                          Case{"fewer-outputs", "Orin Peak", bothIntoOne, {}, "the patch has 1 output channel(s) for the input's 2"}}) {
        const std::string folder = freshFolder("warn-" + c.name);
        ovm::writeAudioFile(folder + "/in.wav", std::vector<float>(std::size_t(4800 * 2), 0.25f), 2, kRate, true);
        writeText(folder + "/p.toml", singleModulePatch(c.module, "", c.wiring));
        std::vector<std::string> arguments = {"run", folder + "/p.toml", folder + "/in.wav",
                                              folder + "/out.wav"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const CommandResult result = runOvm(arguments);
        EXPECT_EQ(result.exitCode, 0) << c.name << ": " << result.err;
        EXPECT_NE(result.err.find("warning: "), std::string::npos) << c.name;
        EXPECT_NE(result.err.find(c.warning), std::string::npos) << c.name << ": " << result.err;
    }
}

TEST(Ovm, NamesAnUnknownCommand) {
    const CommandResult unknown = runOvm({"frobnicate"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("unknown command 'frobnicate'"), std::string::npos) << unknown.err;
}

// The version line comes first and alone, as help2man reads it; then the compiler (as CMake
// identified it) and the bundled library's build text. A library that does not load is
// said on its line, and the version is still given.
TEST(Ovm, TellsItsVersionCompilerAndLibrary) {
    const std::string compiler =
        std::string(CXX_COMPILER_ID) == "GNU" ? "GCC " CXX_COMPILER_VERSION : "clang " CXX_COMPILER_VERSION;
    const CommandResult built = runOvm({"--version"});
    EXPECT_EQ(built.exitCode, 0) << built.err;
    EXPECT_EQ(built.out, "ovm " PROJECT_VERSION "\ncompiler: " + compiler + "\nlibrary: " + DYNAMICS_LIBRARY_PATH +
                             ": MS Compiler V1934 (Release), interface version 30800\n");

    const std::string alone = freshFolder("version-without-library");
    std::filesystem::copy_file(OVM_BINARY, alone + "/ovm");
    writeText(alone + "/Dynamics.ovm", "not a library");
    FILE* pipe = popen((shellQuoted(alone + "/ovm") + " --version 2>&1").c_str(), "r");
    char text[4096] = {};
    const std::string out(text, std::fread(text, 1, sizeof text - 1, pipe));
    EXPECT_EQ(pclose(pipe), 0) << out;
    EXPECT_EQ(out.rfind("ovm " PROJECT_VERSION "\ncompiler: " + compiler + "\nlibrary: not loaded: ", 0), 0u) << out;
    EXPECT_NE(out.find(alone + "/Dynamics.ovm"), std::string::npos) << out;
}

TEST(OvmList, ConfirmsEveryDescribedModule) {
    const CommandResult text = runOvm({"list"});
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(text.out.find("NOT CREATED"), std::string::npos);
    const CommandResult json = runOvm({"list", "--json"});
    const auto listing = nlohmann::json::parse(json.out);
    EXPECT_EQ(listing["modules"].size(), 7u);
    for (const auto& module : listing["modules"]) EXPECT_TRUE(module["created"].get<bool>()) << module["id"];

    const CommandResult info = runOvm({"info", "smoother", "--json"});
    ASSERT_EQ(info.exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(info.out)["pins"][0]["unit"], "ms");
    EXPECT_EQ(runOvm({"info", "nonesuch"}).exitCode, 2);
    EXPECT_EQ(runOvm({"list", NO_ENTRY_POINT_FIXTURE}).exitCode, 4);

    // A description that promises a module the factory does not make: both commands fail.
    const std::string folder = freshFolder("promises");
    std::filesystem::create_symlink(DYNAMICS_LIBRARY_PATH, folder + "/Lib.ovm");
    writeText(folder + "/Lib.toml",
              "[[module]]\nid = \"Orin Nothing\"\npin = [{ name = \"input\", direction = \"in\", datatype = "
              "\"audio\" }]\n");
    EXPECT_EQ(runOvm({"list", folder + "/Lib.ovm"}).exitCode, 4);
    const CommandResult missing = runOvm({"info", "Orin Nothing", "--library", folder + "/Lib.ovm"});
    EXPECT_EQ(missing.exitCode, 4) << missing.out << missing.err;
    EXPECT_NE(missing.out.find("NOT CREATED"), std::string::npos) << missing.out;
}

}  // namespace
}  // namespace ovm_testing
