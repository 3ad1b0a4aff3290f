#include "ovm/core/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "engine/errors.h"
#include "ovm/core/interrupt_cleanup.h"

namespace fs = std::filesystem;

namespace ovm {

namespace {

// Renames without replacing: renameat2 where the file system supports it, else a hard
// link (which fails on an existing name) and the removal of the temporary name.
int renameNoReplace(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    if (link(from, to) != 0) return -1;
    unlink(from);
    return 0;
}

}  // namespace

OutputFile::OutputFile(std::string path) : finalPath(std::move(path)) {
    installInterruptCleanup();
    const fs::path target(finalPath);
    std::string pattern = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    {
        // A signal between creating the file and registering it would leave the file behind.
        const CleanupSignalsHeld held;
        fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) fail("cannot create a temporary file beside it", errno);
        temporaryPath = name.data();
        cleanupSlot = registerTemporaryFile(temporaryPath.c_str());
    }
    // mkstemp creates the file readable by its owner only; an output is an ordinary file.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
}

OutputFile::~OutputFile() {
    if (fd >= 0) close(fd);
    if (!committed) unlink(temporaryPath.c_str());
    releaseTemporaryFile(cleanupSlot);
}

void OutputFile::fail(const std::string& what, int error) const {
    throw outputError("cannot write '" + finalPath + "': " + what + ": " + std::strerror(error));
}

void OutputFile::write(const void* data, std::size_t size) { writeAllTo(fd, data, size, finalPath); }

void writeAllTo(int fd, const void* data, std::size_t size, const std::string& name) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0)
            throw outputError("cannot write '" + name + "': writing failed: " +
                              std::strerror(written < 0 ? errno : ENOSPC));
        bytes += written;
        size -= std::size_t(written);
    }
}

void OutputFile::commit(bool overwrite) {
    // Data a delayed write could still lose (a full disk, a quota) shows up here.
    if (fsync(fd) != 0 && errno != EINVAL) fail("flushing failed", errno);
    const int closing = close(fd);
    fd = -1;
    if (closing != 0) fail("closing failed", errno);
    const int renamed = overwrite ? std::rename(temporaryPath.c_str(), finalPath.c_str())
                                  : renameNoReplace(temporaryPath.c_str(), finalPath.c_str());
    if (renamed != 0) {
        if (errno == EEXIST)
            throw outputError(
                "'" + finalPath +
                "' appeared while this run wrote it; it was left alone (pass --overwrite to replace it)");
        fail("renaming the temporary file failed", errno);
    }
    committed = true;
}

void writeTextFile(const std::string& path, const std::string& text, bool overwrite) {
    if (path == "-") {
        const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
        if (!(std::fflush(stdout) == 0 && written))
            throw outputError(std::string("cannot write to standard output: ") + std::strerror(errno));
        return;
    }
    OutputFile file(path);
    file.write(text.data(), text.size());
    file.commit(overwrite);
}

}  // namespace ovm
