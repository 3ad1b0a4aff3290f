#include "ovm/core/progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ovm {

ProgressBar::ProgressBar(bool enabled, double total)
    : enabled(enabled && isatty(STDERR_FILENO) && total > 0),
      total(total),
      start(std::chrono::steady_clock::now()) {}

ProgressBar::~ProgressBar() {
    if (enabled && drawn) std::fputs("\r\033[K", stderr);
}

void ProgressBar::add(double frames) {
    if (!enabled) return;
    done.fetch_add(frames);
    // A thread that finds another drawing leaves it to that one.
    std::unique_lock lock(drawing, std::try_to_lock);
    if (lock.owns_lock()) draw();
}

void ProgressBar::setLabel(const std::string& text) {
    if (!enabled) return;
    const std::lock_guard lock(drawing);
    label = text;
}

std::string clockTime(double seconds) {
    const auto whole = (long long)std::llround(std::max(0.0, seconds));
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

void ProgressBar::draw() {
    const auto now = std::chrono::steady_clock::now();
    if (drawn && now - last < std::chrono::milliseconds(100)) return;
    last = now;
    drawn = true;
    const double share = std::clamp(done.load() / total, 0.0, 1.0);
    const int width = 40;
    const int filled = int(share * width);
    const double elapsed = std::chrono::duration<double>(now - start).count();
    // Until a little is done, the rate is too unsteady to promise a time.
    const std::string left =
        share > 0.01 && elapsed > 0.2 ? "  ETA " + clockTime(elapsed / share - elapsed) : "";
    std::fprintf(stderr, "\r[%s%s] %3d%%%s%s%s\033[K", std::string(std::size_t(filled), '#').c_str(),
                 std::string(std::size_t(width - filled), '.').c_str(), int(100.0 * share), left.c_str(),
                 label.empty() ? "" : "  ", label.c_str());
}

}  // namespace ovm
