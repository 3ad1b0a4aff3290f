#pragma once

#include <memory>
#include <vector>

#include "ovm/core/audio_file.h"
#include "ovm/core/resampler.h"

namespace ovm {

// The input's frames at the rate the run needs: the reader's own, or resampled to it.
class InputStream {
public:
    InputStream(AudioReader& reader, double rate);

    int channels() const { return reader.channels(); }
    bool resampled() const { return resampler != nullptr; }
    // The frames the input should give at the run's rate, as its header declares them; a
    // stream may end before.
    long long expectedFrames() const;
    // Reads up to `frames` interleaved frames; fewer only at the end of the input.
    long long read(float* interleaved, long long frames);

private:
    AudioReader& reader;
    std::unique_ptr<Resampler> resampler;
    std::vector<float> fileFrames;   // read from the file, to be resampled
    std::vector<float> ready;        // resampled, not yet taken
    std::size_t readyStart = 0;      // samples of `ready` already taken
    bool fileEnded = false;
};

}  // namespace ovm
