#pragma once

#include <cstdint>

#include "framework/pin_base.h"

namespace mp {

// The common part of the audio pins: a host-owned sample buffer and a streaming state.
class MpAudioPinBase : public MpPinBase {
public:
    void setBuffer(float* newBuffer) override { buffer = newBuffer; }
    int32_t getDatatype() const override { return kDatatypeAudio; }
    EventHandler defaultEventHandler() const override { return nullptr; }
    bool lacksBuffer() const override { return buffer == nullptr; }

    bool isStreaming() const { return streaming; }
    // The first sample of the current run.
    float* getBuffer() const { return buffer + plugin->getBlockPosition(); }

protected:
    float* buffer = nullptr;
    bool streaming = false;
};

class AudioInPin : public MpAudioPinBase {
public:
    void preProcessEvent(const EventRecord* event) override;
    void postProcessEvent(const EventRecord* event) override;
    int32_t getDirection() const override { return kDirectionInput; }
    void announce() override {}

    bool isUpdated() const { return updated; }

private:
    bool updated = true;
};

class AudioOutPin : public MpAudioPinBase {
public:
    int32_t getDirection() const override { return kDirectionOutput; }
    void announce() override { setStreaming(true); }

    // Reports the state to the host on every call. Leaving the pin static re-arms the
    // plug-in's sleep countdown with the host's block size.
    int32_t setStreaming(bool isStreaming, int32_t position = -1);
    // Writes 0.0 to samples [from, to) of the block, if the pin has a buffer.
    void writeSilence(int32_t from, int32_t to);
};

}  // namespace mp
