#include "ovm/core/run_files.h"

#include <sys/stat.h>

#include <filesystem>

#include "engine/errors.h"

namespace fs = std::filesystem;

namespace ovm {

namespace {

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {
    }, second{};
    if (stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    std::error_code error;
    const fs::path normalA = fs::weakly_canonical(fs::absolute(a), error);
    const fs::path normalB = fs::weakly_canonical(fs::absolute(b), error);
    return normalA == normalB;
}

}  // namespace

void checkDistinctFiles(const std::vector<RunFile>& inputs, const std::vector<RunFile>& outputs) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const RunFile& out = outputs[i];
        for (std::size_t j = 0; j < i; ++j)
            if (sameFile(out.path, outputs[j].path))
                throw usageError("the " + out.role + " '" + out.path + "' and the " + outputs[j].role + " '" +
                                 outputs[j].path + "' are one file; each output needs its own");
        for (const RunFile& in : inputs)
            if (sameFile(out.path, in.path))
                throw usageError("refusing to write the " + out.role + " '" + out.path + "' over the " +
                                 in.role + " '" + in.path + "' the run reads");
    }
}

}  // namespace ovm
