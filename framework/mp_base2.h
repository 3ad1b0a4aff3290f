#pragma once

#include <cstdint>

#include "framework/plugin_base.h"

namespace mp {

// Adds block processing to the plug-in object: runs the module's run function over the
// stretches between event positions, dispatches each group of events at one position in
// three passes, and keeps the sleep protocol.
class MpBase2 : public MpPluginBase {
public:
    using RunFunction = void (MpBase2::*)(int32_t count);

    void process(int32_t count, const EventRecord* events) override;
    void onStreamingChange(bool streaming) override;

protected:
    // Makes fn the module's run function; takes effect with the very next run.
    void chooseRunFunction(RunFunction fn);
    template <typename Module>
    void chooseRunFunction(void (Module::*fn)(int32_t)) {
        chooseRunFunction(static_cast<RunFunction>(fn));
    }

    // Stands in front of the chosen run function while no audio pin streams: runs the
    // countdown, then asks the host to let the module sleep.
    void preSleepRun(int32_t count);
    void runNothing(int32_t) {}
    void runSilence(int32_t count);

    bool isCounting() const { return activeRunFunction == &MpBase2::preSleepRun; }

    RunFunction activeRunFunction = &MpBase2::preSleepRun;
    RunFunction chosenRunFunction = &MpBase2::runNothing;

private:
    void processBlock(int32_t count, const EventRecord* events);
    // A host that has not given every audio pin its buffer gets its events taken, but no
    // run function touches memory it never gave.
    void runActive(int32_t count) {
        if (isCounting())
            preSleepRun(count);
        else
            runChosen(count);
    }
    void runChosen(int32_t count) {
        if (buffersReady()) (this->*chosenRunFunction)(count);
    }
    // Dispatches the group that starts at head; returns the first record after it.
    const EventRecord* dispatchGroup(const EventRecord* head);
    // The first two passes over the group [head, end) and the module's update.
    void deliverGroup(const EventRecord* head, const EventRecord* end);
    // Writes 0.0 to every audio output from sample `from` up to sample `to` of the block.
    void silenceOutputs(int32_t from, int32_t to);

    int32_t stretchStart = 0;  // where the current run's stretch began in the block
};

}  // namespace mp
