#pragma once

// The hold's reference arithmetic. The ring holds partial minima: after a sample is written,
// the entry 2^j - 1 places behind it holds the minimum of the last 2^j samples. Each new
// sample folds in the entries 1, 3, 7, ... places back, so the output is the minimum of the
// last W samples, W being the largest power of two not above the ring length N, at log2 N
// steps per sample.
//
// The fold keeps b only when b <= f; any other outcome, a NaN on either side included, takes
// f. NaN is neither trapped nor held: a lone NaN sample shows at the output for one sample
// within the window after it, where the folds happen to meet it.
//
// Every entry is rewritten within N samples from values formed within them, so the ring's
// state after N samples depends on those samples alone: replaying the last N samples into a
// fresh ring recreates it exactly.

#include <immintrin.h>

#include <cstdint>
#include <vector>

namespace dynamics {

class DoublingRing {
public:
    // Throws std::bad_alloc when the memory is not there.
    void reserve(int32_t length) { entries.reserve(std::size_t(length)); }

    // A ring of `length` entries of `value`, writing next at `position`.
    void fill(int32_t length, float value, int32_t position) {
        entries.assign(std::size_t(length), value);
        writeIndex = position;
    }

    float push(float b) {
        const auto n = int32_t(entries.size());
        int32_t c = writeIndex;
        for (int32_t d = 1; d < n; d *= 2) {
            entries[std::size_t(c)] = b;
            c -= d;
            if (c < 0) c += n;
            const float f = entries[std::size_t(c)];
            if (!lessOrEqualQuietly(b, f)) b = f;
        }
        if (++writeIndex >= n) writeIndex = 0;
        return b;
    }

private:
    // b <= f, false when either is NaN, without raising an exception for a quiet NaN.
    // std::islessequal promises that too, but clang turns it into the signalling compare
    // unless exceptions are modelled; the unordered compare instruction keeps the promise
    // whatever the compiler, and like every float compare it honours denormals-are-zero.
    // It is asked as f >= b: compilers disagree on what "below or equal" gives for NaN,
    // while "above or equal" is false for NaN in all of them.
    static bool lessOrEqualQuietly(float b, float f) {
        return _mm_ucomige_ss(_mm_set_ss(f), _mm_set_ss(b)) != 0;
    }

    std::vector<float> entries;
    int32_t writeIndex = 0;
};

}  // namespace dynamics
