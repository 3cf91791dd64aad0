// The archive layer on real archives: the shared samples (compressed, RAR 5,
// volume sets) against libarchive's own extraction, and sets written by the
// mastering code, sound and damaged, against the files they hold.
#include "RarFormat.h"
#include "RarWriter.h"
#include "TestSupport.h"
#include "UnRAR.h"

#include <QtTest>
#include <archive.h>
#include <clocale>
#include <archive_entry.h>
#include <sys/mount.h>
#include <unistd.h>
#include <zlib.h>

using RarWriter::Entry;

namespace {

struct VolumeCall {
    int mode;
    QString path;
    bool duringProcessing;
};

struct Outcome {
    unsigned openResult = 0;
    unsigned commentState = 0;
    QByteArray comment;
    QStringList names;     // FileName of every header read, as given
    QList<int> results;    // RARProcessFile's result for each
    QList<quint64> sizes;  // UnpSize (+High) of each
    int endResult = -1;    // the header result that ended the loop
    QList<VolumeCall> volumeCalls;
    QList<int> chunkSizes;

    int resultOf(const QString& name) const
    {
        const qsizetype i = names.indexOf(name);
        return i < 0 ? -1 : results[i];
    }
};

struct Callbacks {
    // Answers the change-volume callback; by default 1 for a notice and 0 to ask.
    std::function<int(const QString& path, int mode)> volume;
    // Answers the data callback for chunk number `n` (from 0).
    std::function<int(int n)> data;
    bool setVolume = true;
    unsigned commentBufferSize = 16384;
    unsigned openMode = RAR_OM_EXTRACT;
    int operation = RAR_EXTRACT;
    // Entries (by stored name) processed with RAR_SKIP instead.
    QStringList skipped;
};

// Extracts the set whose first volume is `archive` into `destination` the
// way the extraction window does (no destination given: the current
// directory), going on after a failed entry to see every result.
Outcome runLayer(const QString& archive, const QString& destination, Callbacks callbacks = {})
{
    Outcome outcome;
    TestSupport::CurrentDirectoryGuard guard;
    QDir().mkpath(destination);
    if (!QDir::setCurrent(destination))
        qFatal("cannot enter %s", qPrintable(destination));

    QByteArray commentBuffer(int(callbacks.commentBufferSize), '\x7f');
    const QByteArray name = QFile::encodeName(archive);
    RAROpenArchiveData open;
    open.ArcName = name.constData();
    open.OpenMode = callbacks.openMode;
    open.CmtBuf = callbacks.commentBufferSize ? commentBuffer.data() : nullptr;
    open.CmtBufSize = callbacks.commentBufferSize;
    RARHandle handle = RAROpenArchive(&open);
    outcome.openResult = open.OpenResult;
    outcome.commentState = open.CmtState;
    if (open.CmtState)
        outcome.comment = QByteArray(commentBuffer.constData());
    if (!handle)
        return outcome;

    bool processing = false;
    if (callbacks.setVolume) {
        RARSetChangeVolProc(handle, [&](char* path, int mode) {
            outcome.volumeCalls.append({ mode, QFile::decodeName(path), processing });
            if (callbacks.volume)
                return callbacks.volume(QFile::decodeName(path), mode);
            return mode == RAR_VOL_ASK ? 0 : 1;
        });
    }
    RARSetProcessDataProc(handle, [&](unsigned char*, int size) {
        outcome.chunkSizes.append(size);
        return callbacks.data ? callbacks.data(int(outcome.chunkSizes.size() - 1)) : 1;
    });

    RARHeaderData header;
    int result = 0;
    while ((result = RARReadHeader(handle, &header)) == 0) {
        outcome.names.append(QString::fromUtf8(header.FileName));
        outcome.sizes.append(quint64(header.UnpSize) | quint64(header.UnpSizeHigh) << 32);
        processing = true;
        const int operation = callbacks.skipped.contains(outcome.names.last()) ? RAR_SKIP : callbacks.operation;
        outcome.results.append(RARProcessFile(handle, operation, nullptr, nullptr));
        processing = false;
    }
    outcome.endResult = result;
    RARCloseArchive(handle);
    return outcome;
}

// What libarchive alone makes of the same volumes handed over as one list;
// the names of the entries it fails on.
QStringList runLibarchive(const QStringList& volumes, const QString& destination, const QStringList& skip = {})
{
    QStringList failed;
    TestSupport::CurrentDirectoryGuard guard;
    QDir().mkpath(destination);
    if (!QDir::setCurrent(destination))
        return { "cannot enter " + destination };
    std::vector<QByteArray> names;
    for (const QString& v : volumes)
        names.push_back(QFile::encodeName(v));
    std::vector<const char*> list;
    for (const auto& n : names)
        list.push_back(n.constData());
    list.push_back(nullptr);

    // libarchive converts names to the locale's encoding to write them.
    const std::string savedLocale = setlocale(LC_CTYPE, nullptr);
    setlocale(LC_CTYPE, "C.UTF-8");
    struct RestoreLocale {
        std::string name;
        ~RestoreLocale() { setlocale(LC_CTYPE, name.c_str()); }
    } restoreLocale { savedLocale };
    archive* in = archive_read_new();
    archive_read_support_format_rar(in);
    archive_read_support_format_rar5(in);
    archive* out = archive_write_disk_new();
    archive_write_disk_set_options(out, ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS
            | ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS);
    if (archive_read_open_filenames(in, list.data(), 65536) != ARCHIVE_OK)
        failed << "cannot open";
    archive_entry* entry = nullptr;
    int r;
    while (failed.isEmpty() && (r = archive_read_next_header(in, &entry)) >= ARCHIVE_WARN) {
        const QString path = QString::fromUtf8(archive_entry_pathname_utf8(entry));
        // libarchive 3.6 lists the quick-open block of a RAR 5 set as an
        // entry (named "QO", with or without a file type): no file of the release.
        if (archive_entry_filetype(entry) == 0 || path == QLatin1String("QO"))
            continue;
        if (skip.contains(path))
            continue;
        if (archive_write_header(out, entry) < ARCHIVE_WARN) {
            failed << path;
            continue;
        }
        bool ok = true;
        if (archive_entry_filetype(entry) == AE_IFREG) {
            const void* block;
            size_t size;
            la_int64_t offset;
            while ((r = archive_read_data_block(in, &block, &size, &offset)) == ARCHIVE_OK)
                ok = archive_write_data_block(out, block, size, offset) >= ARCHIVE_WARN && ok;
            ok = r == ARCHIVE_EOF && ok;
        }
        archive_write_finish_entry(out);
        // Only what libarchive extracts completely counts.
        if (!ok) {
            failed << path;
            if (archive_entry_filetype(entry) == AE_IFREG)
                QFile::remove(path);
        }
        if (r == ARCHIVE_FATAL)
            break;
    }
    archive_write_free(out);
    archive_read_free(in);
    return failed;
}

QString linkTarget(const QString& path)
{
    QByteArray target(4096, '\0');
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target.data(), size_t(target.size()));
    return n < 0 ? QString("?") : QFile::decodeName(target.left(n));
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

// One line per file, directory and link under `root`: its kind, its
// contents (a digest), a link's target, a file's modification time.
QStringList tree(const QString& root, bool withTimes = true)
{
    QStringList lines;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString rel = QDir(root).relativeFilePath(info.absoluteFilePath());
        if (info.isSymLink())
            lines << rel + " -> " + linkTarget(info.absoluteFilePath());
        else if (info.isDir())
            lines << rel + "/";
        else
            lines << rel + " " + digest(info.absoluteFilePath())
                    + (withTimes ? " @" + QString::number(info.lastModified().toSecsSinceEpoch()) : QString());
    }
    lines.sort();
    return lines;
}

// The tree the entries describe (files, directories, links), for sets
// written here.
QStringList expectedTree(const std::vector<Entry>& entries)
{
    QSet<QString> lines;
    auto addParents = [&](const QString& name) {
        for (qsizetype i = name.indexOf('/'); i > 0; i = name.indexOf('/', i + 1))
            lines.insert(name.left(i) + "/");
    };
    for (const Entry& e : entries) {
        const QString name = QString::fromStdString(e.storedName);
        addParents(name);
        switch (e.kind) {
        case Entry::Kind::Directory:
            lines.insert(name + "/");
            break;
        case Entry::Kind::Symlink:
            lines.insert(name + " -> " + QString::fromStdString(e.linkTarget));
            break;
        case Entry::Kind::File: {
            std::string data(e.size, '\0');
            if (e.generate)
                e.generate(0, reinterpret_cast<unsigned char*>(data.data()), data.size());
            else
                data = e.bytes;
            const QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(data), QCryptographicHash::Sha1).toHex();
            // DOS times count in steps of two seconds.
            lines.insert(name + " " + hash + " @" + QString::number(e.mtime - e.mtime % 2));
            break;
        }
        }
    }
    QStringList sorted(lines.begin(), lines.end());
    sorted.sort();
    return sorted;
}

Entry patterned(const std::string& name, uint64_t size, int seed, int64_t mtime = 1700000000)
{
    Entry e;
    e.storedName = name;
    e.size = size;
    e.mtime = mtime;
    e.generate = [seed](uint64_t offset, unsigned char* buffer, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const uint64_t x = offset + i;
            buffer[i] = static_cast<unsigned char>((x * 2654435761u >> 13) ^ (x >> 7) ^ uint64_t(seed));
        }
    };
    return e;
}

Entry text(const std::string& name, const std::string& data)
{
    return Entry::file(name, data, 1700000000);
}

std::vector<Entry> sampleRelease()
{
    std::vector<Entry> entries;
    entries.push_back(patterned("DATA/SECTORS/SECTOR1.DAT", 13965, 1));
    entries.push_back(patterned("DATA/SECTORS/SECTOR2.DAT", 9000, 2, 1700000123));
    entries.push_back(Entry::directory("DATA/SECTORS", 1700000200));
    entries.push_back(patterned("DATA/STARMAP.DAT", 40000, 3));
    entries.push_back(Entry::file("DATA/EMPTY.DAT", "", 1600000000));
    entries.push_back(Entry::directory("DATA"));
    entries.push_back(Entry::file("PLAY.SH", "#!/bin/sh\necho play\n", 1650000001));
    entries.push_back(Entry::file("README.TXT", "Star Cruiser\r\n", 1650000000));
    return entries;
}

struct WrittenSet {
    QString first;
    QStringList volumes;
};

WrittenSet writeSet(const QString& dir, const QString& name, const std::vector<Entry>& entries,
    const RarWriter::Options& options)
{
    QDir().mkpath(dir);
    const auto result = RarWriter::write(QFile::encodeName(dir + "/" + name).toStdString(), entries, options);
    WrittenSet set;
    for (const auto& v : result.volumes)
        set.volumes << QFile::decodeName(QByteArray::fromStdString(v.path));
    set.first = set.volumes.value(0);
    return set;
}

QString sampleDir()
{
    return QStringLiteral(MERIK_SHARED_FIXTURES "/rar");
}

}

class TestUnrar : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        // Each test starts from an empty directory of its own.
        for (const QString& name : QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            QFileInfo info(path(name));
            if (info.isDir() && !info.isSymLink())
                QDir(path(name)).removeRecursively();
            else
                QFile::remove(path(name));
        }
    }

    // Every sample through the layer against an independent reader: unar
    // for the RAR 1.5 to 4.x family, libarchive for RAR 5.
    void samplesMatchReference_data()
    {
        QTest::addColumn<QStringList>("volumes");
        const auto set = [](const QString& pattern, int count, int width) {
            QStringList volumes;
            for (int i = 1; i <= count; ++i)
                volumes << pattern.arg(i, width, 10, QLatin1Char('0'));
            return volumes;
        };
        QTest::newRow("RAR 2.0 stored, link, directories") << QStringList { "test_read_format_rar.rar" };
        QTest::newRow("RAR 2.9 compressed (normal)") << QStringList { "test_read_format_rar_compress_normal.rar" };
        QTest::newRow("RAR 2.9 compressed (best)") << QStringList { "test_read_format_rar_compress_best.rar" };
        QTest::newRow("RAR 2.9 set, new naming, PPMd and LZ") << set("test_read_format_rar_multivolume.part%1.rar", 4, 4);
        QTest::newRow("RAR 2.9 set, files across volumes") << set("test_rar_multivolume_multiple_files.part%1.rar", 6, 1);
        QTest::newRow("RAR 2.9 filters") << QStringList { "test_read_format_rar_filter.rar" };
        QTest::newRow("RAR 2.9 PPMd to LZ") << QStringList { "test_read_format_rar_ppmd_lzss_conversion.rar" };
        QTest::newRow("RAR 2.9 several LZ blocks") << QStringList { "test_read_format_rar_multi_lzss_blocks.rar" };
        QTest::newRow("RAR 2.9 PPMd binary data") << QStringList { "test_read_format_rar_binary_data.rar" };
        QTest::newRow("RAR Unicode names") << QStringList { "test_read_format_rar_unicode.rar" };
        QTest::newRow("RAR 1.5") << QStringList { "sharpcompress/Rar15.rar" };
        QTest::newRow("RAR 2.0") << QStringList { "sharpcompress/Rar2.rar" };
        QTest::newRow("RAR 2.9") << QStringList { "sharpcompress/Rar.rar" };
        QTest::newRow("RAR 2.9 solid") << QStringList { "sharpcompress/Rar.solid.rar" };
        QTest::newRow("RAR 2.9 stored") << QStringList { "sharpcompress/Rar.none.rar" };
        QTest::newRow("RAR 2.9 audio filter") << QStringList { "sharpcompress/Rar.Audio_program.rar" };
        QTest::newRow("RAR 2.9 set") << set("sharpcompress/Rar4.multi.part%1.rar", 7, 2);
        QTest::newRow("RAR 5 set") << set("test_read_format_rar5_multiarchive.part%1.rar", 8, 2);
        QTest::newRow("RAR 5 compressed") << QStringList { "test_read_format_rar5_compressed.rar" };
        QTest::newRow("RAR 5 stored") << QStringList { "test_read_format_rar5_stored.rar" };
        QTest::newRow("RAR 5 solid") << QStringList { "test_read_format_rar5_solid.rar" };
        QTest::newRow("RAR 5 links") << QStringList { "test_read_format_rar5_symlink.rar" };
        QTest::newRow("RAR 5 Unicode names, hard link") << QStringList { "test_read_format_rar5_unicode.rar" };
        QTest::newRow("RAR 5 solid (sharpcompress)") << QStringList { "sharpcompress/Rar5.solid.rar" };
        QTest::newRow("RAR 5 set (sharpcompress)") << set("sharpcompress/Rar5.multi.part%1.rar", 6, 2);
    }
    void samplesMatchReference()
    {
        QFETCH(QStringList, volumes);
        if (!QFileInfo::exists(sampleDir()))
            QSKIP("the shared sample archives are not there (" MERIK_SHARED_FIXTURES "/rar)");
        QStringList paths;
        for (const QString& v : volumes)
            paths << sampleDir() + "/" + v;
        QFile first(paths.first());
        QVERIFY(first.open(QIODevice::ReadOnly));
        const bool rar5 = first.read(8) == QByteArray("Rar!\x1a\x07\x01\x00", 8);

        const Outcome outcome = runLayer(paths.first(), path("layer"));
        QCOMPARE(outcome.openResult, 0u);
        QCOMPARE(outcome.endResult, ERAR_END_ARCHIVE);
        QVERIFY(!outcome.names.isEmpty());
        QStringList failed;
        for (int i = 0; i < outcome.results.size(); ++i)
            if (outcome.results[i] != 0)
                failed << outcome.names[i];
        QCOMPARE(failed, QStringList());
        // Every volume after the first was announced, in order.
        QStringList announced;
        for (const auto& call : outcome.volumeCalls)
            if (call.mode == RAR_VOL_NOTIFY)
                announced << QFileInfo(call.path).fileName();
        QStringList expectedVolumes;
        for (const QString& v : volumes.mid(1))
            expectedVolumes << QFileInfo(v).fileName();
        QCOMPARE(announced, expectedVolumes);
        for (int size : outcome.chunkSizes)
            QVERIFY(size > 0 && size <= 65536);

        if (rar5) {
            QCOMPARE(runLibarchive(paths, path("reference")).join(", "), QString());
            QCOMPARE(tree(path("layer")), tree(path("reference")));
        } else {
            if (QStandardPaths::findExecutable("unar").isEmpty())
                QSKIP("unar, the reference for RAR 1.5 to 4.x, is not installed");
            QProcess unar;
            unar.start("unar", { "-q", "-f", "-D", "-o", path("reference"), paths.first() });
            QVERIFY(unar.waitForFinished(300000));
            QCOMPARE(unar.exitCode(), 0);
            // unar sets times from the DOS field alone, to the even second;
            // the layer reads the precise time: contents and links are compared.
            QCOMPARE(tree(path("layer"), false), tree(path("reference"), false));
        }
    }

    // A skipped or tested entry of a solid archive is still decoded, so the
    // entries after it come out right.
    void solidEntriesAfterSkippedOnes_data()
    {
        QTest::addColumn<int>("operation");
        QTest::newRow("first skipped, the rest extracted") << RAR_EXTRACT;
        QTest::newRow("first skipped, the rest tested") << RAR_TEST;
    }
    void solidEntriesAfterSkippedOnes()
    {
        QFETCH(int, operation);
        const QString archive = sampleDir() + "/sharpcompress/Rar.solid.rar";
        if (!QFileInfo::exists(archive))
            QSKIP("the shared sample archives are not there (" MERIK_SHARED_FIXTURES "/rar)");
        if (QStandardPaths::findExecutable("unar").isEmpty())
            QSKIP("unar, the reference for RAR 1.5 to 4.x, is not installed");
        Callbacks all;
        all.openMode = RAR_OM_LIST;
        const Outcome listing = runLayer(archive, path("listing"), all);
        QVERIFY(listing.names.size() > 2);
        const QString first = listing.names.first();

        Callbacks callbacks;
        callbacks.operation = operation;
        callbacks.skipped = { first };
        const Outcome outcome = runLayer(archive, path("layer"), callbacks);
        QCOMPARE(outcome.endResult, ERAR_END_ARCHIVE);
        QCOMPARE(outcome.results, QList<int>(outcome.names.size(), 0));

        QProcess unar;
        unar.start("unar", { "-q", "-f", "-D", "-o", path("reference"), archive });
        QVERIFY(unar.waitForFinished(300000));
        QCOMPARE(unar.exitCode(), 0);
        QVERIFY(QFileInfo(path("reference") + "/" + first).isFile());
        if (operation == RAR_EXTRACT) {
            QVERIFY(!QFileInfo::exists(path("layer") + "/" + first));
            QFile::remove(path("reference") + "/" + first);
            QCOMPARE(tree(path("layer"), false), tree(path("reference"), false));
        } else {
            QCOMPARE(tree(path("layer")), QStringList());
        }
    }

    void crcMatchesZlib()
    {
        // The layer's CRC (libdeflate's), carried on from chunk to chunk as
        // the layer does, against zlib's, at every length and offset.
        QByteArray data(70000, '\0');
        quint32 x = 12345;
        for (char& c : data)
            c = char((x = x * 1103515245u + 12345u) >> 16);
        const auto* p = reinterpret_cast<const unsigned char*>(data.constData());
        for (size_t length : { 0, 1, 15, 16, 63, 64, 65, 127, 128, 200, 1000, 4096, 65536, 69990 })
            for (size_t offset : { 0, 1, 7, 8 })
                for (uint32_t seed : { 0u, 0xdeadbeefu })
                    QCOMPARE(Rar::crc32(seed, p + offset, length), uint32_t(::crc32(seed, p + offset, uInt(length))));
    }

    void encryptedEntriesFailAsUnknownFormat()
    {
        if (!QFileInfo::exists(sampleDir()))
            QSKIP("the shared sample archives are not there");
        const Outcome outcome = runLayer(sampleDir() + "/test_read_format_rar4_encrypted.rar", path("out"));
        QCOMPARE(outcome.names, (QStringList { "a.txt", "b.txt", "c.txt", "d.txt" }));
        QCOMPARE(outcome.results, (QList<int> { 0, ERAR_UNKNOWN_FORMAT, 0, ERAR_UNKNOWN_FORMAT }));
        QCOMPARE(outcome.endResult, ERAR_END_ARCHIVE);
        QCOMPARE(QDir(path("out")).entryList(QDir::Files | QDir::Hidden), (QStringList { "a.txt", "c.txt" }));
    }

    void damagedSampleLeavesNothing()
    {
        if (!QFileInfo::exists(sampleDir()))
            QSKIP("the shared sample archives are not there");
        const Outcome outcome = runLayer(sampleDir() + "/test_read_format_rar_invalid1.rar", path("out"));
        QCOMPARE(outcome.openResult, 0u);
        QCOMPARE(outcome.names, QStringList { "test" });
        QCOMPARE(outcome.results.value(0), ERAR_BAD_ARCHIVE); // the data runs past the end of the file
        QVERIFY(tree(path("out")).isEmpty());
    }

    void toolSetsExtractExactly_data()
    {
        QTest::addColumn<quint64>("volumeSize");
        QTest::addColumn<int>("naming");
        QTest::addColumn<QString>("breakAfter");
        QTest::addColumn<int>("minimumVolumes");
        QTest::addColumn<bool>("solid");
        // Stored entries are copied by the layer itself; in a solid archive
        // they go through libarchive, so both paths are covered.
        for (bool solid : { false, true }) {
            const char* path = solid ? " (solid: through libarchive)" : "";
            QTest::addRow("one archive%s", path) << quint64(0) << int(RarWriter::Naming::OldStyle) << QString() << 1 << solid;
            QTest::addRow("old naming%s", path) << quint64(9000) << int(RarWriter::Naming::OldStyle) << QString() << 3 << solid;
            QTest::addRow("parts naming, two digits%s", path) << quint64(2000) << int(RarWriter::Naming::Parts) << QString() << 10 << solid;
            QTest::addRow("volume ends between two entries%s", path)
                << quint64(30000) << int(RarWriter::Naming::OldStyle) << QString("DATA/SECTORS/SECTOR1.DAT") << 3 << solid;
            QTest::addRow("volume ends after a directory%s", path)
                << quint64(30000) << int(RarWriter::Naming::Parts) << QString("DATA/SECTORS") << 3 << solid;
        }
    }
    void toolSetsExtractExactly()
    {
        QFETCH(quint64, volumeSize);
        QFETCH(int, naming);
        QFETCH(QString, breakAfter);
        QFETCH(int, minimumVolumes);
        QFETCH(bool, solid);
        RarWriter::Options options;
        options.volumeSize = volumeSize;
        options.solid = solid;
        options.naming = RarWriter::Naming(naming);
        if (!breakAfter.isEmpty())
            options.breakAfter.insert(breakAfter.toStdString());
        const auto entries = sampleRelease();
        const WrittenSet set = writeSet(path("set"), "STARCRSR.RAR", entries, options);
        QVERIFY(set.volumes.size() >= minimumVolumes);
        for (const QString& v : set.volumes)
            QVERIFY(volumeSize == 0 || QFileInfo(v).size() <= qint64(volumeSize));

        const Outcome outcome = runLayer(set.first, path("out"));
        QCOMPARE(outcome.openResult, 0u);
        QCOMPARE(outcome.endResult, ERAR_END_ARCHIVE);
        QCOMPARE(outcome.names.size(), qsizetype(entries.size()));
        QCOMPARE(outcome.results, QList<int>(qsizetype(entries.size()), 0));
        QCOMPARE(tree(path("out")), expectedTree(entries));
        QCOMPARE(qsizetype(std::count_if(outcome.volumeCalls.begin(), outcome.volumeCalls.end(),
                     [](const VolumeCall& c) { return c.mode == RAR_VOL_NOTIFY; })),
            set.volumes.size() - 1);
        QVERIFY(QFileInfo(path("out/PLAY.SH")).isFile());
    }

    // Headers and small entries are read ahead in blocks: thousands of them,
    // with entries just below, at and above a block's size between them,
    // put every header somewhere else relative to a block's end, also
    // where a volume ends.
    void manySmallEntriesAcrossReadAhead_data()
    {
        QTest::addColumn<quint64>("volumeSize");
        QTest::newRow("one archive") << quint64(0);
        QTest::newRow("volumes of 150,000 bytes") << quint64(150000);
    }
    void manySmallEntriesAcrossReadAhead()
    {
        QFETCH(quint64, volumeSize);
        std::vector<Entry> entries;
        const uint64_t large[] = { 65535, 65536, 65537, 200000 };
        for (int i = 0; i < 3000; ++i) {
            const std::string name = "D" + std::to_string(i / 100) + "/F" + std::to_string(i) + ".DAT";
            const uint64_t size = i % 750 == 0 ? large[(i / 750) % 4] : uint64_t(i * 7919 % 300);
            entries.push_back(patterned(name, size, i));
        }
        RarWriter::Options options;
        options.volumeSize = volumeSize;
        const WrittenSet set = writeSet(path("set"), "MANY.RAR", entries, options);
        QVERIFY(volumeSize == 0 || set.volumes.size() > 3);
        const Outcome outcome = runLayer(set.first, path("out"));
        QCOMPARE(outcome.openResult, 0u);
        QCOMPARE(outcome.endResult, ERAR_END_ARCHIVE);
        QCOMPARE(outcome.results, QList<int>(qsizetype(entries.size()), 0));
        QCOMPARE(tree(path("out")), expectedTree(entries));
    }

    // A volume cut short while it is read (a disk pulled, a file replaced)
    // ends the reading at the cut, wherever the cut falls, never in a loop.
    void volumeShortenedWhileRead()
    {
        std::vector<Entry> entries;
        for (int i = 0; i < 1000; ++i)
            entries.push_back(patterned("F" + std::to_string(i) + ".DAT", uint64_t(i * 7919 % 300), i));
        const WrittenSet set = writeSet(path("set"), "CUT.RAR", entries, {});
        for (qint64 cut = 70001; cut < 72000; cut += 37) {
            const QString copy = path("cut.rar");
            QFile::remove(copy);
            QVERIFY(QFile::copy(set.first, copy));
            Callbacks callbacks;
            callbacks.data = [&](int chunk) {
                if (chunk == 0)
                    QFile::resize(copy, cut);
                return 1;
            };
            const QString out = path("out" + QString::number(cut));
            const Outcome outcome = runLayer(copy, out, callbacks);
            QVERIFY2(outcome.names.size() < qsizetype(entries.size()), qPrintable(QString::number(cut)));
            QDir(out).removeRecursively();
        }
    }

    void boundaryIsWhereLibarchiveAloneStops()
    {
        // The reason the layer carries on by itself: libarchive, given the
        // same volumes, loses the entries after the boundary.
        RarWriter::Options options;
        options.volumeSize = 30000;
        options.breakAfter.insert("DATA/SECTORS/SECTOR1.DAT");
        const auto entries = sampleRelease();
        const WrittenSet set = writeSet(path("set"), "game.rar", entries, options);
        QVERIFY(runLibarchive(set.volumes, path("libarchive")).isEmpty());
        QVERIFY(tree(path("libarchive")).size() < expectedTree(entries).size());
        const Outcome outcome = runLayer(set.first, path("out"));
        QCOMPARE(tree(path("out")), expectedTree(entries));
    }

    void openFailures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("code");
        QTest::newRow("missing first volume") << "missing" << ERAR_EOPEN;
        QTest::newRow("a directory") << "directory" << ERAR_EOPEN;
        QTest::newRow("not a RAR file") << "text" << ERAR_BAD_ARCHIVE;
        QTest::newRow("empty file") << "empty" << ERAR_BAD_ARCHIVE;
        QTest::newRow("damaged main header") << "main" << ERAR_BAD_DATA;
        QTest::newRow("signature only") << "signature" << ERAR_BAD_DATA;
    }
    void openFailures()
    {
        QFETCH(QString, kind);
        QFETCH(int, code);
        QString archive = path("set/game.rar");
        QDir().mkpath(path("set"));
        if (kind == "directory") {
            QDir().mkpath(archive);
        } else if (kind == "text") {
            TestSupport::writeFile(archive, "Release title: Star Cruiser\r\n");
        } else if (kind == "empty") {
            TestSupport::writeFile(archive, "");
        } else if (kind == "signature") {
            TestSupport::writeFile(archive, QByteArray("Rar!\x1a\x07\x00", 7));
        } else if (kind == "main") {
            RarWriter::Options options;
            options.volumeSize = 9000;
            options.damage.brokenMainHeader = true;
            archive = writeSet(path("set"), "game.rar", sampleRelease(), options).first;
        }
        const Outcome outcome = runLayer(archive, path("out"));
        QCOMPARE(int(outcome.openResult), code);
        QVERIFY(outcome.names.isEmpty());
        QVERIFY(tree(path("out")).isEmpty());
    }

    void wrongCrcFailsTheEntry_data()
    {
        QTest::addColumn<QString>("damaged");
        QTest::addColumn<quint64>("volumeSize");
        QTest::addColumn<bool>("solid");
        for (bool solid : { false, true }) {
            const char* path = solid ? ", solid" : "";
            QTest::addRow("whole entry%s", path) << "PLAY.SH" << quint64(0) << solid;
            QTest::addRow("entry across volumes (CRC in its last part)%s", path) << "DATA/STARMAP.DAT" << quint64(9000) << solid;
        }
    }
    void wrongCrcFailsTheEntry()
    {
        QFETCH(QString, damaged);
        QFETCH(quint64, volumeSize);
        QFETCH(bool, solid);
        RarWriter::Options options;
        options.volumeSize = volumeSize;
        options.solid = solid;
        options.damage.wrongCrc = damaged.toStdString();
        const auto entries = sampleRelease();
        const WrittenSet set = writeSet(path("set"), "game.rar", entries, options);
        for (int operation : { RAR_TEST, RAR_EXTRACT }) {
            Callbacks callbacks;
            callbacks.operation = operation;
            const Outcome outcome = runLayer(set.first, path("out"), callbacks);
            QCOMPARE(outcome.resultOf(damaged), ERAR_BAD_DATA);
            for (int i = 0; i < outcome.names.size(); ++i)
                if (outcome.names[i] != damaged)
                    QCOMPARE(outcome.results[i], 0);
            QCOMPARE(outcome.endResult, ERAR_END_ARCHIVE);
        }
        // No damaged file in place, no temporary one either.
        QStringList expected = expectedTree(entries);
        expected = expected.filter(QRegularExpression("^(?!" + QRegularExpression::escape(damaged) + " )"));
        QCOMPARE(tree(path("out")), expected);
    }

    void damagedHeaderEndsReadingWith12()
    {
        RarWriter::Options options;
        options.damage.brokenHeader = "DATA/STARMAP.DAT";
        const WrittenSet set = writeSet(path("set"), "game.rar", sampleRelease(), options);
        const Outcome outcome = runLayer(set.first, path("out"));
        QCOMPARE(outcome.names, (QStringList { "DATA/SECTORS/SECTOR1.DAT", "DATA/SECTORS/SECTOR2.DAT", "DATA/SECTORS" }));
        QCOMPARE(outcome.results, (QList<int> { 0, 0, 0 }));
        QCOMPARE(outcome.endResult, ERAR_BAD_DATA);
    }

    void truncatedLastVolume_data()
    {
        QTest::addColumn<bool>("solid");
        QTest::newRow("stored, read by the layer") << false;
        QTest::newRow("solid, read by libarchive") << true;
    }
    void truncatedLastVolume()
    {
        QFETCH(bool, solid);
        RarWriter::Options options;
        options.solid = solid;
        options.volumeSize = 20000;
        std::vector<Entry> entries { patterned("first.bin", 15000, 1), patterned("big.bin", 30000, 2) };
        options.damage.truncateVolume = 2;
        options.damage.truncateBytes = 1000; // the end block and some of big.bin's data
        const WrittenSet set = writeSet(path("set"), "game.rar", entries, options);
        QCOMPARE(set.volumes.size(), 3);
        const Outcome outcome = runLayer(set.first, path("out"));
        QCOMPARE(outcome.results, (QList<int> { 0, ERAR_BAD_ARCHIVE }));
        QCOMPARE(tree(path("out")), expectedTree({ entries[0] }));
    }

    void destinationNotWritable()
    {
        // A file stands where the set needs a directory.
        const WrittenSet set = writeSet(path("set"), "game.rar", sampleRelease(), {});
        TestSupport::writeFile(path("out/DATA"), "in the way");
        const Outcome outcome = runLayer(set.first, path("out"));
        for (int i = 0; i < outcome.names.size(); ++i)
            QCOMPARE(outcome.results[i], outcome.names[i].startsWith("DATA") ? ERAR_ECREATE : 0);
        QCOMPARE(TestSupport::readFile(path("out/DATA")), QByteArray("in the way"));
        QCOMPARE(tree(path("out"), false).size(), 3); // DATA (the file), PLAY.SH, README.TXT
    }

    void fullFilesystemGives19AndNoPartialFile()
    {
        const QString mountPoint = path("small");
        QDir().mkpath(mountPoint);
        if (::geteuid() != 0 || ::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=256k") != 0)
            QSKIP("cannot mount a small tmpfs here (needs root)");
        struct Unmount {
            QByteArray point;
            ~Unmount() { ::umount2(point.constData(), MNT_DETACH); }
        } unmount { QFile::encodeName(mountPoint) };

        std::vector<Entry> entries { text("small.txt", "fits"), patterned("huge.bin", 1024 * 1024, 5),
            text("after.txt", "still fits") };
        const WrittenSet set = writeSet(path("set"), "game.rar", entries, {});
        const Outcome outcome = runLayer(set.first, mountPoint + "/out");
        QCOMPARE(outcome.results, (QList<int> { 0, ERAR_EWRITE, 0 }));
        QCOMPARE(tree(mountPoint + "/out"), expectedTree({ entries[0], entries[2] }));
    }

    void callbackAnsweringZeroStopsTheEntry_data()
    {
        QTest::addColumn<bool>("solid");
        QTest::newRow("stored, read by the layer") << false;
        QTest::newRow("solid, read by libarchive") << true;
    }
    void callbackAnsweringZeroStopsTheEntry()
    {
        QFETCH(bool, solid);
        std::vector<Entry> entries { patterned("big.bin", 1024 * 1024, 7), text("next.txt", "next") };
        RarWriter::Options options;
        options.solid = solid;
        options.volumeSize = 300000; // the rest of big.bin runs on in later volumes
        const WrittenSet set = writeSet(path("set"), "game.rar", entries, options);
        Callbacks callbacks;
        callbacks.data = [](int n) { return n == 3 ? 0 : 1; };
        const Outcome outcome = runLayer(set.first, path("out"), callbacks);
        QCOMPARE(outcome.results, (QList<int> { ERAR_EWRITE, 0 }));
        QCOMPARE(outcome.chunkSizes.size(), 5); // four of big.bin, then next.txt
        QCOMPARE(tree(path("out")), expectedTree({ entries[1] }));
    }

    void dataComesInBoundedChunks()
    {
        std::vector<Entry> entries { patterned("big.bin", 3 * 1024 * 1024 + 17, 9) };
        RarWriter::Options options;
        options.volumeSize = 1024 * 1024;
        const WrittenSet set = writeSet(path("set"), "game.rar", entries, options);
        const Outcome outcome = runLayer(set.first, path("out"));
        QCOMPARE(outcome.results, QList<int> { 0 });
        qint64 total = 0;
        for (int size : outcome.chunkSizes) {
            QVERIFY(size > 0 && size <= 64 * 1024);
            total += size;
        }
        QCOMPARE(total, qint64(entries[0].size));
        QVERIFY(outcome.chunkSizes.size() >= 48);
    }

    void missingVolumeAskedForAndPutBack()
    {
        RarWriter::Options options;
        options.volumeSize = 9000;
        const auto entries = sampleRelease();
        const WrittenSet set = writeSet(path("set"), "game.rar", entries, options);
        QVERIFY(set.volumes.size() >= 4);
        const QString missing = set.volumes[2];
        QVERIFY(QFile::rename(missing, path("aside")));
        int asked = 0;
        Callbacks callbacks;
        callbacks.volume = [&](const QString&, int mode) {
            if (mode != RAR_VOL_ASK)
                return 1;
            // The first answer is OK without the disk: it is asked for again.
            if (++asked == 2)
                QFile::rename(path("aside"), missing);
            return 1;
        };
        const Outcome outcome = runLayer(set.first, path("out"), callbacks);
        QCOMPARE(outcome.results, QList<int>(qsizetype(entries.size()), 0));
        QCOMPARE(tree(path("out")), expectedTree(entries));

        QList<VolumeCall> expected;
        for (int i = 1; i < set.volumes.size(); ++i) {
            if (i == 2) {
                expected.append({ RAR_VOL_ASK, missing, true });
                expected.append({ RAR_VOL_ASK, missing, true });
            }
            expected.append({ RAR_VOL_NOTIFY, set.volumes[i], true });
        }
        QCOMPARE(outcome.volumeCalls.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(outcome.volumeCalls[i].mode, expected[i].mode);
            QCOMPARE(outcome.volumeCalls[i].path, expected[i].path);
            QVERIFY(QFileInfo(outcome.volumeCalls[i].path).isAbsolute());
            QVERIFY(outcome.volumeCalls[i].duringProcessing);
        }
    }

    void missingVolumeGivenUp_data()
    {
        QTest::addColumn<bool>("withCallback");
        QTest::addColumn<QString>("breakAfter");
        QTest::newRow("answer 0, entry across volumes") << true << QString();
        QTest::newRow("no callback") << false << QString();
        QTest::newRow("answer 0, volume ends between entries") << true << QString("DATA/SECTORS/SECTOR2.DAT");
    }
    void missingVolumeGivenUp()
    {
        QFETCH(bool, withCallback);
        QFETCH(QString, breakAfter);
        RarWriter::Options options;
        options.volumeSize = 9000;
        if (!breakAfter.isEmpty()) {
            options.volumeSize = 40000;
            options.breakAfter.insert(breakAfter.toStdString());
        }
        const auto entries = sampleRelease();
        const WrittenSet set = writeSet(path("set"), "game.rar", entries, options);
        QVERIFY(QFile::remove(set.volumes[1]));
        Callbacks callbacks;
        callbacks.setVolume = withCallback;
        const Outcome outcome = runLayer(set.first, path("out"), callbacks);
        QVERIFY(!outcome.results.isEmpty());
        QCOMPARE(outcome.results.last(), ERAR_EOPEN);
        QCOMPARE(outcome.endResult, ERAR_EOPEN);
        if (withCallback) {
            QCOMPARE(outcome.volumeCalls.size(), 1);
            QCOMPARE(outcome.volumeCalls[0].mode, RAR_VOL_ASK);
            QCOMPARE(outcome.volumeCalls[0].path, set.volumes[1]);
            QVERIFY(outcome.volumeCalls[0].duringProcessing);
        }
        const QString failed = outcome.names.last();
        const QStringList written = tree(path("out"));
        if (breakAfter.isEmpty())
            QVERIFY(written.filter(failed + " ").isEmpty()); // nothing of the entry that was cut
        else
            QCOMPARE(failed, breakAfter); // complete, but the set cannot go on
    }

    void volumesFoundIgnoringCase()
    {
        RarWriter::Options options;
        options.volumeSize = 9000;
        const auto entries = sampleRelease();
        const WrittenSet set = writeSet(path("set"), "game.rar", entries, options);
        QVERIFY(QFile::rename(set.volumes[1], path("set/GAME.R00")));
        QVERIFY(QFile::rename(set.volumes[2], path("set/Game.r01")));
        const Outcome outcome = runLayer(path("set/GAME.RAR"), path("out"));
        QCOMPARE(outcome.openResult, 0u);
        QCOMPARE(outcome.results, QList<int>(qsizetype(entries.size()), 0));
        QCOMPARE(tree(path("out")), expectedTree(entries));
        QCOMPARE(outcome.volumeCalls.value(0).path, path("set/GAME.R00"));
    }

    void zeroSizeEntriesAndBlanksInNames()
    {
        std::vector<Entry> entries { Entry::file(" leading blank.txt", "a", 1700000000),
            Entry::file("trailing blank.txt  ", "", 1700000000), Entry::file("in side/a b.txt", "", 1700000000),
            Entry::directory("empty dir"), Entry::directory("in side") };
        RarWriter::Options options;
        options.volumeSize = 200; // a volume for nearly every entry
        const WrittenSet set = writeSet(path("set"), "blanks.rar", entries, options);
        const Outcome outcome = runLayer(set.first, path("out"));
        QCOMPARE(outcome.names, (QStringList { " leading blank.txt", "trailing blank.txt  ", "in side/a b.txt", "empty dir", "in side" }));
        QCOMPARE(outcome.sizes, (QList<quint64> { 1, 0, 0, 0, 0 }));
        QCOMPARE(outcome.results, (QList<int> { 0, 0, 0, 0, 0 }));
        QCOMPARE(tree(path("out")), expectedTree(entries));
        QCOMPARE(QFileInfo(path("out/trailing blank.txt  ")).size(), 0);
    }

    void comment_data()
    {
        QTest::addColumn<QByteArray>("comment");
        QTest::addColumn<unsigned>("bufferSize");
        QTest::addColumn<unsigned>("state");
        QTest::addColumn<QByteArray>("read");
        QTest::newRow("stored comment") << QByteArray("Star Cruiser\r\ngreetings") << 16384u << 1u << QByteArray("Star Cruiser\r\ngreetings");
        QTest::newRow("no comment") << QByteArray() << 16384u << 0u << QByteArray();
        QTest::newRow("buffer too small") << QByteArray("0123456789") << 8u << unsigned(ERAR_NO_MEMORY) << QByteArray("0123456");
        QTest::newRow("no buffer") << QByteArray("ignored") << 0u << 0u << QByteArray();
    }
    void comment()
    {
        QFETCH(QByteArray, comment);
        QFETCH(unsigned, bufferSize);
        QFETCH(unsigned, state);
        QFETCH(QByteArray, read);
        RarWriter::Options options;
        options.volumeSize = 9000;
        options.comment = comment.toStdString();
        const auto entries = sampleRelease();
        const WrittenSet set = writeSet(path("set"), "game.rar", entries, options);
        Callbacks callbacks;
        callbacks.commentBufferSize = bufferSize;
        const Outcome outcome = runLayer(set.first, path("out"), callbacks);
        QCOMPARE(outcome.openResult, 0u);
        QCOMPARE(outcome.commentState, state);
        QCOMPARE(outcome.comment, read);
        QCOMPARE(tree(path("out")), expectedTree(entries));
    }

    void listingWritesNothing()
    {
        RarWriter::Options options;
        options.volumeSize = 9000;
        const auto entries = sampleRelease();
        const WrittenSet set = writeSet(path("set"), "game.rar", entries, options);
        Callbacks callbacks;
        callbacks.openMode = RAR_OM_LIST;
        const Outcome outcome = runLayer(set.first, path("out"), callbacks);
        QCOMPARE(outcome.names.size(), qsizetype(entries.size()));
        QCOMPARE(outcome.results, QList<int>(qsizetype(entries.size()), 0));
        QCOMPARE(outcome.endResult, ERAR_END_ARCHIVE);
        QVERIFY(outcome.chunkSizes.isEmpty());
        QVERIFY(tree(path("out")).isEmpty());
    }

    void traversalWritesNothingOutside_data()
    {
        QTest::addColumn<QStringList>("refused");
        QTest::addColumn<QStringList>("accepted");
        // Entries: "name" is a file, "name -> target" a symbolic link.
        QTest::newRow("dot-dot") << QStringList { "../x" } << QStringList { "ok.txt" };
        QTest::newRow("dot-dot inside the path") << QStringList { "a/../../x", "a/b/../../../x" } << QStringList { "a/ok.txt" };
        QTest::newRow("backslash dot-dot") << QStringList { "..\\x", "a\\..\\..\\x" } << QStringList {};
        QTest::newRow("absolute") << QStringList { "/tmp/merik-absolute-test", "\\x", "C:\\x" } << QStringList {};
        QTest::newRow("link pointing outside") << QStringList { "up -> ../..", "abs -> /etc", "sneaky -> a/../../x" }
                                               << QStringList { "a/" };
        QTest::newRow("writing through a link outside (already there)")
            << QStringList { "out/x", "out/y/z" } << QStringList { "ok.txt" };
        // A link that stays inside is written through: the files land in sub/.
        QTest::newRow("writing through a link inside")
            << QStringList {} << QStringList { "sub/", "in -> sub", "in/x", "in/deeper/y" };
    }
    void traversalWritesNothingOutside()
    {
        QFETCH(QStringList, refused);
        QFETCH(QStringList, accepted);
        const bool existingLink = QString(QTest::currentDataTag()).contains("already there");
        std::vector<Entry> entries;
        QStringList order = accepted;
        order += refused;
        for (const QString& item : order) {
            const qsizetype arrow = item.indexOf(" -> ");
            if (arrow > 0)
                entries.push_back(Entry::symlink(item.left(arrow).toStdString(), item.mid(arrow + 4).toStdString()));
            else if (item.endsWith('/'))
                entries.push_back(Entry::directory(item.chopped(1).toStdString()));
            else
                entries.push_back(text(item.toStdString(), "payload " + item.toStdString()));
        }
        const WrittenSet set = writeSet(path("set"), "evil.rar", entries, {});
        const QString root = path("root");
        const QString destination = root + "/dest";
        QDir().mkpath(destination);
        TestSupport::writeFile(root + "/sentinel", "outside");
        if (existingLink)
            QVERIFY(QFile::link("..", destination + "/out"));
        const QStringList outsideBefore = tree(root);

        const Outcome outcome = runLayer(set.first, destination);
        QCOMPARE(outcome.names.size(), order.size());
        for (int i = 0; i < order.size(); ++i) {
            const bool refuse = i >= accepted.size();
            QVERIFY2((outcome.results[i] == ERAR_ECREATE) == refuse, qPrintable(order[i] + ": " + QString::number(outcome.results[i])));
            if (!refuse)
                QCOMPARE(outcome.results[i], 0);
        }
        QVERIFY(!QFileInfo::exists("/tmp/merik-absolute-test"));
        QVERIFY(!QFileInfo::exists(root + "/x"));
        QStringList inside = tree(destination, false);
        // Only the accepted entries (and their directories) are there.
        std::vector<Entry> acceptedEntries(entries.begin(), entries.begin() + accepted.size());
        QStringList expected = expectedTree(acceptedEntries);
        for (QString& line : expected)
            line = line.section(" @", 0, 0);
        if (existingLink) {
            expected << "out -> ..";
            expected.sort();
        }
        if (QString(QTest::currentDataTag()) == QLatin1String("writing through a link inside")) {
            expected.replaceInStrings(QRegularExpression("^in/"), "sub/");
            expected.removeDuplicates();
            expected.sort();
        }
        QCOMPARE(inside, expected);
        QStringList outsideAfter = tree(root);
        outsideAfter = outsideAfter.filter(QRegularExpression("^(?!dest/)"));
        QCOMPARE(outsideAfter, outsideBefore.filter(QRegularExpression("^(?!dest/)")));
    }
};

QTEST_GUILESS_MAIN(TestUnrar)
#include "test_unrar.moc"
