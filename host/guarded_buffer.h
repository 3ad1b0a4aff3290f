#pragma once

#include <sanitizer/asan_interface.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/sample_bits.h"
#include "host/uninstrumented.h"

namespace host {

// A sample buffer with a guard zone of canaries on either side, for a host that checks
// that a module stays inside the block it was given.
//
// Without poisoning the canaries are plain samples: the owner may refill and compare them
// (through withGuards()) around every call, or check canariesIntact(). With poisoning, and
// only in a program built with AddressSanitizer, the canaries are poisoned for the buffer's
// whole life and guardBlock() poisons everything from the block's count on until release(), so a
// module that reads or writes outside the block is stopped where it does so;
// canariesIntact() still catches a write where the sanitizer is absent.
//
// The buffer owns its storage; samples() stays valid for its life. Not copyable: a module
// holds its address.
class GuardedBuffer {
public:
    // Whether guardBlock() and the canaries poison memory in this program.
#if defined(__SANITIZE_ADDRESS__)
    static constexpr bool kPoisons = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    static constexpr bool kPoisons = true;
#else
    static constexpr bool kPoisons = false;
#endif
#else
    static constexpr bool kPoisons = false;
#endif

    enum class Poison { no, yes };

    // capacity samples between two zones of `guard` canaries, each canaryBits; the samples
    // start as canaries too.
    GuardedBuffer(std::size_t capacity, std::size_t guard, uint32_t canaryBits, Poison poison = Poison::no)
        : capacity(capacity),
          guard(guard),
          canaryBits(canaryBits),
          poisoned(poison == Poison::yes),
          storage(capacity + 2 * guard, fromBits(canaryBits)) {
        if (poisoned) {
            poisonRange(storage.data(), guard);
            poisonRange(samples() + capacity, guard);
        }
    }
    ~GuardedBuffer() { unpoisonRange(storage.data(), storage.size()); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    float* samples() { return storage.data() + guard; }
    const float* samples() const { return storage.data() + guard; }
    std::size_t size() const { return capacity; }
    std::size_t guardSize() const { return guard; }
    // The leading guard zone, the samples and the trailing zone, in one run (not poisoned
    // buffers only: their zones must not be touched).
    float* withGuards() { return storage.data(); }

    // Poisoned buffers: only [0, count) may be touched until release().
    void guardBlock(std::size_t count) {
        if (poisoned) poisonRange(samples() + count, capacity - count);
    }
    void release() {
        if (poisoned) unpoisonRange(samples(), capacity);
    }

    // Whether both zones around the whole capacity still hold the canary.
    bool canariesIntact() const {
        return allCanaries(storage.data()) && allCanaries(storage.data() + guard + capacity);
    }

    UNINSTRUMENTED static void fillBits(float* first, std::size_t count, uint32_t bits) {
        const float value = __builtin_bit_cast(float, bits);
        for (std::size_t i = 0; i < count; ++i) first[i] = value;  // std::fill_n would be instrumented
    }

private:
    // Reads the canaries themselves, which may be poisoned: the check must not trip the sanitizer.
    bool allCanaries(const float* first) const {
        unpoisonRange(first, guard);
        bool all = true;
        for (std::size_t i = 0; i < guard; ++i) all = all && bitsOf(first[i]) == canaryBits;
        if (poisoned) poisonRange(first, guard);
        return all;
    }
    static void poisonRange(const float* first, std::size_t count) {
        ASAN_POISON_MEMORY_REGION(first, count * sizeof(float));
    }
    static void unpoisonRange(const float* first, std::size_t count) {
        ASAN_UNPOISON_MEMORY_REGION(first, count * sizeof(float));
    }

    std::size_t capacity;
    std::size_t guard;
    uint32_t canaryBits;
    bool poisoned;
    std::vector<float> storage;
};

}  // namespace host
