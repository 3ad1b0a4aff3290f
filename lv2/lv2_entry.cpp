// The bundle's binary: the LV2 entry point and the plug-in callbacks, each passed on to a
// PluginInstance. No exception leaves it.

#include <dlfcn.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "description/library_description_reader.h"
#include "lv2/limiter_patch.h"
#include "lv2/plugin_instance.h"
#include "lv2/plugin_layout.h"

namespace dynamics_lv2 {

namespace {

// The largest block the engine runs when the host names none; longer run() calls are cut
// into blocks of this size.
constexpr int32_t kFallbackBlockSize = 4096;

// The block size the host announces through the options feature: its nominal block length,
// else its largest; the fallback when it says neither.
int32_t hostBlockSize(const LV2_Feature* const* features) {
    const LV2_URID_Map* map = nullptr;
    const LV2_Options_Option* options = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
            map = static_cast<const LV2_URID_Map*>(features[i]->data);
        if (std::strcmp(features[i]->URI, LV2_OPTIONS__options) == 0)
            options = static_cast<const LV2_Options_Option*>(features[i]->data);
    }
    if (map == nullptr || options == nullptr) return kFallbackBlockSize;
    const LV2_URID intType = map->map(map->handle, "http://lv2plug.in/ns/ext/atom#Int");
    int32_t nominal = 0, largest = 0;
    for (const LV2_Options_Option* o = options; o->key != 0; ++o) {
        if (o->type != intType || o->size != sizeof(int32_t) || o->value == nullptr) continue;
        const int32_t value = *static_cast<const int32_t*>(o->value);
        if (o->key == map->map(map->handle, LV2_BUF_SIZE__nominalBlockLength)) nominal = value;
        if (o->key == map->map(map->handle, LV2_BUF_SIZE__maxBlockLength)) largest = value;
    }
    if (nominal > 0) return nominal;
    return largest > 0 ? largest : kFallbackBlockSize;
}

const LV2_Worker_Schedule* hostWorker(const LV2_Feature* const* features) {
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i)
        if (std::strcmp(features[i]->URI, LV2_WORKER__schedule) == 0)
            return static_cast<const LV2_Worker_Schedule*>(features[i]->data);
    return nullptr;
}

LV2_Handle instantiate(const LV2_Descriptor* descriptor, double rate, const char* bundlePath,
                       const LV2_Feature* const* features) {
    try {
        return new PluginInstance(descriptor->URI, bundlePath, rate, hostBlockSize(features), hostWorker(features));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", descriptor->URI, error.what());
        return nullptr;
    }
}

PluginInstance& instance(LV2_Handle handle) { return *static_cast<PluginInstance*>(handle); }

void connectPort(LV2_Handle handle, uint32_t port, void* data) { instance(handle).connect(port, data); }

void activate(LV2_Handle handle) {
    if (!instance(handle).activate())
        std::fprintf(stderr, "Dynamics.lv2: cannot start the plug-in (its outputs stay silent): %s\n",
                     instance(handle).lastError().c_str());
}

void run(LV2_Handle handle, uint32_t count) { instance(handle).run(count); }

void deactivate(LV2_Handle handle) { instance(handle).deactivate(); }

void cleanup(LV2_Handle handle) { delete static_cast<PluginInstance*>(handle); }

LV2_Worker_Status work(LV2_Handle handle, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle to,
                       uint32_t size, const void* data) {
    return instance(handle).work(respond, to, size, data);
}

LV2_Worker_Status workResponse(LV2_Handle handle, uint32_t size, const void* data) {
    return instance(handle).workResponse(size, data);
}

const void* extensionData(const char* uri) {
    static const LV2_Worker_Interface worker{work, workResponse, nullptr};
    return std::strcmp(uri, LV2_WORKER__interface) == 0 ? &worker : nullptr;
}

// The plug-ins the bundle describes, found from the binary's own folder: the host asks for
// them before it names the bundle. Built in place once: the descriptors point into the URIs.
class Catalogue {
public:
    Catalogue() {
        Dl_info self{};
        if (dladdr(reinterpret_cast<void*>(&instantiate), &self) == 0 || self.dli_fname == nullptr) return;
        try {
            const std::string folder = std::filesystem::path(self.dli_fname).parent_path().string();
            for (const PluginLayout& layout :
                 bundleLayouts(ovm::readLibraryDescription(folder + "/" + kLibraryFile), limiterPatch()))
                uris.push_back(layout.uri);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "Dynamics.lv2: %s\n", error.what());
            uris.clear();
        }
        for (const std::string& uri : uris)
            descriptors.push_back(
                {uri.c_str(), instantiate, connectPort, activate, run, deactivate, cleanup, extensionData});
    }
    Catalogue(const Catalogue&) = delete;
    Catalogue& operator=(const Catalogue&) = delete;

    const LV2_Descriptor* descriptor(uint32_t index) const {
        return index < descriptors.size() ? &descriptors[index] : nullptr;
    }

private:
    std::vector<std::string> uris;
    std::vector<LV2_Descriptor> descriptors;
};

}  // namespace

}  // namespace dynamics_lv2

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    static const dynamics_lv2::Catalogue catalogue;
    return catalogue.descriptor(index);
}
