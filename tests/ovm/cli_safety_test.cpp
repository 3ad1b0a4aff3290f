// ovm as a careless or hostile user drives it: names that try to become commands, planted
// links and libraries, outputs that would replace inputs, damaged and endless inputs, full
// disks, races and signals.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "ovm/core/audio_file.h"
#include "tests/ovm/ovm_runner.h"

namespace fs = std::filesystem;

namespace ovm_testing {
namespace {

constexpr double kRate = 48000;

// input.1 × 0.5 → output.1, with the top-level lines given first.
std::string halvingPatch(const std::string& topLevel = "library = \"Dynamics.ovm\"\n") {
    return topLevel +
           "connections = [\"input.1 -> g.a\", \"g.output -> output.1\"]\n"
           "[nodes.g]\ntype = \"multiply\"\ngain = \"0.5x\"\n";
}

// A case's name as a test name: letters, digits and underscores.
struct caseName {
    template <class Case>
    std::string operator()(const testing::TestParamInfo<Case>& info) const {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    }
};

void writeMono(const std::string& path, const std::vector<float>& samples) {
    ovm::writeAudioFile(path, samples, 1, kRate, true);
}

// A folder with a patch and a short input, for one test.
struct Scene {
    explicit Scene(const std::string& name, std::size_t frames = 4800) : folder(freshFolder(name)) {
        writeText(patch, halvingPatch());
        writeMono(input, std::vector<float>(frames, 0.25f));
    }
    std::string folder;
    std::string patch = folder + "/p.toml";
    std::string input = folder + "/in.wav";
    std::string output = folder + "/out.wav";
};

TEST(OvmSafety, NamesInThePlotRunNoCommand) {
    const std::string evil = "q'\\\"\n!touch pwned\n'";
    const Scene scene("plot-names");
    const std::string patch = scene.folder + "/p" + evil + ".toml";
    const std::string input = scene.folder + "/in" + evil + ".wav";
    const std::string plot = scene.folder + "/plot" + evil + ".png";
    fs::rename(scene.patch, patch);
    writeMono(input, std::vector<float>(4800, 0.25f));
    const CommandResult result =
        runOvm({"run", patch, input, scene.folder + "/o" + evil + ".wav", "--plot", plot},
               "cd " + shellQuoted(scene.folder) + " &&");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_FALSE(exists(scene.folder + "/pwned"));
    EXPECT_EQ(readText(plot).substr(1, 3), "PNG");
}

struct FileClash {
    std::string name;
    std::vector<std::string> arguments;  // after PATCH IN; F stands for the folder
    std::string message;
    std::string kept;  // a file that must keep its bytes
};

void PrintTo(const FileClash& c, std::ostream* out) { *out << c.name; }

class OvmFileClash : public testing::TestWithParam<FileClash> {};

std::string inFolder(const std::string& argument, const std::string& folder) {
    return argument.rfind("F/", 0) == 0 ? folder + argument.substr(1) : argument;
}

// Every output its own file, none of them anything the run reads, --overwrite or not: a
// usage error before any processing, and every file as it was.
TEST_P(OvmFileClash, IsAUsageErrorThatTouchesNothing) {
    const FileClash& c = GetParam();
    const Scene scene("clash-" + c.name);
    fs::copy_file(std::string(DYNAMICS_LIBRARY_PATH), scene.folder + "/Dynamics.ovm");
    fs::copy_file(fs::path(DYNAMICS_LIBRARY_PATH).replace_extension(".toml"),
                  scene.folder + "/Dynamics.toml");
    fs::create_symlink(scene.folder + "/p.toml", scene.folder + "/link.wav");
    const std::string kept = inFolder(c.kept, scene.folder);
    const std::string before = readText(kept);
    std::vector<std::string> arguments = {"run", scene.patch, scene.input, "--overwrite"};
    for (const std::string& argument : c.arguments) arguments.push_back(inFolder(argument, scene.folder));
    const CommandResult result = runOvm(arguments, "OVM_PATH=" + shellQuoted(scene.folder));
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_TRUE(readText(kept) == before) << kept << " changed";
    for (const char* never : {"/out.wav", "/r.json", "/r.png"})
        EXPECT_FALSE(exists(scene.folder + never)) << never;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OvmFileClash,
    testing::Values(
        FileClash{"report-is-output", {"F/out.wav", "--report", "F/out.wav"}, "are one file", "F/p.toml"},
        FileClash{"plot-is-report",
                  {"F/o.wav", "--plot", "F/r.png", "--report", "F/./r.png"},
                  "are one file",
                  "F/p.toml"},
        FileClash{
            "output-is-input", {"F/../clash-output-is-input/in.wav"}, "over the input audio", "F/in.wav"},
        FileClash{"report-is-patch", {"F/o.wav", "--report", "F/p.toml"}, "over the patch", "F/p.toml"},
        FileClash{"output-is-linked-patch", {"F/link.wav"}, "over the patch", "F/p.toml"},
        FileClash{
            "plot-is-library", {"F/o.wav", "--plot", "F/Dynamics.ovm"}, "over the library", "F/Dynamics.ovm"},
        FileClash{"report-is-description",
                  {"F/o.wav", "--report", "F/Dynamics.toml"},
                  "over the library description",
                  "F/Dynamics.toml"}),
    caseName());

struct LibraryChoice {
    std::string name;
    std::string library;                 // as the patch names it; F stands for the folder
    bool folderInOvmPath;                // the folder with the planted library is in OVM_PATH
    std::vector<std::string> arguments;  // after PATCH IN OUT
    std::string extraNode;               // appended to the patch
    int exitCode;
    std::string message;
    bool loaded;  // whether the planted library may have run
};

void PrintTo(const LibraryChoice& c, std::ostream* out) { *out << c.name; }

class OvmLibraryChoice : public testing::TestWithParam<LibraryChoice> {};

// A library is code: only the user's choice (--library, OVM_PATH, ovm's own folder) is
// loaded, and only after the patch is checked.
TEST_P(OvmLibraryChoice, LoadsOnlyWhatTheUserChose) {
    const LibraryChoice& c = GetParam();
    const Scene scene("library-" + c.name);
    const std::string marker = scene.folder + "/loaded";
    fs::copy_file(LOAD_MARKER_FIXTURE, scene.folder + "/Dynamics.ovm");
    fs::copy_file(fs::path(DYNAMICS_LIBRARY_PATH).replace_extension(".toml"),
                  scene.folder + "/Dynamics.toml");
    writeText(scene.patch,
              halvingPatch("library = \"" + inFolder(c.library, scene.folder) + "\"\n") + c.extraNode);
    std::vector<std::string> arguments = {"run", scene.patch, scene.input, scene.output};
    for (const std::string& argument : c.arguments) arguments.push_back(inFolder(argument, scene.folder));
    const std::string environment = "OVM_LOAD_MARKER=" + shellQuoted(marker) +
                                    (c.folderInOvmPath ? " OVM_PATH=" + shellQuoted(scene.folder) : "");
    const CommandResult result = runOvm(arguments, environment);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(exists(marker), c.loaded);
}

const std::string kUnknownModule = "[nodes.m]\nmodule = \"Orin Nonesuch\"\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, OvmLibraryChoice,
    testing::Values(
        LibraryChoice{"beside-patch-ignored", "Dynamics.ovm", false, {}, "", 0, "", false},
        LibraryChoice{"absolute-outside", "F/Dynamics.ovm", false, {}, "", 4, "does not bring one", false},
        LibraryChoice{"in-ovm-path-checked-first",
                      "Dynamics.ovm",
                      true,
                      {},
                      kUnknownModule,
                      5,
                      "unknown module 'Orin Nonesuch'",
                      false},
        LibraryChoice{"chosen",
                      "x.ovm",
                      false,
                      {"--library", "F/Dynamics.ovm"},
                      "",
                      4,
                      "does not export MP_GetFactory",
                      true},
        LibraryChoice{"not-found", "Nonesuch.ovm", false, {}, "", 4, "in none of the folders", false}),
    caseName());

struct BadPatchFile {
    std::string name;
    std::string path;  // F stands for the folder
    std::string message;
};

void PrintTo(const BadPatchFile& c, std::ostream* out) { *out << c.name; }

class OvmBadPatchFile : public testing::TestWithParam<BadPatchFile> {};

// A patch is a small regular file: a device, a pipe or a huge file is refused, not read
// into memory or waited on.
TEST_P(OvmBadPatchFile, IsRefusedAtOnce) {
    const BadPatchFile& c = GetParam();
    const Scene scene("patch-file-" + c.name);
    mkfifo((scene.folder + "/fifo.toml").c_str(), 0644);
    const int big = open((scene.folder + "/big.toml").c_str(), O_WRONLY | O_CREAT, 0644);
    EXPECT_EQ(ftruncate(big, 17 << 20), 0);
    close(big);
    const CommandResult result = runOvm({"run", inFolder(c.path, scene.folder), scene.input, scene.output});
    EXPECT_EQ(result.exitCode, 5) << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(Cases, OvmBadPatchFile,
                         testing::Values(BadPatchFile{"device", "/dev/zero", "not a regular file"},
                                         BadPatchFile{"fifo", "F/fifo.toml", "not a regular file"},
                                         BadPatchFile{"huge", "F/big.toml", "larger than 16 MiB"},
                                         BadPatchFile{"folder", "F/.", "it is a folder"}),
                         caseName());

// A NaN or an infinity is above any ceiling, and the report counts them per channel.
TEST(OvmSafety, NonFiniteOutputBreaksTheCeiling) {
    for (const float bad : {NAN, INFINITY}) {
        const Scene scene("non-finite");
        writeText(scene.patch, halvingPatch("library = \"Dynamics.ovm\"\nceiling = \"-1 dB\"\n"));
        std::vector<float> samples(4800, 0.25f);
        for (std::size_t i = 0; i < 3; ++i) samples[100 + i * 7] = bad;
        writeMono(scene.input, samples);
        const CommandResult result =
            runOvm({"run", scene.patch, scene.input, scene.output, "--report", scene.folder + "/r.json"});
        EXPECT_EQ(result.exitCode, 7) << result.err;
        EXPECT_NE(result.err.find("3 output samples are NaN or infinite"), std::string::npos) << result.err;
        const auto report = nlohmann::json::parse(readText(scene.folder + "/r.json"));
        EXPECT_EQ(report["output"][0]["non_finite_samples"], 3);
        EXPECT_EQ(report["output"][0]["peak"], 0.125);
    }
}

TEST(OvmSafety, WriteErrorsFailTheRun) {
    const Scene scene("write-errors");
    const CommandResult device =
        runOvm({"run", scene.patch, scene.input, scene.output, "--report", "/dev/full", "--overwrite"});
    EXPECT_EQ(device.exitCode, 6) << device.err;
    EXPECT_NE(device.err.find("not a regular file"), std::string::npos) << device.err;
    const CommandResult full =
        runOvm({"run", scene.patch, scene.input, scene.folder + "/o.wav", "--report", "-"}, "", ">/dev/full");
    EXPECT_EQ(full.exitCode, 6) << full.err;
    EXPECT_NE(full.err.find("standard output"), std::string::npos) << full.err;
}

// A plot that cannot be drawn keeps the audio and the report and says why; a plot with
// nowhere to go is refused before any processing.
TEST(OvmSafety, PlotFailuresSayWhatFailed) {
    const Scene scene("plot-failures", 100);
    const CommandResult shortInput = runOvm({"run", scene.patch, scene.input, scene.output, "--plot",
                                             scene.folder + "/p.png", "--report", scene.folder + "/r.json"});
    EXPECT_EQ(shortInput.exitCode, 6) << shortInput.err;
    EXPECT_NE(shortInput.err.find("too short to plot"), std::string::npos) << shortInput.err;
    EXPECT_EQ(readInterleaved(scene.output).size(), 100u);
    EXPECT_TRUE(exists(scene.folder + "/r.json"));

    const CommandResult noFolder = runOvm(
        {"run", scene.patch, scene.input, scene.folder + "/o.wav", "--plot", scene.folder + "/none/p.png"});
    EXPECT_EQ(noFolder.exitCode, 6) << noFolder.err;
    EXPECT_NE(noFolder.err.find("the folder '" + scene.folder + "/none' does not exist"), std::string::npos)
        << noFolder.err;
    EXPECT_FALSE(exists(scene.folder + "/o.wav"));

    fs::create_directory(scene.folder + "/bin");
    writeText(scene.folder + "/bin/gnuplot", "#!/bin/sh\necho 'line 3: no such terminal' >&2\nexit 1\n");
    fs::permissions(scene.folder + "/bin/gnuplot", fs::perms::owner_all);
    writeMono(scene.input, std::vector<float>(4800, 0.25f));
    const CommandResult gnuplotFails =
        runOvm({"run", scene.patch, scene.input, scene.folder + "/o.wav", "--plot", scene.folder + "/p.png"},
               "PATH=" + shellQuoted(scene.folder + "/bin") + ":\"$PATH\"");
    EXPECT_EQ(gnuplotFails.exitCode, 6) << gnuplotFails.err;
    EXPECT_NE(gnuplotFails.err.find("gnuplot failed: line 3: no such terminal"), std::string::npos)
        << gnuplotFails.err;
    EXPECT_TRUE(exists(scene.folder + "/o.wav"));
}

// A file that ends before its header says is damaged; an absurd tail is refused.
TEST(OvmSafety, TruncatedInputIsAnInputError) {
    const Scene scene("truncated");
    const std::string flac = scene.folder + "/in.flac";
    SF_INFO info{};
    info.channels = 1;
    info.samplerate = int(kRate);
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(flac.c_str(), SFM_WRITE, &info);
    std::vector<float> noise(48000);
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = float(std::sin(double(i) * double(i) * 1e-3));
    sf_writef_float(file, noise.data(), sf_count_t(noise.size()));
    sf_close(file);
    fs::resize_file(flac, fs::file_size(flac) / 3);
    const CommandResult cut = runOvm({"run", scene.patch, flac, scene.output});
    EXPECT_EQ(cut.exitCode, 3) << cut.err;
    EXPECT_NE(cut.err.find("ends at frame"), std::string::npos) << cut.err;
    EXPECT_FALSE(exists(scene.output));

    const CommandResult tail =
        runOvm({"run", scene.patch, scene.input, scene.output, "--tail", "1e9 samples"});
    EXPECT_EQ(tail.exitCode, 2) << tail.err;
    EXPECT_NE(tail.err.find("longer than 600 seconds"), std::string::npos) << tail.err;
}

// Runs fed through a pipe, so that the test can act while ovm waits for more input.
class OvmWhileRunning : public testing::Test {
protected:
    void SetUp() override {
        folder = freshFolder("running");
        fifo = folder + "/in.fifo";
        patch = folder + "/p.toml";
        output = folder + "/out.wav";
        ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
        writeText(patch, halvingPatch());
        // A header that declares a second of audio, and a tenth of it.
        writeMono(folder + "/whole.wav", std::vector<float>(48000, 0.25f));
        const std::string whole = readText(folder + "/whole.wav");
        const std::size_t data = whole.find("data") + 8;
        firstBytes = whole.substr(0, data + 4800 * 4);
    }
    // Starts ovm on the pipe and feeds it the header and the first frames.
    void start(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> arguments = {"run", patch, fifo, output, "--no-progress"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        ovm = std::make_unique<BackgroundOvm>(arguments, folder + "/err.txt");
    }
    void feed() {
        writer = openFifoForWriting(fifo);
        writeAll(writer, firstBytes);
        ASSERT_TRUE(waitForHiddenFile(folder));
    }
    void endInput() {
        close(writer);
        writer = -1;
    }
    void TearDown() override {
        if (writer >= 0) close(writer);
    }

    std::string folder, fifo, firstBytes, patch, output;
    std::unique_ptr<BackgroundOvm> ovm;
    int writer = -1;
};

// A stream legitimately has no length: the output ends where the input ends, whatever the
// header declared.
TEST_F(OvmWhileRunning, StreamEndsWhereItsDataEnds) {
    start();
    feed();
    endInput();
    EXPECT_EQ(ovm->wait(), 0) << readText(folder + "/err.txt");
    EXPECT_EQ(readInterleaved(output).size(), 4800u);
}

// A link planted where the temporary file used to be named is not followed.
TEST_F(OvmWhileRunning, PlantedLinksAreNotFollowed) {
    writeText(folder + "/victim", "precious");
    start({"--plot", folder + "/p.png"});
    const std::string pid = std::to_string(ovm->pid());
    fs::create_symlink(folder + "/victim", folder + "/.out.wav.partial-" + pid);
    fs::create_symlink(folder + "/victim", folder + "/.p.png.partial-" + pid + ".png");
    feed();
    endInput();
    EXPECT_EQ(ovm->wait(), 0) << readText(folder + "/err.txt");
    EXPECT_EQ(readText(folder + "/victim"), "precious");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(output)));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder + "/p.png")));
}

// Without --overwrite, an output that appeared during the run (another run finishing
// first) is left alone.
TEST_F(OvmWhileRunning, OutputThatAppearedMeanwhileIsNotReplaced) {
    start();
    feed();
    writeText(output, "the other run's");
    endInput();
    EXPECT_EQ(ovm->wait(), 6);
    EXPECT_NE(readText(folder + "/err.txt").find("appeared while this run wrote it"), std::string::npos);
    EXPECT_EQ(readText(output), "the other run's");
}

// An interrupted run removes its temporary files and dies of the signal, as callers expect.
TEST_F(OvmWhileRunning, SignalsRemoveTemporaryFiles) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
        output = folder + "/out" + std::to_string(signal) + ".wav";
        start({"--plot", folder + "/p.png", "--report", folder + "/r.json"});
        feed();
        kill(ovm->pid(), signal);
        EXPECT_EQ(ovm->wait(), 128 + signal);
        endInput();
        EXPECT_EQ(hiddenFiles(folder), std::vector<std::string>{}) << "signal " << signal;
        EXPECT_FALSE(exists(output));
    }
}

}  // namespace
}  // namespace ovm_testing
