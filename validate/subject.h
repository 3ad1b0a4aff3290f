#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "abi/factory_interfaces.h"
#include "abi/plugin_interfaces.h"
#include "host/defaults.h"
#include "host/event_list.h"
#include "host/guarded_buffer.h"
#include "host/module_driver.h"
#include "host/sample_bits.h"
#include "validate/programme.h"

namespace ovm::validate {

// A broken promise found while driving a module: which contract, and where.
struct Violation {
    std::string contract;  // "written", "canaries", "inputs", "finite", "subnormal", "static",
                           // "reports", "sleep"
    std::string message;
};

// How a subject's host behaves and what it checks.
struct SubjectOptions {
    std::optional<float> sampleRate = host::kDefaultSampleRate;  // empty: the host writes no rate
    std::optional<int32_t> hostBlockSize = host::kDefaultBlockSize;
    bool honourSleep = true;  // skip calls while asleep and no event is due, as a host does
    bool checkFinite = true;  // outputs must stay finite and normal for typical input
    int32_t capacity = 16384;
    // Builds the host (a check may watch or pause around host calls); a plain one if empty.
    std::function<std::unique_ptr<host::ModuleHost>()> makeHost;
    // Called just before and after every process() call, told whether the block carries a
    // value event.
    std::function<void(bool entering, bool hasValueEvent)> aroundProcess;
};

// The samples a module's outputs carry over a programme, sleeps filled in as a host does.
using Outputs = std::map<int32_t, std::vector<float>>;

// One module object driven through the binary interface by a host that checks every call:
// each buffer sits between canary zones, outputs start as a marker NaN, inputs are compared
// with what was given, and the streaming reports and sleep requests are followed.
class Subject {
public:
    Subject(mp::IMpFactory2& factory, const ModuleDescription& module, const Programme& programme,
            SubjectOptions options);
    ~Subject();
    Subject(const Subject&) = delete;
    Subject& operator=(const Subject&) = delete;

    // Processes the next count samples of the programme in one call (or none while asleep).
    void block(int32_t count);
    bool finished() const { return position >= programme.length; }
    // Runs the rest of the programme, cut by the partition.
    void runToEnd(const Partition& partition);

    const Outputs& outputs() const { return produced; }
    const std::vector<Violation>& violations() const { return found; }
    int32_t sleeps() const { return sleepCount; }
    // The call in which the first sleep request came, and the last static report before it.
    struct SleepCall {
        int32_t start, end;
        std::optional<int32_t> lastStaticReport;
    };
    const std::optional<SleepCall>& firstSleepCall() const { return firstSleep; }
    const SubjectOptions& runOptions() const { return options; }
    bool anyOutputStreaming() const {
        for (const auto& [pin, state] : outputStates)
            if (state.streaming) return true;
        return false;
    }

private:
    struct Buffer;
    struct OutputState {
        bool streaming = false;
        std::optional<uint32_t> staticBits;
    };

    Buffer& buffer(int32_t pinId);
    void prepare(int32_t count);
    void buildEvents(int32_t count);
    void check(int32_t count, bool sleptNow);
    void checkReports(int32_t count, std::vector<host::StreamingReport>& reports);
    void followOutput(int32_t pinId, int32_t count, bool sleptNow,
                      const std::vector<host::StreamingReport>& reports);
    void checkFinite(int32_t count);
    void holdWhileAsleep(int32_t count);
    void collect(int32_t count);
    void violation(const std::string& contract, const std::string& message);

    const ModuleDescription& module;
    const Programme& programme;
    SubjectOptions options;
    std::unique_ptr<host::ModuleDriver> driver;  // null when the factory refused the module
    std::map<int32_t, std::unique_ptr<Buffer>> buffers;
    std::map<int32_t, OutputState> outputStates;
    std::map<int32_t, bool> inputStreaming;
    std::map<int32_t, float> controlValues;
    host::EventList events;
    std::size_t nextEvent = 0;
    int32_t position = 0;
    std::optional<int32_t> lastStatic;  // sample position of the latest static report
    std::optional<SleepCall> firstSleep;
    int32_t sleepCount = 0;
    Outputs produced;
    std::vector<Violation> found;
};

// What one run of a whole programme through a fresh subject produced.
struct ProgrammeRun {
    Outputs outputs;
    std::vector<Violation> violations;
    int32_t sleeps = 0;
};
// Creates a subject and runs the whole programme through it.
ProgrammeRun runProgramme(mp::IMpFactory2& factory, const ModuleDescription& module, const Programme& programme,
                       const Partition& partition, const SubjectOptions& options = {});

// Empty when both carry the same bits, else where they first differ.
std::string firstDifference(const Outputs& expected, const Outputs& actual);

using host::bitsOf;
std::string describeSample(float value);

}  // namespace ovm::validate
