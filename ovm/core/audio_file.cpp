#include "ovm/core/audio_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/errors.h"
#include "ovm/core/output_file.h"
#include "ovm/core/wav_writer.h"

namespace fs = std::filesystem;

namespace ovm {

namespace {

constexpr const char* kStandardStream = "-";

std::string inputName(const std::string& path) {
    return path == kStandardStream ? "standard input" : "input '" + path + "'";
}

}  // namespace

AudioReader::AudioReader(const std::string& filePath, const std::optional<RawFormat>& raw) : path(filePath) {
    const bool standardInput = path == kStandardStream;
    std::error_code error;
    if (!standardInput && !fs::exists(path, error))
        throw inputError("cannot read input '" + path + "': no such file");
    if (!standardInput && fs::is_directory(path, error))
        throw inputError("cannot read input '" + path + "': it is a directory");
    if (raw) {
        info.samplerate = raw->sampleRate;
        info.channels = raw->channels;
        info.format = raw->libsndfileFormat;
    }
    file = standardInput ? sf_open_fd(STDIN_FILENO, SFM_READ, &info, SF_FALSE)
                         : sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        throw inputError("cannot read " + inputName(path) + " as audio: " + sf_strerror(nullptr) +
                         (raw ? "" : " (headerless audio needs --raw RATE:CHANNELS:ENCODING)"));
    if (info.channels < 1 || info.samplerate < 0) {
        sf_close(file);
        throw inputError(inputName(path) + " has no audio channels");
    }
}

AudioReader::~AudioReader() { sf_close(file); }

long long AudioReader::read(float* interleaved, long long count) {
    const long long read = std::max(0LL, (long long)sf_readf_float(file, interleaved, count));
    framesRead += read;
    // A stream legitimately ends wherever its data ends; a file that ends early is damaged.
    if (read < count && framesRead < info.frames && info.seekable)
        throw inputError("input '" + path + "' ends at frame " + std::to_string(framesRead) + ", before the " +
                         std::to_string(info.frames) + " frames its header declares");
    return read;
}

void checkOutputPath(const std::string& output, bool overwrite) {
    if (output == kStandardStream) return;
    std::error_code error;
    const fs::file_status status = fs::symlink_status(output, error);
    if (fs::exists(status)) {
        if (!overwrite) throw outputError("'" + output + "' exists; pass --overwrite to replace it");
        if (fs::is_directory(status)) throw outputError("'" + output + "' is a directory");
        // A rename would put a file in place of a device, a pipe or a link's name.
        if (!fs::is_regular_file(status))
            throw outputError("'" + output + "' is not a regular file; ovm replaces only regular files");
    }
    // Found now, before the processing whose result would have nowhere to go.
    const fs::path parent = fs::path(output).parent_path();
    const fs::path folder = parent.empty() ? fs::path(".") : parent;
    if (!fs::is_directory(folder, error))
        throw outputError("cannot write '" + output + "': the folder '" + folder.string() +
                          "' does not exist");
    if (access(folder.c_str(), W_OK) != 0)
        throw outputError("cannot write '" + output + "': the folder '" + folder.string() +
                          "' is not writable");
}

AudioWriter::AudioWriter(const std::string& filePath, int channels, double sampleRate, bool overwrite,
                         const OutputEncoding& encoding)
    : path(filePath == kStandardStream ? "standard output" : filePath), channels(channels), overwrite(overwrite) {
    const OutputFormat& format = encoding.format;
    if (filePath == kStandardStream) {
        if (!format.streamable())
            throw usageError(format.describe() + " cannot be written to standard output; choose wav, ogg or opus");
        if (isatty(STDOUT_FILENO))
            throw usageError("standard output is a terminal; send the audio to a file or a pipe");
        fd = STDOUT_FILENO;
    } else {
        checkOutputPath(path, overwrite);
        output = std::make_unique<OutputFile>(path);
        fd = output->descriptor();
    }
    if (format.integerBits() > 0) quantiser.emplace(format.integerBits(), encoding.dither);
    const int rate = int(sampleRate + 0.5);
    if (format.container == Container::wav) {
        wav = std::make_unique<WavWriter>(
            fd, [this](const void* data, std::size_t size) { writeBytes(data, size); }, channels, rate,
            format.integerBits());
        return;
    }
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = rate;
    info.format = format.libsndfileFormat();
    file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (file == nullptr)
        throw outputError("cannot write " + format.describe() + " to '" + path + "': " + sf_strerror(nullptr));
    // The PEAK chunk carries the time of writing: without it, the same run gives the same bytes.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
}

AudioWriter::~AudioWriter() {
    if (file != nullptr) sf_close(file);
}

void AudioWriter::writeBytes(const void* data, std::size_t size) {
    if (output)
        output->write(data, size);
    else
        writeAllTo(fd, data, size, path);
}

void AudioWriter::write(const float* interleaved, long long frames) {
    if (quantiser) {
        integers.resize(std::size_t(frames * channels));
        for (std::size_t i = 0; i < integers.size(); ++i) integers[i] = quantiser->quantise(interleaved[i]);
    }
    if (wav) {
        if (quantiser)
            wav->writeIntegers(integers.data(), frames);
        else
            wav->writeFloats(interleaved, frames);
        return;
    }
    const long long written =
        quantiser ? sf_writef_int(file, integers.data(), frames) : sf_writef_float(file, interleaved, frames);
    if (written != frames) throw outputError("cannot write '" + path + "': " + sf_strerror(file));
}

void AudioWriter::commit() {
    if (wav) wav->finish();
    if (file != nullptr) {
        const int closing = sf_close(file);
        file = nullptr;
        if (closing != 0) throw outputError("cannot finish '" + path + "'");
    }
    if (output) output->commit(overwrite);
}

void writeAudioFile(const std::string& path, const std::vector<float>& interleaved, int channels,
                    double sampleRate, bool overwrite) {
    AudioWriter writer(path, channels, sampleRate, overwrite);
    writer.write(interleaved.data(), (long long)(interleaved.size() / std::size_t(channels)));
    writer.commit();
}

}  // namespace ovm
