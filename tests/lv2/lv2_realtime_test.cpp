// Every plug-in of Dynamics.lv2 loaded as a host loads it, its run() watched for heap and
// lock calls: none while it processes, nor when the limiter's ceiling moves or its look-ahead
// is rebuilt on the host's worker and swapped in. (A module's
// window controls are left alone: a longer window is memory the module takes when it comes.)

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>
#include <lv2/worker/worker.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "description/library_description_reader.h"
#include "lv2/limiter_patch.h"
#include "lv2/plugin_layout.h"
#include "ovm/core/demo_signal.h"
#include "validate/realtime_monitor.h"

namespace {

namespace realtime = ovm::validate::realtime;

constexpr uint32_t kBlock = 256;
constexpr double kRate = 48000;

// A host's worker, run by the test itself: what run() schedules is done between blocks
// (unwatched, as on a worker thread), and the response handed back inside the next watched
// call, as a host does before run().
class Worker {
public:
    LV2_Worker_Schedule schedule{this, &Worker::scheduleWork};
    const LV2_Feature feature{LV2_WORKER__schedule, &schedule};

    // Does the scheduled work; returns whether a response waits.
    bool work(const LV2_Worker_Interface& plugin, LV2_Handle instance) {
        const std::vector<uint8_t> jobs = scheduled;
        scheduled.clear();  // keeps its room
        for (std::size_t at = 0; at < jobs.size();) {
            uint32_t size;
            std::memcpy(&size, &jobs[at], sizeof size);
            plugin.work(instance, &Worker::respond, this, size, &jobs[at + sizeof size]);
            at += sizeof size + size;
        }
        return !response.empty();
    }
    void respond(const LV2_Worker_Interface& plugin, LV2_Handle instance) {
        plugin.work_response(instance, uint32_t(response.size()), response.data());
        response.clear();
    }
    int builds = 0;

private:
    static LV2_Worker_Status scheduleWork(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data) {
        auto& self = *static_cast<Worker*>(handle);
        const auto* bytes = static_cast<const uint8_t*>(data);
        // Room kept so that scheduling from inside run() allocates nothing.
        if (self.scheduled.size() + sizeof size + size > self.scheduled.capacity()) return LV2_WORKER_ERR_NO_SPACE;
        self.scheduled.insert(self.scheduled.end(), reinterpret_cast<const uint8_t*>(&size),
                              reinterpret_cast<const uint8_t*>(&size) + sizeof size);
        self.scheduled.insert(self.scheduled.end(), bytes, bytes + size);
        return LV2_WORKER_SUCCESS;
    }
    static LV2_Worker_Status respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data) {
        auto& self = *static_cast<Worker*>(handle);
        const auto* bytes = static_cast<const uint8_t*>(data);
        self.response.assign(bytes, bytes + size);
        ++self.builds;
        return LV2_WORKER_SUCCESS;
    }

public:
    Worker() {
        scheduled.reserve(4096);
        response.reserve(4096);
    }

private:
    std::vector<uint8_t> scheduled;
    std::vector<uint8_t> response;
};

struct Loaded {
    Loaded() : handle(dlopen((std::string(LV2_BUNDLE) + "/dynamics-lv2.so").c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Loaded() {
        if (handle != nullptr) dlclose(handle);
    }
    void* handle;
};

TEST(Lv2Realtime, RunAllocatesNothingAndTakesNoLock) {
    if (!realtime::available()) GTEST_SKIP() << "no allocation hooks in this build (sanitizers own malloc)";
    const Loaded library;
    ASSERT_NE(library.handle, nullptr) << dlerror();
    const auto descriptorOf = reinterpret_cast<LV2_Descriptor_Function>(dlsym(library.handle, "lv2_descriptor"));
    ASSERT_NE(descriptorOf, nullptr);

    const std::vector<dynamics_lv2::PluginLayout> layouts = dynamics_lv2::bundleLayouts(
        ovm::readLibraryDescription(std::string(LV2_BUNDLE) + "/Dynamics.ovm"), dynamics_lv2::limiterPatch());
    const std::vector<float> programme = ovm::demoProgramme(1.0, kRate);  // stereo, interleaved
    int plugins = 0;
    for (uint32_t index = 0; const LV2_Descriptor* descriptor = descriptorOf(index); ++index, ++plugins) {
        SCOPED_TRACE(descriptor->URI);
        const dynamics_lv2::PluginLayout* layout = nullptr;
        for (const dynamics_lv2::PluginLayout& l : layouts)
            if (l.uri == descriptor->URI) layout = &l;
        ASSERT_NE(layout, nullptr);
        Worker worker;
        const LV2_Feature* features[] = {&worker.feature, nullptr};
        LV2_Handle instance = descriptor->instantiate(descriptor, kRate, LV2_BUNDLE, features);
        const auto* workerInterface =
            static_cast<const LV2_Worker_Interface*>(descriptor->extension_data(LV2_WORKER__interface));
        ASSERT_NE(instance, nullptr);
        const std::size_t ports = layout->ports.size();
        std::vector<std::vector<float>> buffers(ports, std::vector<float>(kBlock));
        std::vector<float> controls(ports);
        std::size_t ceiling = ports, lookahead = ports;  // none
        for (uint32_t port = 0; port < ports; ++port) {
            const dynamics_lv2::Port& p = layout->ports[port];
            controls[port] = float(p.defaultValue);
            if (p.symbol == dynamics_lv2::kCeiling) ceiling = port;
            if (p.symbol == dynamics_lv2::kLookahead) lookahead = port;
            const bool control = p.kind == dynamics_lv2::Port::Kind::controlIn ||
                                 p.kind == dynamics_lv2::Port::Kind::latencyOut;
            descriptor->connect_port(instance, port, control ? &controls[port] : buffers[port].data());
        }
        descriptor->activate(instance);

        std::size_t allocations = 0, locks = 0;
        std::string where;
        for (std::size_t start = 0; start + 2 * kBlock <= programme.size(); start += 2 * kBlock) {
            for (uint32_t port = 0; port < ports; ++port)
                if (layout->ports[port].kind == dynamics_lv2::Port::Kind::audioIn)
                    for (uint32_t n = 0; n < kBlock; ++n)
                        buffers[port][n] = programme[start + 2 * n + std::size_t(layout->ports[port].index % 2)];
            if (ceiling < ports && start % (16 * kBlock) == 0)
                controls[ceiling] = controls[ceiling] == -1.0f ? -6.0f : -1.0f;
            if (lookahead < ports && start % (64 * kBlock) == 0)
                controls[lookahead] = controls[lookahead] == 5.0f ? 8.0f : 5.0f;
            const bool responds = workerInterface != nullptr && worker.work(*workerInterface, instance);
            realtime::take();
            realtime::watch(true);
            if (responds) worker.respond(*workerInterface, instance);
            descriptor->run(instance, kBlock);
            realtime::watch(false);
            const realtime::Counts counts = realtime::take();
            allocations += counts.allocations + counts.frees;
            locks += counts.locks;
            if (where.empty() && !counts.firstCallSite.empty())
                where = "block at frame " + std::to_string(start / 2) + ": " + counts.firstCallSite;
        }
        EXPECT_EQ(allocations, 0u) << where;
        // The limiter rebuilt its engine for each new look-ahead (the first at 5 ms changes nothing).
        if (lookahead < ports) {
            EXPECT_GE(worker.builds, 2);
        }
        EXPECT_EQ(locks, 0u);
        descriptor->deactivate(instance);
        descriptor->cleanup(instance);
    }
    EXPECT_EQ(plugins, int(layouts.size()));
}

}  // namespace
