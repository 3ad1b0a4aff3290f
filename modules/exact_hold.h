#pragma once

// The hold's kernel: for a hold length N, the output at every sample is what a doubling ring
// of N entries (doubling_ring.h), filled with 1.0 when the hold starts, gives for it:
//
//   out[n] = min(in[n - W + 1], ..., in[n]),  W the largest power of two not above N,
//            samples from before the start counting as 1.0, NaN folded as the ring folds it.
//
// The ring costs log2 N comparisons per sample; this class gives its bits at constant cost
// wherever the comparisons' order cannot matter:
//  - Without NaN among the last N samples, the ring's output is the newest of the samples
//    equal to the window's minimum, whichever order its comparisons take, and the sliding
//    minimum (sliding_minimum.h) gives those bits at three comparisons per sample.
//  - From the first NaN on, the ring itself runs. It is recreated then from the last N input
//    samples (those since the start when fewer, the ring's other entries 1.0), which the
//    hold always keeps: a ring's state after N samples depends on those samples alone.
//  - After N samples in a row without NaN the ring holds none any more; the sliding minimum
//    resumes from the last W samples and takes over again.
// So the output is the ring's to the bit, whatever the signal and however it is cut into
// runs. A hold length of 1 or less passes the input through.

#include <cstdint>
#include <memory>

#include "modules/doubling_ring.h"
#include "modules/sliding_minimum.h"

namespace dynamics {

class ExactHold {
public:
    // A hold that passes its input through; it holds no storage.
    ExactHold() = default;

    // A hold of `length` samples, as if preceded by samples of 1.0. Takes 2N + W + 1 floats
    // (the last N samples, the ring and the sliding minimum), all allocated here: throws
    // std::bad_alloc when they are not there, so a caller that replaces its hold with a new
    // one only once constructed keeps the old one intact on failure. Moves never throw.
    explicit ExactHold(int32_t length);

    // The hold length N; 1 for a hold that passes its input through.
    int32_t length() const { return holdLength; }

    // out[k] = the hold's output for in[k]. out may be the same buffer as in. Allocates
    // nothing and raises no floating-point exception, NaN input included.
    void run(const float* in, float* out, int32_t count);

private:
    int32_t runSlidingMinimum(const float* in, float* out, int32_t count);
    int32_t runRing(const float* in, float* out, int32_t count);
    void startRing();
    void remember(const float* in, int32_t count);
    int32_t historyPosition(int32_t offset) const;

    int32_t holdLength = 1;            // N
    std::unique_ptr<float[]> history;  // the last N input samples
    int32_t historyIndex = 0;          // where the next sample goes
    int32_t samplesSinceStart = 0;     // up to N
    int32_t samplesWithoutNaN = 0;     // while the ring runs, up to N
    bool ringRuns = false;             // the ring runs, not the sliding minimum
    DoublingRing ring;
    SlidingMinimum window;
};

}  // namespace dynamics
