#pragma once

#include <sndfile.h>

#include <memory>
#include <string>
#include <vector>

namespace ovm {

class OutputFile;

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
    // As the header declares it: a stream (a pipe) may end before, a damaged file too.
    long long frames() const { return info.frames; }
    // False for a stream, which legitimately ends wherever its data ends.
    bool seekable() const { return info.seekable != 0; }
    // Reads up to `frames` frames; returns how many were read.
    long long read(float* interleaved, long long frames);

private:
    std::string path;
    SF_INFO info{};
    SNDFILE* file = nullptr;
};

// Writes a 32-bit float WAV file through an OutputFile, which becomes the named file only on
// commit(); an uncommitted writer leaves nothing behind.
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
    bool overwrite;
    std::unique_ptr<OutputFile> output;
    SNDFILE* file = nullptr;
};

// Refuses (with an output-class error) to write over an existing file unless asked to,
// over anything but a regular file, and into a folder that is missing or not writable.
// That no output is an input or another output is checked apart (run_files.h).
void checkOutputPath(const std::string& output, bool overwrite);

// Writes a whole interleaved signal at once.
void writeAudioFile(const std::string& path, const std::vector<float>& interleaved, int channels,
                    double sampleRate, bool overwrite);

}  // namespace ovm
