#include "ovm/live/live_command.h"

#include <sstream>
#include <stdexcept>
#include <vector>

namespace ovm::live {

namespace {

constexpr const char* kCommands = "set NODE.PIN VALUE [UNIT], bypass [on|off], meters on|off, quit";

std::vector<std::string> words(std::string_view line) {
    std::istringstream stream{std::string(line)};
    std::vector<std::string> found;
    for (std::string word; stream >> word;) found.push_back(word);
    return found;
}

[[noreturn]] void refuse(const std::string& why) {
    throw std::invalid_argument(why + " (commands: " + kCommands + ")");
}

std::optional<bool> onOff(const std::vector<std::string>& w, bool required) {
    if (w.size() == 1 && !required) return std::nullopt;
    if (w.size() == 2 && (w[1] == "on" || w[1] == "off")) return w[1] == "on";
    refuse("'" + w[0] + "' takes " + (required ? "" : "nothing, ") + "on or off");
}

}  // namespace

std::optional<LiveCommand> parseLiveCommand(std::string_view line) {
    const std::vector<std::string> w = words(line);
    if (w.empty()) return std::nullopt;
    LiveCommand command;
    if (w[0] == "quit" && w.size() == 1) return command;
    if (w[0] == "bypass") {
        command.kind = LiveCommand::Kind::bypass;
        command.on = onOff(w, false);
        return command;
    }
    if (w[0] == "meters") {
        command.kind = LiveCommand::Kind::meters;
        command.on = onOff(w, true);
        return command;
    }
    if (w[0] == "set") {
        if (w.size() < 3 || w.size() > 4) refuse("'set' takes a pin and a value, e.g. 'set knee.threshold -3 dB'");
        command.kind = LiveCommand::Kind::set;
        try {
            command.target = parsePinRef(w[1]);
        } catch (const std::invalid_argument& error) {
            refuse("'" + w[1] + "': " + error.what());
        }
        command.value = w.size() == 4 ? w[2] + " " + w[3] : w[2];
        return command;
    }
    refuse("unknown command '" + std::string(line.substr(0, 40)) + "'");
}

}  // namespace ovm::live
