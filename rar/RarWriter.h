// Writes RAR 4 archives and volume sets with the store method: the release
// mastering tool (tools/rarmaster) and the tests' fixtures, damaged ones
// included, come from this one writer. Qt-free.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace RarWriter {

struct Entry {
    enum class Kind { File, Directory, Symlink };
    Kind kind = Kind::File;
    std::string storedName;  // "/" separators; written with "\" as RAR does
    uint64_t size = 0;       // a file's size
    // A file's data: read from `sourcePath`, else made by `generate`, else `bytes`.
    std::string sourcePath;
    std::function<void(uint64_t offset, unsigned char* buffer, size_t size)> generate;
    std::string bytes;
    std::string linkTarget;  // a symbolic link's target
    uint32_t mode = 0;       // permission bits; 0 means 0644 (0755 for directories)
    int64_t mtime = 0;       // Unix time; kept to 2 seconds (DOS time)

    static Entry file(std::string name, std::string data, int64_t mtime = 0);
    static Entry directory(std::string name, int64_t mtime = 0);
    static Entry symlink(std::string name, std::string target);
};

enum class Naming {
    OldStyle, // NAME.rar, NAME.r00, NAME.r01, ...
    Parts,    // NAME.part1.rar, NAME.part2.rar, ... (digits as many as the count needs)
};

// Faults written on purpose, for tests.
struct Damage {
    std::string wrongCrc;          // this entry's CRC (in its last part) is wrong
    std::string brokenHeader;      // this entry's first header fails its header CRC
    bool brokenMainHeader = false; // the first volume's main header fails its CRC
    int truncateVolume = -1;       // this volume (0 = first) loses its last `truncateBytes` bytes
    uint64_t truncateBytes = 0;
    int removeVolume = -1;         // this volume is deleted once the set is written
};

struct Options {
    uint64_t volumeSize = 0;          // bytes per volume at most; 0 writes one archive, no set
    Naming naming = Naming::OldStyle;
    std::string comment;              // stored as the archive comment when not empty
    std::set<std::string> breakAfter; // a volume ends right after these entries (by stored name)
    bool solid = false;               // marks the archive solid (stored data is the same; readers
                                      // then keep their state from entry to entry)
    Damage damage;
};

struct Piece {
    std::string entry;
    size_t entryIndex = 0;
    uint64_t offset = 0; // of the entry's data
    uint64_t size = 0;
    bool splitBefore = false;
    bool splitAfter = false;
};

struct Volume {
    std::string path;
    uint64_t size = 0;
    std::vector<Piece> pieces;
};

struct Result {
    std::vector<Volume> volumes;
    std::vector<std::string> removedStale; // old volumes of the same name beyond the new set
    uint64_t dataBytes = 0;
};

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Files, directories (with everything beneath, sorted, each directory after
// its contents) and symbolic links (kept as links). An input is stored under
// its own name; "." (or "DIR/.") stands for a directory's contents. Relative
// inputs are taken under `baseDirectory` when that is not empty.
std::vector<Entry> collect(const std::vector<std::string>& inputs, const std::string& baseDirectory = {});

// Writes the archive (or set) and says what went where. Throws Error.
Result write(const std::string& archivePath, const std::vector<Entry>& entries, const Options& options = {});

// The smallest volume size that still holds the given entry's header with
// one byte of data (for messages and tests).
uint64_t minimumVolumeSize(const Entry& entry, const Options& options);

}
