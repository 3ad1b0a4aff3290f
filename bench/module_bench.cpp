// Nanoseconds per sample of every module, driven through the built Dynamics.ovm and its
// process(), with the heap and lock calls made inside process() counted.

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "host/plugin_instance.h"
#include "ovm/core/demo_signal.h"

namespace bench {
namespace {

struct ModuleSetup {
    const char* id;
    std::vector<int32_t> inputs;
    int32_t output;
    std::optional<std::pair<int32_t, float>> control;  // pin and value sent at the start
    float low = 0.001f, high = 2.0f;                   // the input's range
};

// The gain-path modules get a realistic gain signal: noise between deep reduction and none.
const ModuleSetup kModules[] = {
    {"Orin Peak", {0, 1}, 2, std::nullopt},
    {"Orin Hard Knee", {1}, 2, std::pair{0, 0.5f}},
    {"Orin Integrator", {0}, 1, std::nullopt},
    {"Orin ms2factor", {0}, 1, std::nullopt},
    {"Orin factor2ms", {0}, 1, std::nullopt, 0.001f, 0.099f},
    {"Orin Peak Hold", {1}, 2, std::pair{0, 85.0f}, 0.05f, 1.0f},
    {"Orin SmootherG", {1}, 2, std::pair{0, 10.0f}, 0.05f, 1.0f},
};
const ModuleSetup& kPeakHold = kModules[5];
const ModuleSetup& kSmoother = kModules[6];

// The gain a limiter computes on the demo programme: the knee's gain for the larger of the two
// channels' magnitudes, 1 where they stay under the threshold.
const std::vector<float>& limiterGain() {
    static const std::vector<float> gain = [] {
        const std::vector<float> programme = ovm::demoProgramme(double(kSignalLength) / 48000.0, 48000.0);
        std::vector<float> g(kSignalLength);
        for (std::size_t k = 0; k < g.size(); ++k) {
            const float peak = std::max(std::fabs(programme[2 * k]), std::fabs(programme[2 * k + 1]));
            g[k] = peak > 0.891f ? 0.891f / peak : 1.0f;
        }
        return g;
    }();
    return gain;
}

// `signal`, when given, feeds the first input instead of noise.
void moduleThroughProcess(benchmark::State& state, const ModuleSetup& setup, int32_t block,
                          float controlValue, const std::vector<float>* signal = nullptr,
                          float sampleRate = 48000.0f) {
    auto factory = dynamicsLibrary().factory();
    host::PluginInstance module(*factory, setup.id);
    module.host().setBlockSize(block);
    module.host().setSampleRate(sampleRate);
    std::vector<std::vector<float>> inputs;
    for (std::size_t i = 0; i < setup.inputs.size(); ++i)
        inputs.push_back(i == 0 && signal ? *signal : noise(setup.low, setup.high, uint32_t(i + 1)));
    std::vector<float> output(kSignalLength);
    host::EventList start;
    for (int32_t pin : setup.inputs) start.streaming(0, pin, true);
    if (setup.control) start.value(0, setup.control->first, controlValue);
    start.announceOutputs(0);
    auto bind = [&](int32_t offset) {
        for (std::size_t i = 0; i < inputs.size(); ++i)
            module.setBuffer(setup.inputs[i], inputs[i].data() + offset);
        module.setBuffer(setup.output, output.data() + offset);
    };
    bind(0);
    module.open();
    module.process(block, start);
    BlockCursor cursor(block);
    auto step = [&] {
        bind(cursor.next());
        module.process(block);
    };
    for (auto _ : state) {
        step();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * block);
    countRealtimeCalls(state, step);
}

}  // namespace

void registerModuleBenchmarks() {
    for (const ModuleSetup& setup : kModules)
        for (int32_t block : {16, 64, 512, 4096}) {
            const std::string name = std::string("process/") + setup.id + "/" + std::to_string(block);
            const float value = setup.control ? setup.control->second : 0.0f;
            benchmark::RegisterBenchmark(name.c_str(), [&setup, block, value](benchmark::State& state) {
                moduleThroughProcess(state, setup, block, value);
            });
        }
    // Hold times that give windows of 256, 4096 and 32768 samples at 48 kHz.
    for (float window : {5.4f, 85.4f, 700.0f})
        benchmark::RegisterBenchmark(
            ("window/Orin Peak Hold/" + std::to_string(int(window)) + "ms").c_str(),
            [window](benchmark::State& state) { moduleThroughProcess(state, kPeakHold, 4096, window); });
    for (float time : {1.0f, 10.0f, 100.0f, 1000.0f})
        benchmark::RegisterBenchmark(
            ("window/Orin SmootherG/" + std::to_string(int(time)) + "ms").c_str(),
            [time](benchmark::State& state) { moduleThroughProcess(state, kSmoother, 4096, time); });
    // Windows that keep the filter sum in 128 bits: one whose ring (1 MiB) stays in the cache,
    // and 20 s at 192 kHz, whose three taps stream from a 16 MiB ring in memory.
    for (const float time : {700.0f, 20000.0f})
        benchmark::RegisterBenchmark(
            ("window/Orin SmootherG/" + std::to_string(int(time)) + "ms@192kHz").c_str(),
            [time](benchmark::State& state) {
                moduleThroughProcess(state, kSmoother, 4096, time, nullptr, 192000.0f);
            });
    benchmark::RegisterBenchmark("gain/Orin Peak Hold/6ms", [](benchmark::State& state) {
        moduleThroughProcess(state, kPeakHold, 4096, 6.0f, &limiterGain());
    });
    benchmark::RegisterBenchmark("gain/Orin SmootherG/5ms", [](benchmark::State& state) {
        moduleThroughProcess(state, kSmoother, 4096, 5.0f, &limiterGain());
    });
}

}  // namespace bench
