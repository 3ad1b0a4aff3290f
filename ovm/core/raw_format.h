#pragma once

#include <string>

namespace ovm {

// Headerless audio as `--raw RATE:CHANNELS:ENCODING` describes it, e.g. "48000:2:s16":
// the encoding is s8, u8, s16, s24, s32, f32 or f64, little-endian unless it ends in "be".
struct RawFormat {
    int sampleRate = 0;
    int channels = 0;
    int libsndfileFormat = 0;  // SF_FORMAT_RAW with the subtype and the byte order
};

// Throws ovm::Error (usage class) saying what is wrong.
RawFormat parseRawFormat(const std::string& text);

}  // namespace ovm
