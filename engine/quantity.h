#pragma once

#include <string>
#include <string_view>

namespace ovm {

// A number with an optional unit, as patches and command lines write values:
// "0.5", "-1 dB", "5 ms", "2.5s", "480 samples".
struct Quantity {
    double number = 0;
    std::string unit;  // lower-cased; empty for a plain number
};

// These throw std::invalid_argument saying what is wrong (the caller names the text).
Quantity parseQuantity(std::string_view text);

// The value a pin of the given unit receives: "linear" pins (levels) take dB or dBFS
// (amplitude), percent or x (a plain factor), never a bare number, which could be either,
// and never a negative or infinite factor; "ms" pins take ms, s or plain milliseconds; pins
// without a unit take plain numbers only.
double toPinValue(const Quantity& quantity, std::string_view pinUnit);

// A point or span in time as a sample count: plain numbers are seconds; s, ms and samples
// are accepted. Throws std::invalid_argument for negative or unknown values.
long long toSamples(const Quantity& quantity, double sampleRate);

}  // namespace ovm
