#include "ovm/core/input_stream.h"

#include <algorithm>
#include <cmath>

namespace ovm {

namespace {

constexpr long long kChunkFrames = 8192;

}  // namespace

InputStream::InputStream(AudioReader& reader, double rate) : reader(reader) {
    if (rate != reader.sampleRate())
        resampler = std::make_unique<Resampler>(reader.channels(), reader.sampleRate(), rate);
}

long long InputStream::expectedFrames() const {
    // A stream may declare any length, up to the largest count: the sums the run makes with
    // it (a tail, the latency) must not overflow.
    constexpr long long kLongest = 1LL << 60;
    if (!resampler) return std::min(reader.frames(), kLongest);
    return (long long)std::min(double(reader.frames()) * resampler->ratio(), double(kLongest));
}

long long InputStream::read(float* interleaved, long long frames) {
    if (!resampler) return reader.read(interleaved, frames);
    const auto width = std::size_t(channels());
    long long given = 0;
    while (given < frames) {
        if (readyStart == ready.size()) {
            if (fileEnded) break;
            fileFrames.resize(std::size_t(kChunkFrames) * width);
            const long long read = reader.read(fileFrames.data(), kChunkFrames);
            fileEnded = read < kChunkFrames;
            ready = resampler->push(fileFrames.data(), read);
            if (fileEnded) {
                const std::vector<float>& rest = resampler->finish();
                ready.insert(ready.end(), rest.begin(), rest.end());
            }
            readyStart = 0;
            continue;
        }
        const std::size_t take = std::min(ready.size() - readyStart, std::size_t(frames - given) * width);
        std::copy_n(ready.begin() + std::ptrdiff_t(readyStart), take, interleaved + std::size_t(given) * width);
        readyStart += take;
        given += (long long)(take / width);
    }
    return given;
}

}  // namespace ovm
