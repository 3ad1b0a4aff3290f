// Checks on one module object: its views, reference counts, host attachment and the calls
// a careless host makes that must not crash it.

#include <malloc.h>

#include <climits>
#include <map>

#include "host/defaults.h"
#include "host/event_list.h"
#include "host/module_driver.h"
#include "validate/check.h"
#include "validate/interface_identifiers.h"

namespace ovm::validate {

namespace {

void* const kUntouched = reinterpret_cast<void*>(uintptr_t{0x5A5A5A5A5A5A5A5A});

// A module object created without a host; released when it goes unless taken.
struct Created {
    mp::IMpPlugin2* object = nullptr;
    explicit Created(CheckContext& context, host::ModuleHost* withHost = nullptr) {
        const std::u16string id = host::toModuleId(context.module->id);
        void* made = nullptr;
        const int32_t result = withHost != nullptr
                                   ? context.factory->createInstanceWithHost(id.c_str(), 0, withHost, &made)
                                   : context.factory->createInstance(id.c_str(), 0, &made);
        if (result == mp::kResultOk) object = static_cast<mp::IMpPlugin2*>(made);
        if (object == nullptr) context.problem("cannot create the module: result " + std::to_string(result));
    }
    ~Created() {
        if (object != nullptr) object->release();
    }
};

// Every buffer of the module, big enough for any block the checks send.
struct Buffers {
    std::vector<std::vector<float>> storage;
    Buffers(const ModuleDescription& module, mp::IMpPlugin2& object) {
        storage.resize(module.pins.size(), std::vector<float>(256, 0.5f));
        for (int32_t pin = 0; pin < int32_t(module.pins.size()); ++pin)
            if (module.pins[std::size_t(pin)].audio) object.setBuffer(pin, storage[std::size_t(pin)].data());
    }
};

host::EventList startEvents(const ModuleDescription& module) {
    std::map<int32_t, float> defaults;
    for (int32_t pin = 0; pin < int32_t(module.pins.size()); ++pin) {
        const PinDescription& p = module.pins[std::size_t(pin)];
        if (!p.output && !p.audio) defaults[pin] = float(p.defaultValue);
    }
    return host::startEvents(module.audioInputs(), defaults);
}

// Opens the object and runs its first block as a host starts it.
void start(const ModuleDescription& module, mp::IMpPlugin2& object, int32_t count) {
    object.open();
    host::EventList events = startEvents(module);
    object.process(count, events.head());
}

// Remembers the identifiers an object asks its host for.
struct AskedHost : host::ModuleHost {
    std::vector<mp::MpGuid> asked;
    int32_t queryInterface(const mp::MpGuid* iid, void** object) override {
        asked.push_back(*iid);
        return host::ModuleHost::queryInterface(iid, object);
    }
};

const char* nameOf(const mp::MpGuid& iid) {
    for (const identifiers::Named& known : identifiers::all)
        if (known.iid == iid) return known.name;
    return "an unknown identifier";
}

// Every identifier a host knows, asked through every view that can be asked: the four
// plug-in identifiers give their views (the same whichever view asks), the factory's and the
// host's give -2 and null. The legacy view then attaches a host, which is asked for the two
// host identifiers.
void checkViews(CheckContext& context) {
    namespace ids = identifiers;
    AskedHost attached;  // outlives the object
    Created created(context);
    if (created.object == nullptr) return;
    const ids::Named answered[] = {ids::plugin2, ids::plugin, ids::unknown, ids::legacyInitialization};
    const ids::Named foreign[] = {ids::factory1, ids::factory2, ids::hostSecondary, ids::host};
    void* views[4] = {};
    for (std::size_t i = 0; i < 4; ++i) {
        void* answer = kUntouched;
        const int32_t result = created.object->queryInterface(&answered[i].iid, &answer);
        if (result == mp::kResultOk && answer != nullptr && answer != kUntouched)
            views[i] = answer;
        else
            context.problem(std::string("does not answer ") + answered[i].name + ": result " +
                            std::to_string(result));
    }
    auto [plugin2, plugin, unknown, legacy] = views;
    if (plugin2 != nullptr && plugin2 != created.object)
        context.problem("IMpPlugin2 is not the view the factory handed out");
    if (unknown != nullptr && unknown != plugin) context.problem("IMpUnknown is not the IMpPlugin view");
    if (legacy != nullptr && (legacy == plugin || legacy == plugin2))
        context.problem("IMpLegacyInitialization is not a view of its own");
    for (void* through : {plugin2, plugin, legacy}) {
        if (through == nullptr) continue;
        auto* asked = static_cast<mp::IMpUnknown*>(through);
        for (std::size_t i = 0; i < 4; ++i) {
            void* again = kUntouched;
            asked->queryInterface(&answered[i].iid, &again);
            if (again != views[i])
                context.problem(std::string(answered[i].name) +
                                " asked through another view gives another answer");
            if (again != nullptr && again != kUntouched) static_cast<mp::IMpUnknown*>(again)->release();
        }
        for (const ids::Named& other : foreign) {
            void* answer = kUntouched;
            const int32_t result = asked->queryInterface(&other.iid, &answer);
            if (result != mp::kResultNoInterface || answer != nullptr)
                context.problem(std::string(other.name) + " gives result " + std::to_string(result) +
                                (answer == nullptr ? "" : " and a non-null out-parameter"));
        }
    }
    if (legacy != nullptr) {
        static_cast<mp::IMpLegacyInitialization*>(legacy)->setHost(&attached);
        const std::vector<mp::MpGuid> expected = {ids::hostSecondary.iid, ids::host.iid};
        if (attached.asked != expected) {
            std::string message = "setHost asks the host for";
            for (const mp::MpGuid& iid : attached.asked) message += std::string(" [") + nameOf(iid) + "]";
            context.problem(message + " instead of [" + ids::hostSecondary.name + "] [" + ids::host.name +
                            "]");
        }
    }
    for (void* view : views)
        if (view != nullptr) static_cast<mp::IMpUnknown*>(view)->release();
}

void checkReferenceCounts(CheckContext& context) {
    Created created(context);
    if (created.object == nullptr) return;
    mp::IMpPlugin2& object = *created.object;
    const int32_t up1 = object.addRef(), up2 = object.addRef();
    const int32_t down1 = object.release(), down2 = object.release();
    if (up1 != 2 || up2 != 3 || down1 != 2 || down2 != 1)
        context.problem("addRef, addRef, release, release gave " + std::to_string(up1) + ", " +
                        std::to_string(up2) + ", " + std::to_string(down1) + ", " + std::to_string(down2) +
                        " instead of 2, 3, 2, 1");
    for (const identifiers::Named& answered : {identifiers::plugin2, identifiers::plugin,
                                               identifiers::unknown, identifiers::legacyInitialization}) {
        void* view = nullptr;
        object.queryInterface(&answered.iid, &view);
        if (view == nullptr) continue;
        const int32_t held = static_cast<mp::IMpUnknown*>(view)->release();
        if (held != 1)
            context.problem("queryInterface then release leaves a count of " + std::to_string(held));
    }
    const int32_t last = object.release();
    created.object = nullptr;
    if (last != 0) context.problem("the last release returned " + std::to_string(last) + " instead of 0");
}

// The object holds the host while it lives and lets go of it exactly once when it dies,
// also after a repeated setHost.
void checkHostRelease(CheckContext& context) {
    host::ModuleHost first, second;
    {
        Created created(context, &first);
        if (created.object == nullptr) return;
        Buffers buffers(*context.module, *created.object);
        start(*context.module, *created.object, host::kDefaultBlockSize);
        created.object->process(host::kDefaultBlockSize, nullptr);
        if (first.heldReferences() < 1) context.problem("the object holds no reference to its host");
    }
    if (first.heldReferences() != 0)
        context.problem("destruction leaves " + std::to_string(first.heldReferences()) +
                        " host reference(s) held");
    {
        Created created(context, &first);
        if (created.object == nullptr) return;
        created.object->setHost(&second);
    }
    if (first.heldReferences() != 0 || second.heldReferences() != 0)
        context.problem("after a repeated setHost and destruction the hosts hold " +
                        std::to_string(first.heldReferences()) + " and " +
                        std::to_string(second.heldReferences()) + " reference(s)");
}

// Creating, running and destroying objects over and over must not grow the heap.
void checkLeaks(CheckContext& context) {
    const auto cycle = [&] {
        host::ModuleHost host;
        Created created(context, &host);
        if (created.object == nullptr) return;
        Buffers buffers(*context.module, *created.object);
        start(*context.module, *created.object, 200);
    };
    cycle();
    const std::size_t before = mallinfo2().uordblks;
    if (before == 0) {
        context.note("heap statistics are not available in this build");
        return;
    }
    const int cycles = context.scaled(40);
    for (int i = 0; i < cycles; ++i) cycle();
    const std::size_t after = mallinfo2().uordblks;
    if (after > before + 64 * 1024)
        context.problem(std::to_string(cycles) + " create-run-destroy cycles left " +
                        std::to_string((after - before) / 1024) + " KiB more on the heap");
}

void checkSetBufferUnknown(CheckContext& context) {
    Created created(context);
    if (created.object == nullptr) return;
    float samples[16] = {};
    for (int32_t pin : {-1, int32_t(context.module->pins.size()), 1000, INT_MIN, INT_MAX}) {
        const int32_t result = created.object->setBuffer(pin, samples);
        if (result != mp::kResultFail)
            context.problem("setBuffer on unknown pin " + std::to_string(pin) + " returned " +
                            std::to_string(result));
    }
}

// A host that forgets open, or sets its host twice: the object carries on.
void checkCarelessHost(CheckContext& context) {
    host::ModuleHost first, second;
    Created created(context, &first);
    if (created.object == nullptr) return;
    Buffers buffers(*context.module, *created.object);
    host::EventList events = startEvents(*context.module);
    created.object->process(host::kDefaultBlockSize, events.head());  // before open
    created.object->setHost(&second);
    created.object->setHost(&second);
    created.object->open();
    created.object->process(host::kDefaultBlockSize, nullptr);
    if (first.heldReferences() != 0)
        context.problem("the host replaced by setHost keeps " + std::to_string(first.heldReferences()) +
                        " reference(s)");
}

// Value events of every odd size, and events for pins that do not exist or of no known type.
void checkOddEvents(CheckContext& context) {
    host::ModuleHost host;
    Created created(context, &host);
    if (created.object == nullptr) return;
    Buffers buffers(*context.module, *created.object);
    start(*context.module, *created.object, host::kDefaultBlockSize);
    static const unsigned char bytes[64] = {0x00, 0x00, 0x80, 0x3F};
    const int32_t pins = int32_t(context.module->pins.size());
    host::EventList events;
    for (int32_t pin = -1; pin <= pins; ++pin)
        for (int32_t size : {0, 1, 2, 3, 5, 7, 8, 16, 64, -1, -100}) {
            const bool external = size > 8 || size == 5;
            events.rawValue(3, pin, size, bytes, external);
        }
    for (int32_t pin : {-1, pins, 1000, INT_MIN})
        for (int32_t type = 99; type <= 105; ++type) events.add({7, type, pin, 4, {}, nullptr, nullptr});
    events.value(9, 0, 0.5f);
    created.object->process(host::kDefaultBlockSize, events.head());
    created.object->process(host::kDefaultBlockSize, nullptr);
}

}  // namespace

void addObjectChecks(std::vector<Check>& checks) {
    checks.push_back({.name = "object.views", .run = checkViews});
    checks.push_back({.name = "object.refcount", .run = checkReferenceCounts});
    checks.push_back({.name = "object.host-release", .run = checkHostRelease});
    checks.push_back({.name = "object.leaks", .minStrictness = 3, .run = checkLeaks});
    checks.push_back({.name = "misuse.set-buffer", .run = checkSetBufferUnknown});
    checks.push_back({.name = "misuse.careless-host", .severity = Severity::warn, .run = checkCarelessHost});
    checks.push_back({.name = "misuse.odd-events", .run = checkOddEvents});
}

}  // namespace ovm::validate
