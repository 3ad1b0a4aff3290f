// What every module Dynamics.toml lists must do whatever its arithmetic: give the same
// output however a host cuts the signal into blocks, and when a host hands it one buffer
// for an input and its output (it must read each input sample before it writes the output
// sample over it).

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>

#include "tests/support/dynamics_library.h"
#include "tests/support/module_harness.h"

namespace {

using testing_support::bitsOf;
using testing_support::ModuleHarness;

// Control values, by module name, each run in turn; modules without a control pin run once.
const std::map<std::string, std::vector<float>> kControlValues = {
    {"hardknee", {0.5f, 0.0f}}, {"peakhold", {100.0f}}, {"smoother", {10.0f}}};

// A module's pins as Dynamics.toml gives them, and the events that start it with `control`.
struct Driven {
    explicit Driven(const ovm::ModuleDescription& module, float control)
        : audioInputs(module.audioInputs()), output(module.audioOutput()), pins(audioInputs) {
        pins.push_back(output);
        std::map<int32_t, float> controls;
        for (int32_t pin = 0; pin < int32_t(module.pins.size()); ++pin)
            if (!module.pins[std::size_t(pin)].audio) controls[pin] = control;
        first = testing_support::startEvents(audioInputs, controls);
    }
    // The first input gets `signal`, a second one `other`.
    std::map<int32_t, std::vector<float>> inputs(const std::vector<float>& signal,
                                                 const std::vector<float>& other) const {
        std::map<int32_t, std::vector<float>> fed = {{audioInputs.at(0), signal}};
        if (audioInputs.size() > 1) fed[audioInputs[1]] = other;
        return fed;
    }
    std::vector<int32_t> audioInputs;
    int32_t output;
    std::vector<int32_t> pins;  // audio inputs, then the output
    host::EventList first;
};

// Calls f(module, driven) for every module and control value.
template <typename F>
void forEveryModule(F f) {
    for (const ovm::ModuleDescription& module : testing_support::dynamicsDescription().modules) {
        const auto values = kControlValues.find(module.name);
        for (const float control :
             values == kControlValues.end() ? std::vector<float>{0.0f} : values->second) {
            SCOPED_TRACE(testing::Message() << module.id << ", control " << control);
            f(module, Driven(module, control));
        }
    }
}

void expectSameBits(const std::vector<float>& result, const std::vector<float>& expected) {
    ASSERT_EQ(result.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k)
        ASSERT_EQ(bitsOf(result[k]), bitsOf(expected[k])) << "sample " << k;
}

// Blocks of random lengths, each split again by events that change nothing, against blocks
// of the harness's size. Subnormal inputs are among the samples.
TEST(EveryModule, OutputDoesNotDependOnHowTheSignalIsCut) {
    std::mt19937 random(11);
    const auto signal =
        testing_support::withTinyValues(testing_support::uniformNoise(50000, -2.0f, 2.0f, random), random);
    const auto other =
        testing_support::withTinyValues(testing_support::uniformNoise(50000, -2.0f, 2.0f, random), random);
    forEveryModule([&](const ovm::ModuleDescription& module, const Driven& d) {
        ModuleHarness whole(module.id, d.pins), split(module.id, d.pins);
        const auto expected = whole.run(d.inputs(signal, other), d.output, d.first);
        expectSameBits(
            split.runSplit(d.inputs(signal, other), d.output, d.audioInputs.back(), random, d.first),
            expected);
    });
}

TEST(EveryModule, GivesTheSameOutputWhenTheOutputSharesTheInputsBuffer) {
    std::mt19937 random(6);
    auto signal = testing_support::uniformNoise(30000, 0.01f, 1.5f, random);
    // NaN bursts send PeakHold through its exact ring and back.
    for (std::size_t at = 5000; at < signal.size(); at += 7000)
        signal[at] = std::numeric_limits<float>::quiet_NaN();
    const auto other = testing_support::uniformNoise(signal.size(), -1.5f, 1.5f, random);
    forEveryModule([&](const ovm::ModuleDescription& module, const Driven& d) {
        ModuleHarness separate(module.id, d.pins, 4096), inPlace(module.id, d.pins, 4096);
        const int32_t input = d.audioInputs.at(0);
        inPlace.shareBuffer(d.output, input);
        const auto expected = separate.run(d.inputs(signal, other), d.output, d.first);
        expectSameBits(inPlace.run(d.inputs(signal, other), input, d.first), expected);
    });
}

// 64-bit FNV-1a of the samples' bit patterns.
uint64_t digestOf(const std::vector<float>& samples) {
    uint64_t digest = 0xcbf29ce484222325u;
    for (const float sample : samples) {
        unsigned char bytes[4];
        std::memcpy(bytes, &sample, 4);
        for (const unsigned char byte : bytes) digest = (digest ^ byte) * 0x100000001b3u;
    }
    return digest;
}

// Noise in [-2, 2) made from the generator's words alone, which the standard fixes, so that
// every C++ library gives the same samples. In the second half every 37th sample is one of the
// values whose results the C libraries might choose differently (NaN's sign and payload).
std::vector<float> portableNoise(std::size_t count, std::mt19937& random) {
    using Limits = std::numeric_limits<float>;
    const float unusual[] = {Limits::quiet_NaN(), -Limits::quiet_NaN(), Limits::infinity(), -Limits::infinity(),
                             0.0f, -0.0f, Limits::denorm_min(), -Limits::max(), 0.1f, 1e-30f};
    std::vector<float> samples(count);
    for (std::size_t k = 0; k < count; ++k)
        samples[k] = k >= count / 2 && k % 37 == 0 ? unusual[k / 37 % std::size(unusual)] : float(int32_t(random())) * 0x1p-30f;
    return samples;
}

// Every system the library is built for gives the bits the Linux build gave when these
// digests were recorded, whichever vector path the processor takes: a change to any module's
// output shows here, as does a compiler or C library that computes differently.
TEST(RecordedOutput, EveryModuleGivesTheSameBitsOnEverySystem) {
    const std::map<std::string, uint64_t> recorded = {
        {"Orin Peak 0.000000", 0xf5fbbefc8b739f42u},       {"Orin Hard Knee 0.500000", 0xd805c41e32f6482au},
        {"Orin Hard Knee 0.000000", 0x5f7fa72945590f28u},  {"Orin Peak Hold 100.000000", 0x517f8b451b201e6u},
        {"Orin SmootherG 10.000000", 0x65161eb7437ae6f5u}, {"Orin Integrator 0.000000", 0xedb23d035b1ad029u},
        {"Orin ms2factor 0.000000", 0xa90211fdfb942c54u},  {"Orin factor2ms 0.000000", 0x51fac1367ab5cfd8u}};
    std::mt19937 random(2024);
    const auto signal = portableNoise(20000, random);
    const auto other = portableNoise(signal.size(), random);
    for (const ovm::ModuleDescription& module : testing_support::dynamicsDescription().modules) {
        const auto values = kControlValues.find(module.name);
        for (const float control : values == kControlValues.end() ? std::vector<float>{0.0f} : values->second) {
            const std::string key = module.id + " " + std::to_string(control);
            const Driven d(module, control);
            ModuleHarness harness(module.id, d.pins);
            const uint64_t digest = digestOf(harness.run(d.inputs(signal, other), d.output, d.first));
            const auto expected = recorded.find(key);
            EXPECT_TRUE(expected != recorded.end() && expected->second == digest)
                << "{\"" << key << "\", 0x" << std::hex << digest << "u},";
        }
    }
}

}  // namespace
