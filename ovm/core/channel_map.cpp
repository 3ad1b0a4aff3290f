#include "ovm/core/channel_map.h"

#include <algorithm>
#include <charconv>

#include "engine/errors.h"

namespace ovm {

namespace {

std::string channelsWord(int count) { return std::to_string(count) + (count == 1 ? " channel" : " channels"); }

std::string joined(const std::vector<int>& picked) {
    std::string text;
    for (const int c : picked) text += (text.empty() ? "" : ",") + std::to_string(c + 1);
    return text;
}

}  // namespace

int patchInputChannels(const Patch& patch) {
    int highest = 1;
    for (const ConnectionEntry& c : patch.connections) {
        if (c.from.node != kInputNode) continue;
        int channel = 0;
        const std::string& pin = c.from.pin;
        const auto [end, error] = std::from_chars(pin.data(), pin.data() + pin.size(), channel);
        if (error == std::errc() && end == pin.data() + pin.size()) highest = std::max(highest, channel);
    }
    return highest;
}

std::vector<int> parseChannelList(const std::string& text) {
    std::vector<int> picked;
    std::string_view rest(text);
    while (true) {
        const auto comma = rest.find(',');
        const std::string_view part = rest.substr(0, comma);
        int channel = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), channel);
        if (error != std::errc() || end != part.data() + part.size() || channel < 1 || channel > 1024)
            throw usageError("--channels '" + text + "': list the input's channels from 1, e.g. 1,2 or 3,4");
        picked.push_back(channel - 1);
        if (comma == std::string_view::npos) return picked;
        rest.remove_prefix(comma + 1);
    }
}

ChannelMap mapChannels(int fileChannels, int patchChannels, const std::optional<std::vector<int>>& picked) {
    ChannelMap map;
    if (picked) {
        for (const int c : *picked)
            if (c >= fileChannels)
                throw usageError("--channels " + joined(*picked) + ": the input has " + channelsWord(fileChannels));
        if (picked->size() != 1 && int(picked->size()) != patchChannels)
            throw usageError("--channels " + joined(*picked) + " picks " + channelsWord(int(picked->size())) +
                             "; the patch takes " + channelsWord(patchChannels));
        map.sources = picked->size() == 1 ? std::vector<int>(std::size_t(patchChannels), picked->front()) : *picked;
        map.note = "input channels " + joined(map.sources) + " of " + std::to_string(fileChannels) +
                   " into the patch's " + std::to_string(patchChannels);
        return map;
    }
    if (fileChannels == patchChannels) {
        for (int c = 0; c < fileChannels; ++c) map.sources.push_back(c);
        return map;
    }
    if (fileChannels == 1) {
        map.sources.assign(std::size_t(patchChannels), 0);
        map.note = "mono input duplicated into the patch's " + std::to_string(patchChannels) + " inputs";
        return map;
    }
    if (fileChannels > patchChannels)
        throw usageError("the input has " + channelsWord(fileChannels) + "; the patch takes " +
                         channelsWord(patchChannels) + ": pick them with --channels (e.g. --channels " +
                         joined([&] {
                             std::vector<int> first;
                             for (int c = 0; c < patchChannels; ++c) first.push_back(c);
                             return first;
                         }()) +
                         ")");
    throw usageError("the input has " + channelsWord(fileChannels) + "; the patch takes " +
                     channelsWord(patchChannels) + ": give one channel to each with --channels");
}

}  // namespace ovm
