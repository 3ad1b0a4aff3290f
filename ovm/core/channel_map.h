#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/patch.h"

namespace ovm {

// Which channel of the input file feeds each of the patch's input channels.
struct ChannelMap {
    std::vector<int> sources;  // per patch input, the file's channel (0-based)
    std::string note;          // what was done, for the summary; empty when nothing was
};

// The input channels a patch takes: the highest N of the input.N its connections read
// (at least 1). Connections that name no channel are left to the engine's checks.
int patchInputChannels(const Patch& patch);

// Parses `--channels 3,4`: the file's channels, counted from 1, in the order of the
// patch's inputs. Throws ovm::Error (usage class).
std::vector<int> parseChannelList(const std::string& text);

// The map from a file of `fileChannels` to a patch that takes `patchChannels`: the picked
// channels when given (one picked channel feeds every input), else the file's channels in
// order when the counts agree, a mono file's one channel into every input, and otherwise
// an error (usage class) that says what --channels could pick.
ChannelMap mapChannels(int fileChannels, int patchChannels, const std::optional<std::vector<int>>& picked);

}  // namespace ovm
