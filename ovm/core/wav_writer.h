#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace ovm {

// Writes a WAV file to a descriptor: the header, then the samples little-endian, then, where
// the descriptor can seek, the header again with the sizes. On a pipe the sizes stay
// "unknown" (all ones), which readers take as "until the end of the stream".
//
// ovm writes WAV itself because libsndfile neither writes WAV to a pipe nor gives a float
// file's format chunk the two-byte extension size that readers such as sox expect of every
// format but integer PCM (they warn "wave header missing extended part of fmt chunk").
class WavWriter {
public:
    // `bits` 16, 24 or 32 for integers, 0 for 32-bit float. `write` writes all the bytes
    // it is given or throws.
    WavWriter(int fd, std::function<void(const void*, std::size_t)> write, int channels, int sampleRate,
              int bits);

    // Integers left-justified in 32 bits (dither.h), `frames` times the channels of them.
    void writeIntegers(const int32_t* interleaved, long long frames);
    void writeFloats(const float* interleaved, long long frames);
    // Pads the data to an even length and writes the sizes where the descriptor seeks.
    // Throws what `write` throws, or ovm::Error (output class) when the header cannot be
    // rewritten.
    void finish();

private:
    std::vector<uint8_t> header(bool sizesKnown) const;

    int fd;
    std::function<void(const void*, std::size_t)> write;
    int channels;
    int sampleRate;
    int bits;
    off_t start;  // where the header begins
    bool seekable;
    long long frames = 0;
    std::vector<uint8_t> bytes;  // one write's worth, reused
};

}  // namespace ovm
