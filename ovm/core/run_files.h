#pragma once

#include <string>
#include <vector>

namespace ovm {

// A file a run reads or writes, with what it is for ("output", "patch", ...).
struct RunFile {
    std::string role;
    std::string path;
};

// Every file a run writes must be a file of its own: not another output (one would hold
// the other's bytes) and not anything the run reads (audio, patch, library, description),
// whatever the spelling, link or --overwrite. Files that exist are compared by device and
// inode, the rest by their normalised absolute path. Throws ovm::Error (usage class).
void checkDistinctFiles(const std::vector<RunFile>& inputs, const std::vector<RunFile>& outputs);

}  // namespace ovm
