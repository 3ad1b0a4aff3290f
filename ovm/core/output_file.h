#pragma once

#include <string>

namespace ovm {

// A file a run writes, created as a temporary file beside its final name and renamed to it
// only by commit(). The temporary file is made exclusively with an unpredictable name
// (mkstemp), so a link planted in the folder is never followed and two runs never share
// one; it is removed when the object dies uncommitted and on an interrupting signal.
class OutputFile {
public:
    // Throws ovm::Error (output class) when the temporary file cannot be created.
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The temporary file's descriptor, for writers that take one; the file keeps ownership.
    int descriptor() const { return fd; }
    const std::string& path() const { return finalPath; }
    // Writes all of it or throws ovm::Error (output class).
    void write(const void* data, std::size_t size);
    // Flushes and closes the temporary file, checking both, and renames it to the final
    // name. Without overwrite the rename fails when a file of that name appeared meanwhile
    // (another run, another program): nothing is ever silently replaced.
    void commit(bool overwrite);

private:
    void fail(const std::string& what, int error) const;

    std::string finalPath;
    std::string temporaryPath;
    int fd = -1;
    int cleanupSlot = -1;
    bool committed = false;
};

// Writes all bytes to a descriptor, through interrupted and partial writes, or throws
// ovm::Error (output class) naming `name`.
void writeAllTo(int fd, const void* data, std::size_t size, const std::string& name);

// Writes a whole text through an OutputFile, or to standard output for "-", checking every
// write and the final flush. Throws ovm::Error (output class).
void writeTextFile(const std::string& path, const std::string& text, bool overwrite);

}  // namespace ovm
