#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace ovm {

// The levels of one channel over a run. Sample peak and RMS describe the finite samples;
// NaN and infinities are counted apart.
struct ChannelLevels {
    double samplePeak = 0;  // linear, 1 is 0 dBFS
    double truePeak = NAN;  // linear, 1 is 0 dBTP; NaN when not measured at the run's rate
    double rms = 0;
    long long nonFiniteSamples = 0;
    // Sample peak over RMS in dB; 0 for silence.
    double crestDb() const;
};

// The levels of a stream (the run's input or its output) over a run.
struct StreamLevels {
    std::vector<ChannelLevels> channels;
    // In LUFS and LU. -inf LUFS when no 400 ms block passed the -70 LUFS gate (silence);
    // NaN when not measured at the run's rate.
    double integratedLufs = NAN;
    double loudnessRangeLu = NAN;
    double shortTermMaxLufs = NAN;
    // Where the largest peaks lie, in frames from the start: the sample peak to the sample,
    // the true peak to the start of the metering window (10 ms) that holds it.
    long long samplePeakFrame = 0;
    long long truePeakFrame = 0;

    double samplePeak() const;  // the largest of the channels'
    double truePeak() const;    // the largest of the channels'; NaN when not measured
    long long nonFiniteSamples() const;
    bool truePeakMeasured() const { return !std::isnan(truePeak()); }
};

// The peaks of one metering window, the largest over the channels (linear).
struct WindowPeaks {
    double samplePeak = 0;
    double truePeak = NAN;
};

// Meters one stream block by block. True peak (4x oversampled below 96 kHz, as BS.1770
// asks), integrated loudness, loudness range and short-term loudness come from libebur128;
// sample peak, RMS and the count of NaN and infinite samples from one pass of its own, so
// that they exist at every rate. libebur128 is used only at rates where its filters and
// windows make sense (kLowestRate to kHighestRate); elsewhere its figures are NaN.
//
// A NaN or infinite sample reaches libebur128 as 0: the loudness of the remaining signal
// stays meaningful, the sample is counted in nonFiniteSamples, and a run with a ceiling
// fails on it.
class LoudnessMeter {
public:
    static constexpr double kLowestRate = 8000;
    static constexpr double kHighestRate = 768000;

    // Windows of `windowFrames` frames; their peaks are kept for a plot when `keepWindows`.
    LoudnessMeter(int32_t channels, double sampleRate, int32_t windowFrames, bool keepWindows);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // The next `count` frames, one buffer per channel.
    void add(const std::vector<const float*>& channels, int32_t count);

    // The figures over everything added; closes a partly filled last window.
    StreamLevels finish();

    // Per window, once finished (empty unless kept).
    const std::vector<WindowPeaks>& windows() const { return windowPeaks; }
    int32_t windowFrames() const { return window; }

private:
    struct Channel {
        double samplePeak = 0;
        long long samplePeakFrame = 0;
        double sumOfSquares = 0;
        long long nonFinite = 0;
    };
    struct State;

    void addPiece(const std::vector<const float*>& channels, int32_t offset, int32_t count);
    void measureTruePeak(int32_t count);
    void closeWindow();

    int32_t window;
    int32_t windowsPerShortTermStep;
    long long framesInShortTerm;
    bool keepWindows;
    std::unique_ptr<State> state;  // null where libebur128 is not used
    std::vector<Channel> channelSums;
    std::vector<float> interleaved;  // one window's frames
    long long frames = 0;
    int32_t framesInWindow = 0;
    long long windowsClosed = 0;
    WindowPeaks current;
    double truePeakMax = 0;
    long long truePeakFrame = 0;
    double shortTermMax = -INFINITY;
    std::vector<WindowPeaks> windowPeaks;
};

}  // namespace ovm
