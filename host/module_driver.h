#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "abi/factory_interfaces.h"
#include "abi/plugin_interfaces.h"
#include "host/com_ptr.h"
#include "host/defaults.h"
#include "host/event_list.h"
#include "host/module_host.h"
#include "host/module_library.h"

namespace host {

// UTF-16 form of a module identifier given in UTF-8 (the identifiers are plain ASCII).
std::u16string toModuleId(std::string_view text);

// The events that start a module as a host does, all at position 0: for each input pin in
// id order, StreamingOn for an audio pin or its value for a control pin, then the outputs
// announced. audioInputs and controlValues may name the same pin only once between them.
EventList startEvents(const std::vector<int32_t>& audioInputs,
                      const std::map<int32_t, float>& controlValues = {});

// The factory refused to create a module; result is the code it returned (kResultOk when it
// returned that but no object).
class ModuleCreationError : public LibraryError {
public:
    ModuleCreationError(std::string_view moduleId, int32_t result);
    int32_t result;
};

// What the host answers a module's queries with, and which host that is.
struct DriverSettings {
    // Empty: the host writes nothing, as a host that does not know it.
    std::optional<int32_t> blockSize = kDefaultBlockSize;
    std::optional<float> sampleRate = kDefaultSampleRate;
    // The host side the object talks to (a subclass may watch or pause around its calls);
    // a plain ModuleHost when null. The driver takes it over.
    std::unique_ptr<ModuleHost> host = nullptr;
};

// Drives one module object through the binary interface, as every host of this project
// does: it creates the object with its own host attached, hands it buffers, opens it,
// runs its blocks and keeps the host side of the sleep protocol.
//
// Sleep and wake: when a call ends with the module having asked to sleep, asleep() is true
// until the next call. A host that honours the request calls process again only when an
// event is due (maySkip) and leaves the outputs of a skipped block to hold their static
// value; the driver does not fill buffers itself, as only the caller knows where they are.
//
// Streaming reports stay in the host in the order they came, across calls, until the caller
// takes them (host().takeStreamingReports()); a report's position is the module's own and
// may lie outside the block, which callers check or clamp.
//
// Lifetime: the object goes before its host, when the driver does. Buffers and event lists
// handed to it belong to the caller and must stay valid while the object may use them (a
// buffer until it is replaced or the driver goes; events during the process call).
// Nothing here is thread-safe: one thread drives one module.
class ModuleDriver {
public:
    // Creates the module by identifier (see toModuleId). Throws ModuleCreationError when the
    // factory fails; an object it handed out with the failure is left unreleased, as nothing
    // it returned then can be trusted.
    ModuleDriver(mp::IMpFactory2& factory, std::string_view moduleId, DriverSettings settings = {});
    ~ModuleDriver();
    ModuleDriver(const ModuleDriver&) = delete;
    ModuleDriver& operator=(const ModuleDriver&) = delete;

    mp::IMpPlugin2& plugin() const { return *object.get(); }
    ModuleHost& host() const { return *moduleHost; }

    // The object's own results, passed on. A buffer may be null or shared between pins.
    int32_t setBuffer(int32_t pinId, float* buffer) { return object->setBuffer(pinId, buffer); }
    int32_t open() { return object->open(); }

    // One process call of count samples (the list is linked here; null for none). Afterwards
    // asleep() tells whether the module asked to sleep during this call; the host's own
    // record of requests (takeSleepRequest) is left to the caller.
    void process(int32_t count, EventList& events) { process(count, events.head()); }
    void process(int32_t count) { process(count, nullptr); }
    void process(int32_t count, const mp::EventRecord* events) {
        const int32_t requestsBefore = moduleHost->sleepRequestCount();
        object->process(count, events);
        sleeping = moduleHost->sleepRequestCount() != requestsBefore;
    }

    // Whether the module asked to sleep during the last call.
    bool asleep() const { return sleeping; }
    // Whether a host that honours sleep may skip the next block: the module sleeps and no
    // event is due for it.
    bool maySkip(bool eventsDue) const { return sleeping && !eventsDue; }

private:
    // Declared first so that it outlives the object, which releases it on destruction.
    std::unique_ptr<ModuleHost> moduleHost;
    ComPtr<mp::IMpPlugin2> object;
    bool sleeping = false;
};

}  // namespace host
