#pragma once

#include <optional>
#include <string>

namespace ovm {

// The kinds of file ovm writes. WAV is written by ovm itself (wav_writer.h); the others
// through libsndfile.
enum class Container { wav, flac, aiff, ogg, opus, w64, rf64 };

// How each sample is stored: an integer of 16, 24 or 32 bits, a 32-bit float, or whatever
// a lossy codec makes of floats.
enum class SampleDepth { int16, int24, int32, float32, lossy };

struct OutputFormat {
    Container container = Container::wav;
    SampleDepth depth = SampleDepth::float32;

    // The bits of an integer depth, 0 for float and lossy.
    int integerBits() const;
    // "FLAC 24-bit", "WAV 32-bit float", "Opus".
    std::string describe() const;
    // The libsndfile format code (major format and subtype).
    int libsndfileFormat() const;
    // The largest file the container's 32-bit sizes describe; 0 when it has no such limit.
    long long largestBytes() const;
    // Whether it can be written to a pipe, whose start cannot be rewritten at the end.
    bool streamable() const;
};

// The format of an output: the container from `--format` (wav, flac, aiff, ogg, opus, w64,
// rf64) or else from the file name's extension, and the depth from `--bits` (16, 24, 32,
// float) or else the container's default (float, but 24 bits for FLAC). Standard output
// ("-") needs `--format`. Throws ovm::Error (usage class) for an unknown extension or
// format, and for a depth the container cannot hold (FLAC has no float; Ogg and Opus take
// no --bits).
OutputFormat chooseOutputFormat(const std::string& path, const std::optional<std::string>& format,
                                const std::optional<std::string>& bits);

// The usual extension of a container, with its dot: ".flac".
std::string extensionOf(Container container);

}  // namespace ovm
