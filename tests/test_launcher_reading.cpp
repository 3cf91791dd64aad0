// Reading autoplay.ini into the launcher's window: positional lines, values
// from the sixth character, the line reader's rules, and what stays of the
// design when reading fails.
#include "TestSupport.h"
#include "Unit1.h"

#include <QDir>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

QByteArray crlfLines(const QList<QByteArray>& lines)
{
    QByteArray bytes;
    for (const QByteArray& line : lines)
        bytes += line + "\r\n";
    return bytes;
}

const QByteArray CompleteFile = crlfLines({
    "[MERIK autoplay]",
    "Titl:Demo Game",
    "Publ:the MERIK demo crew",
    "Dir1:GAME",
    "Cap1:Play",
    "Prg1:PLAY.EXE",
    "Cmd1:",
    "Dir2:",
    "Cap2:Setup",
    "Prg2:setup.sh",
    "Cmd2:-q --lang en",
    "Dir3:tools\\bin",
    "Cap3:Read me",
    "Prg3:docs\\read me.txt",
    "Cmd3:a b",
    "Xtra:line 16 is never read",
});

}

class TestLauncherReading : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void reading_data();
    void reading();
    void failedReading_data();
    void failedReading();

private:
    QString folder() const { return m_folder->path() + QLatin1Char('/'); }
    QPushButton* button(TForm1& form, int number) const
    {
        return form.findChild<QPushButton*>(QStringLiteral("Button%1").arg(number));
    }
    QString holder(TForm1& form, int number) const
    {
        auto* label = form.findChild<QLabel*>(QStringLiteral("Label%1").arg(number));
        return label ? label->text() : QStringLiteral("<missing Label%1>").arg(number);
    }

    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<TestSupport::CurrentDirectoryGuard> m_cwd;
};

void TestLauncherReading::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("MERIK-Runner"));
}

void TestLauncherReading::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    m_cwd = std::make_unique<TestSupport::CurrentDirectoryGuard>();
}

void TestLauncherReading::cleanup()
{
    m_cwd.reset();
    m_folder.reset();
}

void TestLauncherReading::reading_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("publisher");
    // Per entry: caption ("-" before it: the button is hidden), program,
    // parameters, directory, tooltip ("@" stands for the program folder).
    QTest::addColumn<QStringList>("entry1");
    QTest::addColumn<QStringList>("entry2");
    QTest::addColumn<QStringList>("entry3");

    QTest::newRow("complete file")
        << "autoplay.ini" << CompleteFile << "Demo Game" << "the MERIK demo crew"
        << QStringList { "Play", "PLAY.EXE", "", "GAME/", "@GAME/PLAY.EXE " }
        << QStringList { "Setup", "setup.sh", "-q --lang en", "", "@setup.sh -q --lang en" }
        << QStringList { "Read me", "docs\\read me.txt", "a b", "tools/bin/", "@tools/bin/docs/read me.txt a b" };

    QTest::newRow("file name in capitals")
        << "AUTOPLAY.INI" << CompleteFile << "Demo Game" << "the MERIK demo crew"
        << QStringList { "Play", "PLAY.EXE", "", "GAME/", "@GAME/PLAY.EXE " }
        << QStringList { "Setup", "setup.sh", "-q --lang en", "", "@setup.sh -q --lang en" }
        << QStringList { "Read me", "docs\\read me.txt", "a b", "tools/bin/", "@tools/bin/docs/read me.txt a b" };

    QTest::newRow("fewer than fifteen lines: entry 2's caption missing")
        << "autoplay.ini"
        << crlfLines({ "[x]", "Titl:Short", "Publ:P", "Dir1:", "Cap1:One", "Prg1:one.sh", "Cmd1:-1", "Dir2:two" })
        << "Short" << "P"
        << QStringList { "One", "one.sh", "-1", "", "@one.sh -1" }
        << QStringList { "-", "", "", "two/", "@two/ " }
        << QStringList { "-", "", "", "", "@ " };

    QTest::newRow("fewer than fifteen lines: only entry 3 missing, no last line end")
        << "autoplay.ini"
        << crlfLines({ "[x]", "Titl:T", "Publ:P", "Dir1:", "Cap1:One", "Prg1:one", "Cmd1:", "Dir2:", "Cap2:Two", "Prg2:two", "Cmd2:", "Dir3:d3" })
            + "Cap3:Three"
        << "T" << "P"
        << QStringList { "One", "one", "", "", "@one " }
        << QStringList { "Two", "two", "", "", "@two " }
        << QStringList { "Three", "", "", "d3/", "@d3/ " };

    QTest::newRow("line feeds only: one single ignored line")
        << "autoplay.ini"
        << QByteArray("[x]\nTitl:Demo\nPubl:P\nDir1:G\nCap1:Play\nPrg1:p\nCmd1:c\nDir2:\nCap2:Two\n")
        << "" << ""
        << QStringList { "", "", "", "", "@ " }
        << QStringList { "-", "", "", "", "@ " }
        << QStringList { "-", "", "", "", "@ " };

    QTest::newRow("Ctrl-Z ends the data")
        << "autoplay.ini"
        << crlfLines({ "[x]", "Titl:Demo", "Publ:P", "Dir1:", "Cap1:Pl\x1a" "ay", "Prg1:p", "Cmd1:c", "Dir2:", "Cap2:Two" })
        << "Demo" << "P"
        << QStringList { "Pl", "", "", "", "@ " }
        << QStringList { "-", "", "", "", "@ " }
        << QStringList { "-", "", "", "", "@ " };

    QTest::newRow("five characters or fewer give empty values, the prefix is not examined")
        << "autoplay.ini"
        << crlfLines({ "", "Titl:", "Pub", "12345GAME", "Cap1:", "-----run.sh", "Cmd1:", "", "#####Two", "P", "", "", "Cap3:Three", "Prg3:", "Cmd3:" })
        << "" << ""
        << QStringList { "", "run.sh", "", "GAME/", "@GAME/run.sh " }
        << QStringList { "Two", "", "", "", "@ " }
        << QStringList { "Three", "", "", "", "@ " };

    QTest::newRow("blanks kept, quotes kept, line feed inside a line kept")
        << "autoplay.ini"
        << crlfLines({ "[x]", "Titl:  Demo Game  ", "Publ:a\nb", "Dir1: ", "Cap1: Play ", "Prg1:\"play.sh\"", "Cmd1: -w  ",
               "Dir2:", "Cap2: ", "Prg2:", "Cmd2:", "Dir3:", "Cap3:", "Prg3:", "Cmd3:" })
        << "  Demo Game  " << "a\nb"
        << QStringList { " Play ", "\"play.sh\"", " -w  ", " /", "@ /\"play.sh\"  -w  " }
        << QStringList { " ", "", "", "", "@ " }
        << QStringList { "-", "", "", "", "@ " };

    QTest::newRow("Windows-1252 and UTF-8 texts")
        << "autoplay.ini"
        << crlfLines({ "[x]", "Titl:Caf\xe9 \x80", "Publ:Caf\xc3\xa9 crew", "Dir1:", "Cap1:D\xe9marrer" })
        << QString::fromUtf8("Café €") << QString::fromUtf8("Café crew")
        << QStringList { QString::fromUtf8("Démarrer"), "", "", "", "@ " }
        << QStringList { "-", "", "", "", "@ " }
        << QStringList { "-", "", "", "", "@ " };
}

void TestLauncherReading::reading()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, title);
    QFETCH(QString, publisher);
    QFETCH(QStringList, entry1);
    QFETCH(QStringList, entry2);
    QFETCH(QStringList, entry3);

    TestSupport::writeFile(folder() + fileName, bytes);
    QVERIFY(QDir::setCurrent(QDir::rootPath()));
    TestSupport::DialogRecorder boxes;
    TForm1 form(folder());

    QCOMPARE(boxes.texts(), QStringList {});
    QCOMPARE(QDir::currentPath(), QDir(folder()).canonicalPath());
    QCOMPARE(form.findChild<QLabel*>(QStringLiteral("title1"))->text(), title);
    QCOMPARE(form.findChild<QLabel*>(QStringLiteral("publisher"))->text(), publisher);
    QCOMPARE(form.windowTitle(), QStringLiteral("MERIK Game Launcher - ") + title);

    const QList<QStringList> entries { entry1, entry2, entry3 };
    for (int number = 1; number <= 3; ++number) {
        const QStringList& expected = entries[number - 1];
        QPushButton* entryButton = button(form, number);
        QVERIFY(entryButton);
        const bool hidden = expected[0] == u"-";
        QCOMPARE(entryButton->isHidden(), hidden);
        QCOMPARE(entryButton->text(), hidden ? QString() : expected[0]);
        QCOMPARE(holder(form, 2 * number - 1), expected[1]);
        QCOMPARE(holder(form, 2 * number), expected[2]);
        QCOMPARE(form.directory(number), expected[3]);
        QString tooltip = expected[4];
        tooltip.replace(QLatin1Char('@'), folder());
        QCOMPARE(entryButton->toolTip(), tooltip);
    }
}

void TestLauncherReading::failedReading_data()
{
    QTest::addColumn<QString>("programFolder"); // "@": the test's folder
    QTest::addColumn<bool>("autoplayIsADirectory");
    QTest::addColumn<QString>("message");

    QTest::newRow("no autoplay.ini") << "@" << false << "File not found.";
    QTest::newRow("program folder gone") << "@gone/" << false << "File not found.";
    QTest::newRow("autoplay.ini cannot be read") << "@" << true << "I/O error 21.";
}

void TestLauncherReading::failedReading()
{
    QFETCH(QString, programFolder);
    QFETCH(bool, autoplayIsADirectory);
    QFETCH(QString, message);

    programFolder.replace(QLatin1Char('@'), folder());
    if (autoplayIsADirectory)
        QVERIFY(QDir(folder()).mkdir(QStringLiteral("autoplay.ini")));

    TestSupport::DialogRecorder boxes;
    TForm1 form(programFolder);

    QCOMPARE(boxes.texts(), QStringList { message });
    QCOMPARE(boxes.boxes()[0].caption, QStringLiteral("MERIK-Runner"));
    QCOMPARE(boxes.boxes()[0].icon, Dialogs::Icon::Stop);
    QCOMPARE(boxes.boxes()[0].buttons, Dialogs::Buttons::Ok);

    // Everything keeps its design-time state.
    QCOMPARE(form.windowTitle(), QStringLiteral("MERIK Game Launcher - "));
    QCOMPARE(form.findChild<QLabel*>(QStringLiteral("title1"))->text(), QStringLiteral("Title"));
    QCOMPARE(form.findChild<QLabel*>(QStringLiteral("publisher"))->text(), QStringLiteral("publisher"));
    const QStringList captions { "button 1", "button 2", "Button 3" };
    for (int number = 1; number <= 3; ++number) {
        QPushButton* entryButton = button(form, number);
        QVERIFY(!entryButton->isHidden());
        QCOMPARE(entryButton->text(), captions[number - 1]);
        QCOMPARE(entryButton->toolTip(), QString());
        QCOMPARE(holder(form, 2 * number - 1), QStringLiteral("prg%1").arg(number));
        QCOMPARE(holder(form, 2 * number), QStringLiteral("cmd%1").arg(number));
        QCOMPARE(form.directory(number), QString());
    }
}

QTEST_MAIN(TestLauncherReading)
#include "test_launcher_reading.moc"
