// The mastering tool as a person runs it: what it writes (read back by the
// archive layer and by bsdtar), what it prints, what it refuses; and the
// demo medium's set that the build writes with it.
#include "TestSupport.h"
#include "UnRAR.h"

#include <QtTest>
#include <sys/stat.h>

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun runTool(const QStringList& arguments, const QString& workingDirectory = {})
{
    QProcess process;
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(QStringLiteral(MERIK_BINARY_DIR "/tools/rarmaster"), arguments);
    ToolRun run;
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// Extracts with the archive layer into `destination`; every result must be 0.
QString extractWithLayer(const QString& archive, const QString& destination, QByteArray* comment = nullptr)
{
    TestSupport::CurrentDirectoryGuard guard;
    QDir().mkpath(destination);
    QDir::setCurrent(destination);
    const QByteArray name = QFile::encodeName(archive);
    char buffer[16384] = {};
    RAROpenArchiveData open;
    open.ArcName = name.constData();
    open.OpenMode = RAR_OM_EXTRACT;
    open.CmtBuf = buffer;
    open.CmtBufSize = sizeof buffer;
    RARHandle handle = RAROpenArchive(&open);
    if (!handle)
        return QStringLiteral("open failed with %1").arg(open.OpenResult);
    if (comment && open.CmtState == 1)
        *comment = buffer;
    RARSetChangeVolProc(handle, [](char*, int mode) { return mode == RAR_VOL_ASK ? 0 : 1; });
    RARHeaderData header;
    int result;
    QString problems;
    while ((result = RARReadHeader(handle, &header)) == 0)
        if (const int r = RARProcessFile(handle, RAR_EXTRACT, nullptr, nullptr))
            problems += QStringLiteral("%1 failed with %2; ").arg(header.FileName).arg(r);
    if (result != ERAR_END_ARCHIVE)
        problems += QStringLiteral("headers ended with %1").arg(result);
    RARCloseArchive(handle);
    return problems;
}

QStringList tree(const QString& root)
{
    QStringList lines;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString rel = QDir(root).relativeFilePath(info.absoluteFilePath());
        struct stat st {};
        ::lstat(QFile::encodeName(info.absoluteFilePath()).constData(), &st);
        if (S_ISLNK(st.st_mode)) {
            char target[4096] = {};
            const ssize_t n = ::readlink(QFile::encodeName(info.absoluteFilePath()).constData(), target, sizeof target - 1);
            lines << rel + " -> " + QString::fromLocal8Bit(target, int(qMax<ssize_t>(n, 0)));
        } else if (S_ISDIR(st.st_mode)) {
            lines << rel + "/";
        } else {
            lines << QStringLiteral("%1 %2 mode %3 @%4")
                         .arg(rel, QString(TestSupport::readFile(info.absoluteFilePath()).toHex().left(64)))
                         .arg(st.st_mode & 0777, 0, 8)
                         .arg(st.st_mtime - st.st_mtime % 2);
        }
    }
    lines.sort();
    return lines;
}

void makeSource(const QString& root)
{
    QDir().mkpath(root + "/DATA/SECTORS");
    QDir().mkpath(root + "/EMPTY DIR");
    QByteArray big;
    for (int i = 0; i < 7000; ++i)
        big += char(i * 31 % 251);
    TestSupport::writeFile(root + "/DATA/STARMAP.DAT", big);
    TestSupport::writeFile(root + "/DATA/SECTORS/SECTOR1.DAT", big.left(2500));
    TestSupport::writeFile(root + "/DATA/ZERO.DAT", "");
    TestSupport::writeFile(root + "/README.TXT", "Star Cruiser\r\n");
    TestSupport::writeFile(root + "/PLAY.SH", "#!/bin/sh\necho play\n");
    QFile::setPermissions(root + "/PLAY.SH", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
            | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    QVERIFY(QFile::link("README.TXT", root + "/readme-link"));
}

}

class TestRarmaster : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        for (const QString& name : QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            QFileInfo(path(name)).isDir() ? (void)QDir(path(name)).removeRecursively() : (void)QFile::remove(path(name));
        if (!QFileInfo::exists(QStringLiteral(MERIK_BINARY_DIR "/tools/rarmaster")))
            QSKIP("rarmaster is not built");
    }

    void packsAVolumeSet_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QStringList>("volumes");
        QTest::newRow("old naming") << QStringList { "-v", "3000" } << "GAME.RAR"
                                    << QStringList { "GAME.RAR", "GAME.R00", "GAME.R01", "GAME.R02" };
        QTest::newRow("parts naming") << QStringList { "-v", "3000", "--naming", "parts" } << "game.rar"
                                      << QStringList { "game.part1.rar", "game.part2.rar", "game.part3.rar", "game.part4.rar" };
        QTest::newRow("parts naming, ten and more") << QStringList { "-v1k", "--naming", "parts" } << "game.rar" << QStringList {};
        QTest::newRow("one archive") << QStringList {} << "game.rar" << QStringList { "game.rar" };
    }
    void packsAVolumeSet()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, archive);
        QFETCH(QStringList, volumes);
        makeSource(path("src"));
        QDir().mkpath(path("set"));
        const ToolRun run = runTool(options + QStringList { "--comment", "packed for the test", "-C", path("src"), path("set/" + archive), "." });
        QCOMPARE(run.err, QString());
        QCOMPARE(run.exitCode, 0);

        QStringList written = QDir(path("set")).entryList(QDir::Files, QDir::Name);
        if (volumes.isEmpty()) {
            QVERIFY(written.size() >= 10);
            QVERIFY(written.contains("game.part01.rar"));
            QVERIFY(written.contains(QStringLiteral("game.part%1.rar").arg(written.size())));
            volumes = written;
        } else {
            written.sort();
            QStringList sorted = volumes;
            sorted.sort();
            QCOMPARE(written, sorted);
        }
        // It says what it wrote: every volume with its size, then a summary.
        for (const QString& v : volumes) {
            const qint64 size = QFileInfo(path("set/" + v)).size();
            QVERIFY2(run.out.contains(path("set/" + v) + ": " + QString::number(size) + " bytes"), qPrintable(run.out));
            if (options.contains("-v"))
                QVERIFY(size <= 3000);
            if (options.contains("-v1k"))
                QVERIFY(size <= 1024);
        }
        QVERIFY(run.out.contains(QRegularExpression("wrote 9 entries \\(9544 bytes stored\\) in " + QString::number(volumes.size())
            + " volumes?, with a comment\n$")));

        QByteArray comment;
        QCOMPARE(extractWithLayer(path("set/" + volumes.first()), path("out"), &comment), QString());
        QCOMPARE(comment, QByteArray("packed for the test"));
        QCOMPARE(tree(path("out")), tree(path("src")));
    }

    void bsdtarReadsWhatItWrites()
    {
        makeSource(path("src"));
        QDir().mkpath(path("set"));
        QCOMPARE(runTool({ "-C", path("src"), path("set/one.rar"), "README.TXT", "DATA", "PLAY.SH" }).exitCode, 0);
        QDir().mkpath(path("out"));
        QProcess bsdtar;
        bsdtar.setWorkingDirectory(path("out"));
        bsdtar.start("bsdtar", { "-xf", path("set/one.rar") });
        if (!bsdtar.waitForStarted())
            QSKIP("bsdtar is not installed");
        QVERIFY(bsdtar.waitForFinished());
        QCOMPARE(bsdtar.exitCode(), 0);
        QDir(path("src/EMPTY DIR")).removeRecursively();
        QFile::remove(path("src/readme-link"));
        QCOMPARE(tree(path("out")), tree(path("src")));
    }

    void refusesBadArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing") << QStringList {} << "no ARCHIVE given";
        QTest::newRow("no input") << QStringList { "game.rar" } << "nothing to pack";
        QTest::newRow("size missing") << QStringList { "game.rar", "src", "-v" } << "-v needs a value";
        QTest::newRow("size not a number") << QStringList { "-v", "12x", "game.rar", "src" } << "-v: '12x' is not a size";
        QTest::newRow("size zero") << QStringList { "-v", "0", "game.rar", "src" } << "no usable volume size";
        QTest::newRow("unknown naming") << QStringList { "-v", "9k", "--naming", "dos", "game.rar", "src" } << "neither 'old' nor 'parts'";
        QTest::newRow("naming without volumes") << QStringList { "--naming", "parts", "game.rar", "src" } << "--naming needs -v";
        QTest::newRow("unknown option") << QStringList { "--solid", "game.rar", "src" } << "unknown option '--solid'";
        QTest::newRow("two comments") << QStringList { "--comment", "a", "--comment", "b", "game.rar", "src" } << "one comment only";
        QTest::newRow("input missing") << QStringList { "game.rar", "nothere" } << "nothere: No such file or directory";
        QTest::newRow("volume too small") << QStringList { "-v", "60", "game.rar", "src" } << "too small for";
        QTest::newRow("comment file missing") << QStringList { "--comment-file", "nothere", "game.rar", "src" } << "cannot read 'nothere'";
    }
    void refusesBadArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        makeSource(path("src"));
        const ToolRun run = runTool(arguments, m_dir.path());
        QVERIFY(run.exitCode == 1 || run.exitCode == 2);
        QVERIFY2(run.err.contains("rarmaster: " + message) || run.err.contains(message), qPrintable(run.err));
        QCOMPARE(run.out, QString());
        QVERIFY(!QFileInfo::exists(path("game.rar")) || message == "too small for");
    }

    void staleVolumesOfALongerSetGo()
    {
        makeSource(path("src"));
        QDir().mkpath(path("set"));
        QCOMPARE(runTool({ "-v", "3000", "-C", path("src"), path("set/GAME.RAR"), "." }).exitCode, 0);
        QVERIFY(QFileInfo::exists(path("set/GAME.R02")));
        const ToolRun run = runTool({ "-v", "6000", "-C", path("src"), path("set/GAME.RAR"), "." });
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(QDir(path("set")).entryList(QDir::Files, QDir::Name), (QStringList { "GAME.R00", "GAME.RAR" }));
        QVERIFY(run.out.contains("removed stale volume " + path("set/GAME.R01")));
        QCOMPARE(extractWithLayer(path("set/GAME.RAR"), path("out")), QString());
        QCOMPARE(tree(path("out")), tree(path("src")));
    }

    void demoMediumSet()
    {
        const QString medium = QStringLiteral(MERIK_BINARY_DIR "/medium");
        if (!QFileInfo::exists(medium + "/STARCRSR.RAR"))
            QSKIP("the demo medium is not built (target medium)");
        QVERIFY(QFileInfo::exists(medium + "/STARCRSR.R00"));
        QVERIFY(QFileInfo::exists(medium + "/STARCRSR.R01"));
        QByteArray comment;
        QCOMPARE(extractWithLayer(medium + "/STARCRSR.RAR", path("out"), &comment), QString());
        QVERIFY(!comment.isEmpty());
        QCOMPARE(tree(path("out")), tree(QStringLiteral(MERIK_SOURCE_DIR "/demo/release")));
        QVERIFY(QFileInfo(path("out/PLAY.SH")).isExecutable());
    }
};

QTEST_GUILESS_MAIN(TestRarmaster)
#include "test_rarmaster.moc"
