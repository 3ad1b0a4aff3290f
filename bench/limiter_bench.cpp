// The bundled look-ahead limiter patches, run by ovm's engine on a stereo programme at 48 kHz:
// frames per second as items, so the real-time factor is items per second / 48000 and one
// core runs that many chains in real time. The true-peak limiter (the example) and the
// sample-peak one differ only in the two detectors and the delays' length, so the difference
// of their times is the detectors' cost.

#include <fstream>
#include <sstream>

#include "bench/bench_support.h"
#include "ovm/core/demo_signal.h"
#include "engine/engine.h"
#include "description/library_description_reader.h"
#include "ovm/core/patch_reader.h"

namespace bench {
namespace {

std::string patchText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void limiter(benchmark::State& state, const std::string& patchPath) {
    const auto block = int32_t(state.range(0));
    const ovm::Patch patch = ovm::parsePatch(patchText(patchPath), patchPath);
    const std::unique_ptr<ovm::Engine> built = stereoEngine(patch, block);
    ovm::Engine& engine = *built;

    const std::vector<float> programme = ovm::demoProgramme(double(kSignalLength) / kSampleRate, kSampleRate);
    BlockCursor cursor(block);
    for (auto _ : state) {
        const int32_t at = cursor.next();
        for (int32_t channel = 0; channel < 2; ++channel) {
            float* in = engine.inputChannel(channel);
            for (int32_t k = 0; k < block; ++k) in[k] = programme[std::size_t(2 * (at + k) + channel)];
        }
        engine.processBlock(block);
        benchmark::DoNotOptimize(engine.outputChannel(0));
    }
    state.SetItemsProcessed(state.iterations() * block);
    state.counters["realtime"] =
        benchmark::Counter(double(state.iterations() * block) / kSampleRate, benchmark::Counter::kIsRate);
}

}  // namespace

std::unique_ptr<ovm::Engine> stereoEngine(const ovm::Patch& patch, int32_t block) {
    const ovm::LibraryDescription description = ovm::readLibraryDescription(DYNAMICS_LIBRARY_PATH);
    auto factory = dynamicsLibrary().factory();
    ovm::EngineConfig config;
    config.blockSize = block;
    config.sampleRate = kSampleRate;
    config.inputChannels = 2;
    return std::make_unique<ovm::Engine>(patch, description, *factory, config);
}

void registerLimiterBenchmarks() {
    const std::string examples = EXAMPLES_DIR;
    for (int64_t block : {64, 512}) {
        benchmark::RegisterBenchmark("limiter", limiter, examples + "/limiter.toml")->Arg(block);
        benchmark::RegisterBenchmark("limiter-sample-peak", limiter, examples + "/limiter-sample-peak.toml")
            ->Arg(block);
    }
    // The engine alone at the block ovm live's callback is measured at too.
    benchmark::RegisterBenchmark("limiter", limiter, examples + "/limiter.toml")->Arg(256);
}

}  // namespace bench
