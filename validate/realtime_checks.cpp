// Real-time safety: no allocation, free or lock inside process() for blocks that carry no
// value event (a value may legitimately rebuild state, such as a longer delay line).

#include "validate/check.h"
#include "validate/realtime_monitor.h"
#include "validate/subject.h"

namespace ovm::validate {

namespace {

// The validator's own host keeps reports in growing lists: its calls are not the module's.
class PausingHost : public host::ModuleHost {
public:
    int32_t sendPinValue(int32_t position, int32_t pinId, int32_t size, const void* data) override {
        Pause p;
        return ModuleHost::sendPinValue(position, pinId, size, data);
    }
    int32_t reportPinStreaming(int32_t position, int32_t pinId, int32_t streaming) override {
        Pause p;
        return ModuleHost::reportPinStreaming(position, pinId, streaming);
    }
    int32_t requestSleep() override {
        Pause p;
        return ModuleHost::requestSleep();
    }

private:
    struct Pause {
        Pause() { realtime::pause(true); }
        ~Pause() { realtime::pause(false); }
    };
};

void checkRealtime(CheckContext& context) {
    if (!realtime::available()) {
        context.note(
            "allocation and lock tracking does not reach loaded libraries in this program (not built in, or "
            "a "
            "sanitizer owns malloc)");
        return;
    }
    const Programme programme =
        makeProgramme(*context.module, mixSeed(context.seed, "realtime.process"), context.scaled(20000));
    SubjectOptions options;
    options.makeHost = [] { return std::make_unique<PausingHost>(); };
    options.aroundProcess = [](bool entering, bool hasValueEvent) {
        realtime::watch(entering && !hasValueEvent);
    };
    realtime::take();
    Subject subject(*context.factory, *context.module, programme, options);
    subject.runToEnd(randomBlocks(context.seed, 2048));
    const realtime::Counts counts = realtime::take();
    if (counts.allocations + counts.frees + counts.locks > 0)
        context.problem(std::to_string(counts.allocations) + " allocation(s), " +
                        std::to_string(counts.frees) + " free(s) and " + std::to_string(counts.locks) +
                        " lock(s) inside process() in blocks without value events; " + counts.firstCallSite);
}

}  // namespace

void addRealtimeChecks(std::vector<Check>& checks) {
    checks.push_back({.name = "realtime.process", .random = true, .run = checkRealtime});
}

}  // namespace ovm::validate
