#include "ovm/core/raw_format.h"

#include <sndfile.h>

#include <charconv>
#include <utility>
#include <vector>

#include "engine/errors.h"

namespace ovm {

namespace {

int encodingNamed(std::string name, const std::string& text) {
    int order = SF_ENDIAN_LITTLE;
    if (name.size() > 2 && (name.ends_with("le") || name.ends_with("be"))) {
        order = name.ends_with("be") ? SF_ENDIAN_BIG : SF_ENDIAN_LITTLE;
        name.resize(name.size() - 2);
    }
    static const std::vector<std::pair<const char*, int>> encodings = {
        {"s8", SF_FORMAT_PCM_S8},  {"u8", SF_FORMAT_PCM_U8},  {"s16", SF_FORMAT_PCM_16}, {"s24", SF_FORMAT_PCM_24},
        {"s32", SF_FORMAT_PCM_32}, {"f32", SF_FORMAT_FLOAT}, {"f64", SF_FORMAT_DOUBLE}};
    for (const auto& [known, subtype] : encodings)
        if (name == known) return SF_FORMAT_RAW | subtype | order;
    throw usageError("--raw '" + text + "': the encoding is s8, u8, s16, s24, s32, f32 or f64 (e.g. s16 or s16be)");
}

int positiveNumber(std::string_view part, int largest, const char* what, const std::string& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (error != std::errc() || end != part.data() + part.size() || value < 1 || value > largest)
        throw usageError("--raw '" + text + "': the " + what + " must be a whole number from 1 to " +
                         std::to_string(largest));
    return value;
}

}  // namespace

RawFormat parseRawFormat(const std::string& text) {
    const auto first = text.find(':');
    const auto second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos)
        throw usageError("--raw '" + text + "': write RATE:CHANNELS:ENCODING, e.g. 48000:2:s16");
    const std::string_view all(text);
    RawFormat raw;
    raw.sampleRate = positiveNumber(all.substr(0, first), 10000000, "sample rate", text);
    raw.channels = positiveNumber(all.substr(first + 1, second - first - 1), 1024, "channel count", text);
    raw.libsndfileFormat = encodingNamed(text.substr(second + 1), text);
    return raw;
}

}  // namespace ovm
