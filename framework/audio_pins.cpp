#include "framework/audio_pins.h"

#include <algorithm>

namespace mp {

void AudioInPin::preProcessEvent(const EventRecord* event) {
    if (event->type != kEventStreamingOn && event->type != kEventStreamingOff) return;
    updated = true;
    const bool isStreamingNow = event->type == kEventStreamingOn;
    if (isStreamingNow != streaming) {
        streaming = isStreamingNow;
        plugin->onStreamingChange(streaming);
    }
    // Every stop, also a repeated one, lets at least one more sample run before sleep.
    if (!streaming) plugin->raiseSleepCountdownTo(1);
}

void AudioInPin::postProcessEvent(const EventRecord* event) {
    if (event->type == kEventStreamingOn || event->type == kEventStreamingOff) updated = false;
}

int32_t AudioOutPin::setStreaming(bool isStreaming, int32_t position) {
    const int32_t at = position == -1 ? plugin->getBlockPosition() : position;
    if (isStreaming != streaming) {
        streaming = isStreaming;
        plugin->onStreamingChange(streaming);
    }
    IMpHost* host = plugin->getHost();
    if (host == nullptr) return kResultFail;
    if (!streaming) host->queryBlockSize(plugin->sleepCountdownAddress());
    return host->reportPinStreaming(at, id, streaming ? 1 : 0);
}

void AudioOutPin::writeSilence(int32_t from, int32_t to) {
    if (buffer != nullptr && from < to) std::fill(buffer + from, buffer + to, 0.0f);
}

}  // namespace mp
