// Writing extracted entries under the current directory, and nowhere else.
// Paths are walked one directory at a time with O_NOFOLLOW, so no symbolic
// link is ever followed on the way; names that are absolute or hold ".." are
// refused before anything is created; a file is written under a temporary
// name beside its target and renamed only once it is complete. Qt-free.
#pragma once

#include <ctime>
#include <string>
#include <sys/types.h>
#include <vector>

namespace RarOutput {

using Components = std::vector<std::string>;

// The stored name split at "/" and "\" into components, empty and "."
// components dropped. False for an absolute name (leading separator or a
// drive letter), a ".." component, or a name with nothing left.
bool safeComponents(const std::string& name, Components& out);

// Whether a symbolic link at `link` pointing to `target` stays under the
// current directory (judged on the names: absolute targets and targets
// that climb above the top are refused).
bool symlinkStaysInside(const Components& link, const std::string& target);

// Result codes are the layer's: 0, ERAR_ECREATE, ERAR_EWRITE, ERAR_ECLOSE.
int makeDirectory(const Components& path, const timespec* mtime);
int makeSymlink(const Components& path, const std::string& target, const timespec* mtime);
int makeHardLink(const Components& path, const Components& target);

class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    int create(const Components& path, mode_t mode);
    // False on failure, with errno set.
    bool write(const void* data, size_t size);
    // Sets the time, closes and moves the file to its name.
    int commit(const timespec* mtime);
    // Removes what was written.
    void discard();

private:
    int m_dir = -1;
    int m_fd = -1;
    std::string m_name;
    std::string m_temporary;
};

}
