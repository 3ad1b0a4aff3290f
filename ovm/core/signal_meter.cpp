#include "ovm/core/signal_meter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ovm {

double toDb(double linear) { return linear > 0 ? 20.0 * std::log10(linear) : -INFINITY; }

std::string formatDb(double linear) {
    char text[32];
    std::snprintf(text, sizeof text, "%.7g dBFS", toDb(linear));
    return text;
}

void ChannelMeter::add(const float* samples, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        const double x = samples[i];
        if (!std::isfinite(x)) {
            ++nonFinite;
            continue;
        }
        peakValue = std::max(peakValue, std::fabs(x));
        sumOfSquares += x * x;
    }
    count += n;
}

double ChannelMeter::rms() const {
    const long long finite = count - nonFinite;
    return finite > 0 ? std::sqrt(sumOfSquares / double(finite)) : 0.0;
}

double ChannelMeter::crestDb() const {
    const double r = rms();
    return r > 0 ? toDb(peakValue / r) : 0.0;
}

void LevelTrace::add(const std::vector<const float*>& inputs, const std::vector<const float*>& outputs,
                     const float* gain, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        for (const float* in : inputs)
            current.inputPeak = std::max(current.inputPeak, double(std::fabs(in[i])));
        for (const float* out : outputs)
            current.outputPeak = std::max(current.outputPeak, double(std::fabs(out[i])));
        if (gain != nullptr) current.gain = std::min(current.gain, double(gain[i]));
        if (++filled == window) {
            trace.push_back(current);
            current = {};
            filled = 0;
        }
    }
}

}  // namespace ovm
