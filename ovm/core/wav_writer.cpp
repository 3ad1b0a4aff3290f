#include "ovm/core/wav_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/errors.h"

namespace ovm {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint32_t kUnknownSize = 0xFFFFFFFF;

void put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

void putTag(std::vector<uint8_t>& out, const char* tag) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(tag[i]));
}

}  // namespace

WavWriter::WavWriter(int fd, std::function<void(const void*, std::size_t)> write, int channels,
                     int sampleRate, int bits)
    : fd(fd),
      write(std::move(write)),
      channels(channels),
      sampleRate(sampleRate),
      bits(bits),
      start(lseek(fd, 0, SEEK_CUR)),
      // A descriptor opened for appending would write the sizes at the end, not over the header.
      seekable(start >= 0 && (fcntl(fd, F_GETFL) & O_APPEND) == 0) {
    const std::vector<uint8_t> start = header(false);
    this->write(start.data(), start.size());
}

// RIFF, then the format chunk (for float with its extension size of 0 and a fact chunk with
// the frame count, as the format requires of every non-PCM file), then the data chunk.
std::vector<uint8_t> WavWriter::header(bool sizesKnown) const {
    const bool isFloat = bits == 0;
    const uint32_t bytesPerSample = isFloat ? 4 : uint32_t(bits / 8);
    const uint32_t blockAlign = bytesPerSample * uint32_t(channels);
    const uint64_t dataBytes = uint64_t(frames) * blockAlign;
    const uint32_t formatSize = isFloat ? 18 : 16;
    const uint32_t headerBytes = 4 + (8 + formatSize) + (isFloat ? 12 : 0) + 8;
    std::vector<uint8_t> out;
    putTag(out, "RIFF");
    put32(out, sizesKnown ? uint32_t(headerBytes + dataBytes + (dataBytes & 1)) : kUnknownSize);
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    put32(out, formatSize);
    put16(out, isFloat ? kFormatFloat : kFormatPcm);
    put16(out, uint32_t(channels));
    put32(out, uint32_t(sampleRate));
    put32(out, uint32_t(sampleRate) * blockAlign);
    put16(out, blockAlign);
    put16(out, bytesPerSample * 8);
    if (isFloat) {
        put16(out, 0);
        putTag(out, "fact");
        put32(out, 4);
        put32(out, sizesKnown ? uint32_t(frames) : kUnknownSize);
    }
    putTag(out, "data");
    put32(out, sizesKnown ? uint32_t(dataBytes) : kUnknownSize);
    return out;
}

void WavWriter::writeIntegers(const int32_t* interleaved, long long count) {
    const std::size_t samples = std::size_t(count) * std::size_t(channels);
    const int bytesPerSample = bits / 8;
    bytes.resize(samples * std::size_t(bytesPerSample));
    uint8_t* out = bytes.data();
    for (std::size_t i = 0; i < samples; ++i) {
        const auto value = uint32_t(interleaved[i]);
        // Left-justified: the sample's bytes are the top ones, least significant first.
        for (int b = 4 - bytesPerSample; b < 4; ++b) *out++ = uint8_t(value >> (8 * b));
    }
    write(bytes.data(), bytes.size());
    frames += count;
}

void WavWriter::writeFloats(const float* interleaved, long long count) {
    const std::size_t samples = std::size_t(count) * std::size_t(channels);
    bytes.resize(samples * 4);
    for (std::size_t i = 0; i < samples; ++i) {
        uint32_t value;
        std::memcpy(&value, &interleaved[i], 4);
        for (int b = 0; b < 4; ++b) bytes[i * 4 + std::size_t(b)] = uint8_t(value >> (8 * b));
    }
    write(bytes.data(), bytes.size());
    frames += count;
}

void WavWriter::finish() {
    const int bytesPerSample = bits == 0 ? 4 : bits / 8;
    if ((frames * bytesPerSample * channels) % 2 != 0) {
        const uint8_t pad = 0;
        write(&pad, 1);
    }
    if (!seekable) return;
    const std::vector<uint8_t> sized = header(true);
    if (pwrite(fd, sized.data(), sized.size(), start) != ssize_t(sized.size()))
        throw outputError(std::string("cannot complete the WAV header: ") + std::strerror(errno));
}

}  // namespace ovm
