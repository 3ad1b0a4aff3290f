// Checks on the library file and its factory: loading, exports and the factory contract.

#include <dlfcn.h>

#include <algorithm>

#include "host/library_exports.h"
#include "host/module_driver.h"
#include "validate/check.h"
#include "validate/interface_identifiers.h"

namespace ovm::validate {

namespace {

// A pointer value no call hands out: out-parameters start with it, so a call that leaves
// them untouched is seen.
void* const kUntouched = reinterpret_cast<void*>(uintptr_t{0x5A5A5A5A5A5A5A5A});

void checkLoads(CheckContext& context) {
    // Immediate binding: a symbol the library needs but nothing provides fails here and not
    // in the middle of a session.
    void* handle = dlopen(context.libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        context.problem(std::string("does not load with immediate binding: ") + (reason ? reason : "?"));
        return;
    }
    if (dlsym(handle, mp::kGetFactorySymbol) == nullptr) context.problem("does not export MP_GetFactory");
    dlclose(handle);
}

void checkExports(CheckContext& context) {
    std::vector<std::string> names;
    try {
        names = host::exportedSymbols(context.libraryPath);
    } catch (const std::exception& error) {
        context.problem(error.what());
        return;
    }
    for (const std::string& name : names)
        if (name != mp::kGetFactorySymbol) context.problem("exports '" + name + "' besides MP_GetFactory");
    if (std::find(names.begin(), names.end(), mp::kGetFactorySymbol) == names.end())
        context.problem("MP_GetFactory is not in the dynamic symbol table");
}

void checkSameObject(CheckContext& context) {
    void* handle = dlopen(context.libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;  // library.load says why
    auto getFactory = reinterpret_cast<mp::GetFactoryFunction>(dlsym(handle, mp::kGetFactorySymbol));
    void* first = kUntouched;
    void* second = kUntouched;
    if (getFactory != nullptr) {
        const int32_t a = getFactory(&first);
        const int32_t b = getFactory(&second);
        if (a != mp::kResultOk || b != mp::kResultOk)
            context.problem("MP_GetFactory returned " + std::to_string(a) + " and " + std::to_string(b));
        else if (first != second || first == nullptr)
            context.problem("MP_GetFactory handed out different objects (or null) on two calls");
    }
    dlclose(handle);
}

// The factory answers its three identifiers with itself and no plug-in or host identifier.
void checkIdentifiers(CheckContext& context) {
    namespace ids = identifiers;
    mp::IMpFactory2& factory = *context.factory;
    for (const ids::Named& own : {ids::factory1, ids::factory2, ids::unknown}) {
        void* view = kUntouched;
        const int32_t result = factory.queryInterface(&own.iid, &view);
        if (result != mp::kResultOk || view != &factory)
            context.problem(std::string("queryInterface with ") + own.name + " returned " +
                            std::to_string(result) + (result == mp::kResultOk ? " and not the factory" : ""));
        if (result == mp::kResultOk && view != nullptr && view != kUntouched)
            static_cast<mp::IMpUnknown*>(view)->release();
    }
    for (const ids::Named& foreign :
         {ids::plugin, ids::plugin2, ids::legacyInitialization, ids::hostSecondary, ids::host}) {
        void* view = kUntouched;
        const int32_t result = factory.queryInterface(&foreign.iid, &view);
        if (result != mp::kResultNoInterface || view != nullptr)
            context.problem(std::string("queryInterface with ") + foreign.name + ": result " +
                            std::to_string(result) + (view == nullptr ? "" : ", out-parameter not null"));
    }
}

// Texts that must not create anything: prefixes, trailing characters, case, empty.
std::vector<std::u16string> nearMisses(const std::u16string& id) {
    std::vector<std::u16string> misses = {u"", id + u" ", id + u"x"};
    if (!id.empty()) misses.push_back(id.substr(0, id.size() - 1));
    std::u16string flipped = id;
    for (char16_t& c : flipped)
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
            c ^= 0x20;
            break;
        }
    if (flipped != id) misses.push_back(flipped);
    return misses;
}

void expectRefused(CheckContext& context, const std::u16string& id, int32_t type, const std::string& what) {
    void* object = kUntouched;
    int32_t result = context.factory->createInstance(id.c_str(), type, &object);
    if (result != mp::kResultNoInterface || object != nullptr)
        context.problem("createInstance with " + what + ": result " + std::to_string(result) +
                        (object == nullptr ? "" : ", out-parameter not null"));
    host::ModuleHost host;
    object = kUntouched;
    result = context.factory->createInstanceWithHost(id.c_str(), type, &host, &object);
    if (result != mp::kResultNoInterface || object != nullptr || host.heldReferences() != 0)
        context.problem("createInstanceWithHost with " + what + ": result " + std::to_string(result) +
                        (object == nullptr ? "" : ", out-parameter not null"));
}

void checkUnknownIds(CheckContext& context) {
    expectRefused(context, u"no such module", 0, "an unknown identifier");
    for (const ModuleDescription& module : context.description->modules) {
        const std::u16string id = host::toModuleId(module.id);
        for (const std::u16string& miss : nearMisses(id))
            expectRefused(context, miss, 0, "a near miss of '" + module.id + "'");
        expectRefused(context, id, 1, "'" + module.id + "' and type 1");
        expectRefused(context, id, -1, "'" + module.id + "' and type -1");
    }
}

void checkCreates(CheckContext& context) {
    for (const ModuleDescription& module : context.description->modules) {
        void* first = kUntouched;
        void* second = kUntouched;
        const std::u16string id = host::toModuleId(module.id);
        const int32_t a = context.factory->createInstance(id.c_str(), 0, &first);
        const int32_t b = context.factory->createInstance(id.c_str(), 0, &second);
        if (a != mp::kResultOk || b != mp::kResultOk || first == nullptr || first == kUntouched)
            context.problem("described module '" + module.id + "' is not created: result " +
                            std::to_string(a));
        else if (first == second)
            context.problem("two creations of '" + module.id + "' gave the same object");
        for (void* object : {first, second})
            if (object != nullptr && object != kUntouched) static_cast<mp::IMpUnknown*>(object)->release();
    }
}

// getSdkInfo writes within the capacity it is given, whatever it is.
void checkSdkInfo(CheckContext& context) {
    constexpr char16_t kCanary = 0xCA7E;
    for (int32_t capacity : {-1, 0, 1, 2, 5, 27, 28, 64}) {
        std::vector<char16_t> buffer(128, kCanary);
        int32_t version = -12345;
        const int32_t result = context.factory->getSdkInfo(&version, capacity, buffer.data());
        const auto first = std::size_t(std::max(capacity, 0));
        const auto written =
            std::find_if(buffer.begin() + long(first), buffer.end(), [](char16_t c) { return c != kCanary; });
        if (written != buffer.end())
            context.problem("getSdkInfo with capacity " + std::to_string(capacity) + " wrote code unit " +
                            std::to_string(written - buffer.begin()));
        if (result != mp::kResultOk) context.problem("getSdkInfo returned " + std::to_string(result));
        if (capacity == 64 && std::find(buffer.begin(), buffer.begin() + 64, u'\0') == buffer.begin() + 64)
            context.problem("getSdkInfo with room to spare wrote no terminator");
    }
}

}  // namespace

void addLibraryChecks(std::vector<Check>& checks) {
    checks.push_back({.name = "library.load", .perModule = false, .run = checkLoads});
    checks.push_back({.name = "library.exports", .perModule = false, .run = checkExports});
    checks.push_back({.name = "factory.same-object", .perModule = false, .run = checkSameObject});
    checks.push_back({.name = "factory.identifiers", .perModule = false, .run = checkIdentifiers});
    checks.push_back({.name = "factory.unknown-ids", .perModule = false, .run = checkUnknownIds});
    checks.push_back({.name = "factory.creates", .perModule = false, .run = checkCreates});
    checks.push_back({.name = "factory.sdk-info", .perModule = false, .run = checkSdkInfo});
}

}  // namespace ovm::validate
