#pragma once

#include <cstddef>
#include <string>

namespace ovm::validate {

// Counts heap and lock calls made on this thread while watching is on. The counting hooks
// live in the program (ovm links realtime_hooks.cpp); without them, available() is false.
namespace realtime {

struct Counts {
    std::size_t allocations = 0;
    std::size_t frees = 0;
    std::size_t locks = 0;
    std::string firstCallSite;  // resolved after the fact, where it can be
};

bool available();
void watch(bool on);  // on entering and leaving process()
bool watching();      // for host calls made from inside process(), which are not the module's
void pause(bool paused);
Counts take();

// Called by the hooks.
void hooksInstalled();
void record(int kind);  // 0 allocation, 1 free, 2 lock

}  // namespace realtime
}  // namespace ovm::validate
