#pragma once

#include <cstdint>
#include <cstring>

#include "framework/pin_base.h"

namespace mp {

// A control pin holds one value of type T that the host sets through pin-value events.
template <typename T, int32_t datatype>
class MpControlPinBase : public MpPinBase {
public:
    void setBuffer(float*) override {}
    int32_t getDatatype() const override { return datatype; }
    EventHandler defaultEventHandler() const override { return nullptr; }
    void announce() override { sendValue(getValueSize(), getValuePointer()); }

    void preProcessEvent(const EventRecord* event) override {
        if (event->type != kEventPinValue) return;
        const void* source = event->data != nullptr ? event->data : event->inlineData;
        receiveValue(event->size, source);
        updated = true;
    }
    void postProcessEvent(const EventRecord* event) override {
        if (event->type == kEventPinValue) updated = false;
    }

    // Copies at most sizeof(T) bytes: a larger size from the host must not write past the
    // value, and a size of zero or less copies nothing.
    virtual void receiveValue(int32_t size, const void* data) { copyValue(size, data); }
    virtual int32_t getValueSize() const { return sizeof(T); }
    virtual const void* getValuePointer() const { return &value; }

    T getValue() const { return value; }
    bool isUpdated() const { return updated; }

    int32_t sendValue(int32_t size, const void* data, int32_t position = -1) {
        IMpHost* host = plugin->getHost();
        if (host == nullptr) return kResultFail;
        const int32_t at = position == -1 ? plugin->getBlockPosition() : position;
        return host->sendPinValue(at, id, size, data);
    }

private:
    void copyValue(int32_t size, const void* data) {
        if (size <= 0) return;
        const auto bytes = size < int32_t(sizeof(T)) ? size_t(size) : sizeof(T);
        std::memcpy(&value, data, bytes);
    }

    T value{};
    bool updated = false;
};

template <typename T, int32_t direction, int32_t datatype>
class MpControlPin : public MpControlPinBase<T, datatype> {
public:
    int32_t getDirection() const override { return direction; }
};

using MpFloatInPin = MpControlPin<float, kDirectionInput, kDatatypeFloat>;

}  // namespace mp
