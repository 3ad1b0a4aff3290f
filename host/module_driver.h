#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "abi/factory_interfaces.h"
#include "abi/plugin_interfaces.h"
#include "host/com_ptr.h"
#include "host/event_list.h"
#include "host/module_host.h"

namespace host {

// UTF-16 form of a module identifier given in UTF-8 (the identifiers are plain ASCII).
std::u16string toModuleId(std::string_view text);

// One module object created through a factory, with its own host attached. Creation
// failures throw LibraryError with the factory's result code.
class PluginInstance {
public:
    PluginInstance(mp::IMpFactory2& factory, std::string_view moduleId, int32_t moduleType = 0);

    mp::IMpPlugin2& plugin() const { return *object.get(); }
    ModuleHost& host() const { return *moduleHost; }

    int32_t setBuffer(int32_t pinId, float* buffer) { return object->setBuffer(pinId, buffer); }
    int32_t open() { return object->open(); }
    void process(int32_t count, EventList& events) { object->process(count, events.head()); }
    void process(int32_t count) { object->process(count, nullptr); }

private:
    // Declared first so that it outlives the object, which releases it on destruction.
    std::unique_ptr<ModuleHost> moduleHost = std::make_unique<ModuleHost>();
    ComPtr<mp::IMpPlugin2> object;
};

}  // namespace host
