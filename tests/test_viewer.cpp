// The information-text viewer, opened from the main window's second row.
#include "Application.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "Unit5.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtTest>

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

    void unreadableFileReportsAndStaysHidden()
    {
        // A directory by that name opens but cannot be read.
        QDir(m_source.path()).mkdir("merik.nfo");
        QTest::mouseClick(Form1->Image6, Qt::LeftButton, {}, QPoint(20, 5));
        QCOMPARE(m_boxes->boxes().size(), size_t(1));
        QCOMPARE(m_boxes->boxes()[0].icon, Dialogs::Icon::Stop);
        QCOMPARE(m_boxes->texts()[0], QStringLiteral("I/O error %1.").arg(EISDIR));
        QVERIFY(!Form5->isVisible());
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
