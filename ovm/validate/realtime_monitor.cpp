#include "ovm/validate/realtime_monitor.h"

#include <dlfcn.h>
#include <execinfo.h>

#include <cstdio>

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

bool available() { return installed; }

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
