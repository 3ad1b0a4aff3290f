#include "host/module_driver.h"

namespace host {

std::u16string toModuleId(std::string_view text) { return {text.begin(), text.end()}; }

EventList startEvents(const std::vector<int32_t>& audioInputs,
                      const std::map<int32_t, float>& controlValues) {
    std::map<int32_t, std::optional<float>> inputs(controlValues.begin(), controlValues.end());
    for (int32_t pin : audioInputs) inputs[pin] = std::nullopt;
    EventList events;
    for (const auto& [pin, value] : inputs) {
        if (value)
            events.value(0, pin, *value);
        else
            events.streaming(0, pin, true);
    }
    events.announceOutputs(0);
    return events;
}

ModuleCreationError::ModuleCreationError(std::string_view moduleId, int32_t result)
    : LibraryError("cannot create module '" + std::string(moduleId) + "': the factory returned " +
                   std::to_string(result)),
      result(result) {}

ModuleDriver::ModuleDriver(mp::IMpFactory2& factory, std::string_view moduleId, DriverSettings settings)
    : moduleHost(settings.host ? std::move(settings.host) : std::make_unique<ModuleHost>()) {
    moduleHost->setBlockSize(settings.blockSize);
    moduleHost->setSampleRate(settings.sampleRate);
    const std::u16string id = toModuleId(moduleId);
    const int32_t result = factory.createInstanceWithHost(id.c_str(), 0, moduleHost.get(), object.put());
    if (result != mp::kResultOk || !object) {
        object.detach();
        throw ModuleCreationError(moduleId, result);
    }
}

ModuleDriver::~ModuleDriver() { object.reset(); }

}  // namespace host
