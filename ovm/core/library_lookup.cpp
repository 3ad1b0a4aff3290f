#include "ovm/core/library_lookup.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "engine/errors.h"

namespace fs = std::filesystem;

namespace ovm {

std::string programFolder() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

std::vector<std::string> libraryFolders() {
    std::vector<std::string> folders;
    if (const char* list = std::getenv("OVM_PATH")) {
        std::istringstream entries(list);
        // An empty entry is skipped rather than read as the current folder, which the user
        // did not name.
        for (std::string folder; std::getline(entries, folder, ':');)
            if (!folder.empty()) folders.push_back(folder);
    }
    folders.push_back(programFolder());
    if (const std::string bundled = bundledLibraryFolder(); bundled != folders.back())
        folders.push_back(bundled);
    return folders;
}

std::string bundledLibraryFolder() {
    const std::string own = programFolder();
    std::error_code error;
    const fs::path installed = (fs::path(own) / OVM_INSTALLED_LIBRARY_FOLDER).lexically_normal();
    return fs::is_directory(installed, error) ? installed.string() : own;
}

namespace {

std::string listed(const std::vector<std::string>& folders) {
    std::string text;
    for (const std::string& folder : folders) text += (text.empty() ? "'" : ", '") + folder + "'";
    return text;
}

bool sameFolder(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return fs::equivalent(a, b, error);
}

}  // namespace

std::string resolveLibraryPath(const std::string& name, const std::string& patchPath,
                               const std::string& where) {
    const std::vector<std::string> folders = libraryFolders();
    const fs::path written(name);
    std::error_code error;
    if (!written.has_parent_path()) {
        for (const std::string& folder : folders) {
            const fs::path candidate = fs::path(folder) / written;
            if (!name.empty() && fs::is_regular_file(candidate, error)) return candidate.string();
        }
        throw libraryError(where + ": library '" + name +
                           "' is in none of the folders ovm loads libraries from (" + listed(folders) +
                           "); add its folder to OVM_PATH or give it with --library");
    }
    const fs::path path = written.is_absolute() ? written : fs::path(patchPath).parent_path() / written;
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    for (const std::string& trusted : folders)
        if (sameFolder(folder, trusted)) return path.string();
    throw libraryError(where + ": library '" + name +
                       "': a patch names a library, it does not bring one; ovm loads libraries only from " +
                       listed(folders) + " (add the folder to OVM_PATH or give the file with --library)");
}

}  // namespace ovm
