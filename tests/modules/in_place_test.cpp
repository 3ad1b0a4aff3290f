// Hosts may hand a module one buffer for an input and its output: every module must read
// each input sample before it writes the output sample over it.

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <random>

#include "tests/support/module_harness.h"

namespace {

using testing_support::bitsOf;
using testing_support::ModuleHarness;

struct InPlaceCase {
    const char* id;
    int32_t input, output;
    std::optional<std::pair<int32_t, float>> control = std::nullopt;
    std::optional<int32_t> otherInput = std::nullopt;
};

TEST(InPlace, EveryModuleGivesTheSameOutputWhenTheOutputSharesTheInputsBuffer) {
    const InPlaceCase cases[] = {
        {"Orin Peak", 0, 2, std::nullopt, 1},
        {"Orin Hard Knee", 1, 2, std::pair{0, 0.5f}},
        {"Orin Integrator", 0, 1},
        {"Orin ms2factor", 0, 1},
        {"Orin factor2ms", 0, 1},
        {"Orin Peak Hold", 1, 2, std::pair{0, 20.0f}},
        {"Orin SmootherG", 1, 2, std::pair{0, 3.0f}},
    };
    std::mt19937 random(6);
    auto signal = testing_support::uniformNoise(30000, 0.01f, 1.5f, random);
    // NaN bursts send PeakHold through its exact ring and back.
    for (std::size_t at = 5000; at < signal.size(); at += 7000)
        signal[at] = std::numeric_limits<float>::quiet_NaN();
    const auto other = testing_support::uniformNoise(signal.size(), -1.5f, 1.5f, random);
    for (const InPlaceCase& c : cases) {
        SCOPED_TRACE(c.id);
        std::vector<int32_t> pins = {c.input, c.output};
        std::map<int32_t, std::vector<float>> inputs = {{c.input, signal}};
        if (c.otherInput) {
            pins.push_back(*c.otherInput);
            inputs[*c.otherInput] = other;
        }
        std::vector<int32_t> streaming = {c.input};
        if (c.otherInput) streaming.push_back(*c.otherInput);
        host::EventList first = testing_support::startEvents(streaming);
        if (c.control) first.value(0, c.control->first, c.control->second);
        ModuleHarness separate(c.id, pins, 4096), inPlace(c.id, pins, 4096);
        separate.host().setSampleRate(48000.0f);
        inPlace.host().setSampleRate(48000.0f);
        inPlace.shareBuffer(c.output, c.input);
        const auto expected = separate.run(inputs, c.output, first);
        const auto output = inPlace.run(inputs, c.input, first);
        for (std::size_t k = 0; k < expected.size(); ++k)
            ASSERT_EQ(bitsOf(output[k]), bitsOf(expected[k])) << "sample " << k;
    }
}

}  // namespace
