#pragma once

#include <vector>

namespace testing_support {

// A signal's true peak as the tests measure it, independently of the true-peak detector the
// engine provides: the largest magnitude at the samples and at the three points between each
// two (4x oversampling), each point interpolated by a Blackman-Harris windowed sinc over 64
// samples on either side: far longer and more exact than the detector's filter, and slow.
double truePeak(const std::vector<float>& signal);

}  // namespace testing_support
