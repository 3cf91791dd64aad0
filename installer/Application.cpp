#include "Application.h"

#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Unit4.h"
#include "Unit5.h"
#include "Unit6.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QEvent>
#include <QWidget>

namespace {
InstallerSetup g_setup;
bool g_terminated = false;
}

const InstallerSetup& CurrentSetup()
{
    return g_setup;
}

void CreateInstallerWindows(const InstallerSetup& setup)
{
    CreateMainWindow(setup);
    CreateSecondaryWindows();
}

void CreateMainWindow(const InstallerSetup& setup)
{
    // The resources live in a static library: nothing would pull them in.
    Q_INIT_RESOURCE(installer);
    Q_INIT_RESOURCE(music);
    g_setup = setup;
    g_terminated = false;
    Form1 = new TForm1();
}

void CreateSecondaryWindows()
{
    Form2 = new TForm2();
    Form3 = new TForm3();
    Form4 = new TForm4();
    Form5 = new TForm5();
    Form6 = new TForm6();
    // The steps shown while the main window is disabled stay above it; the
    // viewer, which leaves it enabled, may go behind it.
    for (TForm* step : std::initializer_list<TForm*> { Form2, Form3, Form4, Form6 })
        step->setOwner(Form1);
}

void WaitForFirstFrame(QWidget* window, int limitMs)
{
    struct PaintWatch : QObject {
        bool painted = false;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                painted = true;
            return false;
        }
    } watch;
    window->installEventFilter(&watch);
    QElapsedTimer clock;
    clock.start();
    while (!watch.painted && clock.elapsed() < limitMs && window->isVisible())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents, 10);
    window->removeEventFilter(&watch);
    // The painted frame may still wait in the connection's buffer, which the
    // event loop would only send when it next blocks.
    QGuiApplication::sync();
}

void DestroyInstallerWindows()
{
    delete Form6;
    delete Form5;
    delete Form4;
    delete Form3;
    delete Form2;
    delete Form1;
    Form6 = nullptr;
    Form5 = nullptr;
    Form4 = nullptr;
    Form3 = nullptr;
    Form2 = nullptr;
    Form1 = nullptr;
}

void TerminateInstaller()
{
    g_terminated = true;
    QCoreApplication::exit(0);
}

bool InstallerTerminated()
{
    return g_terminated;
}
