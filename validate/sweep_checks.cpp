// Sweeps over block sizes, sample rates and control values.

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "validate/check.h"
#include "validate/subject.h"

namespace ovm::validate {

namespace {

void reportViolations(CheckContext& context, const std::string& where,
                      const std::vector<Violation>& violations) {
    // Subnormal output is worth knowing but no broken promise (process.subnormal warns).
    for (const Violation& v : violations)
        if (v.contract == "subnormal")
            context.note(where + ": " + v.message);
        else
            context.problem(where + ": " + v.contract + ": " + v.message);
}

// Cutting the same programme into other blocks gives the same bits as one sample per call.
// Every module is held to this: the validator's host reports one rate and block size for
// the whole run, so a module that asks its host per sample sees the same answers either way.
void checkBlockSizes(CheckContext& context) {
    const uint64_t seed = mixSeed(context.seed, "sweep.block-sizes");
    const Programme programme = makeProgramme(*context.module, seed, context.scaled(40000));
    const ProgrammeRun reference = runProgramme(*context.factory, *context.module, programme, fixedBlocks(1));
    reportViolations(context, "blocks of 1", reference.violations);
    const auto compare = [&](const std::string& name, const Partition& partition) {
        const ProgrammeRun run = runProgramme(*context.factory, *context.module, programme, partition);
        reportViolations(context, name, run.violations);
        const std::string difference = firstDifference(reference.outputs, run.outputs);
        if (!difference.empty()) context.problem(name + " differ from blocks of 1 at " + difference);
    };
    for (int32_t size : {2, 3, 5, 7, 13, 31, 61, 64, 127, 257, 509, 4096, 16384})
        compare("blocks of " + std::to_string(size), fixedBlocks(size));
    for (int i = 0; i < context.scaled(2); ++i)
        compare("random blocks (0 to 16384)", randomBlocks(mixSeed(seed, std::to_string(i)), 16384));
}

void checkSampleRates(CheckContext& context) {
    const Programme programme =
        makeProgramme(*context.module, mixSeed(context.seed, "sweep.sample-rates"), context.scaled(8000));
    const Partition blocks = randomBlocks(context.seed, 512);
    for (float rate : {1000.0f, 8000.0f, 11025.0f, 22050.0f, 44100.0f, 44099.5f, 48000.0f, 88200.0f, 96000.0f,
                       176400.0f, 192000.0f, 352800.0f, 384000.0f, 705600.0f, 768000.0f, 47999.99f}) {
        SubjectOptions options;
        options.sampleRate = rate;
        char name[32];
        std::snprintf(name, sizeof name, "%g Hz", double(rate));
        reportViolations(
            context, name,
            runProgramme(*context.factory, *context.module, programme, blocks, options).violations);
    }
    SubjectOptions silent;
    silent.sampleRate.reset();
    silent.hostBlockSize.reset();
    silent.checkFinite = false;  // with no rate, a module may divide by zero
    reportViolations(context, "a host that writes no rate",
                     runProgramme(*context.factory, *context.module, programme, blocks, silent).violations);
}

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * std::size_t(sysconf(_SC_PAGESIZE));
}

// Extreme control values, sent at the start and in the middle of a block: no crash or hang
// (the harness sees those), no broken buffer contract, and memory that stays bounded.
void checkControlValues(CheckContext& context) {
    const Programme base =
        makeProgramme(*context.module, mixSeed(context.seed, "sweep.control-values"), 3000);
    constexpr std::size_t kMemoryLimit = std::size_t(1) << 30;
    const std::size_t startBytes = residentBytes();
    for (int32_t pin = 0; pin < int32_t(context.module->pins.size()); ++pin) {
        const PinDescription& described = context.module->pins[std::size_t(pin)];
        if (described.audio || described.output) continue;
        for (float value : extremeValues()) {
            Programme programme = base;
            programme.typicalValues = false;
            programme.events.push_back({1, mp::kEventPinValue, pin, value});
            programme.events.push_back({1500, mp::kEventPinValue, pin, value});
            std::stable_sort(programme.events.begin(), programme.events.end(),
                             [](const TimedEvent& a, const TimedEvent& b) { return a.at < b.at; });
            const std::string where = described.name + " = " + describeSample(value);
            reportViolations(
                context, where,
                runProgramme(*context.factory, *context.module, programme, randomBlocks(context.seed, 700))
                    .violations);
            if (residentBytes() > startBytes + kMemoryLimit)
                context.problem(where + ": memory grew by more than 1 GiB");
        }
    }
}

}  // namespace

void addSweepChecks(std::vector<Check>& checks) {
    checks.push_back(
        {.name = "sweep.block-sizes", .random = true, .minStrictness = 2, .run = checkBlockSizes});
    checks.push_back(
        {.name = "sweep.sample-rates", .random = true, .minStrictness = 2, .run = checkSampleRates});
    checks.push_back({.name = "sweep.control-values", .random = true, .run = checkControlValues});
}

}  // namespace ovm::validate
