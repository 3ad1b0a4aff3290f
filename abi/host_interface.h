#pragma once

// The host interface: what a module object calls back.
//
// The host implements IMpHost; the module object calls it. The host hands the object its
// own IMpUnknown through IMpPlugin2::setHost (or createInstanceWithHost), and the object asks
// it, in this order, for
//   1. kIidMpHostSecondary: whatever comes back is kept but never called and never
//      released, so a host that answers it sees that reference never given back; the
//      object ignores a refusal;
//   2. kIidMpHost: kept and used for every later call; the reference that queryInterface
//      added is released once, when the object is destroyed or given another host.
//      setHost returns the host's result; after a refusal the object is without a host.
// The host object must therefore outlive every module object attached to it (or the next
// setHost on each).
//
// When the calls come. Only on the thread that is calling into the object, from inside the
// object's own operations: queryInterface from setHost, release from the object's last
// release or a later setHost, and the operations below from inside process
// (abi/plugin_interfaces.h), where they run on the host's audio path. Keep them short, and
// do not call back into the object that is calling: it is in the middle of a block.
//
// Results. The library acts on none of the results of slots 3 to 8 (it only passes those of
// slots 3 and 4 back to module code); return kResultOk. Throw nothing out of any of them.
//
// blockPosition arguments are sample offsets within the block that process is working on,
// 0 <= blockPosition < count (0 in a call with a count of 0).

#include <cstdint>

#include "abi/mp_unknown.h"

namespace mp {

// The interface through which a module object calls its host.
inline constexpr MpGuid kIidMpHost = {
    0x4F1B532F, 0x3C46, 0x4927, {0xA4, 0x98, 0x61, 0x48, 0x67, 0x42, 0x5B, 0xE7}};
// A second interface that objects ask the host for and keep, but never call.
inline constexpr MpGuid kIidMpHostSecondary = {
    0x87CCD426, 0x71D7, 0x414E, {0xA9, 0xA6, 0x5A, 0xDC, 0xA8, 0x1C, 0x74, 0x20}};

// Slot order is binding; the library never calls slots 0, 1 and 6 through it.
class IMpHost : public IMpUnknown {
public:
    // A control output pin sends its value: size bytes at data, valid only during the call
    // and owned by the pin (copy them). This library's modules have no control outputs, so
    // they never make this call; a host must still fill the slot.
    virtual int32_t sendPinValue(int32_t blockPosition, int32_t pinId, int32_t size,
                                 const void* data) = 0;  // slot 3
    // An audio output pin reports its state from blockPosition on: streaming 1, its samples
    // change from sample to sample; streaming 0, static, every sample from blockPosition on
    // equals the one at blockPosition until the next report for the pin. A report comes each
    // time the module sets the state, also when it stays the same, so reports may repeat.
    // They come in the order the module makes them; sort by position if order matters.
    virtual int32_t reportPinStreaming(int32_t blockPosition, int32_t pinId,
                                       int32_t streaming) = 0;  // slot 4
    // The object's signals are all static and it has run long enough for its outputs to
    // settle: it asks not to be called until something changes. It has left the rest of the
    // current block unwritten (from the sample where it asked), and its outputs are static,
    // each holding the value it had where it was last reported static: fill the unwritten
    // samples, and the outputs of every block it is not called for, with those values.
    // Call process again when an event is due for it (a value, a change on an input); it
    // carries on with its state intact. A host that ignores the request may go on calling
    // process: the object then asks again in every block and writes nothing from the point
    // where it asks. Comes at most once per process call, from its last stretch.
    virtual int32_t requestSleep() = 0;  // slot 5
    // Never called by the library; return 0.
    virtual int32_t reserved() = 0;  // slot 6
    // Write the block size, the number of samples that process calls cover (the largest
    // count the host passes), through blockSize. The pointer addresses the object's own
    // count of samples still to run before it may ask to sleep: write one value, during the
    // call only, or nothing, which leaves the count as it was. 0 or less lets the object ask
    // at once. Called from inside process each time an output pin is set or left static,
    // just before the report.
    virtual int32_t queryBlockSize(int32_t* blockSize) = 0;  // slot 7
    // Write the sample rate in samples per second through sampleRate. The object sets
    // *sampleRate to 0 before the call and uses 0 when nothing is written: a host that does
    // not know its rate gets degenerate time settings, not an error. Called from inside
    // process: when a time control changes, and by some modules once per sample, so answer
    // cheaply and keep the rate the same for a whole run (a module asking per sample would
    // otherwise see it change within a block).
    virtual int32_t querySampleRate(float* sampleRate) = 0;  // slot 8

protected:
    ~IMpHost() = default;
};

}  // namespace mp
