// The launcher's window as designed: frame, controls with their geometry,
// fonts, colours and texts, tab order, the hidden value holders, and the
// Quit button ending the program.
#include "TestSupport.h"
#include "Unit1.h"

#include <QFontInfo>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <memory>

class TestLauncherWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void frame();
    void controls_data();
    void controls();
    void fonts_data();
    void fonts();
    void tabOrder();
    void valueHolders();
    void background();
    void closingEndsTheProgram_data();
    void closingEndsTheProgram();

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<TestSupport::CurrentDirectoryGuard> m_cwd;
    std::unique_ptr<TestSupport::DialogRecorder> m_boxes;
    std::unique_ptr<TForm1> m_form;
};

void TestLauncherWindow::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("MERIK-Runner"));
}

// Without an autoplay.ini every control keeps its design-time state.
void TestLauncherWindow::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    m_cwd = std::make_unique<TestSupport::CurrentDirectoryGuard>();
    m_boxes = std::make_unique<TestSupport::DialogRecorder>();
    m_form = std::make_unique<TForm1>(m_folder->path() + QLatin1Char('/'));
    QCOMPARE(m_boxes->texts(), QStringList { QStringLiteral("File not found.") });
}

void TestLauncherWindow::cleanup()
{
    m_form.reset();
    m_boxes.reset();
    m_cwd.reset();
    m_folder.reset();
}

void TestLauncherWindow::frame()
{
    QCOMPARE(m_form->size(), QSize(384, 120));
    QCOMPARE(m_form->minimumSize(), QSize(384, 120));
    QCOMPARE(m_form->maximumSize(), QSize(384, 120));
    const Qt::WindowFlags flags = m_form->windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QCOMPARE(m_form->windowTitle(), QStringLiteral("MERIK Game Launcher - "));
    QCOMPARE(QFontInfo(m_form->font()).pixelSize(), 11);
}

void TestLauncherWindow::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");

    QTest::newRow("Image1") << "Image1" << QRect(-2, 0, 394, 114) << QString();
    QTest::newRow("title1") << "title1" << QRect(4, 1, 306, 18) << "Title";
    QTest::newRow("publisher") << "publisher" << QRect(11, 18, 345, 17) << "publisher";
    QTest::newRow("Label7") << "Label7" << QRect(358, 3, 24, 11) << "[oRb]";
    QTest::newRow("Button1") << "Button1" << QRect(6, 98, 75, 21) << "button 1";
    QTest::newRow("quit") << "quit" << QRect(304, 98, 75, 21) << "Quit";
    QTest::newRow("Button2") << "Button2" << QRect(88, 98, 75, 21) << "button 2";
    QTest::newRow("Button3") << "Button3" << QRect(172, 98, 72, 21) << "Button 3";
}

void TestLauncherWindow::controls()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    auto* control = m_form->findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->geometry(), geometry);
    QVERIFY(!control->isHidden());
    if (auto* label = qobject_cast<QLabel*>(control))
        QCOMPARE(label->text(), text);
    if (auto* button = qobject_cast<QPushButton*>(control)) {
        QCOMPARE(button->text(), text);
        QCOMPARE(button->toolTip(), QString()); // nothing read, so no tooltip
    }
}

void TestLauncherWindow::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<QColor>("color"); // invalid: not a label

    QTest::newRow("title1") << "title1" << 13 << true << QColor(0, 0, 0);
    QTest::newRow("publisher") << "publisher" << 11 << true << QColor(255, 128, 0);
    QTest::newRow("Label7") << "Label7" << 9 << true << QColor(61, 61, 61);
    QTest::newRow("Button1") << "Button1" << 9 << false << QColor();
    QTest::newRow("quit") << "quit" << 9 << false << QColor();
    QTest::newRow("Button2") << "Button2" << 9 << false << QColor();
    QTest::newRow("Button3") << "Button3" << 9 << false << QColor();
}

void TestLauncherWindow::fonts()
{
    QFETCH(QString, name);
    QFETCH(int, pixelSize);
    QFETCH(bool, bold);
    QFETCH(QColor, color);

    auto* control = m_form->findChild<QWidget*>(name);
    QVERIFY(control);
    const QFont font = control->font();
    QCOMPARE(font.pixelSize(), pixelSize);
    QCOMPARE(font.bold(), bold);
    // Arial, or whatever the system shows for it (Liberation Sans).
    QCOMPARE(QFontInfo(font).family(), QFontInfo(QFont(QStringLiteral("Arial"))).family());
    if (color.isValid()) {
        auto* label = qobject_cast<TLabel*>(control);
        QVERIFY(label);
        QCOMPARE(label->color(), color);
        QCOMPARE(label->palette().color(QPalette::Active, QPalette::WindowText), color);
        QVERIFY(!label->autoFillBackground());
    }
}

void TestLauncherWindow::tabOrder()
{
    QStringList order;
    QWidget* widget = m_form->findChild<QPushButton*>(QStringLiteral("Button1"));
    QVERIFY(widget);
    for (int i = 0; i < 4; ++i) {
        order << widget->objectName();
        do
            widget = widget->nextInFocusChain();
        while (!(widget->focusPolicy() & Qt::TabFocus));
    }
    QCOMPARE(order, (QStringList { "Button1", "quit", "Button2", "Button3" }));
    QCOMPARE(widget->objectName(), QStringLiteral("Button1"));
}

void TestLauncherWindow::valueHolders()
{
    const QStringList texts { "prg1", "cmd1", "prg2", "cmd2", "prg3", "cmd3" };
    for (int i = 0; i < 6; ++i) {
        auto* holder = m_form->findChild<QLabel*>(QStringLiteral("Label%1").arg(i + 1));
        QVERIFY(holder);
        QVERIFY(holder->isHidden());
        QCOMPARE(holder->text(), texts[i]);
    }
}

void TestLauncherWindow::background()
{
    auto* image = m_form->findChild<TImage*>(QStringLiteral("Image1"));
    QVERIFY(image);
    QCOMPARE(image->picture().size(), QSize(388, 113));
    QVERIFY(!image->transparent());
    // Beneath everything else, so the texts and buttons stay on top.
    QCOMPARE(m_form->children().indexOf(image), 0);
}

void TestLauncherWindow::closingEndsTheProgram_data()
{
    QTest::addColumn<bool>("byQuitButton"); // else by the close box

    QTest::newRow("Quit button") << true;
    QTest::newRow("close box") << false;
}

void TestLauncherWindow::closingEndsTheProgram()
{
    QFETCH(bool, byQuitButton);

    QVERIFY(m_form->testAttribute(Qt::WA_QuitOnClose));
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    auto* quit = m_form->findChild<QPushButton*>(QStringLiteral("quit"));
    QVERIFY(quit);
    QCOMPARE(quit->toolTip(), QString());

    // The program's own message loop must end by the click alone.
    QSignalSpy lastWindowClosed(qApp, &QGuiApplication::lastWindowClosed);
    QTimer closeIt;
    closeIt.setSingleShot(true);
    TForm1* form = m_form.get();
    connect(&closeIt, &QTimer::timeout, quit, [quit, form, byQuitButton] {
        if (byQuitButton)
            QTest::mouseClick(quit, Qt::LeftButton);
        else
            form->close(); // what the window system's close request does
    });
    closeIt.start(0);
    QTimer giveUp;
    giveUp.setSingleShot(true);
    connect(&giveUp, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    giveUp.start(5000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!m_form->isVisible());
    QCOMPARE(lastWindowClosed.count(), 1);
}

QTEST_MAIN(TestLauncherWindow)
#include "test_launcher_window.moc"
