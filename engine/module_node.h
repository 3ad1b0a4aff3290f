#pragma once

#include <string_view>

#include "host/event_list.h"
#include "engine/module_description.h"
#include "engine/node.h"
#include "host/module_driver.h"

namespace ovm {

// A module instance from a loaded library, driven through its binary interface. It keeps
// the host side of the sleep protocol: once the module has asked to sleep it is not called
// again until an event is due for it, and its static outputs hold their last value.
class ModuleNode : public Node {
public:
    ModuleNode(std::string name, mp::IMpFactory2& factory, const ModuleDescription& description,
               int32_t blockSize, float sampleRate);

    void connectInput(int32_t pinId, const float* buffer) override;
    int32_t outputId(std::string_view pinName) const override;
    void process(int32_t count, const std::vector<NodeEvent>& events,
                 std::vector<StreamingChange>& changes) override;

    const ModuleDescription& description() const { return module; }
    bool asleep() const { return instance.asleep(); }

private:
    struct OutputState {
        bool streaming = true;
        bool valueKnown = false;
        float staticValue = 0;
        int32_t staticFrom = 0;  // position in the current block from which it is static
    };

    void collectChanges(int32_t count, std::vector<StreamingChange>& changes);
    void holdStaticOutputs(int32_t count);

    const ModuleDescription& module;
    host::ModuleDriver instance;
    host::EventList eventList;
    std::vector<float> silence;
    std::map<int32_t, OutputState> outputStates;
};

}  // namespace ovm
