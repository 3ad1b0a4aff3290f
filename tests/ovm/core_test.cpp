// The pieces of ovm below the command line: values with units, the patch reader, and the
// library's description checked against the library itself.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "description/library_description_reader.h"
#include "engine/engine.h"
#include "engine/errors.h"
#include "engine/quantity.h"
#include "host/module_driver.h"
#include "ovm/core/patch_reader.h"
#include "ovm/core/value_override_parser.h"
#include "tests/support/dynamics_library.h"

namespace {

using ovm::parseQuantity;

TEST(Quantity, ConvertsUnitsForThePinThatTakesThem) {
    EXPECT_DOUBLE_EQ(ovm::toPinValue(parseQuantity("-6 dB"), "linear"), std::pow(10.0, -6.0 / 20.0));
    EXPECT_DOUBLE_EQ(ovm::toPinValue(parseQuantity("-6 dBFS"), "linear"), std::pow(10.0, -6.0 / 20.0));
    EXPECT_DOUBLE_EQ(ovm::toPinValue(parseQuantity("0.5x"), "linear"), 0.5);
    EXPECT_DOUBLE_EQ(ovm::toPinValue(parseQuantity(" 50 % "), "linear"), 0.5);
    EXPECT_DOUBLE_EQ(ovm::toPinValue(parseQuantity("5 ms"), "ms"), 5.0);
    EXPECT_DOUBLE_EQ(ovm::toPinValue(parseQuantity("0.25s"), "ms"), 250.0);
    EXPECT_THROW(ovm::toPinValue(parseQuantity("5 ms"), "linear"), std::invalid_argument);
    EXPECT_THROW(ovm::toPinValue(parseQuantity("1 dB"), ""), std::invalid_argument);
    for (const char* bad : {"", "dB", "1e999", "nan", "--1", "+-2"})
        EXPECT_THROW(parseQuantity(bad), std::invalid_argument) << bad;
}

// A level is never a bare number (dB or factor?), a negative factor or one beyond a float.
TEST(Quantity, RefusesLevelsThatCanBeMisread) {
    for (const auto& [text, message] : std::vector<std::pair<const char*, const char*>>{
             {"-0.5", "-0.5 is ambiguous for a level: write -0.5 dB (0.944x); a factor cannot be negative"},
             {"2", "2 is ambiguous for a level: write 2x for the factor or 2 dB (1.26x)"},
             {"0", "0 is ambiguous for a level: write 0x for the factor or 0 dB (1x)"},
             {"-0.5x", "a level cannot be negative (in dB write -0.5 dB)"},
             {"-50 %", "a level cannot be negative"},
             {"800 dB", "a level beyond the largest a pin holds"},
             {"1e39x", "a level beyond the largest a pin holds"},
             {"-1 dBu", "a level takes dB, dBFS, % or x (a plain factor)"}}) {
        try {
            ovm::toPinValue(parseQuantity(text), "linear");
            ADD_FAILURE() << text << " accepted";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(std::string(error.what()).substr(0, std::strlen(message)), message) << text;
        }
    }
}

TEST(Quantity, TimesBecomeSampleCounts) {
    EXPECT_EQ(ovm::toSamples(parseQuantity("2.5s"), 48000), 120000);
    EXPECT_EQ(ovm::toSamples(parseQuantity("2.5"), 48000), 120000);
    EXPECT_EQ(ovm::toSamples(parseQuantity("5 ms"), 44100), 221);
    EXPECT_EQ(ovm::toSamples(parseQuantity("30001 samples"), 48000), 30001);
    EXPECT_THROW(ovm::toSamples(parseQuantity("-1 s"), 48000), std::invalid_argument);
    EXPECT_THROW(ovm::toSamples(parseQuantity("3 beats"), 48000), std::invalid_argument);
}

std::string patchErrorOf(const std::string& text) {
    try {
        ovm::parsePatch(text, "p.toml");
    } catch (const ovm::Error& error) {
        EXPECT_EQ(error.code(), ovm::ExitCode::patch);
        return error.what();
    }
    return "parsed";
}

TEST(PatchReader, NamesTheLineAndFieldOfEveryMistake) {
    EXPECT_EQ(patchErrorOf("connections = []\n"), "p.toml:1: 'library': missing (a text is required)");
    EXPECT_EQ(patchErrorOf("library = \"x\"\nconnections = [\"a.b -> c\"]\n"),
              "p.toml:2: 'connections': 'c' is not of the form node.pin");
    EXPECT_EQ(patchErrorOf("library = \"x\"\n[nodes.input]\nmodule = \"m\"\n"),
              "p.toml:2: 'input': 'input' is the host's own node and cannot be declared");
    EXPECT_EQ(patchErrorOf("library = \"x\"\n[nodes.d]\ntype = \"echo\"\n"),
              "p.toml:3: 'd.type': must be \"module\", \"multiply\", \"delay\" or \"truepeak\"");
    EXPECT_EQ(patchErrorOf("library = \"x\"\nblock_size = 0\n"),
              "p.toml:2: 'block_size': must be between 1 and 65536");
    EXPECT_EQ(patchErrorOf("library = \"x\"\n[[automation]]\nset = \"a.b\"\nvalue = 1\n"),
              "p.toml:2: 'automation[1].at': missing (when the value is set, e.g. \"2.5 s\")");
    EXPECT_EQ(patchErrorOf("library = \"x\"\n[vars]\n2x = \"1 ms\"\n"),
              "p.toml:3: 'vars.2x': a variable's name is letters, digits and '_', not starting with a digit");
    EXPECT_EQ(
        patchErrorOf("library = \"x\"\nceiling = 0.9\n"),
        "p.toml:2: 'ceiling': 0.9 is ambiguous for a level: write 0.9x for the factor or 0.9 dB (1.11x)");
}

// A ceiling in dBTP is a true-peak promise; one in dBFS, or as older patches write it in dB,
// a sample-peak one.
TEST(PatchReader, ReadsCeilingsInTruePeakAndSamplePeak) {
    using Measure = ovm::Ceiling::Measure;
    const struct {
        const char* text;
        double level;
        Measure measure;
    } ceilings[] = {{"-1 dBTP", std::pow(10.0, -1.0 / 20.0), Measure::truePeak},
                    {"-1 dBFS", std::pow(10.0, -1.0 / 20.0), Measure::samplePeak},
                    {"-1 dB", std::pow(10.0, -1.0 / 20.0), Measure::samplePeak},
                    {"0.5x", 0.5, Measure::samplePeak}};
    for (const auto& c : ceilings) {
        const ovm::Patch patch =
            ovm::parsePatch("library = \"x\"\nceiling = \"" + std::string(c.text) + "\"\n", "p.toml");
        ASSERT_TRUE(patch.ceiling) << c.text;
        EXPECT_DOUBLE_EQ(patch.ceiling->level, c.level) << c.text;
        EXPECT_EQ(patch.ceiling->measure, c.measure) << c.text;
    }
    EXPECT_EQ(patchErrorOf("library = \"x\"\nceiling = \"-1 LUFS\"\n"),
              "p.toml:2: 'ceiling': '-1 LUFS': a ceiling is in dBTP (true peak) or dBFS (sample peak), e.g. "
              "\"-1 dBTP\"");
    EXPECT_EQ(patchErrorOf("library = \"x\"\nceiling = \"0x\"\n"),
              "p.toml:2: 'ceiling': must be a level above 0 (e.g. \"-1 dBTP\" or \"-1 dBFS\")");
}

TEST(PatchReader, ReadsTheLimiterExample) {
    const ovm::Patch patch = ovm::readPatch(std::string(EXAMPLES_DIR) + "/limiter.toml");
    EXPECT_EQ(patch.library, "Dynamics.ovm");
    EXPECT_EQ(patch.nodes.size(), 10u);
    EXPECT_EQ(patch.connections.size(), 15u);
    ASSERT_TRUE(patch.ceiling);
    EXPECT_DOUBLE_EQ(patch.ceiling->level, std::pow(10.0, -1.0 / 20.0));
    ASSERT_TRUE(patch.plotGain);
    EXPECT_EQ(patch.plotGain->text(), "smooth.output");
}

TEST(ValueOverride, ParsesValueAndTime) {
    const ovm::ValueOverride plain = ovm::parseValueOverride("knee.threshold=-3 dB");
    EXPECT_EQ(plain.target.text(), "knee.threshold");
    EXPECT_EQ(plain.value.text, "-3 dB");
    EXPECT_FALSE(plain.at);
    const ovm::ValueOverride timed = ovm::parseValueOverride("smooth.time=10ms@2.5s");
    EXPECT_EQ(timed.value.text, "10ms");
    EXPECT_EQ(timed.at->text, "2.5s");
    EXPECT_THROW(ovm::parseValueOverride("knee.threshold"), ovm::Error);
    const ovm::ValueOverride variable = ovm::parseValueOverride("lookahead=10ms");
    EXPECT_TRUE(variable.setsVariable());
    EXPECT_EQ(variable.target.pin, "lookahead");
    for (const char* bad : {"lookahead=10ms@1s", "2x=1", "a b=1"})
        EXPECT_THROW(ovm::parseValueOverride(bad), ovm::Error) << bad;
}

// The description shipped beside Dynamics.ovm matches the library: every module is created
// through the factory, and exactly its described audio pins take buffers.
TEST(LibraryDescription, MatchesDynamicsLibrary) {
    const ovm::LibraryDescription description = ovm::readLibraryDescription(DYNAMICS_LIBRARY_PATH);
    EXPECT_EQ(description.modules.size(), 7u);
    for (const ovm::ModuleDescription& module : description.modules) {
        host::ModuleDriver instance(testing_support::dynamicsFactory(), module.id);
        std::vector<float> buffer(8);
        for (std::size_t id = 0; id < module.pins.size(); ++id)
            EXPECT_EQ(instance.setBuffer(int32_t(id), buffer.data()), 0) << module.id << " pin " << id;
        EXPECT_EQ(instance.setBuffer(int32_t(module.pins.size()), buffer.data()), -1) << module.id;
        EXPECT_EQ(description.find(module.name), &module);
    }
}

}  // namespace
