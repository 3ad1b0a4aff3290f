// Every group of benchmarks in one program, so that the ratios between them come from one run.

#include "bench/bench_support.h"

int main(int argc, char** argv) {
    bench::registerModuleBenchmarks();
    bench::registerLimitBenchmarks();
    bench::registerFrameworkBenchmarks();
    bench::registerKernelBenchmarks();
    bench::registerLimiterBenchmarks();
    bench::registerLiveBenchmarks();
    bench::registerPeerBenchmarks();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
