#include "ovm/core/loudness_meter.h"

#include <ebur128.h>

#include <algorithm>
#include <stdexcept>

#include "ovm/core/signal_meter.h"

namespace ovm {

double ChannelLevels::crestDb() const { return rms > 0 ? toDb(samplePeak / rms) : 0.0; }

double StreamLevels::samplePeak() const {
    double peak = 0;
    for (const ChannelLevels& c : channels) peak = std::max(peak, c.samplePeak);
    return peak;
}

double StreamLevels::truePeak() const {
    double peak = channels.empty() ? NAN : 0;
    for (const ChannelLevels& c : channels) peak = std::isnan(c.truePeak) ? NAN : std::max(peak, c.truePeak);
    return peak;
}

long long StreamLevels::nonFiniteSamples() const {
    long long count = 0;
    for (const ChannelLevels& c : channels) count += c.nonFiniteSamples;
    return count;
}

struct LoudnessMeter::State {
    explicit State(int32_t channels, double sampleRate)
        : meter(ebur128_init(unsigned(channels), static_cast<unsigned long>(sampleRate),
                             EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_S | EBUR128_MODE_TRUE_PEAK)) {
        if (meter == nullptr) throw std::bad_alloc();
        // Every channel counts as a front channel: the surround weights and the LFE's
        // exclusion would need a channel layout, which a run does not read.
        for (int32_t c = 0; c < channels; ++c) ebur128_set_channel(meter, unsigned(c), EBUR128_LEFT);
    }
    ~State() { ebur128_destroy(&meter); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    // A figure libebur128 reports, or NaN if it cannot.
    template <typename Query>
    double figure(Query query) const {
        double value = NAN;
        return query(meter, &value) == EBUR128_SUCCESS ? value : NAN;
    }

    ebur128_state* meter;
};

namespace {

// The short-term loudness reads the last 3 s and moves in steps of 100 ms.
constexpr double kShortTermSeconds = 3.0;
constexpr double kShortTermStepSeconds = 0.1;

bool usesLibrary(double sampleRate) {
    return sampleRate >= LoudnessMeter::kLowestRate && sampleRate <= LoudnessMeter::kHighestRate &&
           sampleRate == std::floor(sampleRate);
}

}  // namespace

LoudnessMeter::LoudnessMeter(int32_t channels, double sampleRate, int32_t windowFrames, bool keepWindows)
    : window(std::max<int32_t>(1, windowFrames)),
      windowsPerShortTermStep(std::max(1, int(std::lround(kShortTermStepSeconds * sampleRate / window)))),
      framesInShortTerm(std::llround(kShortTermSeconds * sampleRate)),
      keepWindows(keepWindows),
      state(channels > 0 && usesLibrary(sampleRate) ? std::make_unique<State>(channels, sampleRate)
                                                    : nullptr),
      channelSums(std::size_t(channels)),
      interleaved(std::size_t(window) * std::size_t(channels)) {}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::add(const std::vector<const float*>& channels, int32_t count) {
    // Pieces end at window ends, so that libebur128's peak of the last piece belongs to
    // one window.
    for (int32_t offset = 0; offset < count;) {
        const int32_t piece = std::min(count - offset, window - framesInWindow);
        addPiece(channels, offset, piece);
        offset += piece;
    }
}

void LoudnessMeter::addPiece(const std::vector<const float*>& channels, int32_t offset, int32_t count) {
    const std::size_t stride = channels.size();
    for (std::size_t c = 0; c < stride; ++c) {
        Channel& sums = channelSums[c];
        for (int32_t i = 0; i < count; ++i) {
            const float x = channels[c][offset + i];
            const bool finite = std::isfinite(x);
            interleaved[std::size_t(i) * stride + c] = finite ? x : 0.0f;
            if (!finite) {
                ++sums.nonFinite;
                continue;
            }
            const double magnitude = std::fabs(double(x));
            if (magnitude > sums.samplePeak) {
                sums.samplePeak = magnitude;
                sums.samplePeakFrame = frames + i;
            }
            current.samplePeak = std::max(current.samplePeak, magnitude);
            sums.sumOfSquares += double(x) * double(x);
        }
    }
    if (state) measureTruePeak(count);
    frames += count;
    framesInWindow += count;
    if (framesInWindow == window) closeWindow();
}

void LoudnessMeter::measureTruePeak(int32_t count) {
    // libebur128 fails only when it cannot grow its history of blocks.
    if (ebur128_add_frames_float(state->meter, interleaved.data(), std::size_t(count)) != EBUR128_SUCCESS)
        throw std::bad_alloc();
    double piecePeak = 0;
    for (unsigned c = 0; c < channelSums.size(); ++c) {
        double peak = 0;
        if (ebur128_prev_true_peak(state->meter, c, &peak) == EBUR128_SUCCESS)
            piecePeak = std::max(piecePeak, peak);
    }
    current.truePeak = std::isnan(current.truePeak) ? piecePeak : std::max(current.truePeak, piecePeak);
    if (piecePeak > truePeakMax) {
        truePeakMax = piecePeak;
        truePeakFrame = frames - framesInWindow;
    }
}

void LoudnessMeter::closeWindow() {
    if (keepWindows) windowPeaks.push_back(current);
    current = {};
    framesInWindow = 0;
    ++windowsClosed;
    // Before 3 s the short-term window is not yet full of the programme.
    if (state && frames >= framesInShortTerm && windowsClosed % windowsPerShortTermStep == 0)
        shortTermMax = std::max(shortTermMax, state->figure(ebur128_loudness_shortterm));
}

StreamLevels LoudnessMeter::finish() {
    if (framesInWindow > 0) closeWindow();
    StreamLevels levels;
    double loudest = -1;
    for (unsigned c = 0; c < channelSums.size(); ++c) {
        const Channel& sums = channelSums[c];
        ChannelLevels channel;
        channel.samplePeak = sums.samplePeak;
        const long long finite = frames - sums.nonFinite;
        channel.rms = finite > 0 ? std::sqrt(sums.sumOfSquares / double(finite)) : 0.0;
        channel.nonFiniteSamples = sums.nonFinite;
        if (state) ebur128_true_peak(state->meter, c, &channel.truePeak);
        levels.channels.push_back(channel);
        if (sums.samplePeak > loudest) {
            loudest = sums.samplePeak;
            levels.samplePeakFrame = sums.samplePeakFrame;
        }
    }
    levels.truePeakFrame = truePeakFrame;
    if (state) {
        levels.integratedLufs = state->figure(ebur128_loudness_global);
        levels.loudnessRangeLu = state->figure(ebur128_loudness_range);
        // The last 3 s count too; a programme shorter than that reads as what there is of it.
        const double last = state->figure(ebur128_loudness_shortterm);
        levels.shortTermMaxLufs = frames < framesInShortTerm ? last : std::max(shortTermMax, last);
    }
    return levels;
}

}  // namespace ovm
