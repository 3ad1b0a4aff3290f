#include "ovm/core/output_names.h"

#include <filesystem>

#include "engine/errors.h"

namespace fs = std::filesystem;

namespace ovm {

std::string expandPattern(const std::string& pattern, const std::string& input) {
    const fs::path path(input);
    const std::string extension = path.extension().string();
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '{') {
            out += pattern[i];
            continue;
        }
        const std::size_t close = pattern.find('}', i);
        const std::string key = pattern.substr(i + 1, close == std::string::npos ? close : close - i - 1);
        if (key == "stem")
            out += path.stem().string();
        else if (key == "name")
            out += path.filename().string();
        else if (key == "ext")
            out += extension.empty() ? "" : extension.substr(1);
        else
            throw usageError("'" + pattern + "': unknown placeholder {" + key + "}; use {stem}, {name} or {ext}");
        i = close;
    }
    return out;
}

std::string outputNameFor(const std::string& input, const OutputNaming& naming) {
    fs::path name;
    if (naming.pattern)
        name = expandPattern(*naming.pattern, input);
    else {
        name = fs::path(input).filename();
        if (naming.format) name.replace_extension(extensionOf(*naming.format));
    }
    if (naming.folder && name.is_relative()) name = fs::path(*naming.folder) / name;
    return name.string();
}

}  // namespace ovm
