#pragma once

#include <cstdint>

#include "abi/guid.h"

namespace mp {

// Result codes shared by every interface of the binary interface.
inline constexpr int32_t kResultOk = 0;
inline constexpr int32_t kResultFail = -1;         // a creator threw, or no pin has the id
inline constexpr int32_t kResultNoInterface = -2;  // no such interface, or no such module

inline constexpr MpGuid kIidMpUnknown = {
    0x00000000, 0x0000, 0xC000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Root of every interface except IoldSchoolInitialisation. Slot order is binding.
// There is no virtual destructor: objects are destroyed by their last release().
class IMpUnknown {
public:
    virtual int32_t queryInterface(const MpGuid* iid, void** object) = 0;  // slot 0
    virtual int32_t addRef() = 0;                                          // slot 1
    virtual int32_t release() = 0;                                         // slot 2

protected:
    ~IMpUnknown() = default;
};

}  // namespace mp
