// The shell's "open" requests, checked against the processes they really
// start: recording stand-ins for xdg-open and wine (and the programs
// themselves) on a PATH of the test's own write down what they were given.
#include "FileNames.h"
#include "Shell.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TestSupport::Call;
using TestSupport::readCalls;
using TestSupport::writeRecorder;

const QString Sentinel = QStringLiteral("https://sentinel.invalid/");

}

class TestShell : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void requests_data();
    void requests();
    void resolvesAgainstTheCurrentDirectoryAtTheTimeOfTheRequest();
    void namesThatAreNotUtf8ReachTheProgramAsBytes();

private:
    void usePath(bool withWine);
    // What the request started, once a sentinel request made after it has
    // arrived (so that a request that starts nothing is seen to do so).
    QList<Call> callsAfter(const QString& file, const QString& parameters);

    std::unique_ptr<QTemporaryDir> m_root;
    std::unique_ptr<TestSupport::CurrentDirectoryGuard> m_cwd;
    QByteArray m_savedPath;
    QString m_log;
    QString m_work; // the current directory of the requests
};

void TestShell::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    m_cwd = std::make_unique<TestSupport::CurrentDirectoryGuard>();
    m_savedPath = qgetenv("PATH");
    const QString root = QDir(m_root->path()).canonicalPath();
    m_log = root + QStringLiteral("/calls.log");
    writeRecorder(root + QStringLiteral("/bin/xdg-open"), m_log);
    writeRecorder(root + QStringLiteral("/bin/mytool"), m_log);
    writeRecorder(root + QStringLiteral("/winebin/wine"), m_log);
    m_work = root + QStringLiteral("/work dir");
    QVERIFY(QDir().mkpath(m_work));
    QVERIFY(QDir::setCurrent(m_work));
}

void TestShell::cleanup()
{
    qputenv("PATH", m_savedPath);
    m_cwd.reset();
    m_root.reset();
}

void TestShell::usePath(bool withWine)
{
    const QString root = QDir(m_root->path()).canonicalPath();
    QString path = root + QStringLiteral("/bin");
    if (withWine)
        path += QStringLiteral(":") + root + QStringLiteral("/winebin");
    qputenv("PATH", QFile::encodeName(path));
}

QList<Call> TestShell::callsAfter(const QString& file, const QString& parameters)
{
    Shell::ShellExecute(file, parameters);
    Shell::ShellExecute(Sentinel, QString());
    auto sentinelSeen = [this] {
        for (const Call& call : readCalls(m_log))
            if (call.arguments == QStringList { Sentinel })
                return true;
        return false;
    };
    if (!QTest::qWaitFor(sentinelSeen, 10000))
        return { { QStringLiteral("sentinel never arrived"), {}, {} } };
    QTest::qWait(300); // a request that did start something has had its time
    QList<Call> calls = readCalls(m_log);
    calls.removeIf([](const Call& call) { return call.arguments == QStringList { Sentinel }; });
    return calls;
}

void TestShell::requests_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<bool>("withWine");
    // Files the request finds in the current directory ("*" marks programs).
    QTest::addColumn<QStringList>("present");
    // Each call as "name|argument|argument..."; "@" stands for the current
    // directory.
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("folder window, blanks kept in one argument")
        << "explorer.exe" << "@/Star Cruiser" << true << QStringList {}
        << QStringList { "xdg-open|@/Star Cruiser" };
    QTest::newRow("folder window named with a Windows path and capitals")
        << "C:\\WINDOWS\\EXPLORER.EXE" << "@\\Star Cruiser" << false << QStringList {}
        << QStringList { "xdg-open|@/Star Cruiser" };
    QTest::newRow("registry file with blanks is one argument of regedit")
        << "regedit.exe" << "@/My Game/STAR CRUISER.REG" << true << QStringList {}
        << QStringList { "wine|regedit|@/My Game/STAR CRUISER.REG" };
    QTest::newRow("no registry editor without wine")
        << "regedit.exe" << "@/STARCRSR.REG" << false << QStringList {}
        << QStringList {};
    QTest::newRow("Windows program through wine, parameters split")
        << "SETUP.EXE" << "-x \"two words\" c:\\dir" << true << QStringList { "SETUP.EXE" }
        << QStringList { "wine|@/SETUP.EXE|-x|two words|c:\\dir" };
    QTest::newRow("Windows program found ignoring case")
        << "setup.exe" << "" << true << QStringList { "Setup.Exe" }
        << QStringList { "wine|@/Setup.Exe" };
    QTest::newRow("no Windows program without wine")
        << "SETUP.EXE" << "-x" << false << QStringList { "SETUP.EXE" }
        << QStringList {};
    // Command lines of releases were written for Windows: double quotes
    // group, single quotes are ordinary characters.
    QTest::newRow("executable run directly, parameters split as a shell would")
        << "play.sh" << "--level 3 \"big ship\"  'single quoted'" << false << QStringList { "*play.sh" }
        << QStringList { "play.sh|--level|3|big ship|'single|quoted'" };
    QTest::newRow("executable found ignoring case")
        << "PLAY.SH" << "" << false << QStringList { "*play.sh" }
        << QStringList { "play.sh" };
    QTest::newRow("executable below the current directory, Windows separator")
        << "BIN\\Run.sh" << "fast" << false << QStringList { "*bin/run.sh" }
        << QStringList { "run.sh|fast" };
    QTest::newRow("bare name found on PATH")
        << "mytool" << "a b" << false << QStringList {}
        << QStringList { "mytool|a|b" };
    QTest::newRow("any other file opens with xdg-open, parameters not passed")
        << "readme.txt" << "ignored" << false << QStringList { "readme.txt" }
        << QStringList { "xdg-open|@/readme.txt" };
    QTest::newRow("other file found ignoring case")
        << "MERIK.NFO" << "" << false << QStringList { "merik.nfo" }
        << QStringList { "xdg-open|@/merik.nfo" };
    QTest::newRow("folder opens with xdg-open")
        << "Game Dir" << "" << false << QStringList { "Game Dir/file" }
        << QStringList { "xdg-open|@/Game Dir" };
    QTest::newRow("address opens with xdg-open")
        << "http://example.org/merik" << "" << false << QStringList {}
        << QStringList { "xdg-open|http://example.org/merik" };
    QTest::newRow("missing file starts nothing")
        << "nothing.txt" << "" << true << QStringList {}
        << QStringList {};
    QTest::newRow("empty name starts nothing")
        << "" << "cmd1" << true << QStringList {}
        << QStringList {};
}

void TestShell::requests()
{
    QFETCH(QString, file);
    QFETCH(QString, parameters);
    QFETCH(bool, withWine);
    QFETCH(QStringList, present);
    QFETCH(QStringList, expected);

    for (QString name : present) {
        const bool program = name.startsWith(QLatin1Char('*'));
        if (program)
            writeRecorder(m_work + QLatin1Char('/') + name.mid(1), m_log);
        else
            TestSupport::writeFile(m_work + QLatin1Char('/') + name, "data\n");
    }
    usePath(withWine);
    parameters.replace(QLatin1Char('@'), m_work);

    QList<Call> wanted;
    for (QString call : expected) {
        call.replace(QLatin1Char('@'), m_work);
        QStringList parts = call.split(QLatin1Char('|'));
        wanted.append({ parts.takeFirst(), m_work, parts });
    }

    const QList<Call> calls = callsAfter(file, parameters);
    QCOMPARE(calls.size(), wanted.size());
    for (qsizetype i = 0; i < calls.size(); ++i) {
        QCOMPARE(calls[i].name, wanted[i].name);
        QCOMPARE(calls[i].directory, wanted[i].directory);
        QCOMPARE(calls[i].arguments, wanted[i].arguments);
    }
    if (wanted.isEmpty())
        QVERIFY(Shell::resolve(file, parameters).program.isEmpty());
}

void TestShell::resolvesAgainstTheCurrentDirectoryAtTheTimeOfTheRequest()
{
    const QString other = m_work + QStringLiteral("/elsewhere");
    writeRecorder(m_work + QStringLiteral("/tool.sh"), m_log);
    writeRecorder(other + QStringLiteral("/tool.sh"), m_log);
    usePath(false);

    QVERIFY(QDir::setCurrent(other));
    const QList<Call> calls = callsAfter(QStringLiteral("tool.sh"), QStringLiteral("x"));
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].directory, other);
    QCOMPARE(Shell::resolve(QStringLiteral("tool.sh"), QString()).program, other + QStringLiteral("/tool.sh"));
}

void TestShell::namesThatAreNotUtf8ReachTheProgramAsBytes()
{
    // A folder named on a Western code page ("caf\xe9"), holding a program
    // and a Windows program, is the current directory.
    const std::string folder = FileNames::encode(m_work) + "/caf\xe9";
    QCOMPARE(::mkdir(folder.c_str(), 0755), 0);
    const QString work = FileNames::decode(folder);
    QVERIFY(QDir::setCurrent(m_work));
    QCOMPARE(::chdir(folder.c_str()), 0);
    const std::string script = "#!/bin/sh\nexec \"" + FileNames::encode(m_work) + "/../bin/mytool\" \"$@\"\n";
    for (const char* name : { "/run.sh", "/SETUP.EXE" }) {
        const std::string path = folder + name;
        FILE* file = std::fopen(path.c_str(), "w");
        QVERIFY(file);
        std::fputs(script.c_str(), file);
        std::fclose(file);
        QCOMPARE(::chmod(path.c_str(), 0755), 0);
    }
    usePath(true);
    const QString argument = FileNames::decode("--name=\xe9t\xe9");

    QList<Call> calls = callsAfter(QStringLiteral("run.sh"), argument);
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].name, QStringLiteral("mytool"));
    QCOMPARE(calls[0].directory, work);
    QCOMPARE(calls[0].arguments, QStringList { argument });
    QVERIFY(QFile::remove(m_log));

    calls = callsAfter(QStringLiteral("setup.exe"), argument);
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].name, QStringLiteral("wine"));
    QCOMPARE(calls[0].directory, work);
    QCOMPARE(calls[0].arguments, (QStringList { work + QStringLiteral("/SETUP.EXE"), argument }));
    QVERIFY(QFile::remove(m_log));

    calls = callsAfter(QStringLiteral("explorer.exe"), work);
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].name, QStringLiteral("xdg-open"));
    QCOMPARE(calls[0].arguments, QStringList { work });
}

QTEST_GUILESS_MAIN(TestShell)
#include "test_shell.moc"
