// ovm live PATCH: a patch in real time as a JACK client, to hear and tune it.

#include <atomic>
#include <cstdio>

#include "engine/errors.h"
#include "ovm/cli/commands.h"
#include "ovm/core/value_override_parser.h"
#include "ovm/live/live_session.h"
#include "validate/realtime_monitor.h"

namespace ovm::cli {

namespace {

struct LiveCommandOptions {
    live::LiveOptions live;
    std::vector<std::string> sets;
    bool checkRealtime = false;
};

// What the audio thread's callbacks allocated, freed and locked, counted on that thread by
// the program's own allocator and lock hooks and summed here for the control thread.
namespace realtimeCount {
std::atomic<std::size_t> allocations{0}, frees{0}, locks{0};
std::atomic<bool> siteKept{false};
std::string firstSite;

void enter() { validate::realtime::watch(true); }

void leave() {
    validate::realtime::watch(false);
    validate::realtime::Counts counts = validate::realtime::take();
    allocations += counts.allocations;
    frees += counts.frees;
    locks += counts.locks;
    // Only after a call was counted, so a clean callback builds no string.
    if (!counts.firstCallSite.empty() && !siteKept.load()) {
        firstSite = std::move(counts.firstCallSite);
        siteKept.store(true, std::memory_order_release);
    }
}
}  // namespace realtimeCount

void reportRealtimeCount(long long callbacks) {
    using namespace realtimeCount;
    std::fprintf(stderr, "real-time check: %lld callbacks, %zu allocations, %zu frees, %zu locks\n", callbacks,
                 allocations.load(), frees.load(), locks.load());
    if (allocations + frees + locks == 0) return;
    if (siteKept.load(std::memory_order_acquire)) std::fprintf(stderr, "  %s\n", firstSite.c_str());
    throw Error(ExitCode::check, "the audio callback allocated, freed or locked");
}

void liveCommand(LiveCommandOptions& options) {
    for (const std::string& set : options.sets) options.live.overrides.push_back(parseValueOverride(set));
    for (const ValueOverride& o : options.live.overrides)
        if (o.at) throw usageError("--set '" + o.target.text() + "': ovm live takes values without a time");
    if (options.live.loop && !options.live.inputPath) throw usageError("--loop plays an --input file again");
    const bool counting = options.checkRealtime && validate::realtime::available();
    if (options.checkRealtime && !counting)
        std::fprintf(stderr, "ovm: note: this build cannot count allocations and locks (a sanitizer owns them)\n");
    if (counting) options.live.probe = {realtimeCount::enter, realtimeCount::leave};
    const live::LiveSummary summary = live::runLive(options.live);
    std::fprintf(stderr, "ovm live: %.1f s of audio, stopped by %s, %lld xruns\n", summary.seconds,
                 summary.stoppedBy.c_str(), summary.xruns);
    if (counting) reportRealtimeCount(summary.callbacks);
}

}  // namespace

void addLiveCommand(CLI::App& app) {
    auto options = std::make_shared<LiveCommandOptions>();
    CLI::App* live = app.add_subcommand(
        "live", "Run a patch in real time as a JACK client (under PipeWire: pw-jack ovm live ...)");
    live->add_option("PATCH", options->live.patchPath, "Patch file (TOML)")->required();
    live->add_option("--name", options->live.clientName, "JACK client name (default: ovm)");
    live->add_option("--server", options->live.serverName, "JACK server name (default: the default server)");
    live->add_flag("--connect,!--no-connect", options->live.connect,
                   "Connect to the physical capture and playback ports (the default)");
    live->add_option("--input", options->live.inputPath,
                     "Play this audio file through the patch instead of the capture ports");
    live->add_flag("--loop", options->live.loop, "Play the --input file again and again");
    live->add_option("--duration", options->live.duration, "Stop after this much audio (e.g. 30s)");
    live->add_option("--set,-s", options->sets, "Set a value: node.pin=value, or a patch variable: name=value");
    live->add_option("--library", options->live.libraryPath,
                     "Module library to load instead of looking up the one the patch names");
    live->add_flag("--json-meters", options->live.jsonMeters,
                   "Write the meters as one JSON object a line to standard output, ten a second");
    live->add_flag("--stop-on-xrun", options->live.stopOnXrun, "Stop at the first xrun (exit status 9)");
    live->add_flag("--check-realtime", options->checkRealtime,
                   "Count allocations and locks inside the audio callback; any fails the run (status 7)");
    live->footer(
        "Commands on standard input, applied at the start of the next block:\n"
        "  set NODE.PIN VALUE [UNIT]   e.g. set knee.threshold -3 dB\n"
        "  bypass [on|off]             the input, delayed as the patch delays it\n"
        "  meters on|off               the meter line on a terminal, or --json-meters\n"
        "  quit                        (as do Ctrl-C, SIGTERM and SIGHUP)\n"
        "Exit status 8: no JACK server, or it refused a client or connection, or shut down.");
    live->callback([options] { liveCommand(*options); });
}

}  // namespace ovm::cli
