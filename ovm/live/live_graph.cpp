#include "ovm/live/live_graph.h"

namespace ovm::live {

LiveGraph::LiveGraph(std::unique_ptr<Engine> built, int32_t blockSize, double sampleRate, const float* gain)
    : engine(std::move(built)),
      blockSize(blockSize),
      sampleRate(sampleRate),
      latency(engine->latencySamples()),
      gain(gain),
      dryDelay(std::size_t(engine->outputChannels()), std::vector<float>(std::size_t(latency), 0.0f)) {}

}  // namespace ovm::live
