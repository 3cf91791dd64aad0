// The mount table as drives: which mounts a person would pick, their names,
// the drive holding a directory, and free space against statvfs.
#include "Drives.h"
#include "TestSupport.h"

#include <QtTest>
#include <algorithm>
#include <sys/statvfs.h>

using Drives::Drive;
using Drives::Mount;

namespace {

QStringList mountPoints(const std::vector<Drive>& drives)
{
    QStringList list;
    for (const Drive& drive : drives)
        list << QString::fromStdString(drive.mountPoint);
    return list;
}

int64_t statvfsFreeBytes(const QString& directory)
{
    struct statvfs info {};
    if (::statvfs(QFile::encodeName(directory).constData(), &info) != 0)
        return -1;
    return int64_t(info.f_bavail) * int64_t(info.f_frsize);
}

}

class TestDrives : public QObject {
    Q_OBJECT

private slots:
    void pickableMounts_data()
    {
        QTest::addColumn<QString>("mountPoint");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("pickable");
        QTest::newRow("root on a disk") << "/" << "ext4" << true;
        QTest::newRow("root of a container") << "/" << "overlay" << true;
        QTest::newRow("separate home") << "/home" << "btrfs" << true;
        QTest::newRow("usb stick") << "/media/user/STICK" << "vfat" << true;
        QTest::newRow("udisks media") << "/run/media/user/CDROM" << "iso9660" << true;
        QTest::newRow("mounted by hand") << "/mnt/data" << "xfs" << true;
        QTest::newRow("network share") << "/mnt/share" << "cifs" << true;
        QTest::newRow("proc") << "/proc" << "proc" << false;
        QTest::newRow("sysfs") << "/sys" << "sysfs" << false;
        QTest::newRow("tmpfs under /dev") << "/dev/shm" << "tmpfs" << false;
        QTest::newRow("tmpfs under /mnt") << "/mnt/ram" << "tmpfs" << false;
        QTest::newRow("snap image") << "/media/snap" << "squashfs" << false;
        QTest::newRow("overlay elsewhere") << "/mnt/merged" << "overlay" << false;
        QTest::newRow("cgroup") << "/sys/fs/cgroup" << "cgroup2" << false;
        QTest::newRow("boot partition") << "/boot" << "ext4" << false;
        QTest::newRow("efi partition") << "/boot/efi" << "vfat" << false;
        QTest::newRow("look-alike of media") << "/mediafiles" << "ext4" << false;
    }
    void pickableMounts()
    {
        QFETCH(QString, mountPoint);
        QFETCH(QString, type);
        QFETCH(bool, pickable);
        QCOMPARE(Drives::isPickable({ mountPoint.toStdString(), type.toStdString(), "/dev/sdz1", "" }), pickable);
    }

    void readableNames_data()
    {
        QTest::addColumn<QString>("mountPoint");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("name");
        QTest::newRow("label wins") << "/media/u/x" << "/dev/sdb1" << "HOLIDAY" << "HOLIDAY";
        QTest::newRow("root") << "/" << "/dev/vda" << "" << "system";
        QTest::newRow("home") << "/home" << "/dev/sda3" << "" << "home";
        QTest::newRow("device") << "/mnt/data" << "/dev/nvme0n1p4" << "" << "nvme0n1p4";
        QTest::newRow("share") << "/mnt/share" << "//server/music" << "" << "music";
    }
    void readableNames()
    {
        QFETCH(QString, mountPoint);
        QFETCH(QString, device);
        QFETCH(QString, label);
        QFETCH(QString, name);
        const Mount mount { mountPoint.toStdString(), "ext4", device.toStdString(), label.toStdString() };
        QCOMPARE(QString::fromStdString(Drives::readableName(mount)), name);
    }

    void orderAndDuplicates()
    {
        const std::vector<Mount> table {
            { "/proc", "proc", "proc", "" },
            { "/media/u/B", "vfat", "/dev/sdc1", "" },
            { "/home", "ext4", "/dev/sda3", "" },
            { "/media/u/A", "vfat", "/dev/sdb1", "OLD" },
            { "/media/u/A", "vfat", "/dev/sdb1", "NEW" },
        };
        const auto drives = Drives::pickable(table);
        // The root is offered even when the table does not show it.
        QCOMPARE(mountPoints(drives), QStringList({ "/", "/home", "/media/u/A", "/media/u/B" }));
        QCOMPARE(QString::fromStdString(drives[2].name), QStringLiteral("NEW"));
    }

    void driveOfDirectory_data()
    {
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("drive");
        QTest::newRow("root itself") << "/" << "/";
        QTest::newRow("on the root") << "/usr/share" << "/";
        QTest::newRow("mount point itself") << "/media/u/STICK" << "/media/u/STICK";
        QTest::newRow("below a mount") << "/media/u/STICK/games/x" << "/media/u/STICK";
        QTest::newRow("same prefix, other name") << "/media/u/STICKY" << "/";
        QTest::newRow("deepest wins") << "/home/me/data/films" << "/home/me/data";
        QTest::newRow("unlisted mount belongs to the root") << "/tmp/x" << "/";
    }
    void driveOfDirectory()
    {
        QFETCH(QString, directory);
        QFETCH(QString, drive);
        const std::vector<Drive> drives { { "/", "system" }, { "/home", "home" }, { "/home/me/data", "data" },
            { "/media/u/STICK", "STICK" } };
        QCOMPARE(QString::fromStdString(Drives::driveOf(directory.toStdString(), drives)), drive);
    }

    void theMachinesTable()
    {
        const auto mounts = Drives::mounts();
        QVERIFY(!mounts.empty());
        const auto drives = Drives::mounted();
        QCOMPARE(drives.front().mountPoint, std::string("/"));
        for (const Drive& drive : drives) {
            QVERIFY2(drive.mountPoint.rfind("/proc", 0) != 0 && drive.mountPoint.rfind("/sys", 0) != 0
                    && drive.mountPoint.rfind("/dev", 0) != 0,
                drive.mountPoint.c_str());
            QVERIFY(!drive.name.empty());
        }
        // Every pseudo filesystem the machine has stays out.
        for (const Mount& mount : mounts)
            if (mount.fileSystemType == "proc" || mount.fileSystemType == "sysfs" || mount.fileSystemType == "tmpfs")
                QVERIFY(!mountPoints(drives).contains(QString::fromStdString(mount.mountPoint)));
    }

    void freeSpaceAgainstStatvfs()
    {
        QTemporaryDir dir;
        // Others write to the same disk meanwhile: the figure lies between two readings.
        const int64_t before = statvfsFreeBytes(dir.path());
        const int64_t measured = Drives::freeBytes(dir.path().toStdString());
        const int64_t after = statvfsFreeBytes(dir.path());
        QVERIFY(before > 0);
        const int64_t slack = 64 * 1024 * 1024;
        QVERIFY2(measured >= std::min(before, after) - slack && measured <= std::max(before, after) + slack,
            qPrintable(QStringLiteral("%1 not near %2..%3").arg(measured).arg(before).arg(after)));
    }

    void freeSpaceOfNowhere()
    {
        QTemporaryDir dir;
        QCOMPARE(Drives::freeBytes(dir.filePath(QStringLiteral("absent/deeper")).toStdString()), int64_t(-1));
    }
};

QTEST_GUILESS_MAIN(TestDrives)
#include "test_drives.moc"
