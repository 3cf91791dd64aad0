// Writing extracted entries under the destination (the current directory
// when an entry is processed), and nowhere else. Qt-free.
//
// Held by construction, not by looking at names: the destination is opened
// once per entry, and every file, directory and link is created relative to
// a directory handle that was reached from it with a resolution that cannot
// leave it (openat2 with RESOLVE_BENEATH; where the kernel lacks it, a walk
// that treats every symbolic link as a way out). Links inside the
// destination that stay inside are followed, so writing through them works.
//
// A symbolic link is made only when its target, resolved from the link's
// directory the way the kernel will resolve it and through every link
// already there, stays inside; ".." after a name that does not exist (yet),
// absolute targets and drive letters are refused. An existing symbolic link
// is never replaced by anything but the same link, so a link accepted once
// cannot be re-pointed under another one that goes through it. A hard link
// is made only to a regular file.
//
// What an entry makes is created under a temporary name ("." name "."
// pid "-" n ".unrar-part") and gets its own name only when the entry is
// committed; until then the directories it had to create are recorded, and
// a rollback removes the temporary part and those directories, deepest
// first. A process ended by SIGTERM, SIGINT or SIGHUP removes them too
// (see removePartsOnSignals).
#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace RarOutput {

using Components = std::vector<std::string>;

// The stored name split at "/" and "\" into components, empty and "."
// components dropped. False for an absolute name (leading separator or a
// drive letter), a ".." component, a name holding a NUL byte, or a name
// with nothing left.
bool safeComponents(const std::string& name, Components& out);

// A first look at a symbolic link's target by its text alone (absolute
// targets and targets that climb above the top are refused). Entry's
// makeSymlink makes the real check against what is on disk.
bool symlinkStaysInside(const Components& link, const std::string& target);

// What one archive entry makes under the destination. Make at most one
// thing (a directory, a symbolic link, a hard link or a file), then
// commit(); an Entry destroyed without a successful commit() rolls back:
// no file, no temporary part and no directory it created stays.
//
// Result codes are the layer's: 0, ERAR_ECREATE (refused or cannot be
// created), ERAR_EWRITE (disk full), ERAR_ECLOSE.
class Entry {
public:
    // The destination is the current directory at this moment.
    Entry();
    ~Entry();
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    // An existing directory (or a link to one inside) is used as it is;
    // the time is set when the entry is committed.
    int makeDirectory(const Components& path, const timespec* mtime);
    // `target` with "\" read as "/"; it must resolve inside (see above).
    int makeSymlink(const Components& path, const std::string& target, const timespec* mtime);
    // `target` must name a regular file inside.
    int makeHardLink(const Components& path, const Components& target);

    // A file's data: createFile, write any number of times, finishFile.
    int createFile(const Components& path, mode_t mode);
    // False on failure, with errno set.
    bool write(const void* data, size_t size);
    // Sets the time and closes the part; the data is complete.
    int finishFile(const timespec* mtime);

    // Gives what was made its name. On failure everything is rolled back
    // and the code returned.
    int commit();
    // Removes what was made and the directories created for it.
    void rollback();

private:
    struct Created;
    enum class Kind { None, Directory, File, Link };

    int parentOf(const Components& path, size_t count, bool create);
    void registerPart();
    void forgetPart();
    bool replaceable(int dir, const std::string& name, const std::string* sameLinkTarget) const;

    int m_root = -1;               // the destination
    std::vector<Created> m_created; // directories made for this entry, outermost first
    Kind m_kind = Kind::None;
    int m_parent = -1;             // the directory that receives the name
    int m_fd = -1;                 // a file's part while it is written
    bool m_finished = false;
    std::string m_name;
    std::string m_temporary;
    std::string m_linkTarget;
    Components m_path;
    timespec m_mtime {};
    bool m_hasTime = false;
    int m_slot = -1;               // the part's place in the signal registry
    bool m_committed = false;
};

// The calls before Entry: each makes its thing and commits at once.
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
    std::unique_ptr<Entry> m_entry;
};

// Installs handlers for SIGTERM, SIGINT and SIGHUP (those not ignored) that
// remove every live temporary part and every directory made for it, then
// end the process as the signal would have (or hand the signal on to a
// handler that was there before). Call once, early; harmless twice.
void removePartsOnSignals();

}
