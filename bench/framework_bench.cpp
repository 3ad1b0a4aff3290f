// The framework's own cost per process() call: with no events on a module that does nothing
// per sample, per group of events (a value and a streaming event at one position), and on
// the path of a module that has asked to sleep.

#include "bench/bench_support.h"
#include "host/module_driver.h"

namespace bench {
namespace {

constexpr int32_t kBlock = 64;
constexpr int32_t kLevel = 0, kInput = 1, kOutput = 2;

// Counts process() calls as items, so the figure is nanoseconds per call.
void processCalls(benchmark::State& state, host::ModuleDriver& module, const mp::EventRecord* events) {
    // The host keeps no growing list of the streaming reports that the module repeats.
    auto call = [&] {
        module.plugin().process(kBlock, events);
        module.host().clearStreamingReports();
    };
    for (auto _ : state) {
        call();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    countRealtimeCalls(state, call);
}

// `groups` groups of events spread over the block; none for 0.
void nullModule(benchmark::State& state) {
    const auto groups = int32_t(state.range(0));
    auto factory = nullModuleLibrary().factory();
    host::ModuleDriver module(*factory, "Bench Null");
    std::vector<float> in(kBlock, 0.5f), out(kBlock);
    module.setBuffer(kInput, in.data());
    module.setBuffer(kOutput, out.data());
    module.open();
    host::EventList start = host::startEvents({kInput});
    module.process(kBlock, start);
    host::EventList events;
    for (int32_t g = 0; g < groups; ++g) {
        const int32_t position = g * kBlock / groups;
        events.value(position, kLevel, float(g)).streaming(position, kInput, true);
    }
    processCalls(state, module, events.empty() ? nullptr : events.head());
}

// Peak with static inputs: after its countdown it has asked to sleep, and a host that calls
// it anyway meets the path that runs nothing.
void sleepingModule(benchmark::State& state) {
    auto factory = dynamicsLibrary().factory();
    host::ModuleDriver module(*factory, "Orin Peak", {.blockSize = kBlock});
    std::vector<float> a(kBlock, 0.5f), b(kBlock, 0.25f), out(kBlock);
    module.setBuffer(0, a.data());
    module.setBuffer(1, b.data());
    module.setBuffer(2, out.data());
    module.open();
    host::EventList start = host::startEvents({0, 1});
    module.process(kBlock, start);
    host::EventList stop;
    stop.streaming(0, 0, false).streaming(0, 1, false);
    module.process(kBlock, stop);
    for (int i = 0; i < 4; ++i) module.process(kBlock);
    if (module.host().sleepRequestCount() == 0) state.SkipWithError("Peak did not ask to sleep");
    processCalls(state, module, nullptr);
}

}  // namespace

void registerFrameworkBenchmarks() {
    for (int64_t groups : {0, 1, 4, 16})
        benchmark::RegisterBenchmark("framework/event-groups", nullModule)->Arg(groups);
    benchmark::RegisterBenchmark("framework/sleeping", sleepingModule);
}

}  // namespace bench
