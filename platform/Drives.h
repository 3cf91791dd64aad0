// Drives on this platform are mounted filesystems a person would pick to
// install onto: the root filesystem, home when it is separate, and media
// under /media, /run/media and /mnt. Pseudo filesystems never count. The
// drive of a directory is the deepest of those mount points holding it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Drives {

// One line of the mount table.
struct Mount {
    std::string mountPoint;
    std::string fileSystemType;
    std::string device;
    std::string label; // volume label, empty when the filesystem has none
};

struct Drive {
    std::string mountPoint; // ends in "/" only when it is the root
    std::string name;       // what a person calls it: label, "system", "home" or the device
};

bool isPickable(const Mount& mount);
std::string readableName(const Mount& mount);

// The pickable mounts in the order they are offered: the root, home, then
// the rest by mount point. The root is always present.
std::vector<Drive> pickable(const std::vector<Mount>& mounts);

// The machine's mount table.
std::vector<Mount> mounts();
std::vector<Drive> mounted();

// The deepest drive whose mount point holds `directory` (an absolute path);
// the root when none does.
std::string driveOf(const std::string& directory, const std::vector<Drive>& drives);

// Bytes free to an ordinary user on the filesystem of `directory`, or -1
// when the filesystem cannot be queried.
int64_t freeBytes(const std::string& directory);

}
