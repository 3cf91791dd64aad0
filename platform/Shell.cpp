#include "Shell.h"

#include "AnsiText.h"
#include "FileNames.h"
#include "ReleaseFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace Shell {

namespace {

bool isWindowsProgram(const QString& file)
{
    const QString suffix = QFileInfo(file).suffix().toLower();
    return suffix == u"exe" || suffix == u"com" || suffix == u"bat";
}

// The file as the shell finds it: by its path (ignoring case, as releases
// were written for such a file system), or on PATH for a bare name.
QString locate(const QString& file)
{
    const QString resolved = FileNames::decode(ReleaseFiles::resolve(FileNames::encode(file)));
    if (QFileInfo::exists(resolved))
        return QFileInfo(resolved).absoluteFilePath();
    if (!file.contains(QLatin1Char('/'))) {
        const QString onPath = QStandardPaths::findExecutable(file);
        if (!onPath.isEmpty())
            return onPath;
    }
    return file;
}

// Something the desktop opens although it is no file here ("http://...",
// "mailto:...").
bool isAddress(const QString& file)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    return scheme.match(file).hasMatch();
}

}

Command resolve(const QString& requested, const QString& parameters)
{
    if (requested.isEmpty())
        return {};
    const QString file = AnsiText::releasePath(requested);
    const QString name = QFileInfo(file).fileName().toLower();
    const QString wine = QStandardPaths::findExecutable(QStringLiteral("wine"));
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));

    if (name == u"explorer.exe")
        return { opener, { AnsiText::releasePath(parameters) } };
    if (name == u"regedit.exe") {
        if (wine.isEmpty())
            return {};
        return { wine, { QStringLiteral("regedit"), parameters } };
    }
    const QString path = locate(file);
    // Wine brings its own programs (notepad.exe...), so a Windows program
    // goes to it even when no such file is here.
    if (isWindowsProgram(path)) {
        if (wine.isEmpty())
            return {};
        return { wine, QStringList { path } + QProcess::splitCommand(parameters) };
    }
    const QFileInfo info(path);
    if (info.isFile() && info.isExecutable())
        return { path, QProcess::splitCommand(parameters) };
    // A file that is not there fails quietly, as the shell's would.
    if (!info.exists() && !isAddress(file))
        return {};
    return { opener, { path } };
}

void ShellExecute(const QString& file, const QString& parameters)
{
    const Command command = resolve(file, parameters);
    if (command.program.isEmpty())
        return;
    QProcess::startDetached(command.program, command.arguments, QDir::currentPath());
}

}
