#include "lv2/plugin_instance.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <exception>

#include "description/library_description_reader.h"
#include "engine/errors.h"
#include "lv2/limiter_patch.h"

namespace dynamics_lv2 {

namespace {

// One module between the plug-in's ports: its audio inputs are the input channels in pin
// order, its audio outputs the output channels; its controls keep their defaults until the
// plug-in sends their values.
ovm::Patch modulePatch(const ovm::ModuleDescription& module) {
    ovm::Patch patch;
    patch.path = kUriBase + module.name;
    patch.nodes.push_back({module.name, "module", module.id, {}, patch.path});
    int32_t inputs = 0, outputs = 0;
    for (const ovm::PinDescription& pin : module.pins) {
        if (!pin.audio) continue;
        if (pin.output)
            patch.connections.push_back(
                {{module.name, pin.name}, {std::string(ovm::kOutputNode), std::to_string(++outputs)}, patch.path});
        else
            patch.connections.push_back(
                {{std::string(ovm::kInputNode), std::to_string(++inputs)}, {module.name, pin.name}, patch.path});
    }
    return patch;
}

const ovm::ModuleDescription* moduleFor(const ovm::LibraryDescription& description, const std::string& uri) {
    for (const ovm::ModuleDescription& module : description.modules)
        if (kUriBase + module.name == uri) return &module;
    return nullptr;
}

}  // namespace

PluginInstance::PluginInstance(const std::string& uri, const std::string& bundlePath, double sampleRate,
                               int32_t blockSize, const LV2_Worker_Schedule* worker)
    : libraryPath(bundlePath + "/" + kLibraryFile),
      description(ovm::readLibraryDescription(libraryPath)),
      library(libraryPath),
      factory(library.factory()),
      module(moduleFor(description, uri)),
      layout(module != nullptr ? moduleLayout(*module) : limiterLayout(limiterPatch())),
      patch(module != nullptr ? modulePatch(*module) : limiterPatch()),
      rate(sampleRate),
      blockSize(blockSize),
      worker(worker) {
    if (!factory) throw ovm::libraryError(libraryPath + ": its factory does not answer the factory interface");
    if (layout.uri != uri) throw ovm::libraryError(libraryPath + ": no plug-in " + uri + " in this bundle");
    if (module == nullptr) kneeMargin = kneeMarginDb(patch);
    ports.assign(layout.ports.size(), nullptr);
    // Room for every engine the host might fail to take back for freeing.
    retired.reserve(16);
}

PluginInstance::~PluginInstance() = default;

void PluginInstance::connect(uint32_t port, void* data) {
    if (port < ports.size()) ports[port] = data;
}

float PluginInstance::portValue(std::size_t port) const {
    const Port& p = layout.ports[port];
    const float* value = static_cast<const float*>(ports[port]);
    if (value == nullptr || std::isnan(*value)) return float(p.defaultValue);
    // The limiter's controls are kept in their range: they become patch values, which refuse
    // what no limiter means. A module's controls pass as they are: the module defines them all.
    if (module == nullptr) return std::clamp(*value, float(*p.minimum), float(*p.maximum));
    return *value;
}

float PluginInstance::moduleValue(float value) const {
    return module != nullptr ? value : kneeThreshold(value, kneeMargin);
}

LimiterSettings PluginInstance::limiterSettings() const {
    LimiterSettings settings{};
    for (std::size_t i = 0; i < layout.ports.size(); ++i) {
        if (layout.ports[i].symbol == kCeiling) settings.ceilingDb = portValue(i);
        if (layout.ports[i].symbol == kLookahead) settings.lookaheadMs = portValue(i);
        if (layout.ports[i].symbol == kRelease) settings.releaseMs = portValue(i);
    }
    return settings;
}

std::unique_ptr<ovm::Engine> PluginInstance::newEngine(const LimiterSettings& settings) const {
    ovm::EngineConfig config;
    config.blockSize = blockSize;
    config.sampleRate = rate;
    config.inputChannels = layout.count(Port::Kind::audioIn);
    if (module == nullptr) config.overrides = limiterOverrides(patch, settings, rate);
    return std::make_unique<ovm::Engine>(patch, description, *factory, config);
}

bool PluginInstance::activate() {
    engine.reset();
    controls.clear();
    try {
        built = limiterSettings();
        engine = newEngine(built);
        for (std::size_t i = 0; i < layout.ports.size(); ++i) {
            if (!layout.isControl(i)) continue;
            Control control{i, std::nullopt, portValue(i)};
            if (module != nullptr)
                control.pin = engine->controlPin({module->name, layout.ports[i].symbol});
            else if (layout.ports[i].symbol == kCeiling)
                control.pin = engine->controlPin(kneeThresholdPin());
            // A module's controls start at its defaults: send every value once, at the start
            // of the first block, as ovm sends a patch's values. (The limiter's patch already
            // holds them.)
            if (module != nullptr) engine->setValue(*control.pin, moduleValue(control.sent));
            controls.push_back(control);
        }
        engine->start();
        error.clear();
        return true;
    } catch (const std::exception& failure) {
        engine.reset();
        controls.clear();
        error = failure.what();
        return false;
    }
}

void PluginInstance::requestRebuild() {
    if (module != nullptr || worker == nullptr || rebuilding) return;
    const LimiterSettings wanted = limiterSettings();
    if (wanted.lookaheadMs == built.lookaheadMs && wanted.releaseMs == built.releaseMs) return;
    const WorkerMessage message{WorkerMessage::build, wanted, nullptr};
    rebuilding = worker->schedule_work(worker->handle, sizeof message, &message) == LV2_WORKER_SUCCESS;
}

LV2_Worker_Status PluginInstance::work(LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle,
                                       uint32_t size, const void* data) {
    if (size != sizeof(WorkerMessage)) return LV2_WORKER_ERR_UNKNOWN;
    WorkerMessage message;
    std::memcpy(&message, data, sizeof message);
    if (message.kind == WorkerMessage::dispose) {
        delete message.engine;
        return LV2_WORKER_SUCCESS;
    }
    try {
        std::unique_ptr<ovm::Engine> next = newEngine(message.settings);
        next->start();
        message.engine = next.release();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "Dynamics.lv2: the limiter keeps its look-ahead and release: %s\n", failure.what());
        message.engine = nullptr;
    }
    message.kind = WorkerMessage::built;
    const LV2_Worker_Status status = respond(handle, sizeof message, &message);
    if (status != LV2_WORKER_SUCCESS) delete message.engine;
    return status;
}

LV2_Worker_Status PluginInstance::workResponse(uint32_t size, const void* data) {
    if (size != sizeof(WorkerMessage)) return LV2_WORKER_ERR_UNKNOWN;
    WorkerMessage message;
    std::memcpy(&message, data, sizeof message);
    rebuilding = false;
    built = message.settings;  // also when the build failed: no retry until the controls move
    if (message.engine == nullptr || !engine) {
        message.kind = WorkerMessage::dispose;
        if (message.engine != nullptr) worker->schedule_work(worker->handle, sizeof message, &message);
        return LV2_WORKER_SUCCESS;
    }
    // The new engine holds the ceiling it was built with; later changes are sent from there.
    for (Control& control : controls)
        if (layout.ports[control.port].symbol == kCeiling) control.sent = float(message.settings.ceilingDb);
    ovm::Engine* old = engine.release();
    engine.reset(message.engine);
    message.engine = old;
    message.kind = WorkerMessage::dispose;
    // The old engine is freed by the worker, not here; should the host refuse the work, it
    // waits for the instance's end.
    if (worker->schedule_work(worker->handle, sizeof message, &message) != LV2_WORKER_SUCCESS)
        retired.emplace_back(old);
    return LV2_WORKER_SUCCESS;
}

void PluginInstance::deactivate() {
    engine.reset();
    controls.clear();
    retired.clear();
}

void PluginInstance::sendChangedControls() {
    for (Control& control : controls) {
        if (!control.pin) continue;
        const float value = portValue(control.port);
        // Bitwise: a change between zeros of either sign is a change for the module too.
        if (std::memcmp(&value, &control.sent, sizeof value) == 0) continue;
        control.sent = value;
        engine->setValue(*control.pin, moduleValue(value));
    }
}

void PluginInstance::processChunk(uint32_t offset, int32_t count) {
    for (std::size_t i = 0; i < layout.ports.size(); ++i) {
        const Port& port = layout.ports[i];
        if (port.kind == Port::Kind::audioIn)
            std::memcpy(engine->inputChannel(port.index), static_cast<const float*>(ports[i]) + offset,
                        sizeof(float) * std::size_t(count));
    }
    engine->processBlock(count);
    for (std::size_t i = 0; i < layout.ports.size(); ++i) {
        const Port& port = layout.ports[i];
        if (port.kind == Port::Kind::audioOut)
            std::memcpy(static_cast<float*>(ports[i]) + offset, engine->outputChannel(port.index),
                        sizeof(float) * std::size_t(count));
    }
}

void PluginInstance::run(uint32_t count) {
    if (!engine) {
        for (std::size_t i = 0; i < layout.ports.size(); ++i)
            if (layout.ports[i].kind == Port::Kind::audioOut && ports[i] != nullptr)
                std::fill_n(static_cast<float*>(ports[i]), count, 0.0f);
        return;
    }
    requestRebuild();
    sendChangedControls();
    for (uint32_t done = 0; done < count;) {
        const int32_t chunk = int32_t(std::min<uint32_t>(count - done, uint32_t(blockSize)));
        processChunk(done, chunk);
        done += uint32_t(chunk);
    }
    for (std::size_t i = 0; i < layout.ports.size(); ++i)
        if (layout.ports[i].kind == Port::Kind::latencyOut && ports[i] != nullptr)
            *static_cast<float*>(ports[i]) = float(engine->latencySamples());
}

}  // namespace dynamics_lv2
