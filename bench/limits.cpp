// What the machine allows for each module's work, measured in the same run so that every
// module's figure can be read as a ratio: a streaming module cannot beat moving its bytes,
// a recursive one cannot beat the latency of its dependent operations.

#include <cmath>
#include <cstring>

#include "bench/bench_support.h"
#include "modules/multiversion.h"

namespace bench {
namespace {

constexpr int32_t kBlock = 4096;

// A copy moving as many bytes per sample as a module reads and writes (Peak: 12, HardKnee: 8).
void copy(benchmark::State& state) {
    const auto bytesPerSample = std::size_t(state.range(0));
    const auto block = int32_t(state.range(1));
    std::vector<char> from(kSignalLength * bytesPerSample / 2), to(from.size());
    const std::size_t bytes = std::size_t(block) * bytesPerSample / 2;
    BlockCursor cursor(block);
    for (auto _ : state) {
        const std::size_t at = std::size_t(cursor.next()) * bytesPerSample / 2;
        std::memcpy(to.data() + at, from.data() + at, bytes);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * block);
}

// Single-precision divisions alone, as many lanes wide as the processor allows: HardKnee
// forms one quotient per sample, so the divider bounds it before memory does.
DYNAMICS_VECTOR_LOOP
void quotientsLoop(const float* in, float* out, int32_t count) {
#pragma omp simd
    for (int32_t i = 0; i < count; ++i) out[i] = 0.5f / in[i];
}
const auto quotients = dynamics::chosenAtLoad<quotientsLoop>();

void divide(benchmark::State& state) {
    const std::vector<float> in = noise(0.001f, 2.0f, 6);
    std::vector<float> out(kSignalLength);
    BlockCursor cursor(kBlock);
    for (auto _ : state) {
        const int32_t at = cursor.next();
        quotients(in.data() + at, out.data() + at, kBlock);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}

// Loops over a block of noise with a loop-carried dependency the compiler must keep.
template <typename Step>
void chain(benchmark::State& state, Step step) {
    const std::vector<float> in = noise(0.001f, 2.0f, 7);
    BlockCursor cursor(kBlock);
    for (auto _ : state) step(in.data() + cursor.next(), kBlock);
    state.SetItemsProcessed(state.iterations() * kBlock);
}

void addChain(benchmark::State& state) {
    chain(state, [](const float* in, int32_t count) {
        float sum = 0.0f;
        for (int32_t i = 0; i < count; ++i) sum += in[i];
        benchmark::DoNotOptimize(sum);
    });
}

void minChain(benchmark::State& state) {
    chain(state, [](const float* in, int32_t count) {
        float minimum = 1.0f;
        for (int32_t i = 0; i < count; ++i) minimum = in[i] < minimum ? in[i] : minimum;
        benchmark::DoNotOptimize(minimum);
    });
}

// Two dependent 64-bit additions per sample over precomputed integer input, each result
// stored: the smoother's recursion without its ring and its conversions.
void recursion64(benchmark::State& state) {
    std::vector<int32_t> in(kSignalLength);
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = int32_t(i * 2654435761u) >> 8;
    std::vector<int64_t> out(kBlock);
    BlockCursor cursor(kBlock);
    int64_t level = 0, rise = 0;
    for (auto _ : state) {
        const int32_t* x = in.data() + cursor.next();
        for (int32_t i = 0; i < kBlock; ++i) {
            rise += x[i];
            level += rise;
            out[std::size_t(i)] = level;
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}

// A stand-in for the host's sample-rate query: an indirect call the compiler cannot see
// through.
int32_t queryRate(float* rate) {
    *rate = float(kSampleRate);
    return 0;
}

// One double-precision exp or log and one indirect call per sample: the converters' floor.
// The arguments are the ones the converters meet on the benchmark's inputs, precomputed.
void functionAndCall(benchmark::State& state, double (*function)(double),
                     const std::vector<double>& argument) {
    std::vector<float> out(kBlock);
    int32_t (*query)(float*) = queryRate;
    BlockCursor cursor(kBlock);
    for (auto _ : state) {
        const double* x = argument.data() + cursor.next();
        for (int32_t i = 0; i < kBlock; ++i) {
            benchmark::DoNotOptimize(query);
            float rate = 0.0f;
            query(&rate);
            out[std::size_t(i)] = float(function(x[i]));
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}

// Exponents of times from 0.01 to 20 ms at 48 kHz, logarithms of factors from 0.01 to 0.99.
void expAndCall(benchmark::State& state) {
    std::vector<double> exponent;
    for (float time : noise(0.001f, 2.0f, 8))
        exponent.push_back(-6.907755278982137 / (time * 0.01 * kSampleRate));
    functionAndCall(
        state, [](double x) { return std::exp(x); }, exponent);
}

void logAndCall(benchmark::State& state) {
    std::vector<double> multiplier;
    for (float factor : noise(0.001f, 0.099f, 8)) multiplier.push_back(factor * 10.0f);
    functionAndCall(
        state, [](double x) { return std::log(x); }, multiplier);
}

}  // namespace

void registerLimitBenchmarks() {
    for (int64_t bytes : {8, 12})
        for (int64_t block : {16, 64, 512, 4096})
            benchmark::RegisterBenchmark("limit/copy", copy)->Args({bytes, block});
    benchmark::RegisterBenchmark("limit/divide", divide);
    benchmark::RegisterBenchmark("limit/add-chain", addChain);
    benchmark::RegisterBenchmark("limit/min-chain", minChain);
    benchmark::RegisterBenchmark("limit/recursion64", recursion64);
    benchmark::RegisterBenchmark("limit/exp-and-call", expAndCall);
    benchmark::RegisterBenchmark("limit/log-and-call", logAndCall);
}

}  // namespace bench
