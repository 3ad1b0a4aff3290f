#pragma once

// The module object: what a host drives.
//
// The library implements these interfaces, one module object per instance of a module; the
// host calls them. A module object has numbered pins (ids 0, 1, 2, ... in the order the
// module declares them; the library's Dynamics.toml lists each module's): audio inputs and
// outputs, which exchange a buffer of 32-bit float samples per block, and control inputs,
// which take values through events (abi/event_record.h).
//
// One object, four views. The factory hands out IMpPlugin2. queryInterface answers:
//   kIidMpPlugin2               the IMpPlugin2 view
//   kIidMpPlugin, kIidMpUnknown the IMpPlugin view (the older interface)
//   kIidMpLegacyInitialization  the IMpLegacyInitialization view (setHost for IMpPlugin hosts)
// and nothing else; IoldSchoolInitialisation has no identifier. The views are different
// addresses of one object: an operation that several views have does the same thing
// through each, and every view shares the one reference count.
//
// Life of an object, and when each operation may be called:
//   1. Created by the factory with one reference (abi/factory_interfaces.h).
//   2. setHost, unless createInstanceWithHost attached the host already. Before the first
//      process; it may be repeated between blocks.
//   3. setBuffer for every audio pin. Any time outside process; buffers stay in use until
//      replaced.
//   4. open, once, before the first process.
//   5. process, once per block, with the start events in the first (abi/event_record.h).
//   6. release of the last reference destroys the object (and releases its host).
// queryInterface, addRef, release and auxiliaryCall may come at any time outside process.
//
// Threads. One call at a time, from one thread at a time; the object locks nothing and is
// not re-entrant: the host callbacks it makes from inside process must not call it back.
//
// Real time. process allocates nothing, locks nothing and makes no system call, with one
// exception: a value event that changes how much state a module keeps (a hold or smoothing
// time) makes it allocate its new state during that call. If that allocation fails the
// module keeps its previous state (a module that had none yet outputs silence) and goes on.

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

// The original plug-in interface. Slot order is binding. It has no setHost: a host that
// drives an object through it attaches through IMpLegacyInitialization. Its operations are
// those of IMpPlugin2 below, one slot earlier, and do exactly the same.
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
    // Attaches the host. host is the host's object, borrowed for the call; the object asks
    // it for kIidMpHostSecondary and then kIidMpHost and keeps both pointers until it is
    // destroyed or attached again (abi/host_interface.h says which reference is given back
    // and when).
    // Returns the host's queryInterface result for kIidMpHost: kResultOk when attached, else
    // whatever the host returned, and the object is then without a host. A null host gives
    // kResultNoInterface and changes nothing.
    // Call before the first process: an object without a host processes, but cannot report
    // its outputs' streaming states or ask to sleep, and reads a sample rate of 0. A later
    // call, between blocks, replaces the host and releases the previous one.
    virtual int32_t setHost(IMpUnknown* host) = 0;  // slot 3
    // Prepares the object for processing. The modules of this library prepare everything
    // when they are created and when values arrive, so it does nothing and always returns
    // kResultOk, and they also process correctly without it; still call it once, after
    // setHost and before the first process.
    virtual int32_t open() = 0;  // slot 4
    // Gives the pin pinId its sample buffer. For an audio pin the object keeps the pointer,
    // neither copying nor freeing the memory, and uses it in every process call until
    // another buffer is given: it must hold at least count floats for each of those calls
    // (samples 0 to count - 1 of the block; an input's are read, an output's written). A
    // control pin has no buffer and ignores the call.
    // Null takes the buffer back: until every audio pin has a buffer again, process takes
    // its events but runs no module code and writes no output.
    // In place: an output's buffer may be the same memory as an input's (every module reads
    // an input sample before it writes the output sample at the same index), and two inputs
    // may share one buffer. The object writes no input, except through such sharing.
    // Returns kResultOk, or kResultFail when no pin has the id (nothing changes then).
    // Any time outside process, also before setHost and open; hosts may move every buffer
    // before every block.
    virtual int32_t setBuffer(int32_t pinId, float* buffer) = 0;  // slot 5
    // Processes one block of count samples: runs the module over the samples between event
    // positions and delivers the events (abi/event_record.h) at theirs. A count below 0 is
    // taken as 0. events is the head of the block's list, or null for none; it is read
    // during the call only.
    // What the host may rely on afterwards: samples 0 to count - 1 of every output buffer are
    // written, except
    //   - from the point where the object asks to sleep (IMpHost::requestSleep) to the end of
    //     the block: the outputs are then static and the host fills in their values;
    //   - everything, while some audio pin has no buffer (setBuffer);
    //   - a block in which module code threw: its outputs carry 0.0 from the start of the
    //     stretch that threw to the end of the block.
    // Input buffers are left as they were (unless shared with an output). During the call
    // the object reports to its host (abi/host_interface.h); there is no result. Call after
    // setBuffer for every audio pin, with a count no buffer is shorter than, and after
    // setHost and open.
    virtual void process(int32_t count, const EventRecord* events) = 0;  // slot 6
    // A call with no meaning in this library: it passes index, value and pointer unchanged
    // to a module that defines its own (none here does) and never dereferences pointer.
    // Returns 0 for every module here, through either interface; a module's own answer
    // otherwise, or kResultFail if that threw. Any time outside process.
    virtual int32_t auxiliaryCall(int32_t index, int32_t value, void* pointer) = 0;  // slot 7

protected:
    ~IMpPlugin2() = default;
};

// Host attachment through a view of its own, for hosts that drive an object through
// IMpPlugin, which has no setHost. Ask the object for kIidMpLegacyInitialization;
// createInstanceWithHost attaches through this view too.
class IMpLegacyInitialization : public IMpUnknown {
public:
    // Exactly IMpPlugin2::setHost: the same results, the same pointers kept.
    virtual int32_t setHost(IMpUnknown* host) = 0;  // slot 3

protected:
    ~IMpLegacyInitialization() = default;
};

}  // namespace mp

// The oldest attachment interface: one operation, no base, no identifier. queryInterface
// never hands it out and it counts no references, so only code that knows the object's
// C++ type (and converts the pointer itself) reaches it.
class IoldSchoolInitialisation {
public:
    // Exactly IMpPlugin2::setHost: the same results, the same pointers kept.
    virtual int32_t setHost(mp::IMpUnknown* host) = 0;  // slot 0

protected:
    ~IoldSchoolInitialisation() = default;
};
