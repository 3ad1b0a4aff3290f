#pragma once

#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/uninstrumented.h"

namespace fuzzing {

// A sample buffer with canaries on both sides. Under AddressSanitizer the canaries, and
// during a call everything from the block's count on, are poisoned, so a module that reads or
// writes outside the block is stopped where it does so; without it, canariesIntact() catches
// the writes afterwards.
class GuardedBuffer {
public:
    static constexpr std::size_t kCanary = 16;
    static constexpr uint32_t kCanaryBits = 0x7F8DEAD1u;  // a signalling NaN no module makes

    explicit GuardedBuffer(std::size_t capacity) : capacity(capacity), storage(capacity + 2 * kCanary) {
        fillBits(storage.data(), kCanary, kCanaryBits);
        fillBits(samples() + capacity, kCanary, kCanaryBits);
        poison(storage.data(), kCanary);
        poison(samples() + capacity, kCanary);
    }
    ~GuardedBuffer() { unpoison(storage.data(), storage.size()); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    float* samples() { return storage.data() + kCanary; }
    std::size_t size() const { return capacity; }

    // Only [0, count) may be touched until release().
    void guard(std::size_t count) { poison(samples() + count, capacity - count); }
    void release() { unpoison(samples(), capacity); }

    bool canariesIntact() const {
        return allBits(storage.data(), kCanary, kCanaryBits) &&
               allBits(storage.data() + kCanary + capacity, kCanary, kCanaryBits);
    }

    UNINSTRUMENTED static void fillBits(float* first, std::size_t count, uint32_t bits) {
        float value;
        std::memcpy(&value, &bits, sizeof value);
        for (std::size_t i = 0; i < count; ++i) first[i] = value;  // std::fill_n would be instrumented
    }
    static bool hasBits(float value, uint32_t bits) { return std::bit_cast<uint32_t>(value) == bits; }

private:
    // Reads the canaries themselves, which are poisoned: the check must not trip the sanitizer.
    static bool allBits(const float* first, std::size_t count, uint32_t bits) {
        unpoison(first, count);
        bool all = true;
        for (std::size_t i = 0; i < count; ++i) all = all && hasBits(first[i], bits);
        poison(first, count);
        return all;
    }
    static void poison(const float* first, std::size_t count) {
        ASAN_POISON_MEMORY_REGION(first, count * sizeof(float));
    }
    static void unpoison(const float* first, std::size_t count) {
        ASAN_UNPOISON_MEMORY_REGION(first, count * sizeof(float));
    }

    std::size_t capacity;
    std::vector<float> storage;
};

}  // namespace fuzzing
