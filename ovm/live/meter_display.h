#pragma once

#include <cstdio>

#include "ovm/live/live_processor.h"

namespace ovm::live {

// Shows what the audio thread measured, ten times a second: one line redrawn in place on a
// terminal, or one JSON object a line for a program reading them.
class MeterDisplay {
public:
    // terminal: draw on stderr; json: write lines to stdout. Either, both or neither.
    MeterDisplay(bool terminal, bool json) : terminal(terminal), json(json) {}
    ~MeterDisplay() { clear(); }

    void add(const MeterFrame& frame);
    // Shows and restarts what was added since the last call; seconds: the run's time.
    void show(double seconds, long long xruns);
    void setOn(bool on);
    // Takes the terminal line away, so that a message can be printed on a line of its own.
    void clear();

private:
    bool terminal;
    bool json;
    bool on = true;
    bool drawn = false;
    MeterFrame window;
};

}  // namespace ovm::live
