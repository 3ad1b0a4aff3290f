#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

namespace ovm {

// A progress bar on standard error with the share done and the time left, drawn at most
// ten times a second and only when standard error is a terminal. Several runs may add to
// one bar from their own threads (a batch); the total is in whatever unit they all count.
class ProgressBar {
public:
    ProgressBar(bool enabled, double total);
    ~ProgressBar();  // erases the bar
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void add(double done);
    // Text after the bar, e.g. "3/8 files".
    void setLabel(const std::string& text);

private:
    void draw();

    const bool enabled;
    const double total;
    std::atomic<double> done{0};
    std::mutex drawing;
    std::string label;
    bool drawn = false;
    std::chrono::steady_clock::time_point start, last;
};

// "0:07", "1:02:03": a time left to the second.
std::string clockTime(double seconds);

}  // namespace ovm
