#include "Application.h"
#include "FileNames.h"
#include "FontConfiguration.h"
#include "Music.h"
#include "Openmpt.h"
#include "RarOutput.h"
#include "Unit1.h"

#include <QApplication>
#include <future>
#include <system_error>

namespace {

// Work begun on a thread of its own, or, when no thread is to be had, done
// where its result is first waited for.
template <typename Work>
auto startOnThread(Work work)
{
    try {
        return std::async(std::launch::async, work);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, work);
    }
}

}

int main(int argc, char* argv[])
{
    // Before the music starts (its audio leaves these signals alone): an
    // installer ended from outside takes its half-written files with it.
    RarOutput::removePartsOnSignals();
    // Fontconfig parses its XML configuration (some 3 ms), and the music
    // decoder's libraries load, on a thread of their own while the
    // application connects to the display.
    auto libraries = startOnThread([] {
        FontConfiguration::load();
        Openmpt::get();
    });
    // The banner repaints its strip a hundred times a second. Through shared
    // memory each repaint first waits for the display server to have read
    // the last one, a round trip that also wakes the connection's reader
    // thread; sent over the connection, a strip that size needs no wait.
    // The programs the installer starts keep the usual transfer.
    const bool transferChosen = qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM");
    if (!transferChosen)
        qputenv("QT_XCB_NO_MITSHM", "1");
    QApplication app(argc, argv);
    if (!transferChosen)
        qunsetenv("QT_XCB_NO_MITSHM");
    // The name, not the display name: X11 would append a display name to every window title.
    QApplication::setApplicationName(QStringLiteral("MERIK-Installer"));
    libraries.wait();
    const InstallerSetup setup { FileNames::programFolder() };
    // The music starts with the main window, but its threads wait until the
    // windows are made: on a two-core machine they held the first frame back
    // by a quarter.
    HoldMusicStart();
    CreateMainWindow(setup);
    if (InstallerTerminated())
        return 0;
    Form1->show();
    // The other five windows are made once the main window is on the
    // screen; no input is handled before they exist.
    WaitForFirstFrame(Form1);
    CreateSecondaryWindows();
    ReleaseMusicStart();
    const int result = QApplication::exec();
    DestroyInstallerWindows();
    return result;
}
