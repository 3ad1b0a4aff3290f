#pragma once

#include <cstdint>
#include <vector>

#include "abi/event_record.h"

namespace host {

// Builds the event list for one process() call. Events keep the order they are added in
// (hosts send them in ascending position); head() links the records and returns the first.
// The records live in the list: keep it alive and unchanged while process() runs.
class EventList {
public:
    EventList& value(int32_t position, int32_t pinId, float value);
    // A value event with raw bytes: inline when they fit in 8 bytes and external is false,
    // else through the data pointer (the bytes must outlive the call).
    EventList& rawValue(int32_t position, int32_t pinId, int32_t size, const void* bytes,
                        bool external = false);
    EventList& streaming(int32_t position, int32_t pinId, bool on);
    EventList& message(int32_t position, int32_t pinId);
    EventList& announceOutputs(int32_t position);
    // An event of any type: a value event carries `value` as a float, the others nothing.
    EventList& event(int32_t position, int32_t type, int32_t pinId, float value = 0);
    EventList& add(const mp::EventRecord& record);

    const mp::EventRecord* head();
    bool empty() const { return records.empty(); }
    std::size_t size() const { return records.size(); }
    void clear() { records.clear(); }
    void reserve(std::size_t count) { records.reserve(count); }

private:
    std::vector<mp::EventRecord> records;
};

}  // namespace host
