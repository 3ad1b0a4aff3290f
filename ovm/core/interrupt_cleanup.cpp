#include "ovm/core/interrupt_cleanup.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace ovm {

namespace {

// A run writes at most its audio, plot and report at once, plus the demo's input; a batch
// as many runs at once as it has jobs (at most kMaxJobs, batch_runner.h).
constexpr int kSlots = 4 * 64;

struct Slot {
    std::atomic<bool> claimed{false};  // taken by a thread that is filling in the path
    std::atomic<bool> used{false};     // the path is complete: the handler may read it
    char path[PATH_MAX] = {};
};

Slot slots[kSlots];
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

void removeAndDie(int signal) {
    for (Slot& slot : slots)
        if (slot.used.load()) unlink(slot.path);
    // The disposition is back to the default (SA_RESETHAND) and the signal is not blocked
    // (SA_NODEFER): raising it again ends the process here, as if never caught.
    raise(signal);
}

}  // namespace

void installInterruptCleanup() {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = removeAndDie;
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        for (int signal : kSignals) {
            struct sigaction previous {};
            // A signal the caller chose to ignore (nohup) stays ignored.
            if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
            sigaction(signal, &action, nullptr);
        }
        return true;
    }();
    (void)installed;
}

int registerTemporaryFile(const char* path) {
    if (std::strlen(path) >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        // Runs of a batch register from their own threads: each slot goes to one of them.
        bool expected = false;
        if (!slots[i].claimed.compare_exchange_strong(expected, true)) continue;
        std::strcpy(slots[i].path, path);
        slots[i].used.store(true);  // only now may the handler read the path
        return i;
    }
    return -1;
}

void releaseTemporaryFile(int slot) {
    if (slot < 0 || slot >= kSlots) return;
    slots[slot].used.store(false);
    slots[slot].claimed.store(false);
}

CleanupSignalsHeld::CleanupSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : kSignals) sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &previous);
}

CleanupSignalsHeld::~CleanupSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }

}  // namespace ovm
