#include "ovm/core/audio_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "ovm/core/errors.h"

namespace fs = std::filesystem;

namespace ovm {

AudioReader::AudioReader(const std::string& filePath) : path(filePath) {
    std::error_code error;
    if (!fs::exists(path, error)) throw inputError("cannot read input '" + path + "': no such file");
    if (fs::is_directory(path, error))
        throw inputError("cannot read input '" + path + "': it is a directory");
    file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        throw inputError("cannot read input '" + path + "' as audio: " + sf_strerror(nullptr));
    if (info.channels < 1 || info.samplerate < 0) {
        sf_close(file);
        throw inputError("input '" + path + "' has no audio channels");
    }
}

AudioReader::~AudioReader() { sf_close(file); }

long long AudioReader::read(float* interleaved, long long count) {
    return sf_readf_float(file, interleaved, count);
}

void checkOutputPath(const std::string& output, const std::string& input, bool overwrite) {
    std::error_code error;
    if (!input.empty() && fs::exists(output, error) && fs::equivalent(output, input, error))
        throw outputError("refusing to write the output over the input '" + input + "'");
    if (!overwrite && fs::exists(output, error))
        throw outputError("'" + output + "' exists; pass --overwrite to replace it");
    if (fs::is_directory(output, error)) throw outputError("'" + output + "' is a directory");
}

AudioWriter::AudioWriter(const std::string& filePath, int channels, double sampleRate, bool overwrite)
    : path(filePath) {
    checkOutputPath(path, "", overwrite);
    const fs::path target(path);
    temporaryPath =
        (target.parent_path() / ("." + target.filename().string() + ".partial-" + std::to_string(getpid())))
            .string();
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = int(sampleRate + 0.5);
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    file = sf_open(temporaryPath.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw outputError("cannot write '" + path + "': " + sf_strerror(nullptr));
    // The PEAK chunk carries the time of writing: without it, the same run gives the same bytes.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
}

AudioWriter::~AudioWriter() {
    if (file != nullptr) sf_close(file);
    if (!committed) std::remove(temporaryPath.c_str());
}

void AudioWriter::write(const float* interleaved, long long frames) {
    if (sf_writef_float(file, interleaved, frames) != frames)
        throw outputError("cannot write '" + path + "': " + sf_strerror(file));
}

void AudioWriter::commit() {
    if (sf_close(file) != 0) {
        file = nullptr;
        throw outputError("cannot finish '" + path + "'");
    }
    file = nullptr;
    std::error_code error;
    fs::rename(temporaryPath, path, error);
    if (error) throw outputError("cannot write '" + path + "': " + error.message());
    committed = true;
}

void writeAudioFile(const std::string& path, const std::vector<float>& interleaved, int channels,
                    double sampleRate, bool overwrite) {
    AudioWriter writer(path, channels, sampleRate, overwrite);
    writer.write(interleaved.data(), (long long)(interleaved.size() / std::size_t(channels)));
    writer.commit();
}

}  // namespace ovm
