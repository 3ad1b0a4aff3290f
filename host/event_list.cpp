#include "host/event_list.h"

#include <cstring>

namespace host {

namespace {

mp::EventRecord makeRecord(int32_t position, int32_t type, int32_t pinId) {
    mp::EventRecord record{};
    record.position = position;
    record.type = type;
    record.pinId = pinId;
    return record;
}

}  // namespace

EventList& EventList::value(int32_t position, int32_t pinId, float newValue) {
    return rawValue(position, pinId, sizeof newValue, &newValue);
}

EventList& EventList::rawValue(int32_t position, int32_t pinId, int32_t size, const void* bytes,
                               bool external) {
    mp::EventRecord record = makeRecord(position, mp::kEventPinValue, pinId);
    record.size = size;
    if (external || size > int32_t(sizeof record.inlineData))
        record.data = bytes;
    else if (size > 0)
        std::memcpy(record.inlineData, bytes, size_t(size));
    return add(record);
}

EventList& EventList::streaming(int32_t position, int32_t pinId, bool on) {
    return add(makeRecord(position, on ? mp::kEventStreamingOn : mp::kEventStreamingOff, pinId));
}

EventList& EventList::message(int32_t position, int32_t pinId) {
    return add(makeRecord(position, mp::kEventPinMessage, pinId));
}

EventList& EventList::announceOutputs(int32_t position) {
    return add(makeRecord(position, mp::kEventAnnounceOutputs, -1));
}

EventList& EventList::event(int32_t position, int32_t type, int32_t pinId, float newValue) {
    if (type == mp::kEventPinValue) return value(position, pinId, newValue);
    return add(makeRecord(position, type, pinId));
}

EventList& EventList::add(const mp::EventRecord& record) {
    records.push_back(record);
    return *this;
}

const mp::EventRecord* EventList::head() {
    if (records.empty()) return nullptr;
    for (std::size_t i = 0; i + 1 < records.size(); ++i) records[i].next = &records[i + 1];
    records.back().next = nullptr;
    return records.data();
}

}  // namespace host
