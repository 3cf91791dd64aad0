#include "Shell.h"

#include "AnsiText.h"
#include "CurrentDirectory.h"
#include "FileNames.h"
#include "ReleaseFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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
    // In bytes: the current directory's name need not be UTF-8.
    std::string resolved = ReleaseFiles::resolve(FileNames::encode(file));
    struct stat status;
    if (::stat(resolved.c_str(), &status) == 0) {
        if (resolved[0] != '/')
            resolved = CurrentDirectory::withSeparator(CurrentDirectory::get()) + resolved;
        return FileNames::decode(resolved);
    }
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
    const std::string bytes = FileNames::encode(path);
    struct stat status;
    const bool exists = ::stat(bytes.c_str(), &status) == 0;
    if (exists && S_ISREG(status.st_mode) && ::access(bytes.c_str(), X_OK) == 0)
        return { path, QProcess::splitCommand(parameters) };
    // A file that is not there fails quietly, as the shell's would.
    if (!exists && !isAddress(file))
        return {};
    return { opener, { path } };
}

namespace {

// Starts the program in the current directory, detached (a grandchild, so
// no zombie is left to reap). Program and arguments go to the system as the
// bytes they stand for: a folder name that is not UTF-8 stays as it is.
void startDetached(const Command& command)
{
    std::vector<std::string> bytes { FileNames::encode(command.program) };
    for (const QString& argument : command.arguments)
        bytes.push_back(FileNames::encode(argument));
    std::vector<char*> argv;
    for (std::string& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);

    // Between fork and exec only async-signal-safe calls: everything is
    // prepared above.
    const pid_t child = fork();
    if (child < 0)
        return;
    if (child == 0) {
        setsid();
        if (fork() == 0) {
            execv(argv[0], argv.data());
            _exit(127);
        }
        _exit(0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) { }
}

}

void ShellExecute(const QString& file, const QString& parameters)
{
    const Command command = resolve(file, parameters);
    if (command.program.isEmpty())
        return;
    startDetached(command);
}

}
