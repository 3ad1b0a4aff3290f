#pragma once

#include <cstdint>

#include "abi/event_record.h"
#include "framework/plugin_base.h"

namespace mp {

enum PinDatatype : int32_t { kDatatypeAudio = 5, kDatatypeFloat = 6 };
enum PinDirection : int32_t { kDirectionInput = 0, kDirectionOutput = 1 };

// Root of every pin. A pin is a data member of its module object; registration gives it
// its id and its plug-in. The three event operations are the three passes the block
// processor makes over each group of events at one position.
class MpPinBase {
public:
    MpPinBase() = default;
    MpPinBase(const MpPinBase&) = delete;
    MpPinBase& operator=(const MpPinBase&) = delete;
    virtual ~MpPinBase() = default;

    virtual void setBuffer(float* buffer) = 0;
    virtual void preProcessEvent(const EventRecord* event);
    // Passes the event to the handler given at registration, if any.
    void processEvent(const EventRecord* event);
    bool handlesEvents() const { return eventHandler != nullptr; }
    virtual void postProcessEvent(const EventRecord* event);
    virtual int32_t getDatatype() const = 0;
    virtual int32_t getDirection() const = 0;
    virtual EventHandler defaultEventHandler() const = 0;
    virtual void announce() = 0;
    // Whether the pin still waits for the host's sample buffer.
    virtual bool lacksBuffer() const { return false; }

    int32_t getId() const { return id; }

    // Called by the plug-in at registration only.
    void attach(int32_t pinId, MpPluginBase* owner, EventHandler handler);

protected:
    int32_t id = -1;
    MpPluginBase* plugin = nullptr;
    EventHandler eventHandler = nullptr;
};

}  // namespace mp
