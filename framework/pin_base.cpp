#include "framework/pin_base.h"

namespace mp {

void MpPinBase::preProcessEvent(const EventRecord*) {}

void MpPinBase::processEvent(const EventRecord* event) {
    if (eventHandler != nullptr) (plugin->*eventHandler)(event);
}

void MpPinBase::postProcessEvent(const EventRecord*) {}

void MpPinBase::attach(int32_t pinId, MpPluginBase* owner, EventHandler handler) {
    id = pinId;
    plugin = owner;
    eventHandler = handler;
}

}  // namespace mp
