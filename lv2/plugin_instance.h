#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <lv2/worker/worker.h>

#include "engine/engine.h"
#include "engine/module_description.h"
#include "host/com_ptr.h"
#include "host/module_library.h"
#include "lv2/limiter_patch.h"
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
// The limiter's look-ahead and release shape its graph (windows and delays). When the host
// offers a worker thread (the LV2 worker), a change of either builds a new engine there and
// run() swaps it in between blocks, the old one going back to the worker to be freed: the
// limiter restarts (its delay starts empty, a short gap). Without a worker they take effect
// at the next activation. The latency port reports what the running graph delays by.
class PluginInstance {
public:
    // Throws ovm::Error or host::LibraryError when the bundle's library or description is
    // missing or wrong, or the plug-in is not in it.
    PluginInstance(const std::string& uri, const std::string& bundlePath, double sampleRate, int32_t blockSize,
                   const LV2_Worker_Schedule* worker);
    ~PluginInstance();

    void connect(uint32_t port, void* data);
    // Returns false and leaves the instance silent when the engine cannot be built.
    bool activate();
    void deactivate();
    void run(uint32_t count);

    // The LV2 worker's calls: work() on the worker thread, workResponse() between blocks.
    LV2_Worker_Status work(LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle, uint32_t size,
                           const void* data);
    LV2_Worker_Status workResponse(uint32_t size, const void* data);

    const std::string& lastError() const { return error; }

private:
    struct Control {
        std::size_t port;
        std::optional<ovm::Engine::ControlPin> pin;  // empty: read at activation only
        float sent = 0;
    };

    // What passes between run() and the worker, copied by the host: a request to build an
    // engine for new settings, the engine built (null when that failed), or one to free.
    struct WorkerMessage {
        enum Kind { build, built, dispose } kind;
        LimiterSettings settings;
        ovm::Engine* engine;
    };

    float portValue(std::size_t port) const;
    LimiterSettings limiterSettings() const;
    // An engine on the plug-in's patch, not yet started (the limiter's for these settings).
    std::unique_ptr<ovm::Engine> newEngine(const LimiterSettings& settings) const;
    void requestRebuild();
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
    const LV2_Worker_Schedule* worker;  // null: the host has none
    LimiterSettings built{};            // what the limiter's engine was built for
    bool rebuilding = false;            // a build is on the worker
    std::vector<std::unique_ptr<ovm::Engine>> retired;
    std::string error;
};

}  // namespace dynamics_lv2
