#include "engine/quantity.h"

#include <cctype>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace ovm {

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

[[noreturn]] void reject(const std::string& why) { throw std::invalid_argument(why); }

std::string shortNumber(double number, int digits = 6) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*g", digits, number);
    return text;
}

double fromDb(double db) { return std::pow(10.0, db / 20.0); }

// A bare number is a level in dB to some and a factor to others: -0.5 meant as dB once
// became a factor of -0.5 that turned a limiter into a +41.6 dBFS amplifier. Both readings
// are shown so that the fix is one word.
[[noreturn]] void rejectBareLevel(double number) {
    const std::string text = shortNumber(number);
    const std::string asDb = text + " dB (" + shortNumber(fromDb(number), 3) + "x)";
    if (number < 0)
        reject(text + " is ambiguous for a level: write " + asDb + "; a factor cannot be negative");
    reject(text + " is ambiguous for a level: write " + text + "x for the factor or " + asDb);
}

// A level as the linear factor a pin receives. Negative factors flip a signal's sign (and
// a gain computer's sense), and factors beyond a float's range arrive as infinity: neither
// is a level.
double linearLevel(const Quantity& q) {
    double factor = 0;
    if (q.unit.empty())
        rejectBareLevel(q.number);
    else if (q.unit == "db" || q.unit == "dbfs")
        factor = fromDb(q.number);
    else if (q.unit == "%")
        factor = q.number / 100.0;
    else if (q.unit == "x")
        factor = q.number;
    else
        reject("a level takes dB, dBFS, % or x (a plain factor)");
    if (factor < 0) reject("a level cannot be negative (in dB write " + shortNumber(q.number) + " dB)");
    if (!(factor <= FLT_MAX))
        reject("a level beyond the largest a pin holds (" + shortNumber(FLT_MAX, 3) + "x)");
    return factor;
}

}  // namespace

Quantity parseQuantity(std::string_view text) {
    const std::string_view body = trim(text);
    if (body.empty()) reject("empty value");
    double number = 0;
    const char* begin = body.data();
    const char* end = body.data() + body.size();
    // One sign at most: from_chars takes '-' itself, so a '+' must not be followed by another.
    if (*begin == '+' && ++begin != end && (*begin == '-' || *begin == '+')) reject("not a number");
    const auto [stop, error] = std::from_chars(begin, end, number);
    if (error != std::errc()) reject("not a number");
    if (!std::isfinite(number)) reject("not a finite number");
    return {number, lower(trim(std::string_view(stop, std::size_t(end - stop))))};
}

double toPinValue(const Quantity& q, std::string_view pinUnit) {
    if (pinUnit == "linear") return linearLevel(q);
    if (pinUnit == "ms") {
        // As for a delay's time: a module would take a negative time as none at all.
        if (q.number < 0) reject("a time cannot be negative");
        if (q.unit.empty() || q.unit == "ms") return q.number;
        if (q.unit == "s") return q.number * 1000.0;
        reject("a time takes ms or s");
    }
    if (!q.unit.empty()) reject("this pin takes a plain number");
    return q.number;
}

long long toSamples(const Quantity& q, double sampleRate) {
    if (q.number < 0) reject("a time cannot be negative");
    double samples = 0;
    if (q.unit.empty() || q.unit == "s")
        samples = q.number * sampleRate;
    else if (q.unit == "ms")
        samples = q.number * sampleRate / 1000.0;
    else if (q.unit == "samples" || q.unit == "sample" || q.unit == "smp")
        samples = q.number;
    else
        reject("a time takes s, ms or samples");
    if (samples > 9.0e15) reject("time too large");
    return std::llround(samples);
}

}  // namespace ovm
