#include "ovm/core/resampler.h"

#include <soxr.h>

#include <cmath>

#include "engine/errors.h"

namespace ovm {

Resampler::Resampler(int channels, double fromRate, double toRate)
    : channels(channels), fromRate(fromRate), toRate(toRate) {
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    handle = soxr_create(fromRate, toRate, unsigned(channels), &error, &io, &quality, nullptr);
    if (error != nullptr)
        throw Error(ExitCode::internal, std::string("cannot resample: ") + error);
}

Resampler::~Resampler() { soxr_delete(handle); }

// Gives the input in one piece and collects the output, growing the room until the
// resampler has no more to give: it returns fewer frames than the room only when done.
void Resampler::run(const float* interleaved, long long frames) {
    out.clear();
    std::size_t given = 0;
    const auto total = std::size_t(frames);
    while (true) {
        const std::size_t room = std::size_t(std::ceil(double(total - given) * ratio())) + 1024;
        const std::size_t start = out.size();
        out.resize(start + room * std::size_t(channels));
        std::size_t used = 0, produced = 0;
        const float* in = interleaved ? interleaved + given * std::size_t(channels) : nullptr;
        const soxr_error_t error =
            soxr_process(handle, in, interleaved ? total - given : 0, &used, out.data() + start, room, &produced);
        if (error != nullptr) throw Error(ExitCode::internal, std::string("resampling failed: ") + error);
        given += used;
        out.resize(start + produced * std::size_t(channels));
        if (produced < room && (interleaved == nullptr || given == total)) return;
    }
}

const std::vector<float>& Resampler::push(const float* interleaved, long long frames) {
    run(interleaved, frames);
    return out;
}

const std::vector<float>& Resampler::finish() {
    run(nullptr, 0);
    return out;
}

}  // namespace ovm
