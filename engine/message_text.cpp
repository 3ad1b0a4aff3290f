#include "engine/message_text.h"

namespace ovm {

namespace {

bool continuesCharacter(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The first `keep` / 2 and the last `keep` / 2 bytes of text, an ellipsis between them.
std::string cutInTheMiddle(std::string_view text, std::size_t keep) {
    if (text.size() <= keep) return std::string(text);
    std::size_t head = keep / 2;
    while (head > 0 && continuesCharacter(text[head])) --head;
    std::size_t tail = text.size() - keep / 2;
    while (tail < text.size() && continuesCharacter(text[tail])) ++tail;
    return std::string(text.substr(0, head)) + "\u2026" + std::string(text.substr(tail));
}

}  // namespace

std::string withLongPartsCut(std::string_view message) {
    std::string out;
    for (std::size_t at = 0; at < message.size();) {
        const std::size_t open = message.find('\'', at);
        if (open == std::string_view::npos) {
            out += message.substr(at);
            break;
        }
        out += message.substr(at, open + 1 - at);
        const std::size_t close = message.find('\'', open + 1);
        const std::size_t end = close == std::string_view::npos ? message.size() : close;
        out += cutInTheMiddle(message.substr(open + 1, end - open - 1), kLongestQuoted);
        if (close == std::string_view::npos) break;
        out += '\'';
        at = close + 1;
    }
    return cutInTheMiddle(out, kLongestMessage);
}

std::string listed(const std::vector<std::string>& items, std::string_view conjunction) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += i + 1 == items.size() ? " " + std::string(conjunction) + " " : ", ";
        text += items[i];
    }
    return text;
}

}  // namespace ovm
