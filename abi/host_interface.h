#pragma once

#include <cstdint>

#include "abi/mp_unknown.h"

namespace mp {

// The interface through which a module object calls its host.
inline constexpr MpGuid kIidMpHost = {
    0x4F1B532F, 0x3C46, 0x4927, {0xA4, 0x98, 0x61, 0x48, 0x67, 0x42, 0x5B, 0xE7}};
// A second interface that objects ask the host for and keep, but never call.
inline constexpr MpGuid kIidMpHostSecondary = {
    0x87CCD426, 0x71D7, 0x414E, {0xA9, 0xA6, 0x5A, 0xDC, 0xA8, 0x1C, 0x74, 0x20}};

// Slot order is binding; the library never calls slots 0, 1 and 6.
class IMpHost : public IMpUnknown {
public:
    virtual int32_t sendPinValue(int32_t blockPosition, int32_t pinId, int32_t size,
                                 const void* data) = 0;  // slot 3
    virtual int32_t reportPinStreaming(int32_t blockPosition, int32_t pinId,
                                       int32_t streaming) = 0;  // slot 4
    virtual int32_t requestSleep() = 0;                         // slot 5
    virtual int32_t reserved() = 0;                             // slot 6
    virtual int32_t queryBlockSize(int32_t* blockSize) = 0;     // slot 7
    virtual int32_t querySampleRate(float* sampleRate) = 0;     // slot 8

protected:
    ~IMpHost() = default;
};

}  // namespace mp
