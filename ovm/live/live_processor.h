#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "ovm/live/live_graph.h"
#include "ovm/live/spsc_queue.h"

namespace ovm::live {

// What the control thread asks of the audio thread, applied at the start of its next block.
struct LiveEvent {
    enum class Kind : uint8_t { value, bypassOn, bypassOff };
    Kind kind = Kind::value;
    uint32_t node = 0;  // for values: Engine::ControlPin
    int32_t pinId = 0;
    float value = 0;
};

// What the audio thread measured since its last report: peaks of all input and all output
// channels, the deepest value of the patch's gain signal (1 without one) and how many frames.
struct MeterFrame {
    float inputPeak = 0;
    float outputPeak = 0;
    float deepestGain = 1;
    uint32_t frames = 0;
};

// A file played instead of live inputs, held in memory so that the audio thread never reads
// a disk: interleaved frames of the engine's input channels.
struct FileInput {
    std::vector<float> frames;
    int32_t channels = 0;
    double sampleRate = 0;
    bool loop = false;
    long long length() const { return channels > 0 ? (long long)(frames.size() / std::size_t(channels)) : 0; }
};

// The audio thread's side of `ovm live`: runs the current graph over each callback's frames
// (in pieces of at most its block size, so a graph built for a smaller block still runs
// while its successor is built), applies queued events at the start of a callback, measures,
// and takes over a new graph between callbacks. process() allocates nothing, takes no lock
// and makes no system call; everything else belongs to one control thread.
class LiveProcessor {
public:
    // file: played instead of the inputs when not null; must outlive the processor.
    LiveProcessor(std::unique_ptr<LiveGraph> first, const FileInput* file);
    ~LiveProcessor();

    // Audio thread. inputs: one buffer per engine input channel (ignored with a file);
    // outputs: one per engine output channel.
    void process(int32_t frames, const float* const* inputs, float* const* outputs);

    // Control thread. False when the queue is full (the event is dropped).
    bool post(const LiveEvent& event) { return events.push(event); }
    // Control thread: hands over a graph for the next callback. False (and the graph is
    // kept by the caller) while the previous hand-over has not been taken.
    bool replace(std::unique_ptr<LiveGraph>& next);
    // Control thread: frees a graph the audio thread has let go.
    void releaseRetired();
    bool popMeters(MeterFrame& frame) { return meters.pop(frame); }
    long long framesProcessed() const { return processed.load(std::memory_order_relaxed); }
    // A file without --loop has played, and the patch's latency after it.
    bool fileFinished() const { return finished.load(std::memory_order_relaxed); }
    // The graph the audio thread runs, for its latency and channels; the control thread
    // builds every graph, so this is the one it handed over last.
    const LiveGraph& latestGraph() const { return *latest; }

private:
    void adoptNextGraph();
    void applyEvents();
    void loadInputs(const float* const* inputs, int32_t offset, int32_t count);
    void writeOutputs(float* const* outputs, int32_t offset, int32_t count);
    void measure(int32_t count);

    LiveGraph* current;
    const LiveGraph* latest;
    std::atomic<LiveGraph*> next{nullptr};
    std::atomic<LiveGraph*> retired{nullptr};
    SpscQueue<LiveEvent, 256> events;
    SpscQueue<MeterFrame, 1024> meters;
    MeterFrame measuring;
    const FileInput* file;
    long long filePosition = 0;
    long long silenceAfterFile = 0;
    bool bypassed = false;
    std::atomic<long long> processed{0};
    std::atomic<bool> finished{false};
};

}  // namespace ovm::live
