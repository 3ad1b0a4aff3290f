#pragma once

#include <signal.h>

namespace ovm {

// Temporary files that must not outlive an interrupted run. A signal handler may only make
// async-signal-safe calls, so the paths live in a fixed table filled in advance and the
// handler does nothing but unlink them and die of the same signal.
//
// Installs the handler for SIGINT, SIGTERM, SIGHUP and SIGXFSZ (a file-size limit) once;
// afterwards each of these signals removes the registered files, then ends the process
// with the signal's default disposition, so the parent sees the conventional status.
void installInterruptCleanup();

// Registers a temporary file; returns a slot to release once the file is renamed or
// removed, or -1 when the table is full or the path too long (the file then still goes
// away on every ordinary exit, only not on a signal).
int registerTemporaryFile(const char* path);
void releaseTemporaryFile(int slot);

// Holds the cleanup signals back on the calling thread for its lifetime; one that comes
// meanwhile is delivered when it ends. A temporary file created and registered under it has
// no moment in which a signal would leave it behind unregistered.
class CleanupSignalsHeld {
public:
    CleanupSignalsHeld();
    ~CleanupSignalsHeld();
    CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
    CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;

private:
    sigset_t previous;
};

}  // namespace ovm
