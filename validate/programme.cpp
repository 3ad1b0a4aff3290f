#include "validate/programme.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "abi/event_record.h"

namespace ovm::validate {

namespace {

float typicalValue(const PinDescription& pin, std::mt19937_64& random) {
    if (pin.unit == "ms") return std::uniform_real_distribution<float>(0.1f, 50.0f)(random);
    return std::uniform_real_distribution<float>(0.05f, 1.0f)(random);
}

void addStartEvents(const ModuleDescription& module, Programme& programme, std::mt19937_64& random) {
    for (int32_t id = 0; id < int32_t(module.pins.size()); ++id) {
        const PinDescription& pin = module.pins[std::size_t(id)];
        if (pin.output) continue;
        if (pin.audio)
            programme.events.push_back({0, mp::kEventStreamingOn, id});
        else
            programme.events.push_back({0, mp::kEventPinValue, id, typicalValue(pin, random)});
    }
    programme.events.push_back({0, mp::kEventAnnounceOutputs, -1});
}

// Stretches shared by all inputs: streaming noise, or a constant per input.
void addInputStretches(const ModuleDescription& module, Programme& programme, std::mt19937_64& random) {
    std::uniform_real_distribution<float> level(1e-3f, 1.0f);
    std::uniform_int_distribution<int32_t> shortStretch(1, 300), longStretch(300, 3000);
    for (int32_t id = 0; id < int32_t(module.pins.size()); ++id)
        if (module.pins[std::size_t(id)].audio && !module.pins[std::size_t(id)].output)
            programme.inputs[id].resize(std::size_t(programme.length));
    bool streaming = true;
    for (int32_t start = 0; start < programme.length;) {
        const int32_t length =
            std::min(programme.length - start, (random() % 3 == 0 ? shortStretch : longStretch)(random));
        for (auto& [id, samples] : programme.inputs) {
            const float constant = level(random);
            for (int32_t i = start; i < start + length; ++i)
                samples[std::size_t(i)] = streaming ? level(random) : constant;
            if (start > 0)
                programme.events.push_back(
                    {start, streaming ? mp::kEventStreamingOn : mp::kEventStreamingOff, id});
        }
        start += length;
        streaming = !streaming;
    }
}

void addValueChanges(const ModuleDescription& module, Programme& programme, std::mt19937_64& random) {
    std::uniform_int_distribution<int32_t> position(1, std::max(1, programme.length - 1));
    for (int32_t id = 0; id < int32_t(module.pins.size()); ++id) {
        const PinDescription& pin = module.pins[std::size_t(id)];
        if (pin.audio || pin.output) continue;
        for (int32_t n = programme.length / 1500; n > 0; --n) {
            const int32_t at = position(random);
            programme.events.push_back({at, mp::kEventPinValue, id, typicalValue(pin, random)});
            // Now and then a second value at the same position: the later one counts.
            if (n % 4 == 0)
                programme.events.push_back({at, mp::kEventPinValue, id, typicalValue(pin, random)});
        }
    }
}

}  // namespace

Programme makeProgramme(const ModuleDescription& module, uint64_t seed, int32_t length) {
    std::mt19937_64 random(seed);
    Programme programme;
    programme.length = length;
    addStartEvents(module, programme, random);
    addInputStretches(module, programme, random);
    addValueChanges(module, programme, random);
    std::stable_sort(programme.events.begin(), programme.events.end(),
                     [](const TimedEvent& a, const TimedEvent& b) { return a.at < b.at; });
    return programme;
}

const std::vector<float>& extremeValues() {
    static const std::vector<float> values = {0.0f,
                                              -0.0f,
                                              -1.0f,
                                              -1e30f,
                                              1e-30f,
                                              1e30f,
                                              std::numeric_limits<float>::max(),
                                              -std::numeric_limits<float>::max(),
                                              std::numeric_limits<float>::quiet_NaN(),
                                              std::numeric_limits<float>::infinity(),
                                              -std::numeric_limits<float>::infinity(),
                                              std::numeric_limits<float>::denorm_min(),
                                              1e-40f,
                                              2147483648.0f};
    return values;
}

Partition fixedBlocks(int32_t size) {
    return [size] { return size; };
}

Partition randomBlocks(uint64_t seed, int32_t maxSize) {
    auto random = std::make_shared<std::mt19937_64>(seed);
    return [random, maxSize] {
        switch ((*random)() % 8) {
            case 0:
                return int32_t(0);
            case 1:
                return int32_t((*random)() % std::uint64_t(maxSize + 1));
            default:
                return int32_t(1 + (*random)() % 200);
        }
    };
}

uint64_t mixSeed(uint64_t seed, const std::string& name) {
    // FNV-1a over the name, folded into the seed.
    uint64_t hash = 1469598103934665603ull ^ seed;
    for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

}  // namespace ovm::validate
