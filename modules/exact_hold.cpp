// The hold's kernel: the sliding minimum while the input is free of NaN, the doubling ring
// from a NaN on, and the hand-over between them (see exact_hold.h).

#include "modules/exact_hold.h"

#include <algorithm>
#include <new>

#include "modules/multiversion.h"

namespace dynamics {
namespace {

// Samples before the first NaN among in[0, count).
DYNAMICS_VECTOR_LOOP
int32_t samplesBeforeNaNLoop(const float* in, int32_t count) {
    constexpr int32_t kChunk = 64;
    for (int32_t start = 0; start < count; start += kChunk) {
        const int32_t end = std::min(count, start + kChunk);
        bool anyNaN = false;
#pragma omp simd reduction(| : anyNaN)
        for (int32_t k = start; k < end; ++k) anyNaN |= in[k] != in[k];
        if (!anyNaN) continue;
        for (int32_t k = start;; ++k)
            if (in[k] != in[k]) return k;
    }
    return count;
}
const auto samplesBeforeNaN = chosenAtLoad<samplesBeforeNaNLoop>();

int32_t largestPowerOfTwoUpTo(int32_t n) {
    int32_t w = 1;
    while (w <= n / 2) w *= 2;
    return w;
}

}  // namespace

ExactHold::ExactHold(int32_t length) {
    if (length <= 1) return;
    // Left unfilled: only samples written since the start are ever read, and a long hold's
    // pages are then touched as the signal arrives, not all at once.
    history = std::make_unique_for_overwrite<float[]>(std::size_t(length));
    ring.reserve(length);
    window.reset(largestPowerOfTwoUpTo(length), 1.0f);
    holdLength = length;
}

void ExactHold::run(const float* in, float* out, int32_t count) {
    if (holdLength <= 1) {
        std::copy_n(in, count, out);
        return;
    }
    for (int32_t done = 0; done < count;) {
        const float* from = in + done;
        float* to = out + done;
        done += ringRuns ? runRing(from, to, count - done) : runSlidingMinimum(from, to, count - done);
    }
}

// Runs up to the first NaN and hands over to the ring there; returns the samples done.
int32_t ExactHold::runSlidingMinimum(const float* in, float* out, int32_t count) {
    const int32_t clean = samplesBeforeNaN(in, count);
    remember(in, clean);  // first: out may be the same buffer as in
    window.run(in, out, clean);
    if (clean < count) startRing();
    return clean;
}

// Runs until N samples in a row without NaN have passed; returns the samples done.
int32_t ExactHold::runRing(const float* in, float* out, int32_t count) {
    int32_t k = 0;
    for (; k < count && samplesWithoutNaN < holdLength; ++k) {
        const float x = in[k];  // read once: out may be the same buffer
        remember(&x, 1);
        samplesWithoutNaN = x != x ? 0 : samplesWithoutNaN + 1;
        out[k] = ring.push(x);
    }
    if (samplesWithoutNaN >= holdLength) {
        window.resume([this](int32_t ago) { return history[std::size_t(historyPosition(-ago))]; });
        ringRuns = false;
    }
    return k;
}

// Replays the samples since the start, at most the last N, into a fresh ring.
void ExactHold::startRing() {
    const int32_t first = historyPosition(-samplesSinceStart);
    ring.fill(holdLength, 1.0f, first);
    for (int32_t i = 0; i < samplesSinceStart; ++i)
        ring.push(history[std::size_t(historyPosition(i - samplesSinceStart))]);
    samplesWithoutNaN = 0;
    ringRuns = true;
}

inline void ExactHold::remember(const float* in, int32_t count) {
    for (int32_t k = 0; k < count;) {
        const int32_t run = std::min(count - k, holdLength - historyIndex);
        std::copy_n(in + k, run, history.get() + historyIndex);
        k += run;
        historyIndex = historyIndex + run == holdLength ? 0 : historyIndex + run;
    }
    samplesSinceStart = count >= holdLength - samplesSinceStart ? holdLength : samplesSinceStart + count;
}

// Index of the sample `offset` places from the next one to be written; offset >= -N.
inline int32_t ExactHold::historyPosition(int32_t offset) const {
    const int32_t position = historyIndex + offset;
    return position < 0 ? position + holdLength : position;
}

}  // namespace dynamics
