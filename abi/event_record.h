#pragma once

// The events of one block.
//
// With every process call (abi/plugin_interfaces.h) the host passes a singly linked list of
// EventRecords: the pin values, input streaming changes and announcements that fall inside
// the block, each stamped with its sample position. The host builds the list (an array of
// records linked through next is enough) and owns it, records and value bytes alike. The
// module object reads it during that one call only: it never writes to it and keeps no
// pointer into it, so the host may reuse or free it as soon as process returns.
//
// Order and grouping. Records come in ascending position. The records at one position form
// a group, which the object takes as a whole in list order, between running the samples
// before it and those after it; a group holding a value or streaming event makes the module
// recompute what depends on its pins, once.
// A record whose position is behind the current one (out of order, or negative) runs
// nothing before it: it is delivered at the current position, in one group with the records
// after it that stand there. A record at or beyond the
// block's sample count ends the block: the samples up to the end are run, and that record
// and every one after it are dropped, not delivered; send them again, in the next block, if
// they matter. (A block of 0 samples still takes the records at position 0.)
//
// Starting. A module object has nothing to run until events tell it its signals: send, at
// position 0 of the first block, a kEventStreamingOn or kEventStreamingOff for every audio
// input, a kEventPinValue for every control input, and a kEventAnnounceOutputs. A first block without events
// makes the object ask to sleep at once, with its outputs unwritten.

#include <cstddef>
#include <cstdint>

namespace mp {

enum EventType : int32_t {
    // A control input pin takes a value: size bytes, inline or at data.
    kEventPinValue = 100,
    // An audio input pin starts streaming: its samples change from sample to sample from
    // this position on.
    kEventStreamingOn = 101,
    // An audio input pin turns static: from this position on every sample in its buffer
    // holds one value. Its buffer must still carry that value for every sample, as modules
    // read all of them. Each such event, also a repeated one, lets the module run at least
    // one more sample before it may ask to sleep.
    kEventStreamingOff = 102,
    // A message for a pin's own handler. No pin of this library has one, so the record is
    // ignored, and it does not make the module recompute.
    kEventPinMessage = 103,
    // Asks every output pin to announce itself (pinId is ignored; use -1): audio outputs
    // turn streaming and report so at this position (abi/host_interface.h,
    // reportPinStreaming). Some modules only ever stream their outputs after this, so send it
    // when the object starts.
    kEventAnnounceOutputs = 104,
};

// One entry of the singly linked event list that the host passes to process().
// The layout is part of the binary interface: 40 bytes, 8-byte pointers.
struct EventRecord {
    // Sample offset from the start of the block, 0 <= position < the block's count (see
    // above for what becomes of other positions).
    int32_t position;
    // An EventType code. Records of any other type are skipped, but still belong to the group
    // at their position.
    int32_t type;
    // The pin the event is for (types 100 to 103): the ids are 0, 1, 2, ... in the order the
    // module declares its pins. An id that no pin has reaches nothing, but a value or
    // streaming event for it still makes the module recompute.
    int32_t pinId;
    // Number of value bytes for type 100; ignored for other types. Control pins here hold a
    // 4-byte float: they copy min(size, 4) bytes into the value from its first byte on, so
    // a size of 4 replaces it, a smaller one only its first bytes, and 0 or less leaves it
    // as it was (the event still counts as an update).
    int32_t size;
    // The value bytes when data is null: up to 8 of them, a float in the first 4 (in the
    // machine's byte order). Unused bytes may hold anything.
    uint8_t inlineData[8];
    // The value bytes, or null when they are inline. Must point to at least size bytes,
    // owned by the host and valid for the process call; the object reads no more of them
    // than the pin's value holds.
    const void* data;
    // The next record, null after the last. The list must end: no cycles.
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
