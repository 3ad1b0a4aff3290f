#include "description/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ovm {

namespace {

#ifdef _WIN32
// Windows has no pipes among plain paths and no exec to leak descriptors into; what it has
// is text mode, which would turn line ends and the file's length into something else.
constexpr int kOpenFlags = O_RDONLY | O_BINARY;
#else
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
#endif

}  // namespace

std::string readTextFile(const std::string& path, const std::string& what, ExitCode errorClass) {
    const std::string cannot = "cannot read " + what + " '" + path + "': ";
    // Non-blocking, so that opening a pipe cannot wait for a writer; checked on the open
    // file, so that what is checked is what is read.
    const int fd = open(path.c_str(), kOpenFlags);
    if (fd < 0) throw Error(errorClass, cannot + std::strerror(errno));
    struct stat info {};
    std::string text;
    std::string problem;
    if (fstat(fd, &info) != 0)
        problem = std::strerror(errno);
    else if (S_ISDIR(info.st_mode))
        problem = "it is a folder";
    else if (!S_ISREG(info.st_mode))
        problem = "not a regular file";
    else if (info.st_size > kLargestTextFile)
        problem = "larger than " + std::to_string(kLargestTextFile >> 20) + " MiB";
    else {
        text.resize(std::size_t(info.st_size));
        std::size_t filled = 0;
        while (filled < text.size()) {
            const ssize_t n = read(fd, text.data() + filled, text.size() - filled);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) problem = std::strerror(errno);
            if (n <= 0) break;
            filled += std::size_t(n);
        }
        // A file that shrank while being read is read as far as it goes.
        text.resize(filled);
    }
    close(fd);
    if (!problem.empty()) throw Error(errorClass, cannot + problem);
    return text;
}

}  // namespace ovm
