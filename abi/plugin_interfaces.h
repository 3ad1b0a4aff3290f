#pragma once

#include <cstdint>

#include "abi/event_record.h"
#include "abi/mp_unknown.h"

namespace mp {

inline constexpr MpGuid kIidMpPlugin2 = {
    0x1E07E3E8, 0x8118, 0x457F, {0xA6, 0x3C, 0xD4, 0xF2, 0x82, 0xA0, 0xF5, 0x19}};
inline constexpr MpGuid kIidMpPlugin = {
    0x2B0DFC7E, 0xA539, 0x49CD, {0xB7, 0x2D, 0x32, 0xFF, 0x9D, 0xF0, 0xD9, 0xE4}};
inline constexpr MpGuid kIidMpLegacyInitialization = {
    0x0B471002, 0x5627, 0x4D46, {0x98, 0x4E, 0xC0, 0xDC, 0x79, 0xD0, 0xAD, 0x35}};

// The original plug-in interface. Slot order is binding.
class IMpPlugin : public IMpUnknown {
public:
    virtual int32_t open() = 0;                                                      // slot 3
    virtual int32_t setBuffer(int32_t pinId, float* buffer) = 0;                     // slot 4
    virtual void process(int32_t count, const EventRecord* events) = 0;              // slot 5
    virtual int32_t auxiliaryCall(int32_t index, int32_t value, void* pointer) = 0;  // slot 6

protected:
    ~IMpPlugin() = default;
};

// The current plug-in interface, the one the factory hands out. Slot order is binding.
class IMpPlugin2 : public IMpUnknown {
public:
    virtual int32_t setHost(IMpUnknown* host) = 0;                                   // slot 3
    virtual int32_t open() = 0;                                                      // slot 4
    virtual int32_t setBuffer(int32_t pinId, float* buffer) = 0;                     // slot 5
    virtual void process(int32_t count, const EventRecord* events) = 0;              // slot 6
    virtual int32_t auxiliaryCall(int32_t index, int32_t value, void* pointer) = 0;  // slot 7

protected:
    ~IMpPlugin2() = default;
};

// Host attachment for hosts that create objects themselves.
class IMpLegacyInitialization : public IMpUnknown {
public:
    virtual int32_t setHost(IMpUnknown* host) = 0;  // slot 3

protected:
    ~IMpLegacyInitialization() = default;
};

}  // namespace mp

// The oldest attachment interface: one operation, no base, no identifier.
class IoldSchoolInitialisation {
public:
    virtual int32_t setHost(mp::IMpUnknown* host) = 0;  // slot 0

protected:
    ~IoldSchoolInitialisation() = default;
};
