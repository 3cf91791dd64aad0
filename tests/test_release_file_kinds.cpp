// Release files that are no regular files: a named pipe (which nobody ever
// writes), a link to /dev/zero (which never ends) and a socket stand where
// install.ini, merik.nfo or the registry file should be. Each is treated as
// not there, at once. Every case runs under an alarm, so a reader that
// blocks or reads for ever ends the test program instead of hanging it.
#include "Application.h"
#include "EndActions.h"
#include "Errors.h"
#include "ReleaseFiles.h"
#include "TestSupport.h"
#include "TextFile.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit5.h"

#include <QtTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

// Puts a thing of `kind` at `path`; false when the machine cannot make one.
bool makeSpecial(const QString& path, const QString& kind)
{
    const QByteArray name = QFile::encodeName(path);
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(name.constData(), 0644) == 0;
    if (kind == QLatin1String("zero"))
        return ::symlink("/dev/zero", name.constData()) == 0;
    if (kind == QLatin1String("socket")) {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        if (size_t(name.size()) >= sizeof address.sun_path)
            return false;
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (fd >= 0)
            ::close(fd); // the socket file stays
        return bound;
    }
    return false;
}

void kinds()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("named pipe") << "fifo";
    QTest::newRow("link to /dev/zero") << "zero";
    QTest::newRow("socket") << "socket";
}

// Ends the program if a case takes longer than any reading of a small file
// could (a blocked open, or a read that never ends).
class Alarm {
public:
    Alarm() { ::alarm(30); }
    ~Alarm() { ::alarm(0); }
};

}

class TestReleaseFileKinds : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_program, m_source, m_dest;
    std::unique_ptr<DialogRecorder> m_boxes;
    QTemporaryDir m_home;

    void start(const QByteArray& registryName)
    {
        writeFile(m_program + "/install.ini",
            "Release title: Kinds\r\nFrom         : us\r\nDirectory    : KINDS\r\nArchive      : GAME.RAR\r\n"
            "Size in MB   : 1\r\nRegistry file: " + registryName + "\r\nShortcut     : Kinds\r\n"
            "Program      : PLAY.SH\r\nInformation  : -\r\nBanner       : hello\r\n");
        QDir::setCurrent(m_source);
        CreateInstallerWindows({ m_program });
        Form2->DirectoryListBox1->setDirectory(m_dest);
    }

private slots:
    void initTestCase()
    {
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath("data")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath("config")));
    }
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        m_program = m_root->filePath("program");
        m_source = m_root->filePath("medium");
        m_dest = m_root->filePath("games/Kinds");
        for (const QString& dir : { m_program, m_source, m_dest })
            QVERIFY(QDir().mkpath(dir));
        m_boxes = std::make_unique<DialogRecorder>();
    }
    void cleanup()
    {
        DestroyInstallerWindows();
        m_boxes.reset();
        QDir::setCurrent(QDir::tempPath());
        m_root.reset();
    }

    void readerTreatsItAsNotThere_data() { kinds(); }
    void readerTreatsItAsNotThere()
    {
        QFETCH(QString, kind);
        const QString path = m_source + "/lines.txt";
        QVERIFY(makeSpecial(path, kind));
        Alarm guard;
        int code = 0;
        try {
            TextFileReader reader(QFile::encodeName(path).toStdString());
            reader.readLine();
        } catch (const EInOutError& error) {
            code = error.code();
        }
        QCOMPARE(code, 2);
        QVERIFY(!ReleaseFiles::isFile(QFile::encodeName(path).toStdString()));
    }

    void readerStillReadsFilesAndLinksToThem()
    {
        writeFile(m_source + "/real.txt", "one\r\ntwo");
        QVERIFY(QFile::link(m_source + "/real.txt", m_source + "/link.txt"));
        Alarm guard;
        TextFileReader reader(QFile::encodeName(m_source + "/link.txt").toStdString());
        QCOMPARE(reader.readLine(), std::string("one"));
        QCOMPARE(reader.readLine(), std::string("two"));
        QVERIFY(ReleaseFiles::isFile(QFile::encodeName(m_source + "/link.txt").toStdString()));
        QVERIFY(ReleaseFiles::isFile(QFile::encodeName(m_source + "/REAL.TXT").toStdString()));
    }

    // As when the file is missing: the error report says so, the window
    // keeps its design.
    void installIni_data() { kinds(); }
    void installIni()
    {
        QFETCH(QString, kind);
        QVERIFY(makeSpecial(m_program + "/install.ini", kind));
        Alarm guard;
        QDir::setCurrent(m_source);
        CreateInstallerWindows({ m_program });
        QCOMPARE(m_boxes->texts(), QStringList { "File not found." });
        QCOMPARE(m_boxes->boxes()[0].icon, Dialogs::Icon::Stop);
        QCOMPARE(Form1->Label2->text(), QStringLiteral("[oRb]"));
        QCOMPARE(Form1->Banner1->scrollText(), QStringLiteral("OoOoOps ! The INSTALL.INI file is missing !"));
    }

    // As when there is none: nothing is shown.
    void informationText_data() { kinds(); }
    void informationText()
    {
        QFETCH(QString, kind);
        start("-");
        QVERIFY(makeSpecial(m_source + "/merik.nfo", kind));
        Alarm guard;
        Form1->Image6Click();
        QVERIFY(m_boxes->boxes().empty());
        QVERIFY(!Form5->isVisible());
        QCOMPARE(Form5->windowTitle(), QStringLiteral("Form5"));
    }

    // As when there is none: no registry request, the rest goes on.
    void registryFile_data() { kinds(); }
    void registryFile()
    {
        QFETCH(QString, kind);
        StandIns shell({ "xdg-open", "wine" });
        start("KINDS.REG");
        QVERIFY(makeSpecial(m_source + "/KINDS.REG", kind));
        Alarm guard;
        RunEndActions();
        QCOMPARE(shell.waitForCalls(1), (QList<StandIns::Call> { { "xdg-open", m_source, { m_dest } } }));
        QTest::qWait(300); // nothing else turns up late
        QCOMPARE(shell.calls().size(), 1);
        QVERIFY(m_boxes->boxes().empty());
    }
};

QTEST_MAIN(TestReleaseFileKinds)
#include "test_release_file_kinds.moc"
