#pragma once

#include <cstdint>

namespace ovm {

// Turns float samples (full scale ±1) into integers of 16, 24 or 32 bits, with triangular
// (TPDF) dither of ±1 least significant bit unless turned off. Without dither, the error of
// rounding follows the signal (distortion at low levels); with it, the error is noise of a
// fixed, signal-independent level. The noise comes from a generator seeded by a constant,
// so the same samples in the same order give the same integers: a rerun writes the same
// bytes. Samples beyond full scale are clipped to the largest integer and counted, as is
// NaN (written as 0).
class Quantiser {
public:
    Quantiser(int bits, bool dither);

    // The integer, left-justified in 32 bits (a 16-bit sample in the top 16 bits), as
    // libsndfile's integer writes and ovm's WAV writer take it.
    int32_t quantise(float sample);
    long long clippedSamples() const { return clipped; }

private:
    double nextUniform();  // in [0, 1)

    int bits;
    bool dither;
    double scale;  // full scale in steps of the least significant bit
    uint64_t state;
    long long clipped = 0;
};

}  // namespace ovm
