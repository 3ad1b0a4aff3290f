// ovm live's audio callback (the processor the JACK callback calls, without the server) on
// the true-peak limiter patch, stereo at 48 kHz: frames per second as items, so the
// callback's share of the block period is 48000 / items per second, whatever the block.

#include "bench/bench_support.h"
#include "ovm/core/demo_signal.h"
#include "ovm/core/patch_reader.h"
#include "ovm/live/live_processor.h"

namespace bench {
namespace {

void liveCallback(benchmark::State& state) {
    const auto block = int32_t(state.range(0));
    const ovm::Patch patch = ovm::readPatch(std::string(EXAMPLES_DIR) + "/limiter.toml");
    std::unique_ptr<ovm::Engine> engine = stereoEngine(patch, block);
    const float* gain = engine->tap(*patch.plotGain);
    ovm::live::LiveProcessor processor(
        std::make_unique<ovm::live::LiveGraph>(std::move(engine), block, kSampleRate, gain), nullptr);

    // The programme split into channels, as JACK's ports hand it over.
    const std::vector<float> programme = ovm::demoProgramme(double(kSignalLength) / kSampleRate, kSampleRate);
    std::vector<std::vector<float>> in(2, std::vector<float>(std::size_t(kSignalLength)));
    for (std::size_t i = 0; i < std::size_t(kSignalLength); ++i)
        for (std::size_t c = 0; c < 2; ++c) in[c][i] = programme[2 * i + c];
    std::vector<std::vector<float>> out(2, std::vector<float>(std::size_t(block)));
    float* outputs[2] = {out[0].data(), out[1].data()};
    BlockCursor cursor(block);
    const auto callback = [&] {
        const int32_t at = cursor.next();
        const float* inputs[2] = {in[0].data() + at, in[1].data() + at};
        processor.process(block, inputs, outputs);
        ovm::live::MeterFrame frame;
        while (processor.popMeters(frame)) {
        }
    };
    for (int i = 0; i < 16; ++i) callback();  // past the first blocks' start values
    for (auto _ : state) {
        callback();
        benchmark::DoNotOptimize(outputs[0][0]);
    }
    state.SetItemsProcessed(state.iterations() * block);
    countRealtimeCalls(state, callback);
}

}  // namespace

void registerLiveBenchmarks() { benchmark::RegisterBenchmark("live-callback", liveCallback)->Arg(64)->Arg(256); }

}  // namespace bench
