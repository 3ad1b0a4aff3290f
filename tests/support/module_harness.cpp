#include "tests/support/module_harness.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/dynamics_library.h"

namespace testing_support {

ModuleHarness::ModuleHarness(std::string_view moduleId, std::vector<int32_t> audioPins, int32_t maxBlock)
    : instance(dynamicsFactory(), moduleId), maxBlock(maxBlock) {
    for (int32_t pin : audioPins) {
        auto& samples = buffers[pin];
        samples.assign(std::size_t(maxBlock), 0.0f);
        instance.setBuffer(pin, samples.data());
    }
    instance.open();
}

void ModuleHarness::loadBlock(const std::map<int32_t, std::vector<float>>& inputs, std::size_t start,
                              int32_t count) {
    for (const auto& [pin, signal] : inputs)
        std::copy_n(signal.begin() + std::ptrdiff_t(start), count, buffers.at(pin).begin());
}

std::vector<float> ModuleHarness::run(const std::map<int32_t, std::vector<float>>& inputs, int32_t outputPin,
                                      host::EventList first) {
    const std::size_t total = inputs.empty() ? 0 : inputs.begin()->second.size();
    std::vector<float> output;
    output.reserve(total);
    for (std::size_t start = 0; start < total; start += std::size_t(maxBlock)) {
        const auto count = int32_t(std::min<std::size_t>(std::size_t(maxBlock), total - start));
        loadBlock(inputs, start, count);
        if (start == 0)
            process(count, first);
        else
            process(count);
        const auto& out = buffers.at(outputPin);
        output.insert(output.end(), out.begin(), out.begin() + count);
    }
    return output;
}

std::vector<float> ModuleHarness::runSplit(const std::map<int32_t, std::vector<float>>& inputs,
                                           int32_t outputPin, int32_t streamingPin, std::mt19937& random,
                                           host::EventList first) {
    const std::size_t total = inputs.empty() ? 0 : inputs.begin()->second.size();
    std::vector<float> output;
    output.reserve(total);
    std::uniform_int_distribution<int32_t> blockLength(1, maxBlock);
    std::uniform_int_distribution<int32_t> splitCount(0, 4);
    for (std::size_t start = 0; start < total;) {
        const auto count = int32_t(std::min<std::size_t>(std::size_t(blockLength(random)), total - start));
        loadBlock(inputs, start, count);
        host::EventList events = start == 0 ? first : host::EventList{};
        std::vector<int32_t> positions(std::size_t(splitCount(random)));
        for (auto& position : positions)
            position = std::uniform_int_distribution<int32_t>(0, count - 1)(random);
        std::sort(positions.begin(), positions.end());
        for (int32_t position : positions) events.streaming(position, streamingPin, true);
        process(count, events);
        const auto& out = buffers.at(outputPin);
        output.insert(output.end(), out.begin(), out.begin() + count);
        start += std::size_t(count);
    }
    return output;
}

std::vector<float> uniformNoise(std::size_t count, float low, float high, std::mt19937& random) {
    std::uniform_real_distribution<float> distribution(low, high);
    std::vector<float> samples(count);
    for (auto& sample : samples) sample = distribution(random);
    return samples;
}

void expectBitIdentical(const std::vector<float>& output, const std::vector<float>& expected) {
    ASSERT_EQ(output.size(), expected.size());
    for (std::size_t k = 0; k < output.size(); ++k)
        ASSERT_EQ(bitsOf(output[k]), bitsOf(expected[k])) << "sample " << k << ": " << output[k];
}

std::vector<float> withTinyValues(std::vector<float> samples, std::mt19937& random) {
    constexpr uint32_t kSignBit = 0x80000000u, kLargestSubnormal = 0x007fffffu;
    std::uniform_int_distribution<uint32_t> tiny(0, kLargestSubnormal);
    for (auto& sample : samples) {
        if (random() % 8 != 0) continue;
        const uint32_t bits = (random() % 2 ? kSignBit : 0u) | (random() % 4 == 0 ? 0u : tiny(random));
        sample = host::fromBits(bits);
    }
    return samples;
}

}  // namespace testing_support
