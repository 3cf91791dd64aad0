// Archive sets written as an attacker would, extracted through the archive
// layer the way the extraction window does it: nothing outside the
// destination may appear or change, no link inside may lead out, and every
// refused entry answers its code. Each extraction runs in a child process,
// so that a crash, a hang or runaway memory fails its row instead of the
// whole program; volumes that are pipes or devices must fail at once.
#include "HostileSets.h"
#include "RarWriter.h"
#include "UnRAR.h"

#include <QtTest>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A hang guard, far above what any of these sets needs.
constexpr int kGuardMs = 5000;
// A child that holds more than this has run away.
constexpr qint64 kMemoryLimitKb = 1024 * 1024;
constexpr qint64 kMemoryGrowthKb = 64 * 1024;

QByteArray linkTarget(const QByteArray& path)
{
    QByteArray target(4096, '\0');
    const ssize_t n = ::readlink(path.constData(), target.data(), size_t(target.size()));
    return n < 0 ? QByteArray("?") : target.left(n);
}

QByteArray digest(const QByteArray& path)
{
    QFile f(QFile::decodeName(path));
    if (!f.open(QIODevice::ReadOnly))
        return "unreadable";
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(&f);
    return hash.result().toHex();
}

// Every file, directory and link under `root` (never following a link),
// with its kind, size, mode, modification time, contents and link target;
// `skip` (a path below root) is left out with everything beneath it.
void walk(const QByteArray& root, const QByteArray& rel, const QByteArray& skip, QMap<QByteArray, QByteArray>& out)
{
    const QByteArray path = rel.isEmpty() ? root : root + "/" + rel;
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) {
        out[rel] = "unreadable";
        return;
    }
    QByteArray line = QByteArray::number(uint(st.st_mode), 8) + " " + QByteArray::number(qint64(st.st_size)) + " @"
        + QByteArray::number(qint64(st.st_mtim.tv_sec)) + "." + QByteArray::number(qint64(st.st_mtim.tv_nsec));
    if (S_ISLNK(st.st_mode))
        line += " -> " + linkTarget(path);
    else if (S_ISREG(st.st_mode))
        line += " " + digest(path);
    out[rel.isEmpty() ? "." : rel] = line;
    if (!S_ISDIR(st.st_mode))
        return;
    DIR* dir = ::opendir(path.constData());
    if (!dir)
        return;
    QList<QByteArray> names;
    while (const dirent* d = ::readdir(dir)) {
        const QByteArray name = d->d_name;
        if (name != "." && name != "..")
            names << name;
    }
    ::closedir(dir);
    for (const QByteArray& name : names) {
        const QByteArray child = rel.isEmpty() ? name : rel + "/" + name;
        if (child != skip)
            walk(root, child, skip, out);
    }
}

QMap<QByteArray, QByteArray> snapshot(const QString& root, const QString& skip = {})
{
    QMap<QByteArray, QByteArray> out;
    walk(QFile::encodeName(root), {}, QFile::encodeName(QDir(root).relativeFilePath(skip)), out);
    return out;
}

// What changed between two snapshots, one line each.
QStringList differences(const QMap<QByteArray, QByteArray>& before, const QMap<QByteArray, QByteArray>& after)
{
    QStringList lines;
    for (auto it = after.begin(); it != after.end(); ++it) {
        if (!before.contains(it.key()))
            lines << "new: " + QString::fromUtf8(it.key()) + " " + QString::fromUtf8(it.value());
        else if (before[it.key()] != it.value())
            lines << "changed: " + QString::fromUtf8(it.key()) + " " + QString::fromUtf8(before[it.key()]) + " => "
                    + QString::fromUtf8(it.value());
    }
    for (auto it = before.begin(); it != before.end(); ++it)
        if (!after.contains(it.key()))
            lines << "gone: " + QString::fromUtf8(it.key());
    return lines;
}

// The symbolic links under `destination` whose target, resolved through
// every link on the way, is not inside it; `planted` (name -> target) are
// the attacker's own links made before the extraction, left as they were.
QStringList linksLeadingOut(const QString& destination, const QMap<QByteArray, QByteArray>& planted = {})
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path top = fs::canonical(fs::path(QFile::encodeName(destination).toStdString()), error);
    QStringList out;
    if (error)
        return { "destination unreadable" };
    QMap<QByteArray, QByteArray> entries;
    walk(QFile::encodeName(destination), {}, {}, entries);
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (!it.value().contains(" -> "))
            continue;
        const fs::path link = top / it.key().toStdString();
        const QByteArray targetBytes = linkTarget(QByteArray::fromStdString(link.string()));
        if (planted.value(it.key()) == targetBytes)
            continue;
        const fs::path target = targetBytes.toStdString();
        std::error_code e;
        const fs::path parent = fs::canonical(link.parent_path(), e);
        if (e)
            continue;
        // The part that exists is resolved with its links, the rest by name.
        const fs::path resolved = fs::weakly_canonical(target.is_absolute() ? target : parent / target, e);
        if (e)
            continue; // a loop leads nowhere
        const auto rel = resolved.lexically_relative(top);
        if (rel.empty() || *rel.begin() == "..")
            out << QString::fromUtf8(it.key()) + " -> " + QString::fromStdString(target.string()) + " reaches "
                    + QString::fromStdString(resolved.string());
    }
    return out;
}

qint64 statusKb(pid_t pid, const char* field)
{
    QFile f(QString("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(strlen(field))).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

struct Outcome {
    bool started = false;
    int signal = 0;           // the child died of it
    bool hung = false;        // the guard ended it
    bool memoryRanAway = false;
    unsigned openResult = 0;
    QList<QByteArray> names;  // FileName of each header
    QList<int> results;       // RARProcessFile's result for each
    int endResult = -1;
    qint64 growthKb = 0;      // peak memory the extraction added
    qint64 elapsedMs = 0;

    QString describe() const
    {
        QStringList parts;
        if (signal)
            parts << QString("killed by signal %1").arg(signal);
        if (hung)
            parts << "still running after the guard";
        if (memoryRanAway)
            parts << "memory ran away";
        parts << QString("open %1").arg(openResult);
        for (qsizetype i = 0; i < names.size(); ++i)
            parts << QString::fromUtf8(QByteArray(names[i]).replace('\0', "\\0")) + ": " + QString::number(results[i]);
        parts << QString("end %1").arg(endResult);
        return parts.join("; ");
    }
};

void writeAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n <= 0)
            return;
        p += n;
        left -= n;
    }
}

// The extraction window's loop, in the child: the destination current,
// every header read and extracted, on after a failure to see every result.
[[noreturn]] void extractInChild(int out, const QByteArray& archive, const QByteArray& destination)
{
    if (::chdir(destination.constData()) != 0)
        ::_exit(3);
    const qint64 before = statusKb(::getpid(), "VmHWM:");
    QByteArray report;
    char comment[16384];
    RAROpenArchiveData open;
    open.ArcName = archive.constData();
    open.OpenMode = RAR_OM_EXTRACT;
    open.CmtBuf = comment;
    open.CmtBufSize = sizeof comment;
    RARHandle handle = RAROpenArchive(&open);
    report += "O " + QByteArray::number(open.OpenResult) + "\n";
    if (handle) {
        // A missing volume is given up at once, as "Cancel" would.
        RARSetChangeVolProc(handle, [](char*, int mode) { return mode == RAR_VOL_ASK ? 0 : 1; });
        RARSetProcessDataProc(handle, [](unsigned char*, int) { return 1; });
        RARHeaderData header;
        int result = 0;
        for (int guard = 0; guard < 1000 && (result = RARReadHeader(handle, &header)) == 0; ++guard) {
            const QByteArray name(header.FileName);
            const int processed = RARProcessFile(handle, RAR_EXTRACT, nullptr, nullptr);
            report += "H " + QByteArray::number(processed) + " " + name.toHex() + "\n";
        }
        report += "E " + QByteArray::number(result) + "\n";
        RARCloseArchive(handle);
    }
    report += "M " + QByteArray::number(statusKb(::getpid(), "VmHWM:") - before) + "\n";
    writeAll(out, report);
    ::_exit(0);
}

Outcome extract(const QString& archive, const QString& destination)
{
    Outcome outcome;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return outcome;
    const QByteArray archiveName = QFile::encodeName(archive);
    const QByteArray destinationName = QFile::encodeName(destination);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return outcome;
    if (pid == 0) {
        ::close(fds[0]);
        extractInChild(fds[1], archiveName, destinationName);
    }
    ::close(fds[1]);
    outcome.started = true;
    QElapsedTimer timer;
    timer.start();
    QByteArray report;
    for (;;) {
        pollfd p { fds[0], POLLIN, 0 };
        const int ready = ::poll(&p, 1, 50);
        if (ready > 0) {
            char buffer[4096];
            const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n > 0) {
                report.append(buffer, n);
                continue;
            }
            if (n == 0)
                break;
        }
        if (statusKb(pid, "VmRSS:") > kMemoryLimitKb) {
            outcome.memoryRanAway = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (timer.elapsed() > kGuardMs) {
            outcome.hung = true;
            ::kill(pid, SIGKILL);
            break;
        }
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.elapsedMs = timer.elapsed();
    if (WIFSIGNALED(status) && !outcome.hung && !outcome.memoryRanAway)
        outcome.signal = WTERMSIG(status);
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        outcome.signal = -WEXITSTATUS(status); // a sanitizer's report ends the child this way
    for (const QByteArray& line : report.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f[0] == "O")
            outcome.openResult = f.value(1).toUInt();
        else if (f[0] == "H") {
            outcome.results << f.value(1).toInt();
            outcome.names << QByteArray::fromHex(f.value(2));
        } else if (f[0] == "E")
            outcome.endResult = f.value(1).toInt();
        else if (f[0] == "M")
            outcome.growthKb = f.value(1).toLongLong();
    }
    return outcome;
}

QString samplesDir()
{
    const QString dir = QStringLiteral(MERIK_SHARED_FIXTURES "/rar");
    return QFileInfo::exists(dir + "/test_read_format_rar5_compressed.rar") ? dir : QString();
}

// The sandbox around a destination: dest's parent holds a sibling, two
// levels up are a fake .bashrc and the medium with its install.ini, beside
// them a directory "outside" with a secret.
struct Sandbox {
    QTemporaryDir dir;
    HostileSets::Paths paths;

    Sandbox()
    {
        const QString root = QFileInfo(dir.path()).canonicalFilePath();
        paths.sandbox = QFile::encodeName(root).toStdString();
        paths.destination = paths.sandbox + "/home/dest";
        paths.outside = paths.sandbox + "/outside";
        paths.medium = paths.sandbox + "/medium";
        for (const char* d : { "/home/dest", "/home/sibling", "/outside", "/medium" })
            QDir().mkpath(root + d);
        put("/.bashrc", "# the user's own\n");
        put("/home/sibling/notes.txt", "a sibling of the destination\n");
        put("/outside/secret", "secret\n");
        put("/medium/install.ini", "Release title: Hostile\r\n");
        // Times that a change would not hit by chance.
        for (const char* f : { "/.bashrc", "/home/sibling/notes.txt", "/outside/secret", "/medium/install.ini" })
            setTime(root + f, 1500000000);
    }
    QString root() const { return QFile::decodeName(QByteArray::fromStdString(paths.sandbox)); }
    QString destination() const { return QFile::decodeName(QByteArray::fromStdString(paths.destination)); }
    void put(const char* rel, const QByteArray& bytes)
    {
        QFile f(root() + rel);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", rel);
    }
    static void setTime(const QString& path, qint64 t)
    {
        const timespec times[2] = { { t, 0 }, { t, 0 } };
        ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW);
    }
};

}

class TestHostile : public QObject {
    Q_OBJECT

private slots:
    void hostileSets_data()
    {
        QTest::addColumn<int>("index");
        const auto cases = HostileSets::cases(samplesDir().toStdString());
        for (size_t i = 0; i < cases.size(); ++i)
            QTest::newRow(cases[i].tag.c_str()) << int(i);
        if (samplesDir().isEmpty())
            qInfo("shared samples not found: the case built from them is left out");
    }
    void hostileSets()
    {
        QFETCH(int, index);
        const HostileSets::Case c = HostileSets::cases(samplesDir().toStdString())[size_t(index)];
        Sandbox box;
        const std::vector<std::string> volumes = c.write(box.paths);
        QVERIFY(!volumes.empty());
        QMap<QByteArray, QByteArray> planted;
        for (const auto& [name, target] : c.existingLinks) {
            QByteArray t = QByteArray::fromStdString(target);
            t.replace("@OUT", QByteArray::fromStdString(box.paths.outside));
            planted[QByteArray::fromStdString(name)] = t;
            QVERIFY(::symlink(t.constData(), (box.paths.destination + "/" + name).c_str()) == 0);
        }
        // The set's files are outside too: they must not change either.
        const auto before = snapshot(box.root(), box.destination());

        const Outcome outcome = extract(QFile::decodeName(QByteArray::fromStdString(volumes[0])), box.destination());
        qInfo("%s", qPrintable(outcome.describe()));
        QVERIFY(outcome.started);
        QVERIFY2(outcome.signal == 0, qPrintable("the extraction crashed: " + outcome.describe()));
        QVERIFY2(!outcome.hung && !outcome.memoryRanAway, qPrintable(outcome.describe()));

        const QStringList changed = differences(before, snapshot(box.root(), box.destination()));
        QVERIFY2(changed.isEmpty(), qPrintable("outside the destination:\n" + changed.join('\n')));
        const QStringList out = linksLeadingOut(box.destination(), planted);
        QVERIFY2(out.isEmpty(), qPrintable("links leading out:\n" + out.join('\n')));

        QCOMPARE(outcome.openResult, 0u);
        QVERIFY2(outcome.results.size() >= qsizetype(c.codes.size()), qPrintable(outcome.describe()));
        if (!c.moreHeaders)
            QVERIFY2(outcome.results.size() == qsizetype(c.codes.size()), qPrintable(outcome.describe()));
        for (size_t i = 0; i < c.codes.size(); ++i)
            if (c.codes[i] != HostileSets::kAny)
                QVERIFY2(outcome.results[qsizetype(i)] == c.codes[i],
                    qPrintable(QString("header %1 should give %2: %3").arg(i).arg(c.codes[i]).arg(outcome.describe())));
        if (c.endCode != HostileSets::kAny)
            QCOMPARE(outcome.endResult, c.endCode);
    }

    // Volumes that are no regular files: a named pipe would block the open
    // for ever, /dev/zero would feed bytes without end.
    void specialVolumes_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<int>("volume");
        QTest::addColumn<QString>("kind");
        for (const QString format : { "rar4", "rar5" })
            for (int volume : { 0, 1 })
                for (const QString kind : { "fifo", "/dev/zero" })
                    QTest::addRow("%s %s as volume %d", qPrintable(format), qPrintable(kind), volume + 1)
                        << format << volume << kind;
    }
    void specialVolumes()
    {
        QFETCH(QString, format);
        QFETCH(int, volume);
        QFETCH(QString, kind);
        Sandbox box;
        std::vector<std::string> volumes;
        const std::string first = box.paths.medium + "/set.rar";
        if (format == "rar4") {
            RarWriter::Options options;
            options.volumeSize = 4000;
            std::string data(6000, 'd');
            for (size_t i = 0; i < data.size(); ++i)
                data[i] = char(i * 31 % 253);
            for (const auto& v : RarWriter::write(first, { RarWriter::Entry::file("split.bin", data, 1700000000) }, options).volumes)
                volumes.push_back(v.path);
        } else {
            volumes = HostileSets::Rar5().file("first", "in the first volume").nextVolume().file("second", "in the second").write(first);
        }
        QVERIFY(volumes.size() >= 2);
        const QString target = QFile::decodeName(QByteArray::fromStdString(volumes[size_t(volume)]));
        QVERIFY(QFile::remove(target));
        if (kind == "fifo")
            QVERIFY(::mkfifo(QFile::encodeName(target).constData(), 0644) == 0);
        else
            QVERIFY(QFile::link(kind, target));
        const auto before = snapshot(box.root(), box.destination());

        const Outcome outcome = extract(QFile::decodeName(QByteArray::fromStdString(volumes[0])), box.destination());
        qInfo("%s; %lld ms, %lld KiB more memory", qPrintable(outcome.describe()), outcome.elapsedMs, outcome.growthKb);
        QVERIFY2(outcome.signal == 0, qPrintable(outcome.describe()));
        QVERIFY2(!outcome.hung, "the layer blocked on the volume");
        QVERIFY2(!outcome.memoryRanAway, "the layer's memory ran away");
        QVERIFY2(outcome.growthKb < kMemoryGrowthKb, qPrintable(QString("memory grew by %1 KiB").arg(outcome.growthKb)));
        QCOMPARE(differences(before, snapshot(box.root(), box.destination())), QStringList());
        if (volume == 0) {
            // Not there, as far as the layer is concerned.
            QCOMPARE(outcome.openResult, unsigned(ERAR_EOPEN));
        } else {
            QCOMPARE(outcome.openResult, 0u);
            // The volume is asked for as a missing one, and given up.
            QVERIFY2(outcome.results.contains(ERAR_EOPEN) || outcome.endResult == ERAR_EOPEN, qPrintable(outcome.describe()));
            // A failed entry leaves nothing of itself.
            QVERIFY(!QFileInfo::exists(box.destination() + "/split.bin"));
        }
    }
};

// With "--write-seeds DIR" the program writes every hostile set, its
// volumes joined, as seeds for the fuzz target over the layer; with
// "--write-set TAG DIR" the volumes of one set into DIR (for the
// end-to-end test), printing their paths.
int main(int argc, char** argv)
{
    if (argc == 4 && QByteArray(argv[1]) == "--write-set") {
        HostileSets::Paths paths;
        paths.medium = argv[3];
        paths.outside = paths.medium + "/../outside";
        for (const auto& c : HostileSets::cases({}))
            if (c.tag == argv[2]) {
                for (const auto& v : c.write(paths))
                    std::printf("%s\n", v.c_str());
                return 0;
            }
        std::fprintf(stderr, "no set %s\n", argv[2]);
        return 1;
    }
    if (argc == 3 && QByteArray(argv[1]) == "--write-seeds") {
        Sandbox box;
        int n = 0;
        for (const auto& c : HostileSets::cases({})) {
            QByteArray joined;
            for (const auto& v : c.write(box.paths)) {
                QFile f(QFile::decodeName(QByteArray::fromStdString(v)));
                if (!f.open(QIODevice::ReadOnly))
                    return 1;
                joined += f.readAll();
                f.remove();
            }
            QFile out(QString("%1/hostile-%2.rar").arg(argv[2]).arg(++n, 2, 10, QChar('0')));
            if (!out.open(QIODevice::WriteOnly) || out.write(joined) != joined.size())
                return 1;
        }
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestHostile test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_hostile.moc"
