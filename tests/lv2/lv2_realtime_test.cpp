// Every plug-in of Dynamics.lv2 loaded as a host loads it, its run() watched for heap and
// lock calls: none while it processes, nor when the limiter's ceiling moves. (A module's
// window controls are left alone: a longer window is memory the module takes when it comes.)

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/core/lv2.h>

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
        LV2_Handle instance = descriptor->instantiate(descriptor, kRate, LV2_BUNDLE, nullptr);
        ASSERT_NE(instance, nullptr);
        const std::size_t ports = layout->ports.size();
        std::vector<std::vector<float>> buffers(ports, std::vector<float>(kBlock));
        std::vector<float> controls(ports);
        std::size_t ceiling = ports;  // none
        for (uint32_t port = 0; port < ports; ++port) {
            const dynamics_lv2::Port& p = layout->ports[port];
            controls[port] = float(p.defaultValue);
            if (p.symbol == dynamics_lv2::kCeiling) ceiling = port;
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
            realtime::take();
            realtime::watch(true);
            descriptor->run(instance, kBlock);
            realtime::watch(false);
            const realtime::Counts counts = realtime::take();
            allocations += counts.allocations + counts.frees;
            locks += counts.locks;
            if (where.empty() && !counts.firstCallSite.empty())
                where = "block at frame " + std::to_string(start / 2) + ": " + counts.firstCallSite;
        }
        EXPECT_EQ(allocations, 0u) << where;
        EXPECT_EQ(locks, 0u);
        descriptor->deactivate(instance);
        descriptor->cleanup(instance);
    }
    EXPECT_EQ(plugins, int(layouts.size()));
}

}  // namespace
