// PeakHold's two algorithms alone, outside the module: the constant-cost sliding minimum it
// runs on input without NaN, and the doubling ring it falls back to from a NaN on.

#include "bench/bench_support.h"
#include "modules/doubling_ring.h"
#include "modules/sliding_minimum.h"

namespace bench {
namespace {

constexpr int32_t kBlock = 4096;

template <typename Kernel>
void windowKernel(benchmark::State& state, Kernel&& kernel) {
    const std::vector<float> in = noise(0.05f, 1.0f, 3);
    std::vector<float> out(kBlock);
    BlockCursor cursor(kBlock);
    for (auto _ : state) {
        kernel(in.data() + cursor.next(), out.data(), kBlock);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}

void slidingMinimum(benchmark::State& state) {
    dynamics::SlidingMinimum window;
    window.reset(int32_t(state.range(0)), 1.0f);
    windowKernel(state, [&](const float* in, float* out, int32_t count) { window.run(in, out, count); });
}

void doublingRing(benchmark::State& state) {
    dynamics::DoublingRing ring;
    ring.fill(int32_t(state.range(0)), 1.0f, 0);
    windowKernel(state, [&](const float* in, float* out, int32_t count) {
        for (int32_t k = 0; k < count; ++k) out[k] = ring.push(in[k]);
    });
}

}  // namespace

void registerKernelBenchmarks() {
    for (int64_t window : {256, 4096, 32768}) {
        benchmark::RegisterBenchmark("kernel/sliding-minimum", slidingMinimum)->Arg(window);
        benchmark::RegisterBenchmark("kernel/doubling-ring", doublingRing)->Arg(window);
    }
}

}  // namespace bench
