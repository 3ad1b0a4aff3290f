#include "framework/mp_base2.h"

#include <algorithm>

#include "framework/audio_pins.h"
#include "framework/pin_base.h"

namespace mp {

void MpBase2::process(int32_t count, const EventRecord* events) {
    try {
        processBlock(count, events);
    } catch (...) {
        // Only a run function gets here: a failed update is caught where it happens (see
        // dispatchGroup). What the run left in the outputs is unknown, so they carry silence
        // from the start of its stretch to the end of the block, and the block ends.
        silenceOutputs(stretchStart, count);
        blockPosition = 0;
        canSleep = true;
    }
}

// A negative count is treated as an empty block, and an event beyond the block ends it:
// no run ever covers samples past count.
void MpBase2::processBlock(int32_t count, const EventRecord* events) {
    blockPosition = 0;
    int32_t remaining = std::max(count, 0);
    const EventRecord* head = events;
    while (head != nullptr) {
        const int64_t length = int64_t(head->position) - blockPosition;
        if (length > 0) {
            const auto stretch = int32_t(std::min<int64_t>(length, remaining));
            canSleep = false;
            stretchStart = blockPosition;
            if (stretch > 0) runActive(stretch);
            canSleep = true;
            remaining -= stretch;
            if (remaining == 0) return;
            blockPosition += stretch;
        }
        head = dispatchGroup(head);
    }
    stretchStart = blockPosition;
    runActive(remaining);
}

// The third pass runs whatever the first two and the update did: a module whose update
// throws (an allocation failing in a rebuild) must keep its previous state, and with every
// pin's `updated` flag cleared the next group does not take the failed update for a new one.
// The block then goes on with the module as it was, so every output sample is written.
const EventRecord* MpBase2::dispatchGroup(const EventRecord* head) {
    const EventRecord* end = head->next;
    while (end != nullptr && end->position == blockPosition) end = end->next;
    try {
        deliverGroup(head, end);
    } catch (...) {
        // Nothing more to undo: the module keeps what it had before the update. One that had
        // not yet chosen a run function has nothing to fill its outputs with: they carry
        // silence until an update succeeds.
        if (chosenRunFunction == &MpBase2::runNothing) chooseRunFunction(&MpBase2::runSilence);
    }
    for (auto* e = head; e != end; e = e->next) {
        if (e->type < kEventPinValue || e->type > kEventPinMessage) continue;
        if (MpPinBase* pin = findPin(e->pinId)) pin->postProcessEvent(e);
    }
    return end;
}

void MpBase2::deliverGroup(const EventRecord* head, const EventRecord* end) {
    bool pinsUpdated = false;
    for (auto* e = head; e != end; e = e->next) {
        if (e->type >= kEventPinValue && e->type <= kEventStreamingOff) pinsUpdated = true;
        if (e->type < kEventPinValue || e->type > kEventPinMessage) continue;
        if (MpPinBase* pin = findPin(e->pinId)) pin->preProcessEvent(e);
    }
    for (auto* e = head; e != end; e = e->next) {
        if (e->type == kEventAnnounceOutputs) {
            announceOutputs();
        } else if (e->type >= kEventPinValue && e->type <= kEventPinMessage) {
            MpPinBase* pin = findPin(e->pinId);
            if (pin != nullptr && pin->handlesEvents()) pin->processEvent(e);
        }
    }
    if (pinsUpdated) onPinsUpdated();
}

void MpBase2::silenceOutputs(int32_t from, int32_t to) {
    for (auto& [pinId, pin] : pinMap)
        if (auto* out = dynamic_cast<AudioOutPin*>(pin)) out->writeSilence(from, to);
}

void MpBase2::runSilence(int32_t count) { silenceOutputs(blockPosition, blockPosition + count); }

void MpBase2::chooseRunFunction(RunFunction fn) {
    if (activeRunFunction == chosenRunFunction) activeRunFunction = fn;
    chosenRunFunction = fn;
}

void MpBase2::onStreamingChange(bool streaming) {
    streamingPinCount += streaming ? 1 : -1;
    activeRunFunction = streamingPinCount != 0 ? chosenRunFunction : &MpBase2::preSleepRun;
}

void MpBase2::preSleepRun(int32_t count) {
    const int32_t startPosition = blockPosition;
    while (true) {
        if (streamingPinCount != 0) {
            activeRunFunction = chosenRunFunction;
            if (count > 0) runChosen(count);
            break;
        }
        if (sleepCountdown <= 0) {
            if (canSleep) {
                if (host != nullptr) host->requestSleep();
                break;
            }
            // A stretch followed by events always runs to its end.
            sleepCountdown = count;
        }
        if (count <= 0) break;
        const int32_t n = std::min(sleepCountdown, count);
        sleepCountdown -= n;
        count -= n;
        runChosen(n);
        blockPosition += n;
    }
    blockPosition = startPosition;
}

}  // namespace mp
