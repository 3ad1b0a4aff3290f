#pragma once

#include <array>
#include <atomic>
#include <bit>
#include <cstddef>

namespace ovm::live {

// A fixed-capacity queue between exactly one producer thread and one consumer thread,
// without locks or allocation, so that a real-time thread may be either end. Each end owns
// one index; an element is written before its index is published (release) and read after
// it is seen (acquire). A full queue refuses the element rather than wait.
template <typename T, std::size_t Capacity>
class SpscQueue {
    static_assert(std::has_single_bit(Capacity), "the capacity is a power of two");
    static_assert(std::atomic<std::size_t>::is_always_lock_free);

public:
    // Producer only. False when the queue is full.
    bool push(const T& element) {
        const std::size_t at = written.load(std::memory_order_relaxed);
        if (at - read.load(std::memory_order_acquire) == Capacity) return false;
        slots[at & (Capacity - 1)] = element;
        written.store(at + 1, std::memory_order_release);
        return true;
    }

    // Consumer only. False when the queue is empty.
    bool pop(T& element) {
        const std::size_t at = read.load(std::memory_order_relaxed);
        if (at == written.load(std::memory_order_acquire)) return false;
        element = slots[at & (Capacity - 1)];
        read.store(at + 1, std::memory_order_release);
        return true;
    }

private:
    // Apart, so that the two threads do not share a cache line as they count.
    alignas(64) std::atomic<std::size_t> written{0};
    alignas(64) std::atomic<std::size_t> read{0};
    std::array<T, Capacity> slots{};
};

}  // namespace ovm::live
