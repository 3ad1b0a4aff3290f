#include "engine/module_description.h"

namespace ovm {

int ModuleDescription::pinId(std::string_view pinName) const {
    for (std::size_t i = 0; i < pins.size(); ++i)
        if (pins[i].name == pinName) return int(i);
    return -1;
}

std::vector<int32_t> ModuleDescription::audioInputs() const {
    std::vector<int32_t> ids;
    for (std::size_t i = 0; i < pins.size(); ++i)
        if (pins[i].audio && !pins[i].output) ids.push_back(int32_t(i));
    return ids;
}

int32_t ModuleDescription::audioOutput() const {
    for (std::size_t i = 0; i < pins.size(); ++i)
        if (pins[i].audio && pins[i].output) return int32_t(i);
    return -1;
}

int32_t ModuleDescription::timePin() const {
    for (std::size_t i = 0; i < pins.size(); ++i)
        if (!pins[i].audio && !pins[i].output && pins[i].unit == "ms") return int32_t(i);
    return -1;
}

const ModuleDescription* LibraryDescription::find(std::string_view idOrName) const {
    for (const auto& module : modules)
        if (module.id == idOrName || module.name == idOrName) return &module;
    return nullptr;
}

}  // namespace ovm
