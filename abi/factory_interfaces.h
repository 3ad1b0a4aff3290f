#pragma once

#include <cstdint>

#include "abi/mp_unknown.h"

namespace mp {

inline constexpr MpGuid kIidMpFactory = {
    0x91C3D2EE, 0xC701, 0x4F35, {0x91, 0xA6, 0x09, 0x4D, 0xC7, 0xE0, 0x59, 0x76}};
inline constexpr MpGuid kIidMpFactory2 = {
    0x9A7904B7, 0x7F7F, 0x4D61, {0xB5, 0x58, 0xC1, 0xA6, 0x69, 0x5B, 0xB6, 0x38}};

// Module identifiers are zero-terminated UTF-16 texts.
using ModuleId = const char16_t*;

// Slot order is binding.
class IMpFactory : public IMpUnknown {
public:
    virtual int32_t createInstanceWithHost(ModuleId moduleId, int32_t moduleType, IMpUnknown* host,
                                           void** object) = 0;  // slot 3
    virtual int32_t getSdkInfo(int32_t* sdkVersion, int32_t bufferLength,
                               char16_t* buffer) = 0;  // slot 4

protected:
    ~IMpFactory() = default;
};

class IMpFactory2 : public IMpFactory {
public:
    virtual int32_t createInstance(ModuleId moduleId, int32_t moduleType, void** object) = 0;  // slot 5

protected:
    ~IMpFactory2() = default;
};

// The one function the library exports.
using GetFactoryFunction = int32_t (*)(void** factory);
inline constexpr const char* kGetFactorySymbol = "MP_GetFactory";

}  // namespace mp
