#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ovm {

// Peak and RMS of one channel, sample by sample. NaN and infinities are not levels: they are
// counted apart, and peak and RMS describe the finite samples.
class ChannelMeter {
public:
    void add(const float* samples, int32_t count);
    double peak() const { return peakValue; }
    double rms() const;
    // Peak over RMS in dB; 0 for silence.
    double crestDb() const;
    long long samples() const { return count; }
    long long nonFiniteSamples() const { return nonFinite; }

private:
    double peakValue = 0;
    double sumOfSquares = 0;
    long long count = 0;
    long long nonFinite = 0;
};

// Level over time for the plot: per window, the largest magnitude of the input and the output
// channels, and the smallest value of a gain signal.
class LevelTrace {
public:
    explicit LevelTrace(int32_t windowSamples) : window(windowSamples) {}
    void add(const std::vector<const float*>& inputs, const std::vector<const float*>& outputs,
             const float* gain, int32_t count);

    struct Point {
        double inputPeak = 0;
        double outputPeak = 0;
        double gain = 1;
    };
    const std::vector<Point>& points() const { return trace; }
    int32_t windowSamples() const { return window; }

private:
    int32_t window;
    int32_t filled = 0;
    Point current;
    std::vector<Point> trace;
};

double toDb(double linear);
// "-0.9999991 dBFS": enough digits to tell a level from a threshold it barely passes.
std::string formatDb(double linear);

}  // namespace ovm
