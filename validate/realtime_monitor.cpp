#include "validate/realtime_monitor.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <pthread.h>

#include <cstdio>
#include <cstdlib>

namespace ovm::validate::realtime {

namespace {

bool installed = false;
// Plain thread-local flags and counters: the hooks run inside malloc, so nothing here may
// allocate while watching.
thread_local bool watchingNow = false;
thread_local bool pausedNow = false;
thread_local std::size_t counts[3];
thread_local void* firstStack[16];
thread_local int firstDepth = 0;
thread_local int firstKind = -1;

std::string describeFrame(void* address) {
    Dl_info info{};
    char text[512];
    if (dladdr(address, &info) == 0) {
        std::snprintf(text, sizeof text, "%p", address);
        return text;
    }
    const auto offset =
        static_cast<char*>(address) - static_cast<char*>(info.dli_saddr ? info.dli_saddr : info.dli_fbase);
    std::snprintf(text, sizeof text, "%s+0x%tx in %s", info.dli_sname ? info.dli_sname : "?", offset,
                  info.dli_fname ? info.dli_fname : "?");
    return text;
}

}  // namespace

namespace {

// The hooks count only if a loaded library's calls reach them: a hook the program keeps
// to itself (hidden, or not in its dynamic symbol table) would let every module pass the
// check unseen. So allocate and lock through what the dynamic loader hands out, and see.
bool reachesLibraries() {
    using Allocate = void* (*)(std::size_t);
    using Lock = int (*)(pthread_mutex_t*);
    const auto allocate = reinterpret_cast<Allocate>(dlsym(RTLD_DEFAULT, "malloc"));
    const auto lock = reinterpret_cast<Lock>(dlsym(RTLD_DEFAULT, "pthread_mutex_lock"));
    if (allocate == nullptr || lock == nullptr) return false;
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    watch(true);
    void* probe = allocate(16);
    lock(&mutex);
    watch(false);
    pthread_mutex_unlock(&mutex);
    std::free(probe);
    const Counts seen = take();
    return seen.allocations > 0 && seen.locks > 0;
}

}  // namespace

bool available() {
    static const bool reached = installed && reachesLibraries();
    return reached;
}

void hooksInstalled() {
    installed = true;
    // backtrace() loads its unwinder on first use, which allocates: do that now.
    void* warmUp[2];
    backtrace(warmUp, 2);
}

void watch(bool on) { watchingNow = on; }
bool watching() { return watchingNow; }
void pause(bool paused) { pausedNow = paused; }

void record(int kind) {
    if (!watchingNow || pausedNow) return;
    pausedNow = true;  // backtrace must not count itself
    ++counts[kind];
    if (firstKind < 0) {
        firstKind = kind;
        firstDepth = backtrace(firstStack, 16);
    }
    pausedNow = false;
}

// The first frame outside the hooks and the validator, named by dladdr.
Counts take() {
    Counts result{counts[0], counts[1], counts[2], {}};
    if (firstKind >= 0) {
        static const char* kinds[] = {"allocation", "free", "lock"};
        result.firstCallSite = std::string("first ") + kinds[firstKind] + ":";
        for (int i = 2; i < firstDepth && i < 8; ++i)
            result.firstCallSite += "\n      " + describeFrame(firstStack[i]);
    }
    counts[0] = counts[1] = counts[2] = 0;
    firstKind = -1;
    firstDepth = 0;
    return result;
}

}  // namespace ovm::validate::realtime
