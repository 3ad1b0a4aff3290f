#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string_view>
#include <vector>

#include "host/event_list.h"
#include "host/module_driver.h"
#include "host/sample_bits.h"

namespace testing_support {

// One module from the built Dynamics.ovm with a recording host and a buffer per audio pin,
// driven through the real binary interface.
class ModuleHarness {
public:
    // audioPins: the ids of the module's audio pins, each given a buffer of maxBlock samples.
    ModuleHarness(std::string_view moduleId, std::vector<int32_t> audioPins, int32_t maxBlock = 8192);

    host::ModuleHost& host() { return instance.host(); }
    mp::IMpPlugin2& plugin() { return instance.plugin(); }
    std::vector<float>& buffer(int32_t pinId) { return buffers.at(pinId); }

    // Gives `pin` the buffer of `owner`, as a host that processes in place does.
    void shareBuffer(int32_t pin, int32_t owner) { instance.setBuffer(pin, buffers.at(owner).data()); }
    void process(int32_t count, host::EventList& events) { instance.process(count, events); }
    void process(int32_t count) { instance.process(count); }

    // Processes a whole signal in blocks of at most maxBlock samples: inputs[pin] feeds
    // that pin's buffer; returns what the output pin received. `first` is sent with the
    // first block only.
    std::vector<float> run(const std::map<int32_t, std::vector<float>>& inputs, int32_t outputPin,
                           host::EventList first = {});
    // The same signal, cut into random blocks, each further split at random positions by
    // events that change nothing (a repeated StreamingOn on streamingPin).
    std::vector<float> runSplit(const std::map<int32_t, std::vector<float>>& inputs, int32_t outputPin,
                                int32_t streamingPin, std::mt19937& random, host::EventList first = {});

private:
    void loadBlock(const std::map<int32_t, std::vector<float>>& inputs, std::size_t start, int32_t count);

    host::ModuleDriver instance;
    int32_t maxBlock;
    std::map<int32_t, std::vector<float>> buffers;
};

using host::bitsOf;
using host::startEvents;

std::vector<float> uniformNoise(std::size_t count, float low, float high, std::mt19937& random);

// The samples with about one in eight replaced by a subnormal or a zero of either sign: a
// decaying signal reaches them, and a host running with denormals-are-zero reads the
// subnormals as zero.
std::vector<float> withTinyValues(std::vector<float> samples, std::mt19937& random);

// Fails the test at the first sample whose bits differ from the expected ones, naming it.
void expectBitIdentical(const std::vector<float>& output, const std::vector<float>& expected);

// The signal through a kernel's run(in, out, count) in runs of random length up to 300, in
// place (out = in) when asked: cut and passed as a host may.
template <typename Run>
std::vector<float> inRandomRuns(const std::vector<float>& input, bool inPlace, std::mt19937& random, Run&& run) {
    std::vector<float> scratch = input;
    std::vector<float> output(input.size());
    for (std::size_t done = 0; done < input.size();) {
        const std::size_t length = std::min(input.size() - done, std::size_t(random() % 301));
        run(scratch.data() + done, (inPlace ? scratch : output).data() + done, int32_t(length));
        done += length;
    }
    return inPlace ? scratch : output;
}

}  // namespace testing_support
