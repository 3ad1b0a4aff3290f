#include "ovm/core/output_format.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

#include "engine/errors.h"

namespace ovm {

namespace {

struct ContainerEntry {
    Container container;
    const char* name;        // as --format takes it
    const char* title;       // as the summary says it
    int major;               // libsndfile's major format
    std::vector<const char*> extensions;
    SampleDepth defaultDepth;
    long long largestBytes;  // 0: no 32-bit size field
    // libsndfile appends what it cannot seek back to write (FLAC's stream info), which
    // readers take for a damaged stream; WAV is ovm's own, with sizes "unknown".
    bool streamable;
};

// A RIFF or AIFF chunk counts its bytes in 32 bits; some room is left for the header.
constexpr long long kLargest32BitFile = 0xFFFFFFFFLL - 4096;

const std::vector<ContainerEntry>& containers() {
    static const std::vector<ContainerEntry> table = {
        {Container::wav, "wav", "WAV", SF_FORMAT_WAV, {".wav", ".wave"}, SampleDepth::float32, kLargest32BitFile, true},
        {Container::flac, "flac", "FLAC", SF_FORMAT_FLAC, {".flac"}, SampleDepth::int24, 0, false},
        {Container::aiff, "aiff", "AIFF", SF_FORMAT_AIFF, {".aiff", ".aif", ".aifc"}, SampleDepth::float32,
         kLargest32BitFile, false},
        {Container::ogg, "ogg", "Ogg Vorbis", SF_FORMAT_OGG, {".ogg", ".oga"}, SampleDepth::lossy, 0, true},
        {Container::opus, "opus", "Opus", SF_FORMAT_OGG, {".opus"}, SampleDepth::lossy, 0, true},
        {Container::w64, "w64", "W64", SF_FORMAT_W64, {".w64"}, SampleDepth::float32, 0, false},
        {Container::rf64, "rf64", "RF64", SF_FORMAT_RF64, {".rf64"}, SampleDepth::float32, 0, false},
    };
    return table;
}

const ContainerEntry& entryOf(Container container) {
    return *std::find_if(containers().begin(), containers().end(),
                         [&](const ContainerEntry& e) { return e.container == container; });
}

std::string lowered(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string formatNames() {
    std::vector<std::string> names;
    for (const ContainerEntry& e : containers()) names.push_back(e.name);
    return listed(names, "or");
}

Container containerNamed(const std::string& name) {
    for (const ContainerEntry& e : containers())
        if (lowered(name) == e.name) return e.container;
    throw usageError("--format '" + name + "': ovm writes " + formatNames());
}

Container containerOfPath(const std::string& path) {
    if (path == "-") throw usageError("writing to standard output needs --format (" + formatNames() + ")");
    const std::string extension = lowered(std::filesystem::path(path).extension().string());
    for (const ContainerEntry& e : containers())
        for (const char* known : e.extensions)
            if (extension == known) return e.container;
    throw usageError("output '" + path + "': " +
                     (extension.empty() ? std::string("no extension") : "unknown extension '" + extension + "'") +
                     " tells no format; name it .wav, .flac, .aiff, .ogg, .opus, .w64 or .rf64, or give --format");
}

SampleDepth depthNamed(const std::string& bits) {
    if (bits == "16") return SampleDepth::int16;
    if (bits == "24") return SampleDepth::int24;
    if (bits == "32") return SampleDepth::int32;
    if (lowered(bits) == "float") return SampleDepth::float32;
    throw usageError("--bits '" + bits + "': must be 16, 24, 32 or float");
}

}  // namespace

int OutputFormat::integerBits() const {
    switch (depth) {
        case SampleDepth::int16: return 16;
        case SampleDepth::int24: return 24;
        case SampleDepth::int32: return 32;
        default: return 0;
    }
}

std::string OutputFormat::describe() const {
    const std::string title = entryOf(container).title;
    if (depth == SampleDepth::lossy) return title;
    if (depth == SampleDepth::float32) return title + " 32-bit float";
    return title + " " + std::to_string(integerBits()) + "-bit";
}

int OutputFormat::libsndfileFormat() const {
    const int major = entryOf(container).major;
    if (container == Container::opus) return major | SF_FORMAT_OPUS;
    if (container == Container::ogg) return major | SF_FORMAT_VORBIS;
    switch (depth) {
        case SampleDepth::int16: return major | SF_FORMAT_PCM_16;
        case SampleDepth::int24: return major | SF_FORMAT_PCM_24;
        case SampleDepth::int32: return major | SF_FORMAT_PCM_32;
        default: return major | SF_FORMAT_FLOAT;
    }
}

long long OutputFormat::largestBytes() const { return entryOf(container).largestBytes; }

bool OutputFormat::streamable() const { return entryOf(container).streamable; }

OutputFormat chooseOutputFormat(const std::string& path, const std::optional<std::string>& format,
                                const std::optional<std::string>& bits) {
    OutputFormat chosen;
    chosen.container = format ? containerNamed(*format) : containerOfPath(path);
    const ContainerEntry& entry = entryOf(chosen.container);
    chosen.depth = entry.defaultDepth;
    if (!bits) return chosen;
    if (entry.defaultDepth == SampleDepth::lossy)
        throw usageError(std::string("--bits: ") + entry.title + " is a lossy codec; it takes no bit depth");
    chosen.depth = depthNamed(*bits);
    if (chosen.container == Container::flac && chosen.depth != SampleDepth::int16 &&
        chosen.depth != SampleDepth::int24)
        throw usageError("--bits " + *bits + ": FLAC holds 16 or 24 bits");
    return chosen;
}

std::string extensionOf(Container container) { return entryOf(container).extensions.front(); }

}  // namespace ovm
