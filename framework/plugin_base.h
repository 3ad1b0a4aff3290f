#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "abi/host_interface.h"
#include "abi/plugin_interfaces.h"

namespace mp {

class MpPinBase;
class MpPluginBase;

// A handler that a pin calls with each of its events, run on the owning module object.
using EventHandler = void (MpPluginBase::*)(const EventRecord* event);

// Gives each plug-in interface version its own auxiliaryCall body, so that the two versions
// can forward to each other.
class MpPluginFaceV1 : public IMpPlugin {
public:
    int32_t auxiliaryCall(int32_t index, int32_t value, void* pointer) final {
        try {
            return auxiliaryCallV1(index, value, pointer);
        } catch (...) {
            return kResultFail;
        }
    }

protected:
    ~MpPluginFaceV1() = default;
    virtual int32_t auxiliaryCallV1(int32_t index, int32_t value, void* pointer) = 0;
};

class MpPluginFaceV2 : public IMpPlugin2 {
public:
    int32_t auxiliaryCall(int32_t index, int32_t value, void* pointer) final {
        try {
            return auxiliaryCallV2(index, value, pointer);
        } catch (...) {
            return kResultFail;
        }
    }

protected:
    ~MpPluginFaceV2() = default;
    virtual int32_t auxiliaryCallV2(int32_t index, int32_t value, void* pointer) = 0;
};

// Base of every module object: its four interface views, reference counting, host
// attachment and the pin map. Every operation the host can reach catches whatever is thrown
// beneath it, so no exception crosses the binary interface.
class MpPluginBase : public MpPluginFaceV1,
                     public MpPluginFaceV2,
                     public IoldSchoolInitialisation,
                     public IMpLegacyInitialization {
public:
    MpPluginBase() = default;
    MpPluginBase(const MpPluginBase&) = delete;
    MpPluginBase& operator=(const MpPluginBase&) = delete;

    int32_t queryInterface(const MpGuid* iid, void** object) override;
    int32_t addRef() override;
    int32_t release() override;
    int32_t setHost(IMpUnknown* host) override;
    int32_t open() override;
    int32_t setBuffer(int32_t pinId, float* buffer) override;

    virtual ~MpPluginBase();
    virtual void onPinsUpdated() {}
    virtual void onStreamingChange(bool streaming) = 0;
    virtual void announceOutputs();

    // Registers a pin under the next free id (0 for the first).
    void registerPin(MpPinBase& pin, EventHandler handler = nullptr);
    void registerPinWithId(int32_t id, MpPinBase& pin, EventHandler handler);

    // What pins need from their plug-in.
    int32_t getBlockPosition() const { return blockPosition; }
    IMpHost* getHost() const { return host; }
    // The host's sample rate in Hz, asked afresh on every call. 0 without a host or from a
    // host that writes nothing: never a stale or undefined value.
    float hostSampleRate() const {
        float rate = 0.0f;
        if (host) host->querySampleRate(&rate);
        return rate;
    }
    int32_t* sleepCountdownAddress() { return &sleepCountdown; }
    void raiseSleepCountdownTo(int32_t samples);

    // The views, as the host sees them.
    IMpPlugin* asPlugin() { return this; }
    IMpPlugin2* asPlugin2() { return this; }
    IMpLegacyInitialization* asLegacyInitialization() { return this; }
    IoldSchoolInitialisation* asOldSchoolInitialisation() { return this; }

protected:
    // Every event looks its pin up, three times: ids from 0 to kDensePinIds - 1 (all that
    // modules use in practice) come from a table, others from the map.
    MpPinBase* findPin(int32_t pinId) const {
        if (uint32_t(pinId) < pinsById.size()) return pinsById[std::size_t(pinId)];
        return findPinInMap(pinId);
    }
    // True once every audio pin has a buffer: run functions are never called before.
    bool buffersReady() const { return allBuffersSet; }

    int32_t refCount = 1;
    IMpHost* host = nullptr;
    void* secondaryHost = nullptr;  // asked for and kept, never called nor released
    std::map<int32_t, MpPinBase*> pinMap;
    std::vector<MpPinBase*> pinsById;  // null where no pin has the id
    int32_t blockPosition = 0;
    int32_t sleepCountdown = 0;
    int32_t streamingPinCount = 0;
    bool canSleep = true;

    int32_t auxiliaryCallV1(int32_t index, int32_t value, void* pointer) override;
    int32_t auxiliaryCallV2(int32_t index, int32_t value, void* pointer) override;

private:
    static constexpr int32_t kDensePinIds = 256;
    MpPinBase* findPinInMap(int32_t pinId) const;

    void refreshBuffersReady();
    int32_t forwardAuxiliaryCall(bool toV2, int32_t index, int32_t value, void* pointer);

    bool forwardGuard = false;
    bool allBuffersSet = true;
};

}  // namespace mp
