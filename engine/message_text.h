#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ovm {

// The message with every quoted part ('...') longer than kLongestQuoted characters cut in
// the middle to that length, with an ellipsis, and the whole cut likewise to kLongestMessage:
// a name from a file or a command line can be megabytes long, and a message that echoes it
// whole buries what went wrong. Cuts fall between UTF-8 characters.
std::string withLongPartsCut(std::string_view message);

// The items as a message lists them: "a", "a and b", "a, b and c" (or "a, b or c").
std::string listed(const std::vector<std::string>& items, std::string_view conjunction);

constexpr std::size_t kLongestQuoted = 200;
constexpr std::size_t kLongestMessage = 2000;

}  // namespace ovm
