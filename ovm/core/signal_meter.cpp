#include "ovm/core/signal_meter.h"

#include <cmath>
#include <cstdio>

namespace ovm {

double toDb(double linear) { return linear > 0 ? 20.0 * std::log10(linear) : -INFINITY; }

std::string formatDb(double linear, const char* unit) {
    char text[48];
    std::snprintf(text, sizeof text, "%.7g %s", toDb(linear), unit);
    return text;
}

}  // namespace ovm
