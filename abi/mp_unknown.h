#pragma once

// The root interface and the result codes.
//
// Every object that crosses between a host and a module library (the factory, module
// objects, the host's own object) is reached through IMpUnknown or an interface derived
// from it: a table of virtual operations in a fixed slot order, so that a host built with
// another compiler, or written in C, calls the same slots. An object may have several views
// (interfaces); queryInterface turns one view into another, and every view shares the
// object's one reference count.
//
// Reference counting. Whoever receives an interface pointer from a creating call, from
// queryInterface or from MP_GetFactory owns one reference and gives it back with exactly
// one release. addRef takes one more. An object is destroyed by the release that drops its
// count to zero; after that no view of it may be used. There is no virtual destructor in
// any interface: never delete an object through an interface pointer. The factory is the
// exception: it lives as long as the library, and its addRef and release count nothing.
//
// Threads. Reference counts are plain integers, not atomic, and no object locks anything.
// All calls on one object must come one at a time, from one thread at a time (in practice
// the host's processing thread). Module objects share no mutable state with each other, so
// two of them may be driven from two threads, as long as the host's side of each can take it.
//
// Exceptions never cross this interface, in either direction: the library catches whatever
// its own code throws and returns a result code, and a host must not throw out of the
// operations it implements (abi/host_interface.h).

#include <cstdint>

#include "abi/guid.h"

namespace mp {

// Result codes shared by every interface of the binary interface. Operations document
// which ones they return and when. Test for kResultOk rather than for one particular
// failure: setHost hands back the host's own queryInterface result unchanged, which may be
// any code the host chose.
inline constexpr int32_t kResultOk = 0;
// A module could not be created (its construction threw, for instance because memory ran
// out), createInstance had no out-parameter, no pin has the id given to setBuffer, or a
// module's own auxiliaryCall threw.
inline constexpr int32_t kResultFail = -1;
// The object does not answer the interface identifier, no module is registered under the
// identifier and type, or a required pointer argument was null.
inline constexpr int32_t kResultNoInterface = -2;

// {00000000-0000-C000-0000-000000000046}: answered by every object. Asked of a module
// object it gives the IMpPlugin view, always the same pointer for the same object, so it is
// the pointer to compare when two views may belong to one object.
inline constexpr MpGuid kIidMpUnknown = {
    0x00000000, 0x0000, 0xC000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Root of every interface except IoldSchoolInitialisation. Slot order is binding.
// There is no virtual destructor: objects are destroyed by their last release(). That keeps
// every interface's table to the listed slots, the layout (COM's on Windows) that any C++
// compiler gives a class of pure virtual functions and a C host can declare as a struct of
// function pointers; a virtual destructor would add one slot under Microsoft's compiler and
// two under the Itanium ABI (g++, clang, mingw-w64), and move every slot after it.
class IMpUnknown {
public:
    // Asks the object for the view named by iid.
    // - iid: borrowed for the call. The library's objects return kResultNoInterface for a null
    //   iid (after nulling *object).
    // - object: out-parameter. Set to null first; on success it receives the view, with one
    //   reference added that now belongs to the caller (release it through that pointer or
    //   any other view of the object). On failure it stays null. The library's objects
    //   return kResultNoInterface for a null object and write nothing.
    // Returns kResultOk, or kResultNoInterface when the object does not answer iid.
    // The library's objects give the same pointer each time for the same identifier, but
    // different identifiers may give different addresses for one object (module objects have
    // four views).
    // A host implementing this for its own object (the library calls it from setHost) must
    // likewise leave *object null when it refuses: the library keeps whatever it finds there.
    // May be called at any time while the caller holds a reference.
    virtual int32_t queryInterface(const MpGuid* iid, void** object) = 0;  // slot 0
    // Takes one more reference. Returns the new count, which is for diagnostics only: the
    // factory always answers 1.
    virtual int32_t addRef() = 0;  // slot 1
    // Gives one reference back. Returns the new count; at 0 the object has destroyed itself
    // and every pointer to any of its views is dangling. The factory always answers 1 and is
    // never destroyed by release. Destroying a module object releases the host interface it
    // holds (abi/host_interface.h). Do not drop the last reference from inside another call
    // on the same object (from a host callback, for instance).
    virtual int32_t release() = 0;  // slot 2

protected:
    ~IMpUnknown() = default;
};

}  // namespace mp
