// Drives one module of the built Dynamics.ovm through the host library with whatever the
// input decodes to, and aborts when the module breaks the processing contract: a sample
// written outside the block or into an input, a canary overwritten, a sample of the block
// left unwritten while the module runs, or a streaming report outside the block.
//
// Input layout, read front to back (bytes past the end read as 0, and zeros decode to
// ordinary choices):
//   module       1 byte   index into kModules (mod 7)
//   sample rate  1 byte   see sampleRate()
//   block size   1 byte   what the host reports, see reportedBlockSize()
//   setup        1 byte   bit 0: also set buffers for pins without audio
//   then one process() call after another until the input or the sample budget runs out:
//     count      2 bytes  0 .. 4096 (mod 4099), 4097 gives -1, 4098 INT32_MIN
//     order      1 byte   bit 0: events sorted by position, as a host sends them
//     events     1 byte   how many (mod 17), each: kind, position, pin, payload (see planEvent)
//     audio      1 byte per audio input: keep, constant, repeated raw samples or ramp (see fillInput)
// fuzz/make_corpus.py writes seed inputs in this layout.

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/guarded_buffer.h"
#include "host/event_list.h"
#include "host/plugin_instance.h"
#include "tests/support/dynamics_library.h"

namespace {

using fuzzing::FuzzInput;
using fuzzing::GuardedBuffer;

constexpr int32_t kMaxBlock = 4096;
constexpr long long kSampleBudget = 65536;  // per input, to keep runs fast
constexpr int kMaxCalls = 512;
constexpr uint32_t kUnwritten = 0x7FA5A5A5u;  // prefilled into outputs: a signalling NaN

// The pins as modules/Dynamics.toml lists them.
struct ModuleShape {
    const char* id;
    int32_t pinCount;
    std::vector<int32_t> audioInputs;
    int32_t output;
};

const ModuleShape kModules[] = {
    {"Orin Peak", 3, {0, 1}, 2},   {"Orin Hard Knee", 3, {1}, 2},  {"Orin Peak Hold", 3, {1}, 2},
    {"Orin SmootherG", 3, {1}, 2}, {"Orin Integrator", 2, {0}, 1}, {"Orin ms2factor", 2, {0}, 1},
    {"Orin factor2ms", 2, {0}, 1},
};

[[noreturn]] void fault(const ModuleShape& module, int call, const char* what, long long detail = -1) {
    std::fprintf(stderr, "module_process_fuzzer: '%s', call %d: %s", module.id, call, what);
    if (detail >= 0) std::fprintf(stderr, " (%lld)", detail);
    std::fprintf(stderr, "\n");
    std::abort();
}

// Ordinary values and the ones that break careless arithmetic.
float edgeFloat(FuzzInput& in) {
    const uint8_t choice = in.byte();
    switch (choice % 16) {
        case 0:
            return float(in.byte()) / 16.0f;
        case 1:
            return std::numeric_limits<float>::quiet_NaN();
        case 2:
            return std::numeric_limits<float>::infinity();
        case 3:
            return -std::numeric_limits<float>::infinity();
        case 4:
            return std::numeric_limits<float>::denorm_min();
        case 5:
            return -FLT_MIN / 4;  // a negative subnormal
        case 6:
            return FLT_MAX;
        case 7:
            return -FLT_MAX;
        case 8:
            return 0.0f;
        case 9:
            return -0.0f;
        case 10:
            return 1e30f;
        case 11:
            return float(int8_t(in.byte()));
        case 12:
            return float(in.byte()) * 10.0f;  // milliseconds
        case 13:
            return float(in.u16()) * 100.0f;  // long times
        case 14:
            return 1.0f;
        default:
            return in.rawFloat();
    }
}

std::optional<float> sampleRate(FuzzInput& in) {
    static const float kRates[] = {48000.0f,
                                   44100.0f,
                                   96000.0f,
                                   192000.0f,
                                   8000.0f,
                                   1.0f,
                                   0.0f,
                                   -48000.0f,
                                   std::numeric_limits<float>::quiet_NaN(),
                                   std::numeric_limits<float>::infinity(),
                                   -std::numeric_limits<float>::infinity(),
                                   std::numeric_limits<float>::denorm_min(),
                                   FLT_MAX,
                                   22050.5f};
    const uint8_t choice = in.byte() % 16;
    if (choice == 14) return std::nullopt;  // a host that does not know it
    if (choice == 15) return in.rawFloat();
    return kRates[choice];
}

std::optional<int32_t> reportedBlockSize(FuzzInput& in) {
    switch (in.byte() % 8) {
        case 0:
            return 64;
        case 1:
            return 1;
        case 2:
            return kMaxBlock;
        case 3:
            return 0;
        case 4:
            return -1;
        case 5:
            return std::numeric_limits<int32_t>::max();
        case 6:
            return std::nullopt;
        default:
            return int32_t(in.u16());
    }
}

int32_t blockCount(FuzzInput& in) {
    const int32_t choice = in.u16() % (kMaxBlock + 3);
    if (choice == kMaxBlock + 1) return -1;
    if (choice == kMaxBlock + 2) return std::numeric_limits<int32_t>::min();
    return choice;
}

int32_t eventPosition(FuzzInput& in, int32_t count) {
    const uint8_t choice = in.byte();
    if (choice < 250) return int32_t(int64_t(choice) * std::max(count, 0) / 250);
    switch (choice) {
        case 250:
            return count;
        case 251:
            return count + 1;
        case 252:
            return -1;
        case 253:
            return std::numeric_limits<int32_t>::max();
        case 254:
            return std::numeric_limits<int32_t>::min();
        default:
            return int32_t(in.u32());
    }
}

// -1, the module's pins, and the two ids after them; or any id.
int32_t pinId(FuzzInput& in, int32_t pinCount) {
    const uint8_t choice = in.byte();
    if (choice == 255) return int32_t(in.u32());
    return choice % (pinCount + 3) - 1;
}

int32_t unknownType(FuzzInput& in) {
    static const int32_t kTypes[] = {0, 99, 105, -1, std::numeric_limits<int32_t>::max()};
    const uint8_t choice = in.byte() % 6;
    return choice < 5 ? kTypes[choice] : int32_t(in.u32());
}

struct PlannedEvent {
    enum Kind : uint8_t {
        value,
        rawValue,
        streamingOn,
        streamingOff,
        message,
        announce,
        unknown,
        externalValue
    };
    Kind kind = value;
    int32_t position = 0;
    int32_t type = 0;  // as the record carries it
    int32_t pin = -1;
    float floatValue = 0;
    int32_t size = 0;
    std::vector<uint8_t> bytes;  // exactly size bytes, so a read past them is caught
};

PlannedEvent planEvent(FuzzInput& in, int32_t count, int32_t pinCount) {
    PlannedEvent e;
    e.kind = PlannedEvent::Kind(in.byte() % 8);
    e.position = eventPosition(in, count);
    if (e.kind != PlannedEvent::announce) e.pin = pinId(in, pinCount);
    switch (e.kind) {
        case PlannedEvent::value:
            e.floatValue = edgeFloat(in);
            break;
        case PlannedEvent::rawValue:
            e.size = int32_t(in.byte() % 24) - 3;
            for (int32_t i = 0; i < e.size; ++i) e.bytes.push_back(in.byte());
            break;
        case PlannedEvent::externalValue: {
            const float v = edgeFloat(in);
            e.size = sizeof v;
            e.bytes.resize(sizeof v);
            std::memcpy(e.bytes.data(), &v, sizeof v);
            break;
        }
        case PlannedEvent::unknown:
            e.type = unknownType(in);
            break;
        default:
            break;
    }
    static const int32_t kTypes[] = {mp::kEventPinValue,
                                     mp::kEventPinValue,
                                     mp::kEventStreamingOn,
                                     mp::kEventStreamingOff,
                                     mp::kEventPinMessage,
                                     mp::kEventAnnounceOutputs,
                                     0,
                                     mp::kEventPinValue};
    if (e.kind != PlannedEvent::unknown) e.type = kTypes[e.kind];
    return e;
}

void emit(const PlannedEvent& e, host::EventList& events) {
    switch (e.kind) {
        case PlannedEvent::value:
            events.value(e.position, e.pin, e.floatValue);
            break;
        case PlannedEvent::rawValue:
            events.rawValue(e.position, e.pin, e.size, e.bytes.data());
            break;
        case PlannedEvent::externalValue:
            events.rawValue(e.position, e.pin, e.size, e.bytes.data(), true);
            break;
        case PlannedEvent::streamingOn:
            events.streaming(e.position, e.pin, true);
            break;
        case PlannedEvent::streamingOff:
            events.streaming(e.position, e.pin, false);
            break;
        case PlannedEvent::message:
            events.message(e.position, e.pin);
            break;
        case PlannedEvent::announce:
            events.announceOutputs(e.position);
            break;
        case PlannedEvent::unknown: {
            mp::EventRecord record{};
            record.position = e.position;
            record.type = e.type;
            record.pinId = e.pin;
            events.add(record);
            break;
        }
    }
}

void fillInput(FuzzInput& in, float* samples, int32_t count) {
    switch (in.byte() % 4) {
        case 0:
            return;  // keeps what the previous call had
        case 1:
            std::fill_n(samples, count, edgeFloat(in));
            break;
        case 2: {
            float pattern[64];
            const int length = 1 + in.byte() % 64;
            for (int i = 0; i < length; ++i) pattern[i] = in.rawFloat();
            for (int32_t i = 0; i < count; ++i) samples[i] = pattern[i % length];
            break;
        }
        default: {
            const float start = edgeFloat(in);
            const float step = edgeFloat(in);
            for (int32_t i = 0; i < count; ++i) samples[i] = start + step * float(i);
        }
    }
    // The unwritten marker must only ever come from the prefill.
    for (int32_t i = 0; i < count; ++i)
        if (GuardedBuffer::hasBits(samples[i], kUnwritten)) samples[i] = 0.0f;
}

// The first sample the module's run function must cover. The framework runs nothing until
// a group holding a pin-value or streaming event (whatever its pin) has been dispatched, as
// that choice is made in onPinsUpdated, and never dispatches an event at or past count.
int32_t firstCovered(const std::vector<PlannedEvent>& events, int32_t count, bool& running) {
    if (running) return 0;
    int32_t at = 0;
    for (const PlannedEvent& e : events) {
        if (e.position > at) {
            if (e.position >= count) break;
            at = e.position;
        }
        if (e.type >= mp::kEventPinValue && e.type <= mp::kEventStreamingOff) {
            running = true;
            return at;
        }
    }
    return count;
}

class ModuleRun {
public:
    ModuleRun(FuzzInput& in, const ModuleShape& shape)
        : in(in), shape(shape), instance(testing_support::dynamicsFactory(), shape.id) {
        instance.host().setSampleRate(sampleRate(in));
        instance.host().setBlockSize(reportedBlockSize(in));
        const bool strayBuffers = in.byte() & 1;
        for (int32_t pin = 0; pin < shape.pinCount; ++pin) {
            const bool audio = pin == shape.output ||
                               std::count(shape.audioInputs.begin(), shape.audioInputs.end(), pin) != 0;
            if (audio) {
                buffers.emplace_back(std::make_unique<GuardedBuffer>(kMaxBlock));
                instance.setBuffer(pin, buffers.back()->samples());
                (pin == shape.output ? output : inputs.emplace_back()) = buffers.back().get();
            } else if (strayBuffers) {
                instance.setBuffer(pin, nullptr);
            }
        }
        if (strayBuffers) instance.setBuffer(shape.pinCount, nullptr);
        instance.open();
    }

    void run() {
        long long samples = 0;
        for (int call = 0; call < kMaxCalls && samples < kSampleBudget && !in.empty(); ++call)
            samples += processOnce(call);
    }

private:
    int32_t processOnce(int call) {
        const int32_t count = blockCount(in);
        const int32_t n = std::max(count, 0);
        const bool sorted = in.byte() & 1;
        std::vector<PlannedEvent> planned;
        for (int i = in.byte() % 17; i > 0; --i) planned.push_back(planEvent(in, count, shape.pinCount));
        if (sorted)
            std::stable_sort(planned.begin(), planned.end(),
                             [](const auto& a, const auto& b) { return a.position < b.position; });
        host::EventList events;
        for (const PlannedEvent& e : planned) emit(e, events);

        std::vector<std::vector<float>> inputsBefore;
        for (GuardedBuffer* input : inputs) {
            fillInput(in, input->samples(), n);
            inputsBefore.emplace_back(input->samples(), input->samples() + kMaxBlock);
        }
        GuardedBuffer::fillBits(output->samples(), kMaxBlock, kUnwritten);
        const int32_t covered = firstCovered(planned, n, running);

        for (auto& buffer : buffers) buffer->guard(std::size_t(n));
        instance.process(count, events);
        for (auto& buffer : buffers) buffer->release();

        check(call, n, covered, inputsBefore);
        return n;
    }

    void check(int call, int32_t n, int32_t covered, const std::vector<std::vector<float>>& inputsBefore) {
        for (const auto& buffer : buffers)
            if (!buffer->canariesIntact()) fault(shape, call, "a canary beside a buffer was overwritten");
        for (std::size_t i = 0; i < inputsBefore.size(); ++i)
            if (std::memcmp(inputsBefore[i].data(), inputs[i]->samples(), kMaxBlock * sizeof(float)) != 0)
                fault(shape, call, "an input buffer was written");
        const float* out = output->samples();
        for (int32_t i = n; i < kMaxBlock; ++i)
            if (!GuardedBuffer::hasBits(out[i], kUnwritten))
                fault(shape, call, "output written past the block", i);
        // A module that asked to sleep leaves the rest of the block as it was.
        if (!instance.host().takeSleepRequest())
            for (int32_t i = covered; i < n; ++i)
                if (GuardedBuffer::hasBits(out[i], kUnwritten))
                    fault(shape, call, "output sample not written", i);
        for (const host::StreamingReport& report : instance.host().takeStreamingReports())
            if (report.pinId != shape.output || report.position < 0 || report.position > n)
                fault(shape, call, "streaming reported for a wrong pin or outside the block",
                      report.position);
    }

    FuzzInput& in;
    const ModuleShape& shape;
    host::PluginInstance instance;
    std::vector<std::unique_ptr<GuardedBuffer>> buffers;  // one per audio pin
    std::vector<GuardedBuffer*> inputs;                   // in pin id order
    GuardedBuffer* output = nullptr;
    bool running = false;  // whether the module's run function has been chosen
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const ModuleShape& shape = kModules[in.byte() % std::size(kModules)];
    ModuleRun(in, shape).run();
    return 0;
}
