// Drives one module of the built Dynamics.ovm through the host library with whatever the
// input decodes to, and aborts when the module breaks the processing contract: a sample
// written outside the block or into an input, a canary overwritten, a sample of the block
// left unwritten while the module runs, or a streaming report outside the block.
//
// Input layout, read front to back (bytes past the end read as 0, and zeros decode to
// ordinary choices):
//   module       1 byte   index into Dynamics.toml's modules (mod their number, 7)
//   sample rate  1 byte   see sampleRate()
//   block size   1 byte   what the host reports, see reportedBlockSize()
//   setup        1 byte   bit 0: also set buffers for pins without audio
//   then one process() call after another until the input or the sample budget runs out:
//     count      2 bytes  0 .. 4096 (mod 4099), 4097 gives -1, 4098 INT32_MIN
//     order      1 byte   bit 0: events sorted by position, as a host sends them
//     events     1 byte   how many (mod 17), each: kind, position, pin, payload (see planEvent);
//                         a value for a time pin is decoded as a time (see timeValue)
//     audio      1 byte per audio input: keep, constant, repeated raw samples or ramp (see fillInput)
// fuzz/make_corpus.py writes seed inputs in this layout.

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "host/event_list.h"
#include "host/guarded_buffer.h"
#include "host/module_driver.h"
#include "host/uninstrumented.h"
#include "tests/support/dynamics_library.h"

namespace {

using fuzzing::FuzzInput;
using host::GuardedBuffer;

constexpr int32_t kMaxBlock = 4096;
// Per input: one of the longest blocks, or hundreds of short ones. Under the sanitizers and
// the coverage instrumentation a sample costs tens of nanoseconds in the module's own loops,
// and the fuzzer learns more from many short inputs than from long ones: windows are mostly
// up to 256 samples (see timeValue), which 4096 samples pass through many times.
constexpr long long kSampleBudget = 4096;
constexpr int kMaxCalls = 512;
constexpr uint32_t kUnwritten = 0x7FA5A5A5u;  // prefilled into outputs: a signalling NaN

constexpr std::size_t kCanaries = 16;
constexpr uint32_t kCanaryBits = 0x7F8DEAD1u;  // a signalling NaN no module makes

// Under AddressSanitizer everything past the block is poisoned during a call (see
// GuardedBuffer), so a module that touches it is stopped there, and the checks after a call
// need to look only at the block: a run of hundreds of short blocks then costs the harness
// in proportion to its samples, not to the buffers. Without it they look at the whole buffers.
constexpr bool kTailPoisoned = GuardedBuffer::kPoisons;

// A module's pins as Dynamics.toml lists them; the time pin is the control pin in ms.
struct ModuleShape {
    std::string id;
    int32_t pinCount;
    std::vector<int32_t> audioInputs;
    int32_t output;
    int32_t timePin;
};

// Read when the program starts: read during the first input, the reading's coverage would
// be credited to that input.
const std::vector<ModuleShape> kModules = [] {
    std::vector<ModuleShape> shapes;
    for (const ovm::ModuleDescription& m : testing_support::dynamicsDescription().modules)
        shapes.push_back({m.id, int32_t(m.pins.size()), m.audioInputs(), m.audioOutput(), m.timePin()});
    return shapes;
}();

[[noreturn]] void fault(const ModuleShape& module, int call, const char* what, long long detail = -1) {
    std::fprintf(stderr, "module_process_fuzzer: '%s', call %d: %s", module.id.c_str(), call, what);
    if (detail >= 0) std::fprintf(stderr, " (%lld)", detail);
    std::fprintf(stderr, "\n");
    std::abort();
}

// The first index in [from, to) where a sample has (has = true) or lacks the bit pattern.
// The scan without an early exit vectorises; the index is looked for only on a fault.
UNINSTRUMENTED int32_t firstWithBits(const float* samples, int32_t from, int32_t to, uint32_t bits,
                                     bool has) {
    bool any = false;
    for (int32_t i = from; i < to; ++i) any |= (__builtin_bit_cast(uint32_t, samples[i]) == bits) == has;
    if (!any) return to;
    int32_t i = from;
    while ((__builtin_bit_cast(uint32_t, samples[i]) == bits) != has) ++i;
    return i;
}

UNINSTRUMENTED bool sameBits(const float* a, const float* b, int32_t count) {
    uint32_t differences = 0;
    for (int32_t i = 0; i < count; ++i)
        differences |= __builtin_bit_cast(uint32_t, a[i]) ^ __builtin_bit_cast(uint32_t, b[i]);
    return differences == 0;
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

// Which times an input may ask for beyond the ordinary ones. Both are decided by the
// input's digest, which the fuzzer does not steer: a mutation of an input that reached new
// code with them mostly loses them, so the fuzzer does not keep asking for what costs most.
struct TimeAllowance {
    explicit TimeAllowance(const FuzzInput& in)
        : longWindows(in.digest() % 8 == 0), anyValue(in.digest() % 4096 == 0) {}
    bool longWindows;  // windows up to 2^16 and 2^18 samples
    bool anyValue;     // one time value of any kind; cleared once used
};

// A time for a time pin, in ms. A window costs the module memory and time in proportion to
// its length, up to its longest (16 MiB, filled at every new time: a hundredth of a second
// under the sanitizers, longer than the rest of an input), so the choices give windows in
// samples at the host's rate (at 48 kHz when the rate is unusable): mostly up to 256 samples,
// and in one input in 8 one in 16 up to 2^16 or (one in 64) 2^18 (5.5 s at 48 kHz). The rest are
// the values every module turns into a window of one sample. A negative rate turns the signs
// of times over, so the choices are mirrored for it: unmirrored, its -inf and negative times
// would all be the longest window. Any value at all, which is how the longest window, whatever
// it is, is reached without naming it here, comes at most once per input and only in one input
// in 4096.
float timeValue(FuzzInput& in, std::optional<float> rate, TimeAllowance& allowed) {
    const uint8_t choice = in.byte();
    if (choice == 255 && allowed.anyValue) {
        allowed.anyValue = false;
        return edgeFloat(in);
    }
    const float sign = rate && *rate < 0 ? -1.0f : 1.0f;
    // At an infinite rate every positive time is the longest window.
    if (rate && std::isinf(*rate)) return sign * (choice % 2 ? 0.0f : -1.0f);
    const float perSecond = rate ? std::fabs(*rate) : 0.0f;
    const double usable = std::isfinite(perSecond) && perSecond >= 1.0f ? double(perSecond) : 48000.0;
    const auto window = [&](double samples) { return sign * float(samples * 1000.0 / usable); };
    const int kind = choice % 64;
    if (kind < 36) return window(in.byte());
    if (kind < 40) return window(in.byte() + 0.5);  // how the module rounds
    if (kind < 44 && !allowed.longWindows) return window(in.byte());
    if (kind < 43) return window(in.u16());
    if (kind < 44) return window(double(in.u16()) * 4.0);
    if (kind < 48) return std::numeric_limits<float>::quiet_NaN();
    if (kind < 52) return -sign * std::numeric_limits<float>::infinity();
    if (kind < 56) return -sign * float(in.byte());
    if (kind < 60) return sign * std::numeric_limits<float>::denorm_min();
    return sign * (kind < 62 ? -0.0f : 0.0f);
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

PlannedEvent planEvent(FuzzInput& in, int32_t count, const ModuleShape& shape, std::optional<float> rate,
                       TimeAllowance& allowedTimes) {
    PlannedEvent e;
    e.kind = PlannedEvent::Kind(in.byte() % 8);
    e.position = eventPosition(in, count);
    if (e.kind != PlannedEvent::announce) e.pin = pinId(in, shape.pinCount);
    const auto value = [&] {
        return e.pin == shape.timePin ? timeValue(in, rate, allowedTimes) : edgeFloat(in);
    };
    switch (e.kind) {
        case PlannedEvent::value:
            e.floatValue = value();
            break;
        case PlannedEvent::rawValue:
            e.size = int32_t(in.byte() % 24) - 3;
            for (int32_t i = 0; i < e.size; ++i) e.bytes.push_back(in.byte());
            // Whatever the size, a time pin may read a float from the front. Fewer bytes than
            // a float are read as its low bytes, a subnormal time: at an infinite rate the
            // longest window, so there they are zeros.
            if (e.pin == shape.timePin && e.size >= int32_t(sizeof(float))) {
                const float v = value();
                std::memcpy(e.bytes.data(), &v, sizeof v);
            } else if (e.pin == shape.timePin && rate && std::isinf(*rate)) {
                std::fill(e.bytes.begin(), e.bytes.end(), uint8_t{0});
            }
            break;
        case PlannedEvent::externalValue: {
            const float v = value();
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

UNINSTRUMENTED void fillPattern(float* samples, int32_t count, const float* pattern, int length) {
    for (int32_t i = 0, k = 0; i < count; ++i, k = k + 1 == length ? 0 : k + 1) samples[i] = pattern[k];
}

UNINSTRUMENTED void fillRamp(float* samples, int32_t count, float start, float step) {
    for (int32_t i = 0; i < count; ++i) samples[i] = start + step * float(i);
}

// The unwritten marker must only ever come from the prefill. Its negative twin goes too: a
// module that takes magnitudes (Peak) clears the sign bit of a signalling NaN without
// quieting it, and would write the marker itself.
UNINSTRUMENTED void clearMarkers(float* samples, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        if ((__builtin_bit_cast(uint32_t, samples[i]) & 0x7FFFFFFFu) == kUnwritten) samples[i] = 0.0f;
}

void fillInput(FuzzInput& in, float* samples, int32_t count) {
    switch (in.byte() % 4) {
        case 0:
            return;  // keeps what the previous call had
        case 1: {
            const float value = edgeFloat(in);
            fillPattern(samples, count, &value, 1);
            break;
        }
        case 2: {
            float pattern[64];
            const int length = 1 + in.byte() % 64;
            for (int i = 0; i < length; ++i) pattern[i] = in.rawFloat();
            fillPattern(samples, count, pattern, length);
            break;
        }
        default: {
            const float start = edgeFloat(in);
            const float step = edgeFloat(in);
            fillRamp(samples, count, start, step);
        }
    }
    clearMarkers(samples, count);
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

// The sample buffers, made once and handed out in order: each input gets them as fresh ones
// (zeros), so inputs stay independent without allocating and poisoning buffers every time.
GuardedBuffer& freshBuffer(std::size_t index) {
    static std::vector<std::unique_ptr<GuardedBuffer>> made;
    while (made.size() <= index)
        made.push_back(
            std::make_unique<GuardedBuffer>(kMaxBlock, kCanaries, kCanaryBits, GuardedBuffer::Poison::yes));
    GuardedBuffer::fillBits(made[index]->samples(), kMaxBlock, 0);
    return *made[index];
}

class ModuleRun {
public:
    ModuleRun(FuzzInput& in, const ModuleShape& shape)
        : in(in),
          shape(shape),
          rate(sampleRate(in)),
          instance(testing_support::dynamicsFactory(), shape.id, {reportedBlockSize(in), rate, nullptr}) {
        const bool strayBuffers = in.byte() & 1;
        for (int32_t pin = 0; pin < shape.pinCount; ++pin) {
            const bool audio = pin == shape.output ||
                               std::count(shape.audioInputs.begin(), shape.audioInputs.end(), pin) != 0;
            if (audio) {
                buffers.push_back(&freshBuffer(buffers.size()));
                instance.setBuffer(pin, buffers.back()->samples());
                (pin == shape.output ? output : inputs.emplace_back()) = buffers.back();
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
        for (int i = in.byte() % 17; i > 0; --i)
            planned.push_back(planEvent(in, count, shape, rate, allowedTimes));
        if (sorted)
            std::stable_sort(planned.begin(), planned.end(),
                             [](const auto& a, const auto& b) { return a.position < b.position; });
        host::EventList events;
        for (const PlannedEvent& e : planned) emit(e, events);

        const int32_t checked = kTailPoisoned ? n : kMaxBlock;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            fillInput(in, inputs[i]->samples(), n);
            std::memcpy(inputsBefore[i].data(), inputs[i]->samples(), std::size_t(checked) * sizeof(float));
        }
        GuardedBuffer::fillBits(output->samples(), std::size_t(checked), kUnwritten);
        const int32_t covered = firstCovered(planned, n, running);

        for (auto& buffer : buffers) buffer->guardBlock(std::size_t(n));
        instance.process(count, events);
        for (auto& buffer : buffers) buffer->release();

        check(call, n, checked, covered);
        return n;
    }

    // `checked`: how far the buffers were prepared and are compared.
    void check(int call, int32_t n, int32_t checked, int32_t covered) {
        for (const auto& buffer : buffers)
            if (!buffer->canariesIntact()) fault(shape, call, "a canary beside a buffer was overwritten");
        for (std::size_t i = 0; i < inputs.size(); ++i)
            if (!sameBits(inputsBefore[i].data(), inputs[i]->samples(), checked))
                fault(shape, call, "an input buffer was written");
        const float* out = output->samples();
        if (const int32_t i = firstWithBits(out, n, checked, kUnwritten, false); i < checked)
            fault(shape, call, "output written past the block", i);
        // A module that asked to sleep leaves the rest of the block as it was.
        if (!instance.asleep())
            if (const int32_t i = firstWithBits(out, covered, n, kUnwritten, true); i < n)
                fault(shape, call, "output sample not written", i);
        for (const host::StreamingReport& report : instance.host().takeStreamingReports())
            if (report.pinId != shape.output || report.position < 0 || report.position > n)
                fault(shape, call, "streaming reported for a wrong pin or outside the block",
                      report.position);
    }

    FuzzInput& in;
    const ModuleShape& shape;
    const std::optional<float> rate;  // as the host reports it
    TimeAllowance allowedTimes{in};   // see timeValue
    host::ModuleDriver instance;
    std::vector<GuardedBuffer*> buffers;                         // one per audio pin
    std::vector<GuardedBuffer*> inputs;                          // in pin id order
    static inline std::array<float, kMaxBlock> inputsBefore[2];  // each input as the module got it
    GuardedBuffer* output = nullptr;
    bool running = false;  // whether the module's run function has been chosen
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const ModuleShape& shape = kModules[in.byte() % kModules.size()];
    ModuleRun(in, shape).run();
    return 0;
}
