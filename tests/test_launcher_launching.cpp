// The launcher's buttons starting the release's programs: real processes
// (recording stand-ins for the programs, xdg-open and wine on a PATH of the
// test's own) write down their arguments and the directory they ran in.
#include "TestSupport.h"
#include "Unit1.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTextDocument>
#include <QTextFormat>
#include <QToolTip>
#include <QtTest>

#include <memory>

using TestSupport::Call;
using TestSupport::readCalls;
using TestSupport::writeRecorder;

namespace {

QByteArray crlfLines(const QList<QByteArray>& lines)
{
    QByteArray bytes;
    for (const QByteArray& line : lines)
        bytes += line + "\r\n";
    return bytes;
}

}

class TestLauncherLaunching : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void launching_data();
    void launching();
    void emptyDirectoryStartsFromWhateverIsCurrent();
    void missingDirectoryStartsNothing();
    void missingFileHandsTheDesignTextsToTheShell();
    void enterClicksTheFocusedButton_data();
    void enterClicksTheFocusedButton();
    void tooltipsArePlainText();

private:
    // The medium: the program folder with an autoplay.ini and the release's
    // programs.
    QString medium() const { return m_root + QStringLiteral("/medium/"); }
    void writeAutoplay(const QByteArray& bytes) { TestSupport::writeFile(medium() + QStringLiteral("autoplay.ini"), bytes); }
    void click(TForm1& form, const QString& buttonName);
    // Waits until `count` processes have recorded themselves, then a little
    // longer so that one too many would show.
    QList<Call> waitForCalls(qsizetype count);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestSupport::CurrentDirectoryGuard> m_cwd;
    QByteArray m_savedPath;
    QString m_root; // canonical, as the stand-ins see their directories
    QString m_log;
};

void TestLauncherLaunching::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("MERIK-Runner"));
}

void TestLauncherLaunching::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_cwd = std::make_unique<TestSupport::CurrentDirectoryGuard>();
    m_root = QDir(m_dir->path()).canonicalPath();
    m_log = m_root + QStringLiteral("/calls.log");
    writeRecorder(m_root + QStringLiteral("/bin/xdg-open"), m_log);
    writeRecorder(m_root + QStringLiteral("/bin/wine"), m_log);
    m_savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_root + QStringLiteral("/bin")));

    writeRecorder(medium() + QStringLiteral("game/play.sh"), m_log);
    writeRecorder(medium() + QStringLiteral("tools/bin/SETUP.EXE"), m_log);
    TestSupport::writeFile(medium() + QStringLiteral("merik.nfo"), "the release's information\r\n");
    writeAutoplay(crlfLines({
        "[MERIK autoplay]",
        "Titl:Star Cruiser",
        "Publ:the MERIK demo crew",
        "Dir1:game",
        "Cap1:Play",
        "Prg1:play.sh",
        "Cmd1:-level 3 \"big ship\"",
        "Dir2:",
        "Cap2:Read nfo",
        "Prg2:MERIK.NFO",
        "Cmd2:",
        "Dir3:TOOLS\\Bin",
        "Cap3:Setup",
        "Prg3:setup.exe",
        "Cmd3:/S /D=c:\\games",
    }));
}

void TestLauncherLaunching::cleanup()
{
    qputenv("PATH", m_savedPath);
    m_cwd.reset();
    m_dir.reset();
}

void TestLauncherLaunching::click(TForm1& form, const QString& buttonName)
{
    auto* button = form.findChild<QPushButton*>(buttonName);
    QVERIFY2(button, qPrintable(buttonName));
    QVERIFY(button->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
}

QList<Call> TestLauncherLaunching::waitForCalls(qsizetype count)
{
    // A shortfall shows in the caller's comparison of the count.
    (void)QTest::qWaitFor([&] { return readCalls(m_log).size() >= count; }, 10000);
    QTest::qWait(300);
    return readCalls(m_log);
}

void TestLauncherLaunching::launching_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("directory"); // below the medium
    QTest::addColumn<QStringList>("arguments"); // "@": the medium

    QTest::newRow("program in its directory, parameters handed over")
        << "Button1" << "play.sh" << "game" << QStringList { "-level", "3", "big ship" };
    QTest::newRow("no directory: a document opened from the program folder")
        << "Button2" << "xdg-open" << "" << QStringList { "@merik.nfo" };
    QTest::newRow("directory and program found ignoring case, Windows program through wine")
        << "Button3" << "wine" << "tools/bin" << QStringList { "@tools/bin/SETUP.EXE", "/S", "/D=c:\\games" };
}

void TestLauncherLaunching::launching()
{
    QFETCH(QString, button);
    QFETCH(QString, name);
    QFETCH(QString, directory);
    QFETCH(QStringList, arguments);

    TestSupport::DialogRecorder boxes;
    TForm1 form(medium());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    click(form, button);

    const QString expectedDirectory = QDir::cleanPath(medium() + directory);
    QCOMPARE(QDir::currentPath(), expectedDirectory);
    const QList<Call> calls = waitForCalls(1);
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].name, name);
    QCOMPARE(calls[0].directory, expectedDirectory);
    arguments.replaceInStrings(QStringLiteral("@"), medium());
    QCOMPARE(calls[0].arguments, arguments);
    QCOMPARE(boxes.texts(), QStringList {});
    QVERIFY(form.isVisible()); // the launcher stays open
}

void TestLauncherLaunching::emptyDirectoryStartsFromWhateverIsCurrent()
{
    // Entry 2 names its program relative to the current directory only.
    writeAutoplay(crlfLines({ "[x]", "Titl:T", "Publ:P",
        "Dir1:game", "Cap1:Play", "Prg1:play.sh", "Cmd1:first",
        "Dir2:", "Cap2:Again", "Prg2:play.sh", "Cmd2:second" }));
    const QString elsewhere = m_root + QStringLiteral("/elsewhere");
    writeRecorder(elsewhere + QStringLiteral("/play.sh"), m_log);

    TestSupport::DialogRecorder boxes;
    TForm1 form(medium());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    click(form, QStringLiteral("Button1"));
    QCOMPARE(waitForCalls(1).size(), 1);
    click(form, QStringLiteral("Button2")); // from game/, where Button1 left us
    QCOMPARE(waitForCalls(2).size(), 2);
    QVERIFY(QDir::setCurrent(elsewhere));
    click(form, QStringLiteral("Button2"));
    const QList<Call> calls = waitForCalls(3);

    QCOMPARE(calls.size(), 3);
    const QString game = m_root + QStringLiteral("/medium/game");
    QCOMPARE(calls[0].directory, game);
    QCOMPARE(calls[0].arguments, QStringList { "first" });
    QCOMPARE(calls[1].directory, game);
    QCOMPARE(calls[1].arguments, QStringList { "second" });
    QCOMPARE(calls[2].directory, elsewhere);
    QCOMPARE(calls[2].arguments, QStringList { "second" });
    QCOMPARE(QDir::currentPath(), elsewhere);
    QCOMPARE(boxes.texts(), QStringList {});
}

void TestLauncherLaunching::missingDirectoryStartsNothing()
{
    writeAutoplay(crlfLines({ "[x]", "Titl:T", "Publ:P",
        "Dir1:nowhere", "Cap1:Play", "Prg1:xdg-open", "Cmd1:not started",
        "Dir2:", "Cap2:Read nfo", "Prg2:merik.nfo", "Cmd2:" }));

    TestSupport::DialogRecorder boxes;
    TForm1 form(medium());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    click(form, QStringLiteral("Button1"));
    QCOMPARE(boxes.texts(), QStringList { "File not found." });
    QCOMPARE(boxes.boxes()[0].caption, QStringLiteral("MERIK-Runner"));
    QCOMPARE(boxes.boxes()[0].icon, Dialogs::Icon::Stop);
    QCOMPARE(QDir::currentPath(), QDir::cleanPath(medium()));

    // A later start shows that the first one started nothing.
    click(form, QStringLiteral("Button2"));
    const QList<Call> calls = waitForCalls(1);
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].arguments, QStringList { medium() + QStringLiteral("merik.nfo") });
}

void TestLauncherLaunching::enterClicksTheFocusedButton_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter on the keypad") << int(Qt::Key_Enter);
    QTest::newRow("Space") << int(Qt::Key_Space);
}

void TestLauncherLaunching::enterClicksTheFocusedButton()
{
    QFETCH(int, key);
    TestSupport::DialogRecorder boxes;
    TForm1 form(medium());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.activateWindow();
    form.Button1->setFocus();
    QVERIFY(QTest::qWaitFor([&] { return form.Button1->hasFocus(); }));
    QTest::keyClick(form.Button1, Qt::Key(key));
    const QList<Call> calls = waitForCalls(1);
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].name, QStringLiteral("play.sh"));

    // Quit too: Enter on it ends the window.
    form.quit->setFocus();
    QVERIFY(QTest::qWaitFor([&] { return form.quit->hasFocus(); }));
    QTest::keyClick(form.quit, Qt::Key(key));
    QVERIFY(QTest::qWaitFor([&] { return !form.isVisible(); }));
}

// Release text in a tooltip is shown as written: no bold, no local pictures.
void TestLauncherLaunching::tooltipsArePlainText()
{
    TestSupport::writeFile(m_root + QStringLiteral("/secret.png"), "not shown");
    writeAutoplay(crlfLines({ "[x]", "Titl:T", "Publ:P",
        "Dir1:", "Cap1:Play", "Prg1:<b>bold</b>.sh", "Cmd1:<img src=\"" + m_root.toUtf8() + "/secret.png\"> & more",
        "Dir2:", "Cap2:", "Prg2:", "Cmd2:", "Dir3:", "Cap3:", "Prg3:", "Cmd3:" }));
    TForm1 form(medium());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QString written = medium() + QStringLiteral("<b>bold</b>.sh <img src=\"") + m_root + QStringLiteral("/secret.png\"> & more");
    QCOMPARE(form.Button1->toolTip(), written);

    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), form.Button1->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(form.Button1, &help);
    QLabel* tip = nullptr;
    QVERIFY(QTest::qWaitFor([&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->inherits("QTipLabel") && widget->isVisible())
                tip = qobject_cast<QLabel*>(widget);
        return tip != nullptr;
    }));
    // What the tip label shows, read the way the label reads its text.
    const bool rich = tip->textFormat() == Qt::RichText
        || (tip->textFormat() == Qt::AutoText && Qt::mightBeRichText(tip->text()));
    QTextDocument shown;
    if (rich)
        shown.setHtml(tip->text());
    else
        shown.setPlainText(tip->text());
    QCOMPARE(shown.toPlainText(), written);
    QVERIFY(shown.allFormats().size() > 0);
    for (const QTextFormat& format : shown.allFormats()) {
        QVERIFY(!format.isImageFormat());
        QVERIFY(format.property(QTextFormat::FontWeight).toInt() <= QFont::Normal);
    }
    QToolTip::hideText();
}

void TestLauncherLaunching::missingFileHandsTheDesignTextsToTheShell()
{
    QVERIFY(QFile::remove(medium() + QStringLiteral("autoplay.ini")));
    writeRecorder(medium() + QStringLiteral("prg1"), m_log);
    writeRecorder(medium() + QStringLiteral("prg3"), m_log);

    TestSupport::DialogRecorder boxes;
    TForm1 form(medium());
    QCOMPARE(boxes.texts(), QStringList { "File not found." });
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    click(form, QStringLiteral("Button1"));
    QCOMPARE(waitForCalls(1).size(), 1);
    click(form, QStringLiteral("Button3"));
    const QList<Call> calls = waitForCalls(2);

    QCOMPARE(calls.size(), 2);
    QCOMPARE(calls[0].name, QStringLiteral("prg1"));
    QCOMPARE(calls[0].arguments, QStringList { "cmd1" });
    QCOMPARE(calls[0].directory, QDir::cleanPath(medium()));
    QCOMPARE(calls[1].name, QStringLiteral("prg3"));
    QCOMPARE(calls[1].arguments, QStringList { "cmd3" });
    QCOMPARE(boxes.texts().size(), 1);
}

QTEST_MAIN(TestLauncherLaunching)
#include "test_launcher_launching.moc"
