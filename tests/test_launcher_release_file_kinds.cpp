// autoplay.ini that is no regular file: a named pipe nobody writes, a link
// to /dev/zero, a socket. The launcher reports it as missing, at once; an
// alarm ends the test program should reading block or never end.
#include "TestSupport.h"
#include "Unit1.h"

#include <QPushButton>
#include <QtTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

class TestLauncherReleaseFileKinds : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("MERIK-Runner")); }

    void autoplayIni_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("named pipe") << "fifo";
        QTest::newRow("link to /dev/zero") << "zero";
        QTest::newRow("socket") << "socket";
    }
    void autoplayIni()
    {
        QFETCH(QString, kind);
        QTemporaryDir folder;
        TestSupport::CurrentDirectoryGuard cwd;
        const QByteArray path = QFile::encodeName(folder.filePath(QStringLiteral("autoplay.ini")));
        if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(path.constData(), 0644), 0);
        } else if (kind == QLatin1String("zero")) {
            QCOMPARE(::symlink("/dev/zero", path.constData()), 0);
        } else {
            sockaddr_un address {};
            address.sun_family = AF_UNIX;
            QVERIFY(size_t(path.size()) < sizeof address.sun_path);
            std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            QVERIFY(fd >= 0);
            const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            ::close(fd);
            QVERIFY(bound);
        }

        TestSupport::DialogRecorder boxes;
        ::alarm(30);
        TForm1 form(folder.path() + QLatin1Char('/'));
        ::alarm(0);
        QCOMPARE(boxes.texts(), QStringList { "File not found." });
        QCOMPARE(boxes.boxes()[0].caption, QStringLiteral("MERIK-Runner"));
        QCOMPARE(boxes.boxes()[0].icon, Dialogs::Icon::Stop);
        auto* button = form.findChild<QPushButton*>(QStringLiteral("Button1"));
        QVERIFY(button);
    }
};

QTEST_MAIN(TestLauncherReleaseFileKinds)
#include "test_launcher_release_file_kinds.moc"
