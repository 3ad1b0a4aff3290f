#include "ovm/live/meter_display.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace ovm::live {

namespace {

// Silence reads as the floor rather than minus infinity, which JSON cannot hold.
double decibels(double level) { return std::max(-120.0, 20 * std::log10(std::max(level, 1e-6))); }

}  // namespace

void MeterDisplay::add(const MeterFrame& frame) {
    window.inputPeak = std::max(window.inputPeak, frame.inputPeak);
    window.outputPeak = std::max(window.outputPeak, frame.outputPeak);
    window.deepestGain = std::min(window.deepestGain, frame.deepestGain);
    window.frames += frame.frames;
}

void MeterDisplay::show(double seconds, long long xruns) {
    const MeterFrame shown = std::exchange(window, MeterFrame{});
    if (!on || shown.frames == 0) return;
    const double reduction = -decibels(shown.deepestGain);
    if (json)
        std::printf(
            "{\"time\": %.3f, \"input_peak_dbfs\": %.2f, \"output_peak_dbfs\": %.2f, \"gain_reduction_db\": %.2f, "
            "\"xruns\": %lld}\n",
            seconds, decibels(shown.inputPeak), decibels(shown.outputPeak), reduction == 0 ? 0.0 : reduction, xruns);
    if (json) std::fflush(stdout);
    if (!terminal) return;
    std::fprintf(stderr, "\r%7.1f s  in %6.1f dBFS  out %6.1f dBFS  gain reduction %5.1f dB  xruns %lld\033[K",
                 seconds, decibels(shown.inputPeak), decibels(shown.outputPeak), reduction == 0 ? 0.0 : reduction,
                 xruns);
    drawn = true;
}

void MeterDisplay::setOn(bool state) {
    if (!state) clear();
    on = state;
}

void MeterDisplay::clear() {
    if (drawn) std::fputs("\r\033[K", stderr);
    drawn = false;
}

}  // namespace ovm::live
