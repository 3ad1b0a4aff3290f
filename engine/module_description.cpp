#include "engine/module_description.h"

namespace ovm {

int ModuleDescription::pinId(std::string_view pinName) const {
    for (std::size_t i = 0; i < pins.size(); ++i)
        if (pins[i].name == pinName) return int(i);
    return -1;
}

const ModuleDescription* LibraryDescription::find(std::string_view idOrName) const {
    for (const auto& module : modules)
        if (module.id == idOrName || module.name == idOrName) return &module;
    return nullptr;
}

}  // namespace ovm
