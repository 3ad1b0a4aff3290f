#include "ovm/core/demo_signal.h"

#include <cmath>
#include <random>

namespace ovm {

namespace {

constexpr double kTwoPi = 6.283185307179586;

struct Hit {
    double time;   // seconds
    double peak;   // linear, per channel below
    double pan;    // 0 left only, 1 right only
    double pitch;  // Hz of the body
};

}  // namespace

std::vector<float> demoProgramme(double seconds, double sampleRate, uint32_t seed) {
    const auto frames = std::size_t(seconds * sampleRate);
    std::vector<float> out(frames * 2, 0.0f);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);

    std::vector<Hit> hits;
    for (double t = 0.25; t < seconds - 0.2; t += 0.375) {
        const auto n = hits.size();
        hits.push_back({t, 1.0 + 0.6 * double(n % 5), n % 4 == 3 ? 0.0 : 0.5, n % 2 ? 180.0 : 60.0});
    }
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = double(i) / sampleRate;
        const double swell = 0.18 * (0.6 + 0.4 * std::sin(kTwoPi * 0.2 * t));
        double left = swell * (std::sin(kTwoPi * 220.0 * t) + 0.6 * std::sin(kTwoPi * 277.2 * t));
        double right = swell * (std::sin(kTwoPi * 329.6 * t) + 0.6 * std::sin(kTwoPi * 220.0 * t + 1.0));
        for (const Hit& hit : hits) {
            const double age = t - hit.time;
            if (age < 0 || age > 0.3) continue;
            const double body = std::sin(kTwoPi * hit.pitch * age) * std::exp(-age * 18.0);
            const double click = noise(random) * std::exp(-age * 120.0);
            const double x = hit.peak * (0.8 * body + 0.5 * click);
            left += x * std::min(1.0, 2.0 * (1.0 - hit.pan));
            right += x * std::min(1.0, 2.0 * hit.pan);
        }
        out[2 * i] = float(left);
        out[2 * i + 1] = float(right);
    }
    return out;
}

}  // namespace ovm
