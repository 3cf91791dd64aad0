#include "Drives.h"

#include <QFile>
#include <QStorageInfo>
#include <algorithm>
#include <sys/statvfs.h>
#include <iterator>
#include <string_view>

namespace Drives {

namespace {

// Kernel and container filesystems that hold no place to install to.
constexpr std::string_view pseudoFileSystems[] = {
    "proc", "sysfs", "tmpfs", "devtmpfs", "devpts", "overlay", "squashfs",
    "cgroup", "cgroup2", "securityfs", "debugfs", "tracefs", "configfs",
    "fusectl", "mqueue", "hugetlbfs", "pstore", "bpf", "autofs",
    "binfmt_misc", "efivarfs", "ramfs", "nsfs", "rpc_pipefs", "nfsd",
    "selinuxfs", "rootfs", "fuse.gvfsd-fuse", "fuse.portal", "fuse.lxcfs",
};

bool startsWith(const std::string& text, std::string_view prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Whether `path` is `mountPoint` or lies below it, component by component.
bool holds(const std::string& mountPoint, const std::string& path)
{
    if (mountPoint == "/")
        return startsWith(path, "/");
    return path == mountPoint || (startsWith(path, mountPoint) && path[mountPoint.size()] == '/');
}

int rank(const std::string& mountPoint)
{
    if (mountPoint == "/")
        return 0;
    if (mountPoint == "/home")
        return 1;
    return 2;
}

}

bool isPickable(const Mount& mount)
{
    if (mount.mountPoint == "/")
        return true; // whatever it is made of, the system's own disk is a place to install to
    if (std::find(std::begin(pseudoFileSystems), std::end(pseudoFileSystems), mount.fileSystemType) != std::end(pseudoFileSystems))
        return false;
    return mount.mountPoint == "/home" || startsWith(mount.mountPoint, "/media/")
        || startsWith(mount.mountPoint, "/run/media/") || startsWith(mount.mountPoint, "/mnt/")
        || mount.mountPoint == "/mnt";
}

std::string readableName(const Mount& mount)
{
    if (!mount.label.empty())
        return mount.label;
    if (mount.mountPoint == "/")
        return "system";
    if (mount.mountPoint == "/home")
        return "home";
    const auto slash = mount.device.find_last_of('/');
    const std::string device = slash == std::string::npos ? mount.device : mount.device.substr(slash + 1);
    return device.empty() ? mount.fileSystemType : device;
}

std::vector<Drive> pickable(const std::vector<Mount>& mounts)
{
    std::vector<Drive> drives;
    for (const Mount& mount : mounts) {
        if (!isPickable(mount))
            continue;
        // A mount point mounted over again shows once, as its latest mount.
        auto same = std::find_if(drives.begin(), drives.end(),
            [&](const Drive& drive) { return drive.mountPoint == mount.mountPoint; });
        if (same != drives.end())
            same->name = readableName(mount);
        else
            drives.push_back({ mount.mountPoint, readableName(mount) });
    }
    if (std::none_of(drives.begin(), drives.end(), [](const Drive& drive) { return drive.mountPoint == "/"; }))
        drives.push_back({ "/", "system" });
    std::stable_sort(drives.begin(), drives.end(), [](const Drive& a, const Drive& b) {
        if (rank(a.mountPoint) != rank(b.mountPoint))
            return rank(a.mountPoint) < rank(b.mountPoint);
        return a.mountPoint < b.mountPoint;
    });
    return drives;
}

std::vector<Mount> mounts()
{
    std::vector<Mount> list;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid())
            continue;
        list.push_back({ QFile::encodeName(volume.rootPath()).toStdString(), volume.fileSystemType().toStdString(),
            volume.device().toStdString(), volume.name().toStdString() });
    }
    return list;
}

std::vector<Drive> mounted()
{
    return pickable(mounts());
}

std::string driveOf(const std::string& directory, const std::vector<Drive>& drives)
{
    std::string best = "/";
    for (const Drive& drive : drives)
        if (holds(drive.mountPoint, directory) && drive.mountPoint.size() > best.size())
            best = drive.mountPoint;
    return best;
}

int64_t freeBytes(const std::string& directory)
{
    // Asked with the directory's own bytes, which a name that is not UTF-8
    // would lose on the way through QStorageInfo.
    struct statvfs fs {};
    if (::statvfs(directory.c_str(), &fs) != 0)
        return -1;
    return int64_t(fs.f_bavail) * int64_t(fs.f_frsize);
}

}
