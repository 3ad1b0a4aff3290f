#include "tests/support/true_peak_check.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace testing_support {

namespace {
constexpr double kPi = std::numbers::pi;
}  // namespace

double truePeak(const std::vector<float>& x) {
    constexpr int kHalfSpan = 64;
    double peak = 0;
    for (float sample : x) peak = std::max(peak, std::fabs(double(sample)));
    for (int quarter = 1; quarter < 4; ++quarter) {
        std::vector<double> taps;  // taps[k] weighs x[n + 1 + k - kHalfSpan] for the point n + quarter/4
        for (int k = 0; k < 2 * kHalfSpan; ++k) {
            const double distance = double(k + 1 - kHalfSpan) - quarter / 4.0;
            const double r = (double(k) + 1 - quarter / 4.0) / (2 * kHalfSpan);  // 0 .. 1 over the span
            const double window = 0.35875 - 0.48829 * std::cos(2 * kPi * r) + 0.14128 * std::cos(4 * kPi * r) -
                                  0.01168 * std::cos(6 * kPi * r);
            taps.push_back(window * std::sin(kPi * distance) / (kPi * distance));
        }
        for (long long n = 0; n < (long long)x.size(); ++n) {
            double point = 0;
            for (int k = 0; k < 2 * kHalfSpan; ++k) {
                const long long m = n + 1 + k - kHalfSpan;
                if (m >= 0 && m < (long long)x.size()) point += taps[std::size_t(k)] * x[std::size_t(m)];
            }
            peak = std::max(peak, std::fabs(point));
        }
    }
    return peak;
}


}  // namespace testing_support
