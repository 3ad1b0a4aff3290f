#pragma once

#include <vector>

struct soxr;

namespace ovm {

// Converts interleaved float audio from one sample rate to another with libsoxr at the
// quality sox uses by default (high: 20 bits, a pass band to 91% of Nyquist, linear
// phase). The output is not delayed: its first frame is the input's first moment, and
// after finish() it holds as many frames as the input's length at the new rate.
class Resampler {
public:
    // Throws ovm::Error (internal class) when libsoxr refuses the rates.
    Resampler(int channels, double fromRate, double toRate);
    ~Resampler();
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Takes `frames` frames and returns the converted frames ready so far (a view valid
    // until the next call).
    const std::vector<float>& push(const float* interleaved, long long frames);
    // The frames still held back by the filter, once the input has ended.
    const std::vector<float>& finish();
    // Frames in `out` of the last call.
    long long framesOut() const { return (long long)out.size() / channels; }
    double ratio() const { return toRate / fromRate; }

private:
    void run(const float* interleaved, long long frames);

    struct soxr* handle = nullptr;
    int channels;
    double fromRate;
    double toRate;
    std::vector<float> out;
};

}  // namespace ovm
