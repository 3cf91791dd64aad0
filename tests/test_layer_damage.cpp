// The archive layer on real archives with damaged compressed data, and on
// self-extracting sets. Every compressed RAR 1.5 to 4.x sample is copied and
// bytes of its entries' packed data are flipped, one spot at a time; each
// extraction runs in a child process under an alarm, so that a hang or a
// crash fails its case. What comes out must be either nothing at all (the
// entry failed, no file, no temporary part, no directory of its own) or the
// very file unar makes of the sound sample: never a wrong file that looks
// complete, also for the entries of a solid stream after the damaged one.
#include "RarFormat.h"
#include "RarWriter.h"
#include "TestSupport.h"
#include "UnRAR.h"

#include <QtTest>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A hang guard, far above what any one extraction of these samples needs.
constexpr unsigned kGuardSeconds = 60;
// Entries larger than this are neither damaged nor extracted (the 241 MB
// entry of the PPMd set): skipped where the archive is not solid.
constexpr quint64 kMaxDamagedSize = 32 * 1024 * 1024;
// Spots damaged in each entry, spread over its packed data.
constexpr int kSpotsPerEntry = 8;

QString sampleDir() { return QStringLiteral(MERIK_SHARED_FIXTURES "/rar"); }

// A piece of an entry's packed data: which volume, where, how long.
struct Piece {
    int volume = 0;
    qint64 offset = 0;
    qint64 size = 0;
};

struct SampleEntry {
    QString name;           // as the layer reports it (UTF-8)
    quint64 unpackedSize = 0;
    bool compressed = false;
    bool encrypted = false;
    bool directory = false;
    QList<Piece> pieces;
    qint64 packedSize() const
    {
        qint64 n = 0;
        for (const Piece& p : pieces)
            n += p.size;
        return n;
    }
};

struct Sample {
    QStringList volumes; // file names, in order
    QString directory;   // where they are
    bool solid = false;
    QList<SampleEntry> entries;
};

// Walks the RAR 4 block headers of every volume; the entries with where
// their packed data lies. False when a header cannot be read.
bool readLayout(Sample& sample)
{
    for (int v = 0; v < sample.volumes.size(); ++v) {
        const QByteArray bytes = TestSupport::readFile(sample.directory + "/" + sample.volumes[v]);
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
        const size_t size = size_t(bytes.size());
        if (Rar::detectSignature(data, size) != Rar::Format::Rar4)
            return false;
        size_t pos = Rar::kRar4SignatureSize;
        while (pos < size) {
            Rar::Block block;
            size_t needed = 0;
            if (Rar::parseBlock(Rar::Format::Rar4, data + pos, size - pos, block, needed) != Rar::ParseStatus::Ok)
                return false;
            if (block.kind == Rar::BlockKind::Main && v == 0)
                sample.solid = block.solid;
            if (block.kind == Rar::BlockKind::File) {
                const QString name = QString::fromStdString(Rar::utf8Name(block)).replace('\\', '/');
                if (!block.splitBefore || sample.entries.isEmpty() || sample.entries.back().name != name) {
                    SampleEntry entry;
                    entry.name = name;
                    entry.unpackedSize = block.unpackedSize;
                    entry.compressed = block.method != Rar::V4::kMethodStore;
                    entry.encrypted = block.encrypted;
                    entry.directory = block.directory;
                    sample.entries.append(entry);
                }
                if (block.dataSize > 0)
                    sample.entries.back().pieces.append({ v, qint64(pos + block.headerSize), qint64(block.dataSize) });
            }
            if (block.kind == Rar::BlockKind::End)
                break;
            if (block.dataSize > size - pos - block.headerSize)
                return false; // a truncated sample
            pos += block.headerSize + size_t(block.dataSize);
        }
    }
    return true;
}

bool damageable(const SampleEntry& e)
{
    return e.compressed && !e.encrypted && !e.directory && e.unpackedSize > 0 && e.unpackedSize <= kMaxDamagedSize
        && e.packedSize() > 0;
}

// The compressed RAR 1.5 to 4.x samples: every first volume of both
// folders, with the rest of its set.
QList<Sample> compressedSamples()
{
    QList<Sample> samples;
    for (const QString& folder : { sampleDir(), sampleDir() + "/sharpcompress" }) {
        const QStringList files = QDir(folder).entryList({ "*.rar" }, QDir::Files, QDir::Name);
        static const QRegularExpression part(QStringLiteral("^(.*)\\.part(\\d+)\\.rar$"));
        for (const QString& file : files) {
            Sample sample;
            sample.directory = folder;
            const QRegularExpressionMatch m = part.match(file);
            if (m.hasMatch()) {
                if (m.captured(2).toInt() != 1)
                    continue;
                const int width = int(m.capturedLength(2));
                for (int i = 1;; ++i) {
                    const QString name = QString("%1.part%2.rar").arg(m.captured(1)).arg(i, width, 10, QLatin1Char('0'));
                    if (!files.contains(name))
                        break;
                    sample.volumes << name;
                }
            } else {
                sample.volumes << file;
            }
            if (!readLayout(sample))
                continue; // RAR 5, or a damaged sample
            bool any = false;
            for (const SampleEntry& e : sample.entries)
                any = any || damageable(e);
            if (any)
                samples.append(sample);
        }
    }
    return samples;
}

struct EntryResult {
    QString name;
    int result = -1;
};

struct Run {
    bool hung = false;
    int signal = 0;
    int exitCode = 0;
    unsigned openResult = 0;
    QList<EntryResult> entries;
    int endResult = -1;
    QString describe() const
    {
        QStringList parts;
        if (hung)
            parts << "hung";
        if (signal)
            parts << QString("killed by signal %1").arg(signal);
        if (exitCode)
            parts << QString("child exit %1").arg(exitCode);
        parts << QString("open %1").arg(openResult);
        for (const EntryResult& e : entries)
            parts << QString("%1=%2").arg(e.name).arg(e.result);
        parts << QString("end %1").arg(endResult);
        return parts.join("; ");
    }
    int resultOf(const QString& name) const
    {
        for (const EntryResult& e : entries)
            if (e.name == name)
                return e.result;
        return -1;
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

// The extraction window's loop in a child under an alarm: the destination
// current, every header read, each entry extracted (those named in `skip`
// skipped), on after a failure to see every result.
Run extract(const QString& archive, const QString& destination, const QSet<QString>& skip = {})
{
    Run run;
    QDir().mkpath(destination);
    int fds[2];
    if (::pipe(fds) != 0)
        qFatal("pipe");
    const QByteArray archiveName = QFile::encodeName(archive);
    const QByteArray destinationName = QFile::encodeName(destination);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        qFatal("fork");
    if (pid == 0) {
        ::close(fds[0]);
        ::alarm(kGuardSeconds);
        if (::chdir(destinationName.constData()) != 0)
            ::_exit(3);
        QByteArray report;
        RAROpenArchiveData open;
        open.ArcName = archiveName.constData();
        open.OpenMode = RAR_OM_EXTRACT;
        RARHandle handle = RAROpenArchive(&open);
        report += "O " + QByteArray::number(open.OpenResult) + "\n";
        if (handle) {
            RARSetChangeVolProc(handle, [](char*, int mode) { return mode == RAR_VOL_ASK ? 0 : 1; });
            RARSetProcessDataProc(handle, [](unsigned char*, int) { return 1; });
            RARHeaderData header;
            int result = 0;
            for (int guard = 0; guard < 10000 && (result = RARReadHeader(handle, &header)) == 0; ++guard) {
                const QByteArray name(header.FileName);
                const int operation = skip.contains(QString::fromUtf8(name)) ? RAR_SKIP : RAR_EXTRACT;
                const int processed = RARProcessFile(handle, operation, nullptr, nullptr);
                report += "H " + QByteArray::number(processed) + " " + name.toHex() + "\n";
            }
            report += "E " + QByteArray::number(result) + "\n";
            RARCloseArchive(handle);
        }
        writeAll(fds[1], report);
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray report;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n > 0)
            report.append(buffer, n);
        else if (n == 0 || errno != EINTR)
            break;
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    if (WIFSIGNALED(status)) {
        run.hung = WTERMSIG(status) == SIGALRM;
        if (!run.hung)
            run.signal = WTERMSIG(status);
    } else if (WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    }
    for (const QByteArray& line : report.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f[0] == "O")
            run.openResult = f.value(1).toUInt();
        else if (f[0] == "H")
            run.entries.append({ QString::fromUtf8(QByteArray::fromHex(f.value(2))), f.value(1).toInt() });
        else if (f[0] == "E")
            run.endResult = f.value(1).toInt();
    }
    return run;
}

QByteArray linkTarget(const QString& path)
{
    QByteArray target(4096, '\0');
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target.data(), size_t(target.size()));
    return n < 0 ? QByteArray("?") : target.left(n);
}

QByteArray digest(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "unreadable";
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(&f);
    return hash.result().toHex();
}

// Every file, directory and link under `root` (links not followed): its
// path, and its kind with its contents (a digest) or target.
QMap<QString, QString> tree(const QString& root)
{
    QMap<QString, QString> out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString rel = QDir(root).relativeFilePath(info.absoluteFilePath());
        if (info.isSymLink())
            out[rel] = "link " + QString::fromLocal8Bit(linkTarget(info.absoluteFilePath()));
        else if (info.isDir())
            out[rel] = "dir";
        else
            out[rel] = "file " + QString::fromLatin1(digest(info.absoluteFilePath()));
    }
    return out;
}

QString describe(const QMap<QString, QString>& t)
{
    QStringList lines;
    for (auto it = t.begin(); it != t.end(); ++it)
        lines << it.key() + ": " + it.value();
    return lines.join(", ");
}

// What may be in the destination after a run: every entry that came out
// equal to the reference, the directories above it, nothing of a failed
// entry (`skipped` ones are not written). Empty when so; else what is wrong.
QStringList judge(const Run& run, const QMap<QString, QString>& out, const QMap<QString, QString>& reference,
    const QSet<QString>& skipped)
{
    QStringList wrong;
    QSet<QString> succeeded, allowedDirectories;
    for (const EntryResult& e : run.entries) {
        if (e.result != 0 || skipped.contains(e.name))
            continue;
        succeeded.insert(e.name);
        allowedDirectories.insert(e.name);
        for (qsizetype i = e.name.indexOf('/'); i > 0; i = e.name.indexOf('/', i + 1))
            allowedDirectories.insert(e.name.left(i));
    }
    for (auto it = out.begin(); it != out.end(); ++it) {
        const QString& path = it.key();
        if (it.value() == "dir") {
            if (!allowedDirectories.contains(path))
                wrong << "a directory no sound entry needs: " + path;
            continue;
        }
        if (!succeeded.contains(path))
            wrong << "left behind by a failed entry (or a temporary part): " + path + " " + it.value();
        else if (reference.value(path) != it.value())
            wrong << "differs from unar's: " + path + " " + it.value() + " (unar: " + reference.value(path) + ")";
    }
    for (const QString& name : succeeded)
        if (!out.contains(name))
            wrong << "reported extracted but not there: " + name;
    return wrong;
}

QByteArray stub(qsizetype size, const QByteArray& magic)
{
    // Bytes of a program: no RAR signature inside.
    QByteArray bytes(size, '\0');
    quint32 x = 0x2545f491u;
    for (char& c : bytes)
        c = char(((x = x * 1664525u + 1013904223u) >> 24) & 0x7f);
    bytes.replace(0, magic.size(), magic);
    return bytes;
}

}

class TestLayerDamage : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        for (const QString& name : QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            QFileInfo info(path(name));
            if (info.isDir() && !info.isSymLink()) {
                QDir(path(name)).removeRecursively();
            } else {
                QFile f(path(name));
                f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
                f.remove();
            }
        }
    }

    void damagedEntriesFailAndLeaveNothing_data()
    {
        QTest::addColumn<QStringList>("volumes");
        QTest::addColumn<QString>("directory");
        if (!QFileInfo::exists(sampleDir()))
            QSKIP("the shared sample archives are not there (" MERIK_SHARED_FIXTURES "/rar)");
        const QList<Sample> samples = compressedSamples();
        // RAR 1.5, 2.0, 2.9 (solid, filters, PPMd, audio), sets: all found.
        QVERIFY2(samples.size() >= 10, qPrintable(QString("only %1 compressed samples found").arg(samples.size())));
        for (const Sample& s : samples)
            QTest::newRow(qPrintable(QDir(sampleDir()).relativeFilePath(s.directory + "/" + s.volumes.first())))
                << s.volumes << s.directory;
    }
    void damagedEntriesFailAndLeaveNothing()
    {
        QFETCH(QStringList, volumes);
        QFETCH(QString, directory);
        if (QStandardPaths::findExecutable("unar").isEmpty())
            QSKIP("unar, the reference for RAR 1.5 to 4.x, is not installed");
        Sample sample;
        sample.volumes = volumes;
        sample.directory = directory;
        QVERIFY(readLayout(sample));

        // Entries too large to damage are left out, skipped where that
        // costs nothing; in a solid stream they would have to be decoded.
        QSet<QString> skip;
        QStringList wanted;
        for (const SampleEntry& e : sample.entries) {
            if (!e.directory && e.unpackedSize > kMaxDamagedSize)
                skip.insert(e.name);
            else
                wanted << e.name;
        }
        if (sample.solid && !skip.isEmpty())
            QSKIP("a solid sample with an entry too large to decode again and again");

        // The reference: unar on the sound sample.
        QProcess unar;
        QStringList arguments { "-q", "-f", "-D", "-o", path("reference"), directory + "/" + volumes.first() };
        if (!skip.isEmpty())
            arguments << wanted;
        unar.start("unar", arguments);
        QVERIFY(unar.waitForFinished(300000));
        QCOMPARE(unar.exitCode(), 0);
        const QMap<QString, QString> reference = tree(path("reference"));

        // The copy; the sound copy through the layer first.
        QDir().mkpath(path("set"));
        QList<QByteArray> pristine;
        for (const QString& v : volumes) {
            pristine << TestSupport::readFile(directory + "/" + v);
            TestSupport::writeFile(path("set/" + v), pristine.back());
        }
        const QString first = path("set/" + volumes.first());
        {
            const Run run = extract(first, path("sound"), skip);
            QVERIFY2(!run.hung && !run.signal && !run.exitCode, qPrintable(run.describe()));
            for (const EntryResult& e : run.entries)
                QVERIFY2(e.result == 0, qPrintable(run.describe()));
            QCOMPARE(run.endResult, ERAR_END_ARCHIVE);
            const QStringList wrong = judge(run, tree(path("sound")), reference, skip);
            QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("\n")));
        }

        QSet<QString> directories;
        for (const SampleEntry& e : sample.entries)
            if (e.directory)
                directories.insert(e.name);
        int cases = 0, failedDamaged = 0, identicalDamaged = 0, failedLater = 0, identicalLater = 0;
        QMap<int, int> codes;
        QStringList identicalSpots;
        for (int index = 0; index < sample.entries.size(); ++index) {
            const SampleEntry& entry = sample.entries[index];
            if (!damageable(entry))
                continue;
            const qint64 packed = entry.packedSize();
            QSet<qint64> spots;
            for (int k = 0; k < kSpotsPerEntry; ++k)
                spots.insert(packed <= 1 ? 0 : (packed - 1) * k / (kSpotsPerEntry - 1));
            QList<qint64> ordered(spots.begin(), spots.end());
            std::sort(ordered.begin(), ordered.end());
            for (const qint64 spot : ordered) {
                // Up to four bytes from the spot, inverted, within the entry's data.
                QMap<int, QByteArray> damaged;
                QStringList where;
                for (qint64 b = spot; b < std::min(packed, spot + 4); ++b) {
                    qint64 rest = b;
                    for (const Piece& p : entry.pieces) {
                        if (rest < p.size) {
                            if (!damaged.contains(p.volume))
                                damaged[p.volume] = pristine[p.volume];
                            damaged[p.volume][p.offset + rest] = char(~damaged[p.volume][p.offset + rest]);
                            where << QString("%1@%2").arg(volumes[p.volume]).arg(p.offset + rest);
                            break;
                        }
                        rest -= p.size;
                    }
                }
                for (auto it = damaged.begin(); it != damaged.end(); ++it)
                    TestSupport::writeFile(path("set/" + volumes[it.key()]), it.value());

                const QString destination = path(QString("out%1").arg(++cases));
                const Run run = extract(first, destination, skip);
                const QString context = QString("%1, packed byte %2 of %3 (%4): %5")
                                            .arg(entry.name).arg(spot).arg(packed).arg(where.join(" "), run.describe());
                QVERIFY2(!run.hung, qPrintable("did not end within the guard: " + context));
                QVERIFY2(!run.signal && !run.exitCode, qPrintable(context));
                QCOMPARE(run.openResult, 0u);
                QVERIFY2(run.endResult != 0, qPrintable(context));
                const QMap<QString, QString> out = tree(destination);
                const QStringList wrong = judge(run, out, reference, skip);
                QVERIFY2(wrong.isEmpty(), qPrintable(context + "\n" + wrong.join("\n")));

                const int damagedResult = run.resultOf(entry.name);
                if (damagedResult == 0) {
                    ++identicalDamaged;
                    identicalSpots << QString("%1 byte %2 of %3").arg(entry.name).arg(spot).arg(packed);
                } else {
                    ++failedDamaged;
                    ++codes[damagedResult];
                    // A failure is a code of the table, not a stray number.
                    QVERIFY2(damagedResult >= ERAR_NO_MEMORY && damagedResult <= ERAR_EWRITE, qPrintable(context));
                }
                if (sample.solid && damagedResult != 0) {
                    bool after = false;
                    for (const EntryResult& e : run.entries) {
                        if (e.name == entry.name) {
                            after = true;
                            continue;
                        }
                        if (!after || directories.contains(e.name))
                            continue;
                        (e.result == 0 ? identicalLater : failedLater)++;
                    }
                }
                for (auto it = damaged.begin(); it != damaged.end(); ++it)
                    TestSupport::writeFile(path("set/" + volumes[it.key()]), pristine[it.key()]);
                QDir(destination).removeRecursively();
            }
        }
        QStringList codeList;
        for (auto it = codes.begin(); it != codes.end(); ++it)
            codeList << QString("%1 x%2").arg(it.key()).arg(it.value());
        qInfo("%d damaged copies: the damaged entry failed in %d (codes %s), came out identical in %d (%s)%s", cases,
            failedDamaged, qPrintable(codeList.join(", ")), identicalDamaged, qPrintable(identicalSpots.join(", ")),
            sample.solid ? qPrintable(QString("; later solid entries: %1 failed, %2 identical").arg(failedLater).arg(identicalLater))
                         : "");
        // The damage reached the decoders: most copies fail.
        QVERIFY2(failedDamaged * 2 > cases, "the damage was not noticed");
    }

    // A self-extracting first volume: the archive after a program. It opens
    // and extracts as the plain archive does; a program with no archive is
    // no RAR archive.
    void selfExtractingArchives_data()
    {
        QTest::addColumn<QString>("sample");
        QTest::addColumn<int>("stubSize");
        QTest::addColumn<QByteArray>("magic");
        for (const char* sample : { "sharpcompress/Rar.rar", "sharpcompress/Rar5.solid.rar", "sharpcompress/Rar15.rar",
                 "test_read_format_rar5_compressed.rar" }) {
            // Sizes around the 64 KB search window, so that the signature
            // also straddles the end of one window.
            for (int size : { 6144, 65536 - 2, 65536 + 1, 300000 })
                QTest::addRow("%s, %d-byte DOS stub", sample, size) << QString(sample) << size << QByteArray("MZ");
        }
        QTest::addRow("RAR 4, ELF stub") << QString("sharpcompress/Rar.rar") << 20000 << QByteArray("\x7f" "ELF");
        QTest::addRow("RAR 5, ELF stub") << QString("sharpcompress/Rar5.solid.rar") << 20000 << QByteArray("\x7f" "ELF");
    }
    void selfExtractingArchives()
    {
        QFETCH(QString, sample);
        QFETCH(int, stubSize);
        QFETCH(QByteArray, magic);
        if (!QFileInfo::exists(sampleDir() + "/" + sample))
            QSKIP("the shared sample archives are not there");
        const QByteArray archive = TestSupport::readFile(sampleDir() + "/" + sample);
        TestSupport::writeFile(path("plain.rar"), archive);
        TestSupport::writeFile(path("setup.exe"), stub(stubSize, magic) + archive);

        const Run plain = extract(path("plain.rar"), path("plain"));
        const Run sfx = extract(path("setup.exe"), path("sfx"));
        QVERIFY2(!sfx.hung && !sfx.signal && !sfx.exitCode, qPrintable(sfx.describe()));
        QCOMPARE(plain.openResult, 0u);
        QCOMPARE(sfx.openResult, 0u);
        QVERIFY(!plain.entries.isEmpty());
        QCOMPARE(sfx.describe(), plain.describe());
        QCOMPARE(sfx.endResult, ERAR_END_ARCHIVE);
        for (const EntryResult& e : sfx.entries)
            QCOMPARE(e.result, 0);
        const QMap<QString, QString> expected = tree(path("plain"));
        QVERIFY(!expected.isEmpty());
        QCOMPARE(describe(tree(path("sfx"))), describe(expected));
    }

    void selfExtractingVolumeSet()
    {
        // GAME.part1.exe is followed by GAME.part2.rar.
        std::vector<RarWriter::Entry> entries;
        std::string big(30000, '\0'), small = "the second file\n";
        for (size_t i = 0; i < big.size(); ++i)
            big[i] = char(i * 31 % 253);
        entries.push_back(RarWriter::Entry::directory("DATA"));
        entries.push_back(RarWriter::Entry::file("DATA/BIG.BIN", big));
        entries.push_back(RarWriter::Entry::file("README.TXT", small));
        RarWriter::Options options;
        options.volumeSize = 20000;
        options.naming = RarWriter::Naming::Parts;
        QDir().mkpath(path("set"));
        const RarWriter::Result written
            = RarWriter::write(QFile::encodeName(path("set/GAME.rar")).toStdString(), entries, options);
        QCOMPARE(int(written.volumes.size()), 2);
        QCOMPARE(QFileInfo(QString::fromStdString(written.volumes[0].path)).fileName(), QString("GAME.part1.rar"));
        QCOMPARE(QFileInfo(QString::fromStdString(written.volumes[1].path)).fileName(), QString("GAME.part2.rar"));

        const Run plain = extract(path("set/GAME.part1.rar"), path("plain"));
        QCOMPARE(plain.describe(), QString("open 0; DATA=0; DATA/BIG.BIN=0; README.TXT=0; end 10"));
        QCOMPARE(TestSupport::readFile(path("plain/DATA/BIG.BIN")), QByteArray::fromStdString(big));
        QCOMPARE(TestSupport::readFile(path("plain/README.TXT")), QByteArray::fromStdString(small));

        const QByteArray volume1 = TestSupport::readFile(path("set/GAME.part1.rar"));
        QVERIFY(QFile::remove(path("set/GAME.part1.rar")));
        TestSupport::writeFile(path("set/GAME.part1.exe"), stub(12288, "MZ") + volume1);
        const Run sfx = extract(path("set/GAME.part1.exe"), path("sfx"));
        QCOMPARE(sfx.describe(), plain.describe());
        QCOMPARE(describe(tree(path("sfx"))), describe(tree(path("plain"))));

        // Without its second volume the split entry fails and leaves nothing.
        QVERIFY(QFile::rename(path("set/GAME.part2.rar"), path("GAME.part2.rar")));
        const Run missing = extract(path("set/GAME.part1.exe"), path("missing"));
        QVERIFY2(!missing.hung && !missing.signal, qPrintable(missing.describe()));
        QCOMPARE(missing.resultOf("DATA/BIG.BIN"), ERAR_EOPEN);
        QVERIFY(!QFileInfo::exists(path("missing/DATA/BIG.BIN")));
    }

    void programWithoutArchiveIsNoArchive_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("DOS program") << stub(50000, "MZ");
        QTest::newRow("ELF program") << stub(50000, "\x7f" "ELF");
        QTest::newRow("just MZ") << QByteArray("MZ");
        // A signature with no main header after it is a stray one.
        QByteArray stray = stub(50000, "MZ");
        stray.replace(30000, 7, QByteArray("Rar!\x1a\x07\x00", 7));
        QTest::newRow("stray RAR 4 signature") << stray;
        QByteArray stray5 = stub(50000, "MZ");
        stray5.replace(30000, 8, QByteArray("Rar!\x1a\x07\x01\x00", 8));
        QTest::newRow("stray RAR 5 signature") << stray5;
    }
    void programWithoutArchiveIsNoArchive()
    {
        QFETCH(QByteArray, bytes);
        TestSupport::writeFile(path("setup.exe"), bytes);
        const Run run = extract(path("setup.exe"), path("out"));
        QVERIFY2(!run.hung && !run.signal && !run.exitCode, qPrintable(run.describe()));
        QCOMPARE(run.openResult, unsigned(ERAR_BAD_ARCHIVE));
        QVERIFY(run.entries.isEmpty());
        QVERIFY(tree(path("out")).isEmpty());
    }
};

// Helpers for the end-to-end test, which drives the real installer over
// the same damage:
//   --damage-entry ARCHIVE INDEX COPY  writes COPY with bytes flipped in the
//       middle of entry INDEX's packed data; prints the names of that entry
//       and of every entry after it, one a line.
//   --write-crc-error DIRECTORY  writes DIRECTORY/CRC.RAR whose second entry
//       is stored with a wrong CRC; prints its path.
int damageEntry(const QString& archive, int index, const QString& copy)
{
    Sample sample;
    sample.directory = QFileInfo(archive).absolutePath();
    sample.volumes << QFileInfo(archive).fileName();
    if (!readLayout(sample) || index < 0 || index >= sample.entries.size() || !damageable(sample.entries[index])) {
        std::fprintf(stderr, "%s: no compressed entry %d to damage\n", qPrintable(archive), index);
        return 1;
    }
    QByteArray bytes = TestSupport::readFile(archive);
    const Piece& piece = sample.entries[index].pieces.first();
    const qint64 middle = piece.offset + piece.size / 2;
    for (qint64 i = middle; i < std::min(middle + 16, piece.offset + piece.size); ++i)
        bytes[i] = char(~bytes[i]);
    TestSupport::writeFile(copy, bytes);
    for (int i = index; i < sample.entries.size(); ++i)
        std::printf("%s\n", sample.entries[i].name.toUtf8().constData());
    return 0;
}

int writeCrcError(const QString& directory)
{
    const std::vector<RarWriter::Entry> entries { RarWriter::Entry::file("GOOD.TXT", "sound\n"),
        RarWriter::Entry::file("BAD.TXT", "its CRC is wrong\n") };
    RarWriter::Options options;
    options.damage.wrongCrc = "BAD.TXT";
    const std::string path = QFile::encodeName(directory + "/CRC.RAR").toStdString();
    RarWriter::write(path, entries, options);
    std::printf("%s\n", path.c_str());
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--damage-entry") == 0)
        return damageEntry(QFile::decodeName(argv[2]), std::atoi(argv[3]), QFile::decodeName(argv[4]));
    if (argc == 3 && std::strcmp(argv[1], "--write-crc-error") == 0)
        return writeCrcError(QFile::decodeName(argv[2]));
    QCoreApplication app(argc, argv);
    TestLayerDamage test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_layer_damage.moc"
