#include "host/plugin_instance.h"

#include "host/module_library.h"

namespace host {

std::u16string toModuleId(std::string_view text) { return {text.begin(), text.end()}; }

PluginInstance::PluginInstance(mp::IMpFactory2& factory, std::string_view moduleId, int32_t moduleType) {
    const std::u16string id = toModuleId(moduleId);
    const int32_t result =
        factory.createInstanceWithHost(id.c_str(), moduleType, moduleHost.get(), object.put());
    if (result != mp::kResultOk || !object)
        throw LibraryError("cannot create module '" + std::string(moduleId) + "': the factory returned " +
                           std::to_string(result));
}

}  // namespace host
