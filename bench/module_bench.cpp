// Nanoseconds per sample of every module, driven through the built Dynamics.ovm and its
// process(), with the heap and lock calls made inside process() counted.

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "description/library_description_reader.h"
#include "host/module_driver.h"
#include "ovm/core/demo_signal.h"

namespace bench {
namespace {

// The pins come from Dynamics.toml; what the bench chooses is the control value sent at the
// start and the inputs' range. The gain-path modules get a realistic gain signal: noise
// between deep reduction and none.
struct ModuleSetup {
    const char* name;
    float control = 0.0f;
    float low = 0.001f, high = 2.0f;
};

const ModuleSetup kModules[] = {
    {"peak"},
    {"hardknee", 0.5f},
    {"integrator"},
    {"ms2factor"},
    {"factor2ms", 0.0f, 0.001f, 0.099f},
    {"peakhold", 85.0f, 0.05f, 1.0f},
    {"smoother", 10.0f, 0.05f, 1.0f},
};
const ModuleSetup& kPeakHold = kModules[5];
const ModuleSetup& kSmoother = kModules[6];

const ovm::ModuleDescription& described(const ModuleSetup& setup) {
    static const ovm::LibraryDescription description = ovm::readLibraryDescription(DYNAMICS_LIBRARY_PATH);
    return *description.find(setup.name);
}

// The gain a limiter computes on the demo programme: the knee's gain for the larger of the two
// channels' magnitudes, 1 where they stay under the threshold.
const std::vector<float>& limiterGain() {
    static const std::vector<float> gain = [] {
        const std::vector<float> programme = ovm::demoProgramme(double(kSignalLength) / kSampleRate, kSampleRate);
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
                          float sampleRate = float(kSampleRate)) {
    const ovm::ModuleDescription& module = described(setup);
    const std::vector<int32_t> inputPins = module.audioInputs();
    const int32_t outputPin = module.audioOutput();
    auto factory = dynamicsLibrary().factory();
    host::ModuleDriver driver(*factory, module.id, {block, sampleRate, nullptr});
    std::vector<std::vector<float>> inputs;
    for (std::size_t i = 0; i < inputPins.size(); ++i)
        inputs.push_back(i == 0 && signal ? *signal : noise(setup.low, setup.high, uint32_t(i + 1)));
    std::vector<float> output(kSignalLength);
    std::map<int32_t, float> controls;
    for (int32_t pin = 0; pin < int32_t(module.pins.size()); ++pin)
        if (!module.pins[std::size_t(pin)].audio) controls[pin] = controlValue;
    host::EventList start = host::startEvents(inputPins, controls);
    auto bind = [&](int32_t offset) {
        for (std::size_t i = 0; i < inputs.size(); ++i)
            driver.setBuffer(inputPins[i], inputs[i].data() + offset);
        driver.setBuffer(outputPin, output.data() + offset);
    };
    bind(0);
    driver.open();
    driver.process(block, start);
    BlockCursor cursor(block);
    auto step = [&] {
        bind(cursor.next());
        driver.process(block);
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
            const std::string name = "process/" + described(setup).id + "/" + std::to_string(block);
            benchmark::RegisterBenchmark(name.c_str(), [&setup, block](benchmark::State& state) {
                moduleThroughProcess(state, setup, block, setup.control);
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
    // Windows that keep the filter sum in 128 bits: 700 ms and 1000 ms, whose rings (1 MiB)
    // stay in the cache, and 20 s, whose taps stream from a 16 MiB ring. On this input (noise
    // from 0.05 to 1) the 20 s sums pass 2^63 and the 1000 ms ones do not, but both round at
    // a fixed step over nearly every chunk, so the ring is what 20 s pays for.
    for (const float time : {700.0f, 1000.0f, 20000.0f})
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
