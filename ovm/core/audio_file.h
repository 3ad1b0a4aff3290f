#pragma once

#include <sndfile.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ovm/core/dither.h"
#include "ovm/core/output_format.h"
#include "ovm/core/raw_format.h"

namespace ovm {

class OutputFile;
class WavWriter;

// Reads any format libsndfile reads, as interleaved 32-bit floats, from a file or, for "-",
// from standard input; headerless audio as `raw` describes it.
class AudioReader {
public:
    // Throws ovm::Error (input class) naming the file and libsndfile's reason.
    explicit AudioReader(const std::string& path, const std::optional<RawFormat>& raw = std::nullopt);
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    int channels() const { return info.channels; }
    double sampleRate() const { return info.samplerate; }
    // As the header declares it: a stream (a pipe) may end before.
    long long frames() const { return info.frames; }
    // False for a stream, whose header may declare any length.
    bool seekable() const { return info.seekable != 0; }
    // Reads up to `frames` frames; returns how many were read, fewer only at the end of the
    // data. Throws ovm::Error (input class) when a file (not a stream) ends before the
    // frames its header declares: it is damaged.
    long long read(float* interleaved, long long frames);

private:
    std::string path;
    SF_INFO info{};
    SNDFILE* file = nullptr;
    long long framesRead = 0;
};

// What an output holds and how floats become integers.
struct OutputEncoding {
    OutputFormat format;
    bool dither = true;  // TPDF dither when reducing to integers
};

// Writes audio in the encoding's format through an OutputFile, which becomes the named file
// only on commit() (an uncommitted writer leaves nothing behind), or, for "-", to standard
// output.
class AudioWriter {
public:
    // Throws ovm::Error (output class) when the file exists and overwrite is false, when the
    // temporary file cannot be created, or when libsndfile refuses the format (Opus at a
    // rate it does not take, a format that cannot go to a pipe).
    AudioWriter(const std::string& path, int channels, double sampleRate, bool overwrite,
                const OutputEncoding& encoding = {});
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    void write(const float* interleaved, long long frames);
    void commit();
    // Samples beyond full scale (or NaN) that the integers could not hold.
    long long clippedSamples() const { return quantiser ? quantiser->clippedSamples() : 0; }

private:
    void writeBytes(const void* data, std::size_t size);

    std::string path;
    int channels;
    bool overwrite;
    std::unique_ptr<OutputFile> output;  // none for standard output
    int fd;
    std::unique_ptr<WavWriter> wav;  // WAV, or else libsndfile's file
    SNDFILE* file = nullptr;
    std::optional<Quantiser> quantiser;
    std::vector<int32_t> integers;
};

// Refuses (with an output-class error) to write over an existing file unless asked to,
// over anything but a regular file, and into a folder that is missing or not writable.
// That no output is an input or another output is checked apart (run_files.h).
void checkOutputPath(const std::string& output, bool overwrite);

// Writes a whole interleaved signal at once, as a 32-bit float WAV file.
void writeAudioFile(const std::string& path, const std::vector<float>& interleaved, int channels,
                    double sampleRate, bool overwrite);

}  // namespace ovm
