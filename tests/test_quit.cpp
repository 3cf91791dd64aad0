// The quit confirmation, asked from the main window's third row.
#include "Application.h"
#include "Midas.h"
#include "TestSupport.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Unit6.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtTest>

using namespace TestSupport;

class TestQuit : public QObject {
    Q_OBJECT
    QTemporaryDir m_program;
    std::unique_ptr<DialogRecorder> m_boxes;
    QStringList m_musicCalls;

private slots:
    void init()
    {
        writeFile(m_program.filePath("install.ini"),
            "Release title: Quit test\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\nBanner       : scrolling\r\n");
        m_boxes = std::make_unique<DialogRecorder>();
        m_musicCalls.clear();
        MIDASsetCallObserver([this](const std::string& call) { m_musicCalls << QString::fromStdString(call); });
        CreateInstallerWindows({ m_program.path() });
        Form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
    }
    void cleanup()
    {
        MIDASsetCallObserver({});
        DestroyInstallerWindows();
        m_boxes.reset();
    }

    void layoutAndPictures()
    {
        QCOMPARE(Form6->size(), QSize(253, 123));
        QVERIFY(Form6->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(Form6->isHidden());
        QCOMPARE(Form6->Image1->picture(), Form2->Image1->picture());
        QCOMPARE(Form6->Image2->picture(), Form3->Image2->picture());
        QVERIFY(!Form6->Image1->picture().isNull());
        QCOMPARE(Form6->Label3->text(), QStringLiteral("About to quit..."));
        QCOMPARE(Form6->Banner1->geometry(), QRect(2, 47, 248, 16));
        QCOMPARE(Form6->Banner1->scrollInterval(), quint16(20));
        QCOMPARE(Form6->Banner1->scrollPixels(), quint16(4));
        // Loaded with the window: it scrolls while hidden.
        QVERIFY(Form6->Banner1->scrollEnabled());
    }

    void cancelReturnsAUsableMainWindow()
    {
        QVERIFY(m_boxes->boxes().empty());
        QTest::mouseClick(Form1->Image7, Qt::LeftButton, {}, QPoint(30, 5));
        QVERIFY(Form6->isVisible());
        QVERIFY(!Form1->isEnabled());
        QTest::mouseClick(Form6->Label1, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(Form6->isHidden());
        QVERIFY(Form1->isEnabled());
        QVERIFY(Form1->isVisible());
        // Usable: the rows light and INSTALL opens the chooser.
        QTest::mouseMove(Form1->Image2, QPoint(100, 5));
        QVERIFY(Form1->Image5->isVisible());
        QTest::mouseClick(Form1->Image5, Qt::LeftButton, {}, QPoint(30, 5));
        QVERIFY(Form2->isVisible());
    }

    void okClosesTheMainWindowAndStopsTheMusic()
    {
        Form1->Image7Click();
        m_musicCalls.clear();
        QTest::mouseClick(Form6->Label4, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!Form1->isVisible());
        QCOMPARE(m_musicCalls.size(), 4);
        QVERIFY(m_musicCalls[0].startsWith("MIDASstopModule"));
        QVERIFY(m_musicCalls[1].startsWith("MIDASfreeModule"));
        QVERIFY(m_musicCalls[2].startsWith("MIDASstopBackgroundPlay"));
        QVERIFY(m_musicCalls[3].startsWith("MIDASclose"));
    }

    void centredTheFirstTimeOnly()
    {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        Form1->Image7Click();
        const QPoint first = Form6->frameGeometry().topLeft();
        QCOMPARE(first, QPoint((screen.width() - Form6->frameGeometry().width()) / 2,
                            (screen.height() - Form6->frameGeometry().height()) / 2));
        Form6->Label1Click();
        Form6->move(first + QPoint(40, 30));
        Form1->Image7Click();
        QCOMPARE(Form6->frameGeometry().topLeft(), first + QPoint(40, 30));
    }
};

QTEST_MAIN(TestQuit)
#include "test_quit.moc"
