// Nanoseconds per sample of every module, driven through the built Dynamics.ovm and its
// process(), next to a memory copy of the same bytes as the limit a streaming module meets.

#include <benchmark/benchmark.h>

#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "host/module_library.h"
#include "host/plugin_instance.h"

namespace {

constexpr int32_t kSignalLength = 1 << 16;  // fresh noise the branch predictor cannot learn

struct ModuleSetup {
    const char* id;
    std::vector<int32_t> inputs;
    int32_t output;
    std::optional<std::pair<int32_t, float>> control;  // pin and value sent at the start
};

const ModuleSetup kModules[] = {
    {"Orin Peak", {0, 1}, 2, std::nullopt},          {"Orin Hard Knee", {1}, 2, std::pair{0, 0.5f}},
    {"Orin Integrator", {0}, 1, std::nullopt},       {"Orin ms2factor", {0}, 1, std::nullopt},
    {"Orin factor2ms", {0}, 1, std::nullopt},        {"Orin Peak Hold", {1}, 2, std::pair{0, 85.0f}},
    {"Orin SmootherG", {1}, 2, std::pair{0, 10.0f}},
};

std::vector<float> noise(float low, float high, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> sample(low, high);
    std::vector<float> signal(kSignalLength);
    for (float& x : signal) x = sample(random);
    return signal;
}

host::ModuleLibrary& library() {
    static host::ModuleLibrary loaded(DYNAMICS_LIBRARY_PATH);
    return loaded;
}

// Steps through the noise block by block, as a host steps through a stream.
void moduleThroughProcess(benchmark::State& state, const ModuleSetup& setup, int32_t block,
                          float controlValue) {
    auto factory = library().factory();
    host::PluginInstance module(*factory, setup.id);
    module.host().setBlockSize(block);
    std::vector<std::vector<float>> inputs;
    for (std::size_t i = 0; i < setup.inputs.size(); ++i)
        inputs.push_back(noise(0.001f, 2.0f, uint32_t(i + 1)));
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
    int32_t offset = 0;
    for (auto _ : state) {
        offset = offset + 2 * block > kSignalLength ? 0 : offset + block;
        bind(offset);
        module.process(block);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * block);
}

// The limit for a streaming module: copying the bytes it reads and writes.
void memoryCopy(benchmark::State& state) {
    const auto streams = int32_t(state.range(0));
    const auto block = int32_t(state.range(1));
    std::vector<std::vector<float>> from(std::size_t(streams), noise(0, 1, 9));
    std::vector<float> to(kSignalLength);
    int32_t offset = 0;
    for (auto _ : state) {
        offset = offset + 2 * block > kSignalLength ? 0 : offset + block;
        for (const auto& stream : from)
            std::memcpy(to.data() + offset, stream.data() + offset, std::size_t(block) * sizeof(float));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * block);
}

void registerAll() {
    for (const ModuleSetup& setup : kModules)
        for (int32_t block : {16, 64, 512, 4096}) {
            const std::string name = std::string("process/") + setup.id + "/" + std::to_string(block);
            const float value = setup.control ? setup.control->second : 0.0f;
            benchmark::RegisterBenchmark(name.c_str(), [&setup, block, value](benchmark::State& state) {
                moduleThroughProcess(state, setup, block, value);
            });
        }
    for (float window : {5.4f, 85.4f, 700.0f})
        benchmark::RegisterBenchmark(
            ("window/Orin Peak Hold/" + std::to_string(int(window)) + "ms").c_str(),
            [window](benchmark::State& state) { moduleThroughProcess(state, kModules[5], 4096, window); });
    for (float time : {1.0f, 10.0f, 100.0f, 1000.0f})
        benchmark::RegisterBenchmark(
            ("window/Orin SmootherG/" + std::to_string(int(time)) + "ms").c_str(),
            [time](benchmark::State& state) { moduleThroughProcess(state, kModules[6], 4096, time); });
    for (int64_t streams : {2, 3})
        for (int64_t block : {16, 64, 512, 4096})
            benchmark::RegisterBenchmark("limit/memcpy", memoryCopy)->Args({streams, block});
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
