#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "host/module_library.h"

namespace ovm {
class Engine;
struct Patch;
}  // namespace ovm

namespace bench {

// Fresh noise over this many samples: the branch predictor cannot learn it.
inline constexpr int32_t kSignalLength = 1 << 16;
// Every benchmark runs at this rate, so real-time factors compare; the peers' window lengths
// (CMakeLists.txt) and report.py's real-time factors assume it too.
inline constexpr double kSampleRate = 48000.0;

std::vector<float> noise(float low, float high, uint32_t seed);

// The built Dynamics.ovm and the bench's own do-nothing module library, loaded once.
host::ModuleLibrary& dynamicsLibrary();
host::ModuleLibrary& nullModuleLibrary();

// Steps through a signal of kSignalLength block by block, as a host steps through a stream,
// wrapping before the end.
class BlockCursor {
public:
    explicit BlockCursor(int32_t block) : block(block) {}
    int32_t next() { return offset = offset + 2 * block > kSignalLength ? 0 : offset + block; }

private:
    int32_t block;
    int32_t offset = 0;
};

// Runs `call` a number of times with heap and lock calls counted on this thread, and adds
// the counts to the benchmark's counters. Without the counting hooks (sanitizer builds)
// the counters read -1.
void countRealtimeCalls(benchmark::State& state, const std::function<void()>& call);

// An engine for the patch over the built Dynamics.ovm, two input channels at kSampleRate.
std::unique_ptr<ovm::Engine> stereoEngine(const ovm::Patch& patch, int32_t block);

// Registration of each group of benchmarks.
void registerModuleBenchmarks();
void registerLimitBenchmarks();
void registerFrameworkBenchmarks();
void registerKernelBenchmarks();
void registerLimiterBenchmarks();
void registerLiveBenchmarks();
void registerPeerBenchmarks();  // none where Faust is not installed

}  // namespace bench
