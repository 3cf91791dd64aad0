// What finishes an installation: the requests handed to the shell (seen by
// recording stand-ins for xdg-open and wine) and the shortcut (read back with
// lnkinfo, an independent reader).
#include "Application.h"
#include "ErrorReport.h"
#include "EndActions.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "Unit2.h"

#include <QtTest>

using namespace TestSupport;
using Call = StandIns::Call;



class TestEndActions : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_source, m_dest;
    std::unique_ptr<DialogRecorder> m_boxes;

    QString applications() const { return m_home.filePath(QStringLiteral("data/applications")); }

    void startWith(const QByteArray& registryName, const QByteArray& program = "BIN\\PLAY.SH")
    {
        writeFile(m_root->filePath("program/install.ini"),
            "Release title: Space Game\r\nFrom         : us\r\nDirectory    : SPACE\r\nArchive      : GAME.RAR\r\n"
            "Size in MB   : 1\r\nRegistry file: " + registryName + "\r\nShortcut     : Space Game\r\n"
            "Program      : " + program + "\r\nInformation  : -\r\nBanner       : hello\r\n");
        QDir::setCurrent(m_source);
        CreateInstallerWindows({ m_root->filePath("program") });
        Form2->DirectoryListBox1->setDirectory(m_dest);
    }

private slots:
    void initTestCase()
    {
        // The user's folders, before anything asks where they are.
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath("data")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath("config")));
    }
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_source = m_root->filePath("medium");
        m_dest = m_root->filePath("games/Space Game");
        QDir().mkpath(m_source);
        QDir().mkpath(m_dest);
        m_boxes = std::make_unique<DialogRecorder>();
    }
    void cleanup()
    {
        DestroyInstallerWindows();
        m_boxes.reset();
        QDir::setCurrent(QDir::tempPath());
        QDir(applications()).removeRecursively();
        m_root.reset();
    }

    void requestsInOrder()
    {
        StandIns shell({ "xdg-open", "wine" });
        writeFile(m_source + "/MY GAME.REG", "REGEDIT4\r\n");
        startWith("my game.reg");
        RunEndActions();
        const QList<Call> calls = shell.waitForCalls(2);
        const QList<Call> expected {
            { "wine", m_source, { "regedit", "MY GAME.REG" } },
            { "xdg-open", m_source, { m_dest } },
        };
        QCOMPARE(calls, expected);
        QVERIFY(m_boxes->boxes().empty());
        QCOMPARE(QDir::currentPath(), m_source);
    }

    void noRegistryRequest_data()
    {
        QTest::addColumn<QByteArray>("registryName");
        QTest::addColumn<bool>("directory");
        QTest::newRow("file missing") << QByteArray("SPACE.REG") << false;
        QTest::newRow("name empty") << QByteArray() << false;
        // A directory is not the file.
        QTest::newRow("a directory of that name") << QByteArray("SPACE.REG") << true;
        QTest::newRow("a directory ignoring case") << QByteArray("space.reg") << true;
    }
    void noRegistryRequest()
    {
        QFETCH(QByteArray, registryName);
        QFETCH(bool, directory);
        StandIns shell({ "xdg-open", "wine" });
        if (directory)
            QVERIFY(QDir().mkpath(m_source + "/SPACE.REG"));
        startWith(registryName);
        RunEndActions();
        QCOMPARE(shell.waitForCalls(1), (QList<Call> { { "xdg-open", m_source, { m_dest } } }));
        QTest::qWait(300); // nothing else turns up late
        QCOMPARE(shell.calls().size(), 1);
    }

    // Start-up creates none of the user's folders; the shortcut's folder
    // appears when the shortcut is written into it.
    void menuFolderCreatedOnlyWithTheShortcut()
    {
        StandIns shell({ "xdg-open" });
        startWith("SPACE.REG");
        QVERIFY(!QFileInfo::exists(applications()));
        QVERIFY(!QFileInfo::exists(m_home.filePath("config/autostart")));
        QVERIFY(!QFileInfo::exists(m_home.filePath("data/fonts")));
        RunEndActions();
        QVERIFY(QFileInfo(applications() + "/Space Game.lnk").isFile());
    }

    void withoutWineTheRegistryIsLeftAlone()
    {
        StandIns shell({ "xdg-open" });
        writeFile(m_source + "/SPACE.REG", "REGEDIT4\r\n");
        startWith("SPACE.REG");
        RunEndActions();
        QCOMPARE(shell.waitForCalls(1), (QList<Call> { { "xdg-open", m_source, { m_dest } } }));
        QVERIFY(QFileInfo::exists(applications() + "/Space Game.lnk"));
    }

    void sourceDirectoryGone()
    {
        StandIns shell({ "xdg-open", "wine" });
        writeFile(m_source + "/SPACE.REG", "REGEDIT4\r\n");
        startWith("SPACE.REG");
        QDir(m_source).removeRecursively();
        ErrorReport::guarded(RunEndActions);
        QCOMPARE(m_boxes->texts(), QStringList { "File not found." });
        QTest::qWait(300);
        QVERIFY(shell.calls().isEmpty());
        QVERIFY(!QFileInfo::exists(applications() + "/Space Game.lnk"));
    }

    void shortcutToTheInstalledProgram()
    {
        StandIns shell({ "xdg-open" });
        startWith("");
        RunEndActions();
        const QString link = applications() + "/Space Game.lnk";
        const auto fields = lnkinfo(link);
        QCOMPARE(fields.value("Description"), QStringLiteral("This rules"));
        QCOMPARE(fields.value("Working directory"), m_dest);
        QCOMPARE(fields.value("Relative path"), m_dest + "/BIN/PLAY.SH");
        QCOMPARE(fields.value("Icon location"), m_dest + "/BIN/PLAY.SH");
        const QByteArray bytes = readFile(link);
        QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 0x3C), 1u); // show normally
        QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 0x38), 0u); // icon index
        QCOMPARE(qFromLittleEndian<quint16>(bytes.constData() + 0x40), 0u); // no hot key
        QVERIFY(QFileInfo::exists(applications() + "/Space Game.desktop"));

        // A second installation to the same place rewrites it.
        QFile::resize(link, 10);
        RunEndActions();
        QCOMPARE(lnkinfo(link).value("Relative path"), m_dest + "/BIN/PLAY.SH");
        QVERIFY(m_boxes->boxes().empty());
    }

    void destinationAtARootGetsOneSeparator()
    {
        StandIns shell({ "xdg-open" });
        startWith("", "GAME.EXE");
        Form2->DirectoryListBox1->setDirectory(QStringLiteral("/"));
        RunEndActions();
        QCOMPARE(Form1->KvShellLink1->target(), QStringLiteral("/GAME.EXE"));
        QCOMPARE(Form1->KvShellLink1->fileIcon()->fileName(), QStringLiteral("/GAME.EXE"));
        QCOMPARE(shell.waitForCalls(1), (QList<Call> { { "xdg-open", m_source, { "/" } } }));
    }

    void shortcutFailureReachesTheReport()
    {
        StandIns shell({ "xdg-open" });
        startWith("");
        Form1->Label6->setText(QStringLiteral(".lnk"));
        ErrorReport::guarded(RunEndActions);
        QCOMPARE(m_boxes->texts(), QStringList { "Write error." });
        QCOMPARE(shell.waitForCalls(1).size(), 1); // the folder window was still requested
    }
};

QTEST_MAIN(TestEndActions)
#include "test_endactions.moc"
