#include "ovm/core/audio_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/errors.h"
#include "ovm/core/output_file.h"

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

void checkOutputPath(const std::string& output, bool overwrite) {
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

AudioWriter::AudioWriter(const std::string& filePath, int channels, double sampleRate, bool overwrite)
    : path(filePath), overwrite(overwrite) {
    checkOutputPath(path, overwrite);
    output = std::make_unique<OutputFile>(path);
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = int(sampleRate + 0.5);
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    file = sf_open_fd(output->descriptor(), SFM_WRITE, &info, SF_FALSE);
    if (file == nullptr) throw outputError("cannot write '" + path + "': " + sf_strerror(nullptr));
    // The PEAK chunk carries the time of writing: without it, the same run gives the same bytes.
    sf_command(file, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
}

AudioWriter::~AudioWriter() {
    if (file != nullptr) sf_close(file);
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
    output->commit(overwrite);
}

void writeAudioFile(const std::string& path, const std::vector<float>& interleaved, int channels,
                    double sampleRate, bool overwrite) {
    AudioWriter writer(path, channels, sampleRate, overwrite);
    writer.write(interleaved.data(), (long long)(interleaved.size() / std::size_t(channels)));
    writer.commit();
}

}  // namespace ovm
