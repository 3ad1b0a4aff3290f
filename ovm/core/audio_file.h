#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

namespace ovm {

// Reads any format libsndfile reads, as interleaved 32-bit floats.
class AudioReader {
public:
    // Throws ovm::Error (input class) naming the file and libsndfile's reason.
    explicit AudioReader(const std::string& path);
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    int channels() const { return info.channels; }
    double sampleRate() const { return info.samplerate; }
    long long frames() const { return info.frames; }
    // Reads up to `frames` frames; returns how many were read.
    long long read(float* interleaved, long long frames);

private:
    std::string path;
    SF_INFO info{};
    SNDFILE* file = nullptr;
};

// Writes a 32-bit float WAV file through a temporary file beside it, which becomes the
// named file only on commit(); an uncommitted writer removes its temporary file.
class AudioWriter {
public:
    // Throws ovm::Error (output class) when the file exists and overwrite is false, or
    // when the temporary file cannot be created.
    AudioWriter(const std::string& path, int channels, double sampleRate, bool overwrite);
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    void write(const float* interleaved, long long frames);
    void commit();

private:
    std::string path;
    std::string temporaryPath;
    SNDFILE* file = nullptr;
    bool committed = false;
};

// Refuses (with an output-class error) to write over the input, and over an existing
// file unless asked to.
void checkOutputPath(const std::string& output, const std::string& input, bool overwrite);

// Writes a whole interleaved signal at once.
void writeAudioFile(const std::string& path, const std::vector<float>& interleaved, int channels,
                    double sampleRate, bool overwrite);

}  // namespace ovm
