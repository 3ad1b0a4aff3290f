#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "framework/audio_pins.h"
#include "framework/control_pin.h"
#include "framework/mp_base2.h"
#include "host/com_ptr.h"
#include "host/event_list.h"
#include "host/module_host.h"

namespace framework_testing {

// A module that records what the framework does to it: every run (position and length) and
// a snapshot of its pins at every onPinsUpdated. Pins: 0 control, 1 audio in, 2 audio out.
class ProbeModule : public mp::MpBase2 {
public:
    struct Run {
        int32_t position;
        int32_t count;
        bool operator==(const Run&) const = default;
    };
    struct Update {
        int32_t position;
        float value;
        bool valueUpdated;
        bool inputUpdated;
        bool inputStreaming;
        bool counting;
    };

    ProbeModule();
    ~ProbeModule() override;

    void onPinsUpdated() override;
    void run(int32_t count);
    void otherRun(int32_t count);

    // Runs inside onPinsUpdated before the run function is chosen.
    std::function<void(ProbeModule&)> onUpdate;
    // Runs at the start of every run of `run`, before it writes.
    std::function<void(ProbeModule&)> onRun;
    bool chooseOnUpdate = true;

    mp::MpFloatInPin control;
    mp::AudioInPin input;
    mp::AudioOutPin output;
    std::vector<Run> runs;
    std::vector<Run> otherRuns;
    std::vector<Update> updates;

    // Framework state, for inspection.
    int32_t countdown() const { return sleepCountdown; }
    void setCountdown(int32_t samples) { sleepCountdown = samples; }
    int32_t streamingPins() const { return streamingPinCount; }
    int32_t position() const { return blockPosition; }
    bool counting() const { return isCounting(); }
    bool chose(void (ProbeModule::*fn)(int32_t)) const {
        return chosenRunFunction == static_cast<RunFunction>(fn);
    }
    bool activeIs(void (ProbeModule::*fn)(int32_t)) const {
        return activeRunFunction == static_cast<RunFunction>(fn);
    }
    void choose(void (ProbeModule::*fn)(int32_t)) { chooseRunFunction(fn); }

    static int liveObjects;
};

// Creates a ProbeModule and holds its one reference through the IMpPlugin2 view.
struct ProbeHandle {
    ProbeHandle();
    ProbeModule* module;
    host::ComPtr<mp::IMpPlugin2> plugin;
};

// A probe attached to a recording host, with buffers on its audio pins.
struct AttachedProbe {
    AttachedProbe() {
        probe.plugin->setHost(&moduleHost);
        probe.plugin->setBuffer(1, in);
        probe.plugin->setBuffer(2, out);
        moduleHost.setRecording(true);
    }
    ProbeModule& m() { return *probe.module; }
    void process(int32_t count, host::EventList& events) { probe.plugin->process(count, events.head()); }
    void process(int32_t count) { probe.plugin->process(count, nullptr); }
    // Puts the module into the direct state (input streaming) and forgets what that recorded.
    void startStreaming() {
        host::EventList on;
        on.streaming(0, 1, true);
        process(0, on);
        m().runs.clear();
        m().updates.clear();
        moduleHost.clearCalls();
    }

    host::ModuleHost moduleHost;
    ProbeHandle probe;
    float in[64] = {};
    float out[64] = {};
};

}  // namespace framework_testing
