#include "framework/plugin_base.h"

#include "framework/pin_base.h"

namespace mp {

MpPluginBase::~MpPluginBase() {
    pinMap.clear();
    if (host != nullptr) host->release();
}

int32_t MpPluginBase::queryInterface(const MpGuid* iid, void** object) {
    if (object == nullptr) return kResultNoInterface;
    *object = nullptr;
    if (iid == nullptr) return kResultNoInterface;
    if (*iid == kIidMpPlugin2) {
        *object = asPlugin2();
    } else if (*iid == kIidMpPlugin || *iid == kIidMpUnknown) {
        *object = asPlugin();
    } else if (*iid == kIidMpLegacyInitialization) {
        *object = asLegacyInitialization();
    } else {
        return kResultNoInterface;
    }
    addRef();
    return kResultOk;
}

int32_t MpPluginBase::addRef() { return ++refCount; }

int32_t MpPluginBase::release() {
    if (--refCount != 0) return refCount;
    delete this;
    return 0;
}

// Asks the host for its two interfaces. A repeated call releases the host interface it
// replaces, so re-attaching never leaks a reference.
int32_t MpPluginBase::setHost(IMpUnknown* newHost) {
    if (newHost == nullptr) return kResultNoInterface;
    try {
        void* secondary = nullptr;
        newHost->queryInterface(&kIidMpHostSecondary, &secondary);
        secondaryHost = secondary;
        void* primary = nullptr;
        const int32_t result = newHost->queryInterface(&kIidMpHost, &primary);
        if (host != nullptr) host->release();
        host = static_cast<IMpHost*>(primary);
        return result;
    } catch (...) {
        return kResultFail;
    }
}

int32_t MpPluginBase::open() { return kResultOk; }

int32_t MpPluginBase::setBuffer(int32_t pinId, float* buffer) {
    MpPinBase* pin = findPin(pinId);
    if (pin == nullptr) return kResultFail;
    // Hosts may move every buffer every block: look at all pins only when this one gains
    // or loses its buffer.
    const bool lacked = pin->lacksBuffer();
    pin->setBuffer(buffer);
    if (pin->lacksBuffer() != lacked) refreshBuffersReady();
    return kResultOk;
}

void MpPluginBase::announceOutputs() {
    for (auto& [pinId, pin] : pinMap)
        if (pin->getDirection() == kDirectionOutput) pin->announce();
}

void MpPluginBase::registerPin(MpPinBase& pin, EventHandler handler) {
    const int32_t id = pinMap.empty() ? 0 : pinMap.rbegin()->first + 1;
    registerPinWithId(id, pin, handler);
}

void MpPluginBase::registerPinWithId(int32_t id, MpPinBase& pin, EventHandler handler) {
    if (handler == nullptr && pin.getDirection() == kDirectionInput) handler = pin.defaultEventHandler();
    pin.attach(id, this, handler);
    pinMap.emplace(id, &pin);
    if (id >= 0 && id < kDensePinIds) {
        if (std::size_t(id) >= pinsById.size()) pinsById.resize(std::size_t(id) + 1, nullptr);
        if (pinsById[std::size_t(id)] == nullptr) pinsById[std::size_t(id)] = &pin;
    }
    refreshBuffersReady();
}

void MpPluginBase::refreshBuffersReady() {
    allBuffersSet = true;
    for (const auto& [pinId, pin] : pinMap) allBuffersSet = allBuffersSet && !pin->lacksBuffer();
}

void MpPluginBase::raiseSleepCountdownTo(int32_t samples) {
    if (sleepCountdown < samples) sleepCountdown = samples;
}

MpPinBase* MpPluginBase::findPinInMap(int32_t pinId) const {
    const auto found = pinMap.find(pinId);
    return found == pinMap.end() ? nullptr : found->second;
}

int32_t MpPluginBase::auxiliaryCallV1(int32_t index, int32_t value, void* pointer) {
    return forwardAuxiliaryCall(true, index, value, pointer);
}

int32_t MpPluginBase::auxiliaryCallV2(int32_t index, int32_t value, void* pointer) {
    return forwardAuxiliaryCall(false, index, value, pointer);
}

// Each version forwards to the other once; the guard stops the forwarding from looping, so
// a module that overrides either version is reached exactly once and one that overrides
// neither answers 0.
int32_t MpPluginBase::forwardAuxiliaryCall(bool toV2, int32_t index, int32_t value, void* pointer) {
    if (forwardGuard) return 0;
    struct GuardScope {
        bool& guard;
        explicit GuardScope(bool& flag) : guard(flag) { guard = true; }
        ~GuardScope() { guard = false; }
    } scope(forwardGuard);
    return toV2 ? auxiliaryCallV2(index, value, pointer) : auxiliaryCallV1(index, value, pointer);
}

}  // namespace mp
