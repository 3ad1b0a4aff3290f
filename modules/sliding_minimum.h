#pragma once

// The minimum of the last W samples, W a power of two, at constant cost per sample: the
// stream is cut into blocks of W. The minimum of the window ending at a sample is the
// minimum of two parts: the samples of the current block up to it (a running minimum) and
// the rest of the window, a tail of the previous block (minima of every tail of a block are
// formed in one backward pass once the block is complete). Three comparisons per sample,
// none of them a branch, whatever the signal.
//
// Among samples of equal value the newest wins, so -0 and +0 come out exactly as a
// comparison of newest against older that keeps the newer on equality gives them. Input
// must not hold NaN: with NaN the result depends on the order of comparisons.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace dynamics {

class SlidingMinimum {
public:
    // The window and its storage; the samples before the first count as `before`. Throws
    // std::bad_alloc when the memory is not there.
    void reset(int32_t window, float before) {
        tails.assign(std::size_t(window) + 1, before);
        tails.back() = kInf;
        width = window;
        restartBlock();
    }

    // Starts afresh from the last `window` samples, oldest first, as if they had just
    // been pushed.
    template <typename Oldest>
    void resume(Oldest&& sampleAgo) {
        for (int32_t i = 0; i < width; ++i) tails[std::size_t(i)] = sampleAgo(width - i);
        restartBlock();
    }

    // out[k] = the minimum of the window that ends at in[k].
    void run(const float* in, float* out, int32_t count) {
        for (int32_t done = 0; done < count;) {
            if (phase == width) restartBlock();
            const int32_t run = std::min(count - done, width - phase);
            runWithinBlock(in + done, out + done, run);
            done += run;
        }
    }

private:
    static constexpr float kInf = std::numeric_limits<float>::infinity();

    // Newest-wins minimum for input without NaN.
    static float newerOrSmaller(float newer, float older) { return older < newer ? older : newer; }

    void runWithinBlock(const float* in, float* out, int32_t count) {
        float* tail = tails.data() + phase;
        float head = headMinimum;
        for (int32_t k = 0; k < count; ++k) {
            const float x = in[k];  // read once: out may be the same buffer
            head = newerOrSmaller(x, head);
            out[k] = newerOrSmaller(head, tail[k + 1]);
            // Entry k of the previous block's tail minima has been used for the last time;
            // it keeps this block's sample until the block is complete.
            tail[k] = x;
        }
        headMinimum = head;
        phase += count;
    }

    // The block just completed becomes the previous block: its samples turn into the minima
    // of its tails, newest to oldest.
    void restartBlock() {
        float minimum = kInf;
        for (int32_t i = width - 1; i >= 0; --i) {
            minimum = newerOrSmaller(minimum, tails[std::size_t(i)]);
            tails[std::size_t(i)] = minimum;
        }
        headMinimum = kInf;
        phase = 0;
    }

    std::vector<float> tails;  // width + 1 entries; the last is +inf, the empty tail
    int32_t width = 1;
    int32_t phase = 0;  // samples of the current block seen so far
    float headMinimum = kInf;
};

}  // namespace dynamics
