#include "validate/subject.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ovm::validate {

namespace {

// Quiet NaNs with payloads no module computes: an output sample still holding the marker
// was not written; a canary that changed was written over. Inputs and outputs have
// different canaries, since arithmetic on a NaN passes its payload on: a module that
// computes from the input's canary and stores past its output's block is still seen.
constexpr uint32_t kMarkerBits = 0x7FC0DEADu;
constexpr uint32_t kCanaryBits = 0x7FC0CA7Eu;
constexpr uint32_t kInputCanaryBits = 0x7FC01A7Eu;
constexpr int32_t kGuard = 64;

using host::fromBits;

bool isMarker(float value) { return bitsOf(value) == kMarkerBits; }

bool isTypical(float value) { return value == 0.0f || std::isnormal(value); }

}  // namespace

std::string describeSample(float value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g (0x%08x)", double(value), bitsOf(value));
    return text;
}

// A pin's samples with a guard zone on either side.
struct Subject::Buffer {
    Buffer(bool output, int32_t capacity)
        : output(output), guarded(std::size_t(capacity), kGuard, kCanaryBits) {}
    bool output;
    host::GuardedBuffer guarded;
    std::vector<float> given;  // the window as handed over, for inputs
    float* data() { return guarded.samples(); }
    float* window() { return guarded.withGuards(); }
};

Subject::Subject(mp::IMpFactory2& factory, const ModuleDescription& description, const Programme& input,
                 SubjectOptions runOptions)
    : module(description), programme(input), options(std::move(runOptions)) {
    try {
        driver = std::make_unique<host::ModuleDriver>(
            factory, module.id,
            host::DriverSettings{options.hostBlockSize, options.sampleRate,
                                 options.makeHost ? options.makeHost() : nullptr});
    } catch (const host::ModuleCreationError& refused) {
        violation("create", "createInstanceWithHost returned " + std::to_string(refused.result));
        position = programme.length;
        return;
    }
    for (int32_t pin = 0; pin < int32_t(module.pins.size()); ++pin) {
        const PinDescription& described = module.pins[std::size_t(pin)];
        if (!described.audio) continue;
        auto made = std::make_unique<Buffer>(described.output, options.capacity);
        if (described.output) {
            outputStates[pin] = {};
            produced[pin];
        }
        driver->setBuffer(pin, made->data());
        buffers[pin] = std::move(made);
    }
    driver->open();
    events.reserve(64);
}

Subject::~Subject() = default;

Subject::Buffer& Subject::buffer(int32_t pinId) { return *buffers.at(pinId); }

void Subject::runToEnd(const Partition& partition) {
    int zeros = 0;
    while (!finished()) {
        int32_t count = partition();
        // A partition may ask for empty blocks, but not forever.
        zeros = count <= 0 ? zeros + 1 : 0;
        if (zeros > 3) count = 1;
        block(std::max(count, 0));
    }
}

void Subject::block(int32_t count) {
    if (!driver) return;
    count = std::min(count, programme.length - position);
    buildEvents(count);
    if (options.honourSleep && driver->maySkip(!events.empty())) {
        holdWhileAsleep(count);
        position += count;
        return;
    }
    prepare(count);
    bool hasValueEvent = false;
    for (const mp::EventRecord* e = events.head(); e != nullptr; e = e->next)
        hasValueEvent = hasValueEvent || e->type == mp::kEventPinValue;
    if (options.aroundProcess) options.aroundProcess(true, hasValueEvent);
    driver->process(count, events);
    if (options.aroundProcess) options.aroundProcess(false, hasValueEvent);
    const bool slept = driver->asleep();
    check(count, slept);
    collect(count);
    if (slept && sleepCount == 0) firstSleep = SleepCall{position, position + count, lastStatic};
    if (slept) ++sleepCount;
    position += count;
}

// Events inside the block, at positions relative to it; the host's view of the input
// streaming states and control values follows them.
void Subject::buildEvents(int32_t count) {
    events.clear();
    while (nextEvent < programme.events.size() && programme.events[nextEvent].at < position + count) {
        const TimedEvent& e = programme.events[nextEvent++];
        const int32_t at = e.at - position;
        events.event(at, e.type, e.pinId, e.value);
        if (e.type == mp::kEventPinValue)
            controlValues[e.pinId] = e.value;
        else if (e.type == mp::kEventStreamingOn || e.type == mp::kEventStreamingOff)
            inputStreaming[e.pinId] = e.type == mp::kEventStreamingOn;
    }
}

void Subject::prepare(int32_t count) {
    // Only the block and the guard zones around it are set and checked: a one-sample block
    // must not cost a pass over the whole capacity.
    const auto window = std::size_t(count + 2 * kGuard);
    for (auto& [pin, b] : buffers) {
        std::fill_n(b->window(), window, fromBits(b->output ? kCanaryBits : kInputCanaryBits));
        if (b->output) {
            std::fill_n(b->data(), count, fromBits(kMarkerBits));
        } else {
            const std::vector<float>& samples = programme.inputs.at(pin);
            std::copy_n(samples.begin() + position, count, b->data());
            b->given.assign(b->window(), b->window() + window);
        }
    }
}

void Subject::check(int32_t count, bool sleptNow) {
    const auto window = std::size_t(count + 2 * kGuard);
    for (auto& [pin, b] : buffers) {
        for (std::size_t i = 0; i < window; ++i) {
            const auto at = int32_t(i) - kGuard;
            const bool inBlock = at >= 0 && at < count;
            const uint32_t expected = b->output ? kCanaryBits : bitsOf(b->given[i]);
            if ((b->output && inBlock) || bitsOf(b->window()[i]) == expected) continue;
            violation(inBlock ? "inputs" : "canaries",
                      "pin " + std::to_string(pin) + ": sample " + std::to_string(at) + " of a " +
                          std::to_string(count) + "-sample block " + (inBlock ? "changed" : "written") +
                          " (now " + describeSample(b->window()[i]) + ")");
            break;
        }
    }
    std::vector<host::StreamingReport> reports = driver->host().takeStreamingReports();
    checkReports(count, reports);
    for (const host::StreamingReport& r : reports)
        if (!r.streaming) lastStatic = position + r.position;
    for (auto& [pin, state] : outputStates) followOutput(pin, count, sleptNow, reports);
    if (sleptNow) {
        for (const auto& [pin, on] : inputStreaming)
            if (on) violation("sleep", "asked to sleep while input pin " + std::to_string(pin) + " streams");
        for (const auto& [pin, state] : outputStates)
            if (state.streaming)
                violation("sleep", "asked to sleep while output pin " + std::to_string(pin) + " streams");
    }
    checkFinite(count);
}

void Subject::checkReports(int32_t count, std::vector<host::StreamingReport>& reports) {
    for (const host::StreamingReport& r : reports) {
        if (outputStates.count(r.pinId) == 0)
            violation("reports", "streaming reported for pin " + std::to_string(r.pinId) +
                                     ", which is not an audio output");
        else if (r.position < 0 || (r.position >= count && !(count == 0 && r.position == 0)))
            violation("reports", "streaming of pin " + std::to_string(r.pinId) + " reported at position " +
                                     std::to_string(r.position) + " in a " + std::to_string(count) +
                                     "-sample block");
    }
    std::stable_sort(reports.begin(), reports.end(),
                     [](const auto& a, const auto& b) { return a.position < b.position; });
}

// Walks the pin's samples with its reports: an unwritten sample is allowed only in the tail
// that a sleep request leaves on a static output (it is filled with the static value, as a
// host does), and a static output must hold the value it had where it was reported static.
void Subject::followOutput(int32_t pin, int32_t count, bool sleptNow,
                           const std::vector<host::StreamingReport>& reports) {
    OutputState& state = outputStates[pin];
    float* out = buffer(pin).data();
    auto next = reports.begin();
    bool reportedUnwritten = false, reportedChange = false;
    for (int32_t i = 0; i < count; ++i) {
        for (; next != reports.end() && next->position <= i; ++next) {
            if (next->pinId != pin) continue;
            state.streaming = next->streaming;
            state.staticBits.reset();
            if (!state.streaming && !isMarker(out[i])) state.staticBits = bitsOf(out[i]);
        }
        if (isMarker(out[i])) {
            const bool laterReport =
                std::any_of(next, reports.end(), [&](auto& r) { return r.pinId == pin; });
            const bool tail = std::all_of(out + i, out + count, isMarker);
            if (!(sleptNow && !state.streaming && tail && !laterReport) && !reportedUnwritten) {
                violation("written",
                          "pin " + std::to_string(pin) + ": sample " + std::to_string(i) + " of a " +
                              std::to_string(count) + "-sample block left unwritten" +
                              (sleptNow ? " (a sleep leaves only the tail of a static output)" : ""));
                reportedUnwritten = true;
            }
            out[i] = fromBits(state.staticBits.value_or(0));
        } else if (!state.streaming && state.staticBits && bitsOf(out[i]) != *state.staticBits &&
                   !reportedChange) {
            violation("static", "pin " + std::to_string(pin) + " reported static with " +
                                    describeSample(fromBits(*state.staticBits)) + ", but sample " +
                                    std::to_string(position + i) + " is " + describeSample(out[i]));
            reportedChange = true;
        }
    }
    for (; next != reports.end(); ++next)
        if (next->pinId == pin) state.streaming = next->streaming;
}

void Subject::checkFinite(int32_t count) {
    if (!options.checkFinite || !programme.typicalValues) return;
    for (const auto& [pin, state] : outputStates) {
        const float* out = buffer(pin).data();
        for (int32_t i = 0; i < count; ++i) {
            if (isTypical(out[i])) continue;
            violation(std::isfinite(out[i]) ? "subnormal" : "finite",
                      "pin " + std::to_string(pin) + ": sample " + std::to_string(position + i) + " is " +
                          describeSample(out[i]) + " from finite, normal input");
            break;
        }
    }
}

void Subject::holdWhileAsleep(int32_t count) {
    for (auto& [pin, state] : outputStates) {
        std::vector<float>& samples = produced[pin];
        samples.insert(samples.end(), std::size_t(count), fromBits(state.staticBits.value_or(0)));
    }
}

void Subject::collect(int32_t count) {
    for (const auto& [pin, state] : outputStates) {
        const float* out = buffer(pin).data();
        produced[pin].insert(produced[pin].end(), out, out + count);
    }
}

void Subject::violation(const std::string& contract, const std::string& message) {
    if (found.size() < 64) found.push_back({contract, message});
}

ProgrammeRun runProgramme(mp::IMpFactory2& factory, const ModuleDescription& module, const Programme& programme,
                       const Partition& partition, const SubjectOptions& options) {
    Subject subject(factory, module, programme, options);
    subject.runToEnd(partition);
    return {subject.outputs(), subject.violations(), subject.sleeps()};
}

std::string firstDifference(const Outputs& expected, const Outputs& actual) {
    for (const auto& [pin, samples] : expected) {
        const auto other = actual.find(pin);
        if (other == actual.end() || other->second.size() != samples.size())
            return "pin " + std::to_string(pin) + ": different lengths";
        for (std::size_t i = 0; i < samples.size(); ++i)
            if (bitsOf(samples[i]) != bitsOf(other->second[i]))
                return "pin " + std::to_string(pin) + " sample " + std::to_string(i) + ": " +
                       describeSample(samples[i]) + " against " + describeSample(other->second[i]);
    }
    return {};
}

}  // namespace ovm::validate
