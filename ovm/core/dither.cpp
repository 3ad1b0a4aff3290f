#include "ovm/core/dither.h"

#include <cmath>

namespace ovm {

namespace {

// Any fixed value will do; it only has to be the same on every run.
constexpr uint64_t kSeed = 0x9E3779B97F4A7C15ULL;

}  // namespace

Quantiser::Quantiser(int bits, bool dither)
    : bits(bits), dither(dither), scale(std::ldexp(1.0, bits - 1)), state(kSeed) {}

// splitmix64: small, fast, of good quality, and its output is fixed by its arithmetic
// alone, unlike the standard library's distributions, which differ between libraries.
double Quantiser::nextUniform() {
    state += 0x9E3779B97F4A7C15ULL;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return double(z >> 11) * 0x1.0p-53;
}

int32_t Quantiser::quantise(float sample) {
    if (std::isnan(sample)) {
        ++clipped;
        return 0;
    }
    double steps = double(sample) * scale;
    // The difference of two uniform values is triangular over ±1 step.
    if (dither) steps += nextUniform() - nextUniform();
    const double rounded = std::nearbyint(steps);
    const double highest = scale - 1;
    const double lowest = -scale;
    double value = rounded;
    if (rounded > highest || rounded < lowest) {
        // Dither alone can carry a sample at full scale over by a step: that is not clipping
        // of the signal, which fitted, and is not counted.
        if (double(sample) * scale > highest || double(sample) * scale < lowest) ++clipped;
        value = rounded > highest ? highest : lowest;
    }
    return int32_t(int64_t(value) * (int64_t(1) << (32 - bits)));
}

}  // namespace ovm
