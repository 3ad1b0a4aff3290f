#include "framework/mp_base2.h"

#include <algorithm>

#include "framework/pin_base.h"

namespace mp {

void MpBase2::process(int32_t count, const EventRecord* events) {
    try {
        processBlock(count, events);
    } catch (...) {
        // A module's failure (an allocation in onPinsUpdated) ends the block here.
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
            if (stretch > 0) runActive(stretch);
            canSleep = true;
            remaining -= stretch;
            if (remaining == 0) return;
            blockPosition += stretch;
        }
        head = dispatchGroup(head);
    }
    runActive(remaining);
}

const EventRecord* MpBase2::dispatchGroup(const EventRecord* head) {
    const EventRecord* end = head->next;
    while (end != nullptr && end->position == blockPosition) end = end->next;

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
    for (auto* e = head; e != end; e = e->next) {
        if (e->type < kEventPinValue || e->type > kEventPinMessage) continue;
        if (MpPinBase* pin = findPin(e->pinId)) pin->postProcessEvent(e);
    }
    return end;
}

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
