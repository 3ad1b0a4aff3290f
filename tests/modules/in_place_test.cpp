// Hosts may hand a module one buffer for an input and its output: every module must read
// each input sample before it writes the output sample over it.

#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "tests/support/dynamics_library.h"
#include "tests/support/module_harness.h"

namespace {

using testing_support::bitsOf;
using testing_support::ModuleHarness;

TEST(InPlace, EveryModuleGivesTheSameOutputWhenTheOutputSharesTheInputsBuffer) {
    // Each control pin's value, by module name; the pins come from Dynamics.toml.
    const std::map<std::string, float> controlValues = {
        {"hardknee", 0.5f}, {"peakhold", 20.0f}, {"smoother", 3.0f}};
    std::mt19937 random(6);
    auto signal = testing_support::uniformNoise(30000, 0.01f, 1.5f, random);
    // NaN bursts send PeakHold through its exact ring and back.
    for (std::size_t at = 5000; at < signal.size(); at += 7000)
        signal[at] = std::numeric_limits<float>::quiet_NaN();
    const auto other = testing_support::uniformNoise(signal.size(), -1.5f, 1.5f, random);
    for (const ovm::ModuleDescription& module : testing_support::dynamicsDescription().modules) {
        SCOPED_TRACE(module.id);
        const std::vector<int32_t> audioInputs = module.audioInputs();
        const int32_t input = audioInputs.at(0), output = module.audioOutput();
        std::map<int32_t, std::vector<float>> inputs = {{input, signal}};
        if (audioInputs.size() > 1) inputs[audioInputs[1]] = other;
        std::map<int32_t, float> controls;
        for (int32_t pin = 0; pin < int32_t(module.pins.size()); ++pin)
            if (!module.pins[std::size_t(pin)].audio) controls[pin] = controlValues.at(module.name);
        std::vector<int32_t> pins = audioInputs;
        pins.push_back(output);
        ModuleHarness separate(module.id, pins, 4096), inPlace(module.id, pins, 4096);
        inPlace.shareBuffer(output, input);
        const host::EventList first = testing_support::startEvents(audioInputs, controls);
        const auto expected = separate.run(inputs, output, first);
        const auto result = inPlace.run(inputs, input, first);
        for (std::size_t k = 0; k < expected.size(); ++k)
            ASSERT_EQ(bitsOf(result[k]), bitsOf(expected[k])) << "sample " << k;
    }
}

}  // namespace
