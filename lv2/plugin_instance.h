#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/module_description.h"
#include "host/com_ptr.h"
#include "host/module_library.h"
#include "lv2/plugin_layout.h"

namespace dynamics_lv2 {

// One instance of one of the bundle's plug-ins: the engine running a patch (one module wired
// to the plug-in's audio ports, or the limiter), fed and read through the host's ports.
//
// Everything is allocated when the host activates the instance: the engine is built then,
// from the controls' values at that moment (their defaults for controls not yet connected),
// and dropped on deactivation. run() only copies samples, sends changed controls to the
// modules as values at the start of the block and runs the engine block by block; it
// allocates nothing and makes no system call of its own. A module that asked to sleep is
// not called and its outputs hold, as in ovm (the engine's module node does both).
//
// The limiter's look-ahead and release shape its graph (windows and delays): they take effect
// at the next activation, and its latency port reports what the running graph delays by.
class PluginInstance {
public:
    // Throws ovm::Error or host::LibraryError when the bundle's library or description is
    // missing or wrong, or the plug-in is not in it.
    PluginInstance(const std::string& uri, const std::string& bundlePath, double sampleRate, int32_t blockSize);
    ~PluginInstance();

    void connect(uint32_t port, void* data);
    // Returns false and leaves the instance silent when the engine cannot be built.
    bool activate();
    void deactivate();
    void run(uint32_t count);

    const std::string& lastError() const { return error; }

private:
    struct Control {
        std::size_t port;
        std::optional<ovm::Engine::ControlPin> pin;  // empty: read at activation only
        float sent = 0;
    };

    float portValue(std::size_t port) const;
    // What the module's pin receives for a control's value.
    float moduleValue(float value) const;
    void sendChangedControls();
    void processChunk(uint32_t offset, int32_t count);

    std::string libraryPath;
    ovm::LibraryDescription description;
    host::ModuleLibrary library;
    host::ComPtr<mp::IMpFactory2> factory;
    const ovm::ModuleDescription* module = nullptr;  // null: the limiter
    PluginLayout layout;
    ovm::Patch patch;
    double rate;
    int32_t blockSize;
    double kneeMargin = 0;  // the limiter's
    std::vector<void*> ports;
    std::vector<Control> controls;
    std::unique_ptr<ovm::Engine> engine;
    std::string error;
};

}  // namespace dynamics_lv2
