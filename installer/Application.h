// Program start of the installer: its six windows, created once in order and
// living until the program ends.
#pragma once

#include <QString>

struct InstallerSetup {
    // The folder that holds the installer program: install.ini is read here.
    QString programFolder;
    // The music module among the program's resources.
    QString musicResource = QStringLiteral(":/MODULE/MERIK");
};

// Creates TForm1 .. TForm6 in this order into Form1 .. Form6; only the main
// window's creation handler runs before the others exist.
void CreateInstallerWindows(const InstallerSetup& setup);
void DestroyInstallerWindows();

const InstallerSetup& CurrentSetup();

// Ends the program in the orderly way without showing the main window (the
// music library's failure routine does this from inside start-up).
void TerminateInstaller();
bool InstallerTerminated();
