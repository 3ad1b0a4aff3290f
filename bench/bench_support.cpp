#include "bench/bench_support.h"

#include <random>

#include "validate/realtime_monitor.h"

namespace bench {

std::vector<float> noise(float low, float high, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> sample(low, high);
    std::vector<float> signal(kSignalLength);
    for (float& x : signal) x = sample(random);
    return signal;
}

host::ModuleLibrary& dynamicsLibrary() {
    static host::ModuleLibrary loaded(DYNAMICS_LIBRARY_PATH);
    return loaded;
}

host::ModuleLibrary& nullModuleLibrary() {
    static host::ModuleLibrary loaded(NULL_MODULE_LIBRARY_PATH);
    return loaded;
}

void countRealtimeCalls(benchmark::State& state, const std::function<void()>& call) {
    namespace realtime = ovm::validate::realtime;
    constexpr int kCalls = 100;
    if (!realtime::available()) {
        state.counters["allocations"] = -1;
        state.counters["locks"] = -1;
        return;
    }
    realtime::take();
    for (int i = 0; i < kCalls; ++i) {
        realtime::watch(true);
        call();
        realtime::watch(false);
    }
    const realtime::Counts counts = realtime::take();
    state.counters["allocations"] = double(counts.allocations + counts.frees);
    state.counters["locks"] = double(counts.locks);
}

}  // namespace bench
