#include "Application.h"
#include "Unit1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("MERIK-Installer"));
    CreateInstallerWindows({ QCoreApplication::applicationDirPath() });
    if (InstallerTerminated())
        return 0;
    Form1->show();
    const int result = QApplication::exec();
    DestroyInstallerWindows();
    return result;
}
