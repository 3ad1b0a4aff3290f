// The engine on patches built in code: how it refuses a wrong patch, and a run through host
// nodes against the signal worked out by hand.

#include "engine/engine.h"

#include <gtest/gtest.h>

#include "engine/errors.h"
#include "tests/support/dynamics_library.h"

namespace {

ovm::NodeEntry node(std::string name, std::string type,
                    std::vector<std::pair<std::string, std::string>> values = {}) {
    ovm::NodeEntry entry{name, type, type == "module" ? "M" : "", {}, "p.toml:" + name};
    for (auto& [pin, value] : values) entry.values.push_back({pin, {value, "p.toml:" + name + "." + pin}});
    return entry;
}

ovm::Patch patchOf(std::vector<ovm::NodeEntry> nodes, const std::vector<std::string>& wires,
                   std::optional<std::string> latency = {},
                   std::vector<std::pair<std::string, std::string>> variables = {}) {
    ovm::Patch patch;
    patch.path = "p.toml";
    patch.library = "lib";
    patch.nodes = std::move(nodes);
    if (latency) patch.latency = ovm::SourceText{*latency, "p.toml:latency"};
    for (auto& [name, value] : variables) patch.variables.push_back({name, {value, "p.toml:vars." + name}});
    for (const std::string& wire : wires) {
        const auto arrow = wire.find(" -> ");
        patch.connections.push_back({ovm::parsePinRef(wire.substr(0, arrow)),
                                     ovm::parsePinRef(wire.substr(arrow + 4)), "p.toml:wire"});
    }
    return patch;
}

// One module with an audio input, a level and an audio output, described without a file.
ovm::LibraryDescription library() {
    ovm::LibraryDescription description{"lib.toml", "lib", {}};
    description.modules.push_back({"M",
                                   "M",
                                   "",
                                   {{"input", false, true, "", 0, {}},
                                    {"threshold", false, false, "linear", 1, {}},
                                    {"output", true, true, "", 0, {}}}});
    return description;
}

ovm::EngineConfig configWith(std::vector<std::string> sets = {}) {
    ovm::EngineConfig config;
    config.blockSize = 4;
    for (const std::string& set : sets) {
        const auto equals = set.find('=');
        const std::string target = set.substr(0, equals);
        config.overrides.push_back(
            {target.find('.') == std::string::npos ? ovm::PinRef{"", target} : ovm::parsePinRef(target),
             {set.substr(equals + 1), "--set"},
             {}});
    }
    return config;
}

struct BadPatch {
    std::string name;
    ovm::Patch patch;
    std::vector<std::string> sets;
    std::string message;
};

void PrintTo(const BadPatch& c, std::ostream* out) { *out << c.name; }

class EngineRefuses : public testing::TestWithParam<BadPatch> {};

TEST_P(EngineRefuses, NamingWhereAndWhat) {
    const BadPatch& c = GetParam();
    try {
        ovm::Engine::check(c.patch, library(), configWith(c.sets));
        FAIL() << "accepted";
    } catch (const ovm::Error& error) {
        EXPECT_EQ(error.code(), ovm::ExitCode::patch);
        EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
}

const ovm::NodeEntry kGain = node("g", "multiply"), kModule = node("m", "module"),
                     kDelay3 = node("d", "delay", {{"time", "3 samples"}});

INSTANTIATE_TEST_SUITE_P(
    Cases, EngineRefuses,
    testing::Values(
        BadPatch{"cycle",
                 patchOf({kGain, node("h", "multiply")},
                         {"g.output -> h.a", "h.output -> g.a", "h.output -> output.1"}),
                 {},
                 "p.toml: the connections form a cycle: g -> h -> g"},
        BadPatch{"self_loop",
                 patchOf({kGain}, {"input.1 -> g.a", "g.output -> g.b", "g.output -> output.1"}),
                 {},
                 "cycle: g -> g"},
        BadPatch{"fed_twice",
                 patchOf({kGain}, {"input.1 -> g.a", "input.1 -> g.a"}),
                 {},
                 "p.toml:wire: 'input.1 -> g.a': 'g.a' is already fed by 'input.1 -> g.a'"},
        BadPatch{"output_1025",
                 patchOf({}, {"input.1 -> output.1025"}),
                 {},
                 "'output.1025': an output has at most 1024 channels"},
        BadPatch{
            "input_2", patchOf({}, {"input.2 -> output.1"}), {}, "'input.2': the input has 1 channel(s)"},
        BadPatch{"host_pin",
                 patchOf({kGain}, {"input.1 -> g.c"}),
                 {},
                 "p.toml:wire: multiply node 'g' has pins a, b and output, not 'c'"},
        BadPatch{"delay_time",
                 patchOf({node("d", "delay")}, {}),
                 {},
                 "p.toml:d: delay node 'd' needs a time (e.g. \"5 ms\")"},
        BadPatch{"delay_gain",
                 patchOf({node("d", "delay", {{"time", "1"}, {"gain", "2"}})}, {}),
                 {},
                 "p.toml:d.gain: delay node 'd' has no value 'gain' (time only)"},
        BadPatch{"delay_long",
                 patchOf({node("d", "delay", {{"time", "1e9 s"}})}, {}),
                 {},
                 "p.toml:d.time: delay node 'd': '1e9 s' is longer than 16777216 samples"},
        BadPatch{"bad_gain",
                 patchOf({node("g", "multiply", {{"gain", "5 ms"}})}, {}),
                 {},
                 "p.toml:g.gain: '5 ms':"},
        BadPatch{"input_value",
                 patchOf({}, {}),
                 {"input.1=1"},
                 "--set: input node 'input' has no value '1' (it takes none)"},
        BadPatch{"module_pin", patchOf({kModule}, {"input.1 -> m.in"}), {}, "module 'M' has no pin 'in'"},
        BadPatch{"control_wired",
                 patchOf({kModule}, {"input.1 -> m.threshold"}),
                 {},
                 "'m.threshold' is not an audio input (control pins take values, not connections)"},
        BadPatch{"audio_valued", patchOf({kModule}, {}), {"m.input=1"}, "'m.input' is an audio pin"},
        BadPatch{"latency_declared",
                 patchOf({kDelay3}, {"input.1 -> d.input", "d.output -> output.1"}, "5"),
                 {},
                 "p.toml:latency: 'latency' is '5' (5 samples at 48000 Hz), but the longest path from input "
                 "to output delays by 3 samples"},
        BadPatch{"latency_set",
                 patchOf({kDelay3}, {"input.1 -> d.input", "d.output -> output.1"}, "3"),
                 {"d.time=1 ms"},
                 "'latency' is '3' (3 samples at 48000 Hz), but the longest path from input to output delays "
                 "by 48 samples"},
        BadPatch{
            "latency_fraction", patchOf({}, {}, "2.5"), {}, "'2.5': a latency is \"auto\", a whole number"},
        BadPatch{
            "unknown_variable",
            patchOf({node("d", "delay", {{"time", "$lookahed"}})}, {}, {}, {{"lookahead", "1 ms"}}),
            {},
            "p.toml:d.time: '$lookahed': the patch defines no variable 'lookahed' ([vars] has lookahead)"},
        BadPatch{"unknown_variable_set",
                 patchOf({}, {}),
                 {"lookahead=1 ms"},
                 "--set: the patch defines no variable 'lookahead' (it has no [vars]"},
        BadPatch{"bad_variable_value",
                 patchOf({node("d", "delay", {{"time", "$la"}})}, {}, {}, {{"la", "5 dB"}}),
                 {},
                 "p.toml:d.time ($la = p.toml:vars.la): '5 dB': a time takes s, ms or samples"}),
    [](const testing::TestParamInfo<BadPatch>& info) { return info.param.name; });

// input.1 -> d (a delay) -> g (a gain of one half) -> output.1, declared downstream first,
// over blocks shorter than the delay: output[n] = x[n - delay] / 2, with the values of the
// patch and with values set beside it.
TEST(Engine, RunsHostNodesInDependencyOrderAndReportsTheirLatency) {
    const ovm::Patch patch =
        patchOf({node("g", "multiply", {{"gain", "50 %"}}), node("d", "delay", {{"time", "3 samples"}})},
                {"d.output -> g.a", "input.1 -> d.input", "g.output -> output.1"});
    struct Run {
        std::vector<std::string> sets;
        int delay;
    };
    for (const Run& run : {Run{{}, 3}, Run{{"d.time=5 samples", "g.gain=0.5x"}, 5}}) {
        ovm::Engine engine(patch, library(), testing_support::dynamicsFactory(), configWith(run.sets));
        EXPECT_EQ(engine.latencySamples(), run.delay);
        ASSERT_EQ(engine.outputChannels(), 1);
        for (int start = 0; start < 16; start += 4) {
            for (int i = 0; i < 4; ++i) engine.inputChannel(0)[i] = float(start + i + 1);
            engine.processBlock(4);
            for (int i = 0; i < 4; ++i) {
                const int n = start + i;
                ASSERT_EQ(engine.outputChannel(0)[i], n >= run.delay ? 0.5f * float(n - run.delay + 1) : 0.0f)
                    << n;
            }
        }
    }
}

// The latency is the longest path from the input to the output, with the values in force at
// the start; paths that never reach the output add nothing, and a declared latency that
// agrees is accepted.
TEST(Engine, LatencyIsTheLongestPathFromInputToOutput) {
    const auto delay = [](std::string name, std::string time) {
        return node(name, "delay", {{"time", time}});
    };
    // input -> a (3) -> b (5) -> g.a and input -> c (7) -> g.b: 8 through a and b.
    const std::vector<std::string> paths = {"input.1 -> a.input", "a.output -> b.input",
                                            "b.output -> g.a",    "input.1 -> c.input",
                                            "c.output -> g.b",    "g.output -> output.1"};
    const std::vector<ovm::NodeEntry> parallel = {kGain, delay("a", "3 samples"), delay("b", "5 samples"),
                                                  delay("c", "7 samples")};
    struct Case {
        std::string name;
        ovm::Patch patch;
        std::vector<std::string> sets;
        long long latency;
        std::string warning = "";
    };
    for (const Case& c : {
             Case{"series beats parallel", patchOf(parallel, paths, "8"), {}, 8},
             Case{"set at the start", patchOf(parallel, paths, "auto"), {"c.time=10 samples"}, 10},
             Case{"side chain",
                  patchOf({delay("a", "3 samples"), delay("b", "9 samples")},
                          {"input.1 -> a.input", "a.output -> output.1", "input.1 -> b.input"}),
                  {},
                  3},
             Case{"variable set",
                  patchOf({delay("d", "$la")}, {"input.1 -> d.input", "d.output -> output.1"}, "$la",
                          {{"la", "6 samples"}}),
                  {"la=2 samples"},
                  2},
             Case{"channels apart",
                  patchOf({delay("a", "3 samples")},
                          {"input.1 -> a.input", "a.output -> output.1", "input.1 -> output.2"}),
                  {},
                  3,
                  "p.toml: the output channels lag the input by different amounts (output.1 by 3 and "
                  "output.2 by 0 samples)"},
         }) {
        SCOPED_TRACE(c.name);
        ovm::Engine engine(c.patch, library(), testing_support::dynamicsFactory(), configWith(c.sets));
        EXPECT_EQ(engine.latencySamples(), c.latency);
        EXPECT_EQ(engine.warnings().empty() ? "" : engine.warnings().front().substr(0, c.warning.size()),
                  c.warning);
    }
}

// A value sent between blocks (as a plug-in sends a control's change) reaches the module at
// the start of the next block: HardKnee's gain is 0 / x under the default threshold of 0,
// and threshold / x above the new one from there on. Only module control pins take values.
TEST(Engine, ValueSentBetweenBlocksActsFromTheNextBlock) {
    ovm::Patch patch = patchOf({node("k", "module")}, {"input.1 -> k.input", "k.output -> output.1"});
    patch.nodes[0].module = "Orin Hard Knee";
    ovm::Engine engine(patch, testing_support::dynamicsDescription(), testing_support::dynamicsFactory(),
                       configWith());
    const ovm::Engine::ControlPin threshold = engine.controlPin({"k", "threshold"});
    engine.start();
    for (int start = 0; start < 16; start += 4) {
        if (start == 8) engine.setValue(threshold, 0.25f);
        for (int i = 0; i < 4; ++i) engine.inputChannel(0)[i] = 0.0625f * float(start + i + 1);
        engine.processBlock(4);
        for (int i = 0; i < 4; ++i) {
            const float x = 0.0625f * float(start + i + 1);
            EXPECT_EQ(engine.outputChannel(0)[i], start < 8 ? 0.0f : x > 0.25f ? 0.25f / x : 1.0f) << start + i;
        }
    }
    for (const char* notControl : {"k.input", "k.output", "input.1", "nothere.threshold"})
        EXPECT_THROW(engine.controlPin(ovm::parsePinRef(notControl)), ovm::Error) << notControl;
}

}  // namespace
