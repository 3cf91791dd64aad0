// The destination chooser and its name prompt, on the real windows: free and
// required space, drive changes, new directories, and the hand-over between
// the main window, the chooser, the prompt and the extraction window.
#include "Application.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Unit4.h"

#include <QtTest>
#include <sys/statvfs.h>

using namespace TestSupport;

namespace {

const QColor Grey(128, 128, 128);
const QColor Red(255, 0, 0);

int64_t statvfsFreeBytes(const QString& directory)
{
    struct statvfs info {};
    if (::statvfs(QFile::encodeName(directory).constData(), &info) != 0)
        return -1;
    return int64_t(info.f_bavail) * int64_t(info.f_frsize);
}

void click(TLabel* label)
{
    QVERIFY(label->isVisible());
    QTest::mouseClick(label, Qt::LeftButton, {}, label->rect().center());
}

}

class TestChooser : public QObject {
    Q_OBJECT
    QTemporaryDir m_program; // the installer's own folder, current after start-up
    QTemporaryDir m_disk;    // where things get installed
    QString m_target;        // canonical m_disk
    std::unique_ptr<CurrentDirectoryGuard> m_restore;
    int m_queries = 0;

    // A free-space query that counts its calls and answers `bytes`.
    void answerFreeSpace(int64_t bytes)
    {
        Form2->setFreeSpaceQuery([this, bytes](const std::string&) {
            ++m_queries;
            return bytes;
        });
    }

    // Two directories of the target stand in for two more drives.
    QString useFakeDrives()
    {
        QDir(m_target).mkpath("second/games");
        const QString second = m_target + "/second";
        const std::vector<Drives::Drive> drives { { "/", "system" }, { second.toStdString(), "SECOND" } };
        Form2->DriveComboBox1->setDrives(drives);
        Form2->DirectoryListBox1->setDrives(drives);
        return second;
    }

private slots:
    void initTestCase()
    {
        m_target = QDir(m_disk.path()).canonicalPath();
        writeFile(m_program.filePath("install.ini"),
            "Release title: Star Cruiser\r\n"
            "Released by  : the MERIK demo crew\r\n"
            "New directory: STARCRSR\r\n"
            "Archive      : STARCRSR.RAR\r\n"
            "Size in MB   : 2\r\n"
            "Registry file: STARCRSR.REG\r\n"
            "Shortcut     : Star Cruiser\r\n"
            "Program      : PLAY.SH\r\n"
            "Information  : A tiny space shooter.\r\n"
            "Banner       : Welcome to Star Cruiser\r\n");
    }

    void init()
    {
        m_restore = std::make_unique<CurrentDirectoryGuard>();
        m_queries = 0;
        DialogRecorder startUp;
        CreateInstallerWindows({ m_program.path() });
        QVERIFY(startUp.boxes().empty());
        QCOMPARE(Form1->Label10->text(), QStringLiteral("2"));
    }
    void cleanup()
    {
        DestroyInstallerWindows();
        m_restore.reset();
        QDir(m_target).removeRecursively();
        QDir().mkpath(m_target);
    }

    void layout()
    {
        QCOMPARE(Form2->size(), QSize(252, 314));
        QCOMPARE(Form2->windowTitle(), QStringLiteral("MERIK Installer"));
        QCOMPARE(Form2->DriveComboBox1->geometry(), QRect(5, 30, 242, 19));
        QCOMPARE(Form2->DirectoryListBox1->geometry(), QRect(5, 50, 241, 176));
        QCOMPARE(Form2->Label4->text(), QStringLiteral("Select a directory..."));
        QCOMPARE(Form2->Label5->text(), QStringLiteral("space free on this disk : "));
        QCOMPARE(Form2->Label7->text(), QStringLiteral("required for installation : "));
        QCOMPARE(Form2->Label1->text(), QStringLiteral("ok"));
        QCOMPARE(Form2->Label3->text(), QStringLiteral("makedir"));
        QCOMPARE(Form2->Label2->text(), QStringLiteral("cancel"));
        QCOMPARE(Form2->Label6->text(), QStringLiteral("freediskspace"));
        QCOMPARE(Form2->Label6->x() + Form2->Label6->width(), TForm2::FigureRightEdge);
        QCOMPARE(Form2->Image1->picture().size(), QSize(248, 43));
        QVERIFY(!Form2->Image2->picture().isNull());
        QCOMPARE(Form3->size(), QSize(253, 126));
        QCOMPARE(Form3->Edit1->geometry(), QRect(13, 51, 227, 21));
        QCOMPARE(Form3->Label1->text(), QStringLiteral("Choose a name..."));
        // The prompt takes the chooser's title picture and the default name.
        QCOMPARE(Form3->Image1->picture(), Form2->Image1->picture());
        QCOMPARE(Form3->Edit1->text(), QStringLiteral("STARCRSR"));
        // Both start on the installer's folder, which start-up made current.
        QCOMPARE(Form2->DirectoryListBox1->Directory(), QDir(m_program.path()).canonicalPath());
    }

    void freeAgainstRequired_data()
    {
        QTest::addColumn<QString>("required");
        QTest::addColumn<qint64>("freeBytes");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("equal is enough") << "2" << qint64(2000000) << "2 Mb." << Grey;
        QTest::newRow("one megabyte less") << "3" << qint64(2000000) << "2 Mb." << Red;
        QTest::newRow("remainder dropped") << "2" << qint64(1999999) << "1 Mb." << Red;
        QTest::newRow("remainder dropped, enough") << "1" << qint64(1999999) << "1 Mb." << Grey;
        QTest::newRow("failed query") << "1" << qint64(-1) << "0 Mb." << Red;
        QTest::newRow("failed query, nothing needed") << "0" << qint64(-1) << "0 Mb." << Grey;
        QTest::newRow("beyond 32 bits") << "1523" << qint64(6000000000000) << "6000000 Mb." << Grey;
        QTest::newRow("blanks before the number") << "  7" << qint64(7000000) << "7 Mb." << Grey;
    }
    void freeAgainstRequired()
    {
        QFETCH(QString, required);
        QFETCH(qint64, freeBytes);
        QFETCH(QString, shown);
        QFETCH(QColor, colour);
        DialogRecorder boxes;
        Form1->Label10->setText(required);
        answerFreeSpace(freeBytes);
        Form1->show();
        Form1->Image5Click(); // INSTALL: the first showing reports the drive
        QVERIFY(boxes.boxes().empty());
        QCOMPARE(m_queries, 1);
        QCOMPARE(Form2->Label6->text(), shown);
        QCOMPARE(Form2->Label6->color(), colour);
        QCOMPARE(Form2->Label6->x() + Form2->Label6->width(), TForm2::FigureRightEdge);
        QCOMPARE(Form2->Label6->width(), Form2->Label6->sizeHint().width());
        QCOMPARE(Form2->Label8->text(), required + " Mb.");
        QCOMPARE(Form2->Label8->color(), Grey);
        QCoreApplication::sendPostedEvents(); // the label's geometry request
        QCOMPARE(Form2->Label8->x() + Form2->Label8->width(), TForm2::FigureRightEdge);
        QCOMPARE(Form2->Label8->width(), Form2->Label8->sizeHint().width());
    }

    void realFilesystemFigure()
    {
        DialogRecorder boxes;
        Form2->DirectoryListBox1->setDirectory(m_target);
        const int64_t before = statvfsFreeBytes(m_target) / 1000000;
        Form2->DriveComboBox1Change();
        const int64_t after = statvfsFreeBytes(m_target) / 1000000;
        QVERIFY(boxes.boxes().empty());
        QVERIFY(before > 0);
        QVERIFY(Form2->Label6->text().endsWith(" Mb."));
        const int64_t shown = Form2->Label6->text().chopped(4).toLongLong();
        // Others write to the disk meanwhile: allow the figure to drift a little.
        QVERIFY2(shown >= std::min(before, after) - 64 && shown <= std::max(before, after) + 64,
            qPrintable(QStringLiteral("%1 against %2..%3").arg(shown).arg(before).arg(after)));
        QCOMPARE(Form2->Label6->color(), Grey);
    }

    void firstShowingReportsOnce()
    {
        answerFreeSpace(5000000);
        Form2->show();
        QCOMPARE(m_queries, 1);
        Form2->hide();
        Form2->show();
        QCOMPARE(m_queries, 1);
        QCOMPARE(Form2->Label6->text(), QStringLiteral("5 Mb."));
    }

    void driveChangeFollowsTheDrive()
    {
        DialogRecorder boxes;
        answerFreeSpace(9000000);
        Form2->show();
        const QString second = useFakeDrives();
        Form2->DriveComboBox1->setDrive(second);
        QVERIFY(boxes.boxes().empty());
        QCOMPARE(Form2->DirectoryListBox1->Directory(), second);
        QCOMPARE(QDir::currentPath(), second);
        QCOMPARE(m_queries, 2);

        // Back on the first drive, the list returns to where it was there.
        Form2->DirectoryListBox1->setDirectory("games");
        Form2->DriveComboBox1->setDrive("/");
        QCOMPARE(Form2->DirectoryListBox1->Directory(), QDir(m_program.path()).canonicalPath());
        Form2->DriveComboBox1->setDrive(second);
        QCOMPARE(QDir::currentPath(), second + "/games");
    }

    // The list walked onto another mount: the drive box, the free figure and
    // its colour follow that mount.
    void listWalkingOntoAnotherMount()
    {
        DialogRecorder boxes;
        Form2->setFreeSpaceQuery([this](const std::string& directory) -> int64_t {
            ++m_queries;
            return QString::fromStdString(directory).contains(u"/second") ? 1000000 : 9000000;
        });
        Form2->show();
        const QString second = useFakeDrives();
        QCOMPARE(Form2->DriveComboBox1->Drive(), QStringLiteral("/"));
        QCOMPARE(Form2->Label6->text(), QStringLiteral("9 Mb."));
        QCOMPARE(Form2->Label6->color(), QColor(128, 128, 128));

        Form2->DirectoryListBox1->setDirectory(second + "/games");
        QVERIFY(boxes.boxes().empty());
        QCOMPARE(Form2->DriveComboBox1->Drive(), second);
        QCOMPARE(Form2->DirectoryListBox1->Directory(), second + "/games");
        QCOMPARE(QDir::currentPath(), second + "/games");
        QCOMPARE(Form2->Label6->text(), QStringLiteral("1 Mb."));
        QCOMPARE(Form2->Label6->color(), QColor(255, 0, 0));

        // And back up to the root's drive.
        Form2->DirectoryListBox1->setDirectory("/");
        QCOMPARE(Form2->DriveComboBox1->Drive(), QStringLiteral("/"));
        QCOMPARE(Form2->Label6->text(), QStringLiteral("9 Mb."));
        QCOMPARE(Form2->Label6->color(), QColor(128, 128, 128));
    }

    void requiredNotAWholeNumber_data()
    {
        QTest::addColumn<QString>("required");
        QTest::newRow("trailing blank") << "12 ";
        QTest::newRow("letters") << "abc";
        QTest::newRow("decimal point") << "1.5";
    }
    void requiredNotAWholeNumber()
    {
        QFETCH(QString, required);
        answerFreeSpace(1000000);
        Form1->Label10->setText("2");
        Form2->show();
        QCOMPARE(Form2->Label6->color(), Red);
        const QString before = Form2->DirectoryListBox1->Directory();
        const QString second = useFakeDrives();

        DialogRecorder boxes;
        Form1->Label10->setText(required);
        answerFreeSpace(-1);
        Form2->DriveComboBox1->setDrive(second);
        QCOMPARE(boxes.texts(), QStringList({ QStringLiteral("'%1' is not a valid integer value.").arg(required) }));
        QCOMPARE(boxes.boxes().front().icon, Dialogs::Icon::Stop);
        QCOMPARE(m_queries, 1);
        QCOMPARE(Form2->DirectoryListBox1->Directory(), before);
        QCOMPARE(QDir::currentPath(), before);
        QCOMPARE(Form2->Label6->text(), QStringLiteral("1 Mb."));
        QCOMPARE(Form2->Label6->color(), Red);
        QCOMPARE(Form2->DriveComboBox1->Drive(), second); // the box shows the new drive all the same
    }

    void driveThatCannotBeEnteredMovesNothing()
    {
        answerFreeSpace(4000000);
        Form2->show();
        const QString second = useFakeDrives();
        Form2->DriveComboBox1->setDrive(second);
        Form2->DirectoryListBox1->setDirectory("games");
        Form2->DriveComboBox1->setDrive("/");
        const QString before = Form2->DirectoryListBox1->Directory();
        const int rows = Form2->DirectoryListBox1->count();
        QVERIFY(QDir(second + "/games").removeRecursively());

        DialogRecorder boxes;
        answerFreeSpace(123000000);
        Form2->DriveComboBox1->setDrive(second);
        QCOMPARE(boxes.texts(), QStringList({ "File not found." }));
        QCOMPARE(Form2->DirectoryListBox1->Directory(), before);
        QCOMPARE(Form2->DirectoryListBox1->count(), rows);
        QCOMPARE(QDir::currentPath(), before);
        QCOMPARE(Form2->Label6->text(), QStringLiteral("4 Mb."));
        QCOMPARE(Form2->Label6->color(), Grey);
        QCOMPARE(m_queries, 3);
    }

    void newDirectoryPath_data()
    {
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");
        QTest::newRow("at the root") << "/" << "GAME" << "/GAME";
        QTest::newRow("below the root") << "/srv/games" << "GAME" << "/srv/games/GAME";
        QTest::newRow("at a drive") << "/media/u/STICK" << "GAME" << "/media/u/STICK/GAME";
        QTest::newRow("name with blanks") << "/srv" << "Star Cruiser" << "/srv/Star Cruiser";
        QTest::newRow("deeper name") << "/srv" << "a/b" << "/srv/a/b";
    }
    void newDirectoryPath()
    {
        QFETCH(QString, directory);
        QFETCH(QString, name);
        QFETCH(QString, path);
        QCOMPARE(TForm3::NewDirectoryPath(directory, name), path);
    }

    void makeDirectory_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::newRow("new") << false;
        QTest::newRow("existing is reused") << true;
    }
    void makeDirectory()
    {
        QFETCH(bool, existing);
        DialogRecorder boxes;
        answerFreeSpace(1);
        Form2->show();
        Form2->DirectoryListBox1->setDirectory(m_target);
        if (existing)
            writeFile(m_target + "/STARCRSR/kept.txt", "from before");
        click(Form2->Label3); // makedir
        QVERIFY(!Form2->isVisible());
        QVERIFY(Form3->isVisible());
        QCOMPARE(Form3->Edit1->text(), QStringLiteral("STARCRSR"));
        click(Form3->Label2); // ok
        QVERIFY(boxes.boxes().empty());
        QVERIFY(QFileInfo(m_target + "/STARCRSR").isDir());
        QCOMPARE(QFile::exists(m_target + "/STARCRSR/kept.txt"), existing);
        QCOMPARE(QDir::currentPath(), m_target + "/STARCRSR");
        QCOMPARE(Form2->DirectoryListBox1->Directory(), m_target + "/STARCRSR");
        QVERIFY(!Form3->isVisible());
        QVERIFY(Form2->isVisible());
        // The free figure waits for the next drive change.
        QCOMPARE(m_queries, 1);
    }

    void nameThatCannotBeMade()
    {
        DialogRecorder boxes;
        answerFreeSpace(1);
        Form2->show();
        writeFile(m_target + "/file.txt", "in the way");
        Form2->DirectoryListBox1->setDirectory(m_target);
        click(Form2->Label3);
        Form3->Edit1->setText("file.txt/GAME");
        click(Form3->Label2);
        QCOMPARE(boxes.texts(), QStringList({ QStringLiteral("I/O error %1.").arg(ENOTDIR) }));
        QVERIFY(Form3->isVisible());
        QVERIFY(!Form2->isVisible());
        QCOMPARE(QDir::currentPath(), m_target);
        QCOMPARE(Form2->DirectoryListBox1->Directory(), m_target);

        // The user corrects the name and carries on.
        Form3->Edit1->setText("GAME");
        click(Form3->Label2);
        QCOMPARE(boxes.texts().size(), 1);
        QCOMPARE(QDir::currentPath(), m_target + "/GAME");
        QVERIFY(Form2->isVisible());
    }

    void cancelKeepsTheTypedName()
    {
        DialogRecorder boxes;
        answerFreeSpace(1);
        Form2->show();
        Form2->DirectoryListBox1->setDirectory(m_target);
        click(Form2->Label3);
        Form3->Edit1->clear();
        QTest::keyClicks(Form3->Edit1, "MYGAMES");
        click(Form3->Label3); // cancel
        QVERIFY(!Form3->isVisible());
        QVERIFY(Form2->isVisible());
        QVERIFY(!QFileInfo::exists(m_target + "/MYGAMES"));
        QCOMPARE(QDir::currentPath(), m_target);
        click(Form2->Label3);
        QCOMPARE(Form3->Edit1->text(), QStringLiteral("MYGAMES"));
        QVERIFY(boxes.boxes().empty());
    }

    void handOver()
    {
        DialogRecorder boxes;
        answerFreeSpace(50000000);
        Form1->show();
        Form1->Image5Click();
        QVERIFY(Form2->isVisible());
        QVERIFY(!Form1->isEnabled());
        // Centred on the screen the first time it shows.
        const QRect screen = Form2->screen()->geometry();
        QVERIFY(qAbs(Form2->geometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(Form2->geometry().center().y() - screen.center().y()) <= 1);

        click(Form2->Label2); // cancel
        QVERIFY(!Form2->isVisible());
        QVERIFY(Form1->isEnabled());

        Form1->Image5Click();
        click(Form2->Label3); // makedir, then back
        QVERIFY(!Form1->isEnabled());
        click(Form3->Label3);
        QVERIFY(!Form1->isEnabled());
        QVERIFY(Form2->isVisible());

        click(Form2->Label1); // ok
        QVERIFY(Form4->isVisible());
        QVERIFY(!Form2->isVisible());
        QVERIFY(!Form3->isVisible());
        QVERIFY(!Form1->isEnabled());
        QVERIFY(boxes.boxes().empty());
        QCOMPARE(m_queries, 1);
    }
};

QTEST_MAIN(TestChooser)
#include "test_chooser.moc"
