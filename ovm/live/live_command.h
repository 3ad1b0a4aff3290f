#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/patch.h"

namespace ovm::live {

// A line typed while `ovm live` runs:
//   set NODE.PIN VALUE [UNIT]   a module's control value, e.g. "set knee.threshold -3 dB"
//   bypass [on|off]             the input, delayed as the patch delays it; no argument toggles
//   meters on|off               the level display
//   quit
struct LiveCommand {
    enum class Kind { set, bypass, meters, quit };
    Kind kind = Kind::quit;
    PinRef target;             // set
    std::string value;         // set: the value with its unit, as toPinValue reads it
    std::optional<bool> on;    // bypass, meters; none toggles
};

// Nothing for a blank line. Throws std::invalid_argument with a one-line message that says
// what the commands are.
std::optional<LiveCommand> parseLiveCommand(std::string_view line);

}  // namespace ovm::live
