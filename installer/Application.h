// Program start of the installer: its six windows, created once in order and
// living until the program ends.
#pragma once

#include <QString>

class QWidget;

struct InstallerSetup {
    // The folder that holds the installer program: install.ini is read here.
    QString programFolder;
    // The music module among the program's resources.
    QString musicResource = QStringLiteral(":/MODULE/MERIK");
};

// Creates TForm1 .. TForm6 in this order into Form1 .. Form6; only the main
// window's creation handler runs before the others exist.
void CreateInstallerWindows(const InstallerSetup& setup);
// The same in two steps, so that the program can put the main window on
// the screen before it makes the other five: TForm1 alone, then TForm2 ..
// TForm6.
void CreateMainWindow(const InstallerSetup& setup);
void CreateSecondaryWindows();
// Runs the event loop without user input until `window` has been painted
// (at most `limitMs`), so that its first frame is on the screen.
void WaitForFirstFrame(QWidget* window, int limitMs = 1000);
void DestroyInstallerWindows();

const InstallerSetup& CurrentSetup();

// Ends the program in the orderly way without showing the main window (the
// music library's failure routine does this from inside start-up).
void TerminateInstaller();
bool InstallerTerminated();
