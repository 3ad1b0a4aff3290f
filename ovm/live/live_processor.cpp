#include "ovm/live/live_processor.h"

#include <algorithm>
#include <cmath>

namespace ovm::live {

LiveProcessor::LiveProcessor(std::unique_ptr<LiveGraph> first, const FileInput* file)
    : current(first.release()), latest(current), file(file) {}

LiveProcessor::~LiveProcessor() {
    delete next.exchange(nullptr);
    delete retired.exchange(nullptr);
    delete current;
}

bool LiveProcessor::replace(std::unique_ptr<LiveGraph>& graph) {
    releaseRetired();
    if (next.load(std::memory_order_acquire) != nullptr || retired.load(std::memory_order_acquire) != nullptr)
        return false;
    latest = graph.get();
    next.store(graph.release(), std::memory_order_release);
    return true;
}

void LiveProcessor::releaseRetired() { delete retired.exchange(nullptr, std::memory_order_acq_rel); }

void LiveProcessor::process(int32_t frames, const float* const* inputs, float* const* outputs) {
    adoptNextGraph();
    applyEvents();
    for (int32_t done = 0; done < frames;) {
        const int32_t count = std::min(frames - done, current->blockSize);
        loadInputs(inputs, done, count);
        current->engine->processBlock(count);
        measure(count);
        writeOutputs(outputs, done, count);
        done += count;
    }
    if (meters.push(measuring)) measuring = MeterFrame{};
    processed.store(processed.load(std::memory_order_relaxed) + frames, std::memory_order_relaxed);
}

// The control thread frees the old graph: freeing here could reach the allocator's lock.
void LiveProcessor::adoptNextGraph() {
    LiveGraph* graph = next.load(std::memory_order_acquire);
    if (graph == nullptr) return;
    retired.store(current, std::memory_order_release);
    current = graph;
    next.store(nullptr, std::memory_order_release);
}

void LiveProcessor::applyEvents() {
    LiveEvent event;
    // The engine has room for this many values a block; the rest wait for the next one.
    for (std::size_t n = 0; n < Engine::kQueuedValuesPerBlock && events.pop(event); ++n) {
        if (event.kind == LiveEvent::Kind::value)
            current->engine->setValue({event.node, event.pinId, {}}, event.value);
        else
            bypassed = event.kind == LiveEvent::Kind::bypassOn;
    }
}

void LiveProcessor::loadInputs(const float* const* inputs, int32_t offset, int32_t count) {
    Engine& engine = *current->engine;
    const int32_t channels = engine.inputChannels();
    if (file == nullptr) {
        for (int32_t c = 0; c < channels; ++c) std::copy_n(inputs[c] + offset, count, engine.inputChannel(c));
        return;
    }
    const long long length = file->length();
    for (int32_t i = 0; i < count; ++i) {
        if (filePosition == length && file->loop) filePosition = 0;
        const bool playing = filePosition < length;
        for (int32_t c = 0; c < channels; ++c)
            engine.inputChannel(c)[i] =
                playing ? file->frames[std::size_t(filePosition * channels + c)] : 0.0f;
        if (playing)
            ++filePosition;
        else if (++silenceAfterFile > current->latency)
            finished.store(true, std::memory_order_relaxed);
    }
}

void LiveProcessor::writeOutputs(float* const* outputs, int32_t offset, int32_t count) {
    Engine& engine = *current->engine;
    const int32_t channels = engine.outputChannels();
    if (!bypassed) {
        for (int32_t c = 0; c < channels; ++c) std::copy_n(engine.outputChannel(c), count, outputs[c] + offset);
    }
    // The dry signal runs through its delay all the time, so that bypass can switch to it
    // at once.
    const std::size_t length = std::size_t(current->latency);
    for (int32_t c = 0; c < channels; ++c) {
        const float* dry = c < engine.inputChannels() ? engine.inputChannel(c) : nullptr;
        std::vector<float>& delay = current->dryDelay[std::size_t(c)];
        std::size_t at = current->dryAt;
        for (int32_t i = 0; i < count; ++i) {
            const float in = dry != nullptr ? dry[i] : 0.0f;
            float out = in;
            if (length > 0) {
                out = delay[at];
                delay[at] = in;
                if (++at == length) at = 0;
            }
            if (bypassed) outputs[c][offset + i] = out;
        }
    }
    if (length > 0) current->dryAt = (current->dryAt + std::size_t(count)) % length;
}

void LiveProcessor::measure(int32_t count) {
    const Engine& engine = *current->engine;
    const auto peak = [count](const float* x, float so_far) {
        for (int32_t i = 0; i < count; ++i) so_far = std::max(so_far, std::fabs(x[i]));
        return so_far;
    };
    for (int32_t c = 0; c < engine.inputChannels(); ++c)
        measuring.inputPeak = peak(current->engine->inputChannel(c), measuring.inputPeak);
    for (int32_t c = 0; c < engine.outputChannels(); ++c)
        measuring.outputPeak = peak(engine.outputChannel(c), measuring.outputPeak);
    // Until the delayed audio arrives, a gain signal still ramping up from its start (a
    // smoother's cleared history) reduces nothing: it counts from then on.
    if (current->gain != nullptr)
        for (auto i = int32_t(std::clamp<long long>(current->latency - current->framesRun, 0, count)); i < count; ++i)
            measuring.deepestGain = std::min(measuring.deepestGain, current->gain[i]);
    current->framesRun += count;
    measuring.frames += uint32_t(count);
}

}  // namespace ovm::live
