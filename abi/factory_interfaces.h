#pragma once

// The library's entry point and its factory.
//
// A module library exports one plain C function, MP_GetFactory, which hands the host the
// library's factory. The factory creates module objects by module identifier and module
// type and reports the framework version and a build text. The library implements all of
// it; the host calls it.
//
// Lifetime. There is one factory per loaded library. It exists before the host can call
// anything (the modules register with it while the library loads) and is destroyed only
// when the library is unloaded; MP_GetFactory returns the same object every time, and its
// addRef and release count nothing, so a host may keep the pointer, and release it or not,
// as it likes. Objects created by the factory live by their own reference counts; the
// factory keeps no record of them. Release every module object before unloading the
// library: their code lives in it.
//
// Threads. The factory changes nothing after loading: its operations only read the table
// of registered modules. Like every object here it takes no locks; call it from one thread
// at a time.
//
// Typical use:
//     void* unknown = nullptr;
//     MP_GetFactory(&unknown);                                  // the factory as IMpUnknown
//     void* factory = nullptr;
//     static_cast<IMpUnknown*>(unknown)->queryInterface(&kIidMpFactory2, &factory);
//     void* object = nullptr;
//     static_cast<IMpFactory2*>(factory)->createInstanceWithHost(u"Orin Peak", 0, host, &object);
//     // object is an IMpPlugin2* holding one reference (abi/plugin_interfaces.h)

#include <cstdint>

#include "abi/mp_unknown.h"

namespace mp {

// The factory answers both identifiers, and kIidMpUnknown, with the same pointer, which
// serves as IMpFactory and as IMpFactory2 alike (one table: IMpFactory2 only adds slot 5).
inline constexpr MpGuid kIidMpFactory = {
    0x91C3D2EE, 0xC701, 0x4F35, {0x91, 0xA6, 0x09, 0x4D, 0xC7, 0xE0, 0x59, 0x76}};
inline constexpr MpGuid kIidMpFactory2 = {
    0x9A7904B7, 0x7F7F, 0x4D61, {0xB5, 0x58, 0xC1, 0xA6, 0x69, 0x5B, 0xB6, 0x38}};

// Module identifiers are zero-terminated UTF-16 texts, matched code unit by code unit: case,
// blanks and length all count ("Orin Peak" is not "Orin peak", "Orin Peak " or "Orin Pea").
// The factory reads the text during the call only and keeps no pointer to it. The library's
// Dynamics.toml lists its identifiers and each module's pins. A code unit is 16 bits on
// every system: char16_t here, wchar_t on Windows, uint16_t in C.
using ModuleId = const char16_t*;
static_assert(sizeof(char16_t) == 2, "identifiers are texts of 16-bit code units");
#ifdef _WIN32
static_assert(sizeof(wchar_t) == sizeof(char16_t), "a Windows host may pass its wide texts as identifiers");
#endif

// Slot order is binding.
class IMpFactory : public IMpUnknown {
public:
    // Creates a new module object and attaches host to it, as IMpPlugin2::setHost does.
    // - moduleId: the module's identifier (see ModuleId); null gives kResultNoInterface.
    // - moduleType: 0 for every module of this library; any other type finds nothing.
    // - host: the host's object, borrowed for the call. The new object asks it for its host
    //   interfaces and keeps what it gets (abi/host_interface.h says for how long). Null
    //   creates the object without a host, still with kResultOk.
    // - object: out-parameter. Set to null first; on success it receives the new object's
    //   IMpPlugin2 view (as void*) with the one reference the caller now owns. On failure it
    //   stays null. Null gives kResultFail, and nothing is created.
    // Returns kResultOk when the object was created, even if attaching failed (the host
    //   refused kIidMpHost): a host that must know attaches with setHost itself instead;
    // kResultNoInterface when no module is registered under (moduleType, moduleId);
    // kResultFail when object is null or the module could not be built (memory ran out).
    // No exception leaves the factory. Callable at any time while the library is loaded;
    // each call creates an object independent of every other.
    virtual int32_t createInstanceWithHost(ModuleId moduleId, int32_t moduleType, IMpUnknown* host,
                                           void** object) = 0;  // slot 3
    // Reports the framework version and the build text.
    // - sdkVersion: receives the version (30800), unless null.
    // - bufferLength: the capacity of buffer in UTF-16 code units, terminator included.
    // - buffer: receives the build text, zero-terminated. Nothing is written past
    //   bufferLength units: a shorter buffer gets as much of the text as fits, still
    //   terminated. With a null buffer or a bufferLength of 0 or less the buffer is left
    //   untouched. This library's text is 27 code units, so 28 hold it whole.
    // Both are constants of the library, not facts about one build: the version names the
    // generation of this interface that the library follows, and hosts show or compare the
    // text, so it stays the same whichever compiler built the file. Always returns kResultOk.
    virtual int32_t getSdkInfo(int32_t* sdkVersion, int32_t bufferLength,
                               char16_t* buffer) = 0;  // slot 4

protected:
    ~IMpFactory() = default;
};

class IMpFactory2 : public IMpFactory {
public:
    // Creates a new module object without a host; otherwise exactly as
    // createInstanceWithHost, with the same results. Attach a host with IMpPlugin2::setHost
    // before the first process: an object without one still processes, but cannot report
    // its outputs' streaming states or ask to sleep, and reads a sample rate of 0.
    virtual int32_t createInstance(ModuleId moduleId, int32_t moduleType, void** object) = 0;  // slot 5

protected:
    ~IMpFactory2() = default;
};

// The one function the library exports, under the undecorated name kGetFactorySymbol, with
// C linkage: int32_t MP_GetFactory(void** factory). It stores the factory's IMpUnknown view
// through factory and returns kResultOk; with a null factory it returns kResultNoInterface
// and writes nothing. Ask the result for kIidMpFactory2 (or kIidMpFactory) with
// queryInterface. The pointer stays valid until the library is unloaded.
using GetFactoryFunction = int32_t (*)(void** factory);
inline constexpr const char* kGetFactorySymbol = "MP_GetFactory";

}  // namespace mp
