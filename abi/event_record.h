#pragma once

#include <cstddef>
#include <cstdint>

namespace mp {

enum EventType : int32_t {
    kEventPinValue = 100,
    kEventStreamingOn = 101,
    kEventStreamingOff = 102,
    kEventPinMessage = 103,
    kEventAnnounceOutputs = 104,
};

// One entry of the singly linked event list that the host passes to process().
// The layout is part of the binary interface: 40 bytes, 8-byte pointers.
struct EventRecord {
    int32_t position;       // sample offset from the start of the block
    int32_t type;           // an EventType code
    int32_t pinId;          // target pin for types 100 to 103
    int32_t size;           // number of value bytes for type 100
    uint8_t inlineData[8];  // the value bytes when data is null
    const void* data;       // the value bytes, or null when they are inline
    const EventRecord* next;
};

static_assert(sizeof(void*) == 8, "the event record layout assumes 8-byte pointers");
static_assert(sizeof(EventRecord) == 40, "EventRecord is 40 bytes");
static_assert(offsetof(EventRecord, position) == 0);
static_assert(offsetof(EventRecord, type) == 4);
static_assert(offsetof(EventRecord, pinId) == 8);
static_assert(offsetof(EventRecord, size) == 12);
static_assert(offsetof(EventRecord, inlineData) == 16);
static_assert(offsetof(EventRecord, data) == 24);
static_assert(offsetof(EventRecord, next) == 32);

}  // namespace mp
