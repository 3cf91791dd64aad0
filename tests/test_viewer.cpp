// The information-text viewer, opened from the main window's second row.
#include "Application.h"
#include "FileNames.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "Unit5.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

class TestViewer : public QObject {
    Q_OBJECT
    QTemporaryDir m_program;
    QTemporaryDir m_source;
    std::unique_ptr<DialogRecorder> m_boxes;

    QString memoText() const { return Form5->Memo1->toPlainText(); }

private slots:
    void init()
    {
        QDir(m_source.path()).removeRecursively();
        QDir().mkpath(m_source.path());
        writeFile(m_program.filePath("install.ini"),
            "Release title: Viewer test\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\nBanner       : scrolling\r\n");
        QDir::setCurrent(m_source.path());
        m_boxes = std::make_unique<DialogRecorder>();
        CreateInstallerWindows({ m_program.path() });
        Form1->show();
    }
    void cleanup()
    {
        DestroyInstallerWindows();
        m_boxes.reset();
    }

    void linesAsTheReaderSplitsThem_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("crlf lines") << QByteArray("one\r\ntwo\r\n") << "one\ntwo";
        QTest::newRow("line feeds alone are one line") << QByteArray("a\nb\nc") << "a\u25d9b\u25d9c";
        QTest::newRow("ctrl-z ends the text") << QByteArray("kept\r\nalso\x1agone\r\nnever\r\n") << "kept\nalso";
        QTest::newRow("empty lines kept") << QByteArray("x\r\n\r\ny\r\n") << "x\n\ny";
    }
    void linesAsTheReaderSplitsThem()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, shown);
        writeFile(m_source.filePath("merik.nfo"), bytes);
        Form1->Image6Click();
        QVERIFY(Form5->isVisible());
        QCOMPARE(Form5->windowTitle(), QStringLiteral("Showing merik.nfo"));
        QCOMPARE(memoText(), shown);
        QCOMPARE(Form5->Memo1->document()->blockCount(), int(shown.count(QLatin1Char('\n')) + 1));
    }

    void openedTwiceShowsTheTextOnce()
    {
        writeFile(m_source.filePath("merik.nfo"), "only once\r\n");
        Form1->Image6Click();
        Form1->Image6Click();
        QCOMPARE(memoText(), QStringLiteral("only once"));
    }

    void dosCharactersShowAsDrawn()
    {
        writeFile(m_source.filePath("merik.nfo"), "\xc9\xcd\xbb \xdb\xdc\xdf \xb0\xb1\xb2 caf\x82 \x9a\r\n");
        Form1->Image6Click();
        QCOMPARE(memoText(), QStringLiteral("\u2554\u2550\u2557 \u2588\u2584\u2580 \u2591\u2592\u2593 caf\u00e9 \u00dc"));
    }

    void noFileChangesNothing()
    {
        Form1->Image6Click();
        QVERIFY(!Form5->isVisible());
        QCOMPARE(Form5->windowTitle(), QStringLiteral("Form5"));
        QVERIFY(memoText().isEmpty());
        QVERIFY(m_boxes->boxes().empty());
    }

    void emptyFileOpensAnEmptyViewer()
    {
        writeFile(m_source.filePath("merik.nfo"), "");
        Form1->Image6Click();
        QVERIFY(Form5->isVisible());
        QCOMPARE(Form5->windowTitle(), QStringLiteral("Showing merik.nfo"));
        QVERIFY(memoText().isEmpty());
    }

    void fileNameIgnoringCase()
    {
        writeFile(m_source.filePath("Merik.NFO"), "found\r\n");
        Form1->Image6Click();
        QCOMPARE(memoText(), QStringLiteral("found"));
    }

    // A directory by that name is not the information text: nothing shows.
    void directoryIsNotTheFile()
    {
        QDir(m_source.path()).mkdir("merik.nfo");
        QTest::mouseClick(Form1->Image6, Qt::LeftButton, {}, QPoint(20, 5));
        QVERIFY(m_boxes->boxes().empty());
        QVERIFY(!Form5->isVisible());
        QCOMPARE(Form5->windowTitle(), QStringLiteral("Form5"));
    }

    void unreadableFileReportsAndStaysHidden()
    {
        if (::geteuid() == 0)
            QSKIP("the superuser reads any file");
        writeFile(m_source.filePath("merik.nfo"), "secret\r\n");
        QFile::setPermissions(m_source.filePath("merik.nfo"), {});
        QTest::mouseClick(Form1->Image6, Qt::LeftButton, {}, QPoint(20, 5));
        QCOMPARE(m_boxes->texts(), QStringList { "File access denied." });
        QCOMPARE(m_boxes->boxes()[0].icon, Dialogs::Icon::Stop);
        QVERIFY(!Form5->isVisible());
    }

    void sourceDirectoryThatIsNotUtf8()
    {
        DestroyInstallerWindows();
        const std::string source = FileNames::encode(m_source.path()) + "/m\xe9" "dia";
        QCOMPARE(::mkdir(source.c_str(), 0700), 0);
        {
            std::ofstream out(source + "/merik.nfo", std::ios::binary);
            out << "from the medium\r\n";
        }
        QCOMPARE(::chdir(source.c_str()), 0);
        CreateInstallerWindows({ m_program.path() });
        Form1->Image6Click();
        QVERIFY(m_boxes->boxes().empty());
        QVERIFY(Form5->isVisible());
        QCOMPARE(memoText(), QStringLiteral("from the medium"));
        // QDir would not find a name that is not UTF-8 to remove it.
        QVERIFY(::chdir(FileNames::encode(m_source.path()).c_str()) == 0);
        std::filesystem::remove_all(source);
    }

    void controlBytesAsDosGlyphs()
    {
        QByteArray bytes;
        for (char c = 1; c < 0x20; ++c) {
            if (c != '\t' && c != '\r' && c != 0x1a)
                bytes += c;
        }
        bytes += "\x7f\r\n";
        writeFile(m_source.filePath("merik.nfo"), bytes);
        Form1->Image6Click();
        QCOMPARE(memoText(),
            QStringLiteral("\u263a\u263b\u2665\u2666\u2663\u2660\u2022\u25d8\u25d9\u2642\u2640\u266b\u263c"
                           "\u25ba\u25c4\u2195\u203c\u00b6\u00a7\u25ac\u21a8\u2191\u2193\u2190\u221f"
                           "\u2194\u25b2\u25bc\u2302"));
    }

    void tabStopsEveryEightCells()
    {
        writeFile(m_source.filePath("merik.nfo"), "ab\tX\r\n        X\r\n\tY\t\tZ\r\n" + QByteArray(24, ' ') + "Z\r\n");
        Form1->Image6Click();
        QVERIFY(QTest::qWaitForWindowExposed(Form5));
        auto xAt = [](int block, int column) {
            QTextCursor cursor(Form5->Memo1->document()->findBlockByNumber(block));
            cursor.setPosition(cursor.position() + column);
            return Form5->Memo1->cursorRect(cursor).x();
        };
        QCOMPARE(xAt(0, 3), xAt(1, 8));
        QCOMPARE(xAt(2, 4), xAt(3, 24));
        QVERIFY(xAt(1, 8) > xAt(1, 0));
    }

    void opensAtTheFirstLine()
    {
        QByteArray bytes = "LOGO AT THE TOP\r\n";
        for (int i = 0; i < 400; ++i)
            bytes += "line " + QByteArray::number(i) + "\r\n";
        writeFile(m_source.filePath("merik.nfo"), bytes);
        Form1->Image6Click();
        QVERIFY(QTest::qWaitForWindowExposed(Form5));
        QCoreApplication::processEvents();
        QCOMPARE(Form5->Memo1->verticalScrollBar()->value(), 0);
        QVERIFY(Form5->Memo1->verticalScrollBar()->maximum() > 0);
        QCOMPARE(Form5->Memo1->cursorForPosition(QPoint(4, 4)).blockNumber(), 0);
    }

    // Full blocks (0xDB) in rows and columns make one solid black area: no
    // lighter seams between cells or lines.
    void fullBlocksJoinWithoutSeams()
    {
        writeFile(m_source.filePath("merik.nfo"), QByteArray(30, '\xdb') + "\r\n" + QByteArray(30, '\xdb') + "\r\n"
            + QByteArray(30, '\xdb') + "\r\n");
        Form1->Image6Click();
        QVERIFY(QTest::qWaitForWindowExposed(Form5));
        const QImage picture = Form5->Memo1->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QRect dark;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                if (qGray(picture.pixel(x, y)) < 128)
                    dark |= QRect(x, y, 1, 1);
        QVERIFY(dark.width() > 100 && dark.height() > 20);
        int seams = 0;
        for (int y = dark.top(); y <= dark.bottom(); ++y)
            for (int x = dark.left(); x <= dark.right(); ++x)
                seams += picture.pixel(x, y) != qRgb(0, 0, 0);
        QCOMPARE(seams, 0);
    }

    void placementFirstCentredThenAtTheTop()
    {
        writeFile(m_source.filePath("merik.nfo"), "x\r\n");
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        Form1->Image6Click();
        const int outerHeight = Form5->frameGeometry().height();
        QCOMPARE(outerHeight, screen.height() - 35);
        QCOMPARE(Form5->frameGeometry().top(), 17);
        QCOMPARE(Form5->frameGeometry().left(), std::max(0, (screen.width() - Form5->frameGeometry().width()) / 2));
        QCOMPARE(Form5->Memo1->height(), outerHeight - 30);
        const int left = Form5->frameGeometry().left();
        Form5->hide();
        Form1->Image6Click();
        QCOMPARE(Form5->frameGeometry().top(), 0);
        QCOMPARE(Form5->frameGeometry().left(), left);
    }

    void mainWindowStaysEnabled()
    {
        writeFile(m_source.filePath("merik.nfo"), "x\r\n");
        Form1->Image6Click();
        QVERIFY(Form1->isEnabled());
        QVERIFY(Form5->Memo1->isReadOnly());
        QCOMPARE(Form5->Memo1->lineWrapMode(), QPlainTextEdit::NoWrap);
    }
};

QTEST_MAIN(TestViewer)
#include "test_viewer.moc"
