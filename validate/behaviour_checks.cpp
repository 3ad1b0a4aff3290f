// Sleep, isolation and determinism: what a module promises across calls and instances.

#include "abi/event_record.h"
#include "host/defaults.h"
#include "validate/check.h"
#include "validate/subject.h"

namespace ovm::validate {

namespace {

void checkCountdown(CheckContext& context, const Subject& subject) {
    const auto& call = subject.firstSleepCall();
    const auto countdown = subject.runOptions().hostBlockSize;
    if (!call || !call->lastStaticReport || !countdown) return;
    const int32_t due = *call->lastStaticReport + *countdown;
    if (call->start < due && due <= call->end) return;
    context.problem("asked to sleep in the call for samples " + std::to_string(call->start) + " to " +
                    std::to_string(call->end) + ", but the countdown of " + std::to_string(*countdown) +
                    " samples from the static report at sample " + std::to_string(*call->lastStaticReport) +
                    " ends at sample " + std::to_string(due));
}

// Requests never come while something streams (checked on every call of a run), and once
// every input and output is static and nothing happens, one comes when the countdown from
// the last static report runs out: in the call that completes the host's block size of
// samples after it, neither earlier (a module downstream would miss samples it still needs)
// nor later.
void checkSleepRequests(CheckContext& context) {
    const Programme programme =
        makeProgramme(*context.module, mixSeed(context.seed, "sleep.requests"), context.scaled(20000));
    for (const Violation& v :
         runProgramme(*context.factory, *context.module, programme, randomBlocks(context.seed, 1024))
             .violations)
        if (v.contract == "sleep") context.problem(v.message);

    Programme quiet = makeProgramme(*context.module, context.seed, 2048);
    for (TimedEvent& e : quiet.events)
        if (e.type == mp::kEventStreamingOn) e.type = mp::kEventStreamingOff;
    std::erase_if(quiet.events, [](const TimedEvent& e) { return e.at > 0; });
    for (auto& [pin, samples] : quiet.inputs) std::fill(samples.begin(), samples.end(), 0.25f);
    Subject subject(*context.factory, *context.module, quiet, {});
    constexpr int32_t kBlock = 23;  // not a divisor of the countdown: it ends inside a call
    while (!subject.finished() && subject.sleeps() == 0) subject.block(kBlock);
    const bool allStatic = !subject.anyOutputStreaming();
    if (allStatic && subject.sleeps() == 0)
        context.problem("all pins static and no events for 2048 samples, but no sleep request");
    checkCountdown(context, subject);
}

// A module let sleep, then woken by its next event, gives what it gives when driven on.
void checkSleepResume(CheckContext& context) {
    const Programme programme =
        makeProgramme(*context.module, mixSeed(context.seed, "sleep.resume"), context.scaled(30000));
    const Partition blocks = randomBlocks(context.seed, 1024);
    SubjectOptions driven;
    driven.honourSleep = false;
    const ProgrammeRun awake =
        runProgramme(*context.factory, *context.module, programme, fixedBlocks(97), driven);
    const ProgrammeRun sleeping = runProgramme(*context.factory, *context.module, programme, fixedBlocks(97));
    const std::string difference = firstDifference(awake.outputs, sleeping.outputs);
    if (!difference.empty()) context.problem("slept and woken differs from driven on at " + difference);
    if (sleeping.sleeps == 0) context.note("the module never asked to sleep");
}

// Two objects driven in turn give what each gives alone.
void checkIsolation(CheckContext& context) {
    const Programme first =
        makeProgramme(*context.module, mixSeed(context.seed, "isolation.a"), context.scaled(12000));
    const Programme second =
        makeProgramme(*context.module, mixSeed(context.seed, "isolation.b"), context.scaled(12000));
    const Partition hostBlocks = fixedBlocks(host::kDefaultBlockSize);
    const ProgrammeRun aloneFirst = runProgramme(*context.factory, *context.module, first, hostBlocks);
    const ProgrammeRun aloneSecond = runProgramme(*context.factory, *context.module, second, hostBlocks);
    Subject a(*context.factory, *context.module, first, {});
    Subject b(*context.factory, *context.module, second, {});
    while (!a.finished() || !b.finished()) {
        a.block(host::kDefaultBlockSize);
        b.block(host::kDefaultBlockSize);
    }
    for (const auto& [alone, together] :
         {std::pair{&aloneFirst.outputs, &a.outputs()}, {&aloneSecond.outputs, &b.outputs()}}) {
        const std::string difference = firstDifference(*alone, *together);
        if (!difference.empty())
            context.problem("interleaved with another object, output differs at " + difference);
    }
}

void checkDeterminism(CheckContext& context) {
    const Programme programme =
        makeProgramme(*context.module, mixSeed(context.seed, "determinism"), context.scaled(12000));
    const ProgrammeRun once =
        runProgramme(*context.factory, *context.module, programme, randomBlocks(context.seed, 512));
    const ProgrammeRun twice =
        runProgramme(*context.factory, *context.module, programme, randomBlocks(context.seed, 512));
    const std::string difference = firstDifference(once.outputs, twice.outputs);
    if (!difference.empty()) context.problem("the same programme twice differs at " + difference);
}

}  // namespace

void addBehaviourChecks(std::vector<Check>& checks) {
    checks.push_back({.name = "sleep.requests", .random = true, .run = checkSleepRequests});
    checks.push_back({.name = "sleep.resume", .random = true, .minStrictness = 2, .run = checkSleepResume});
    checks.push_back(
        {.name = "isolation.interleaved", .random = true, .minStrictness = 3, .run = checkIsolation});
    checks.push_back(
        {.name = "determinism.seed", .random = true, .minStrictness = 2, .run = checkDeterminism});
}

}  // namespace ovm::validate
