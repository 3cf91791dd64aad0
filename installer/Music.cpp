#include "Music.h"

#include "Application.h"
#include "Dialogs.h"
#include "Errors.h"
#include "Midas.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QResource>

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

// The two process-wide handles of the music; nothing else reads them.
MIDASmodule g_module = nullptr;
MIDASmodulePlayHandle g_playHandle = 0;

void showNotice(const char* text)
{
    Dialogs::show({ QGuiApplication::applicationDisplayName(), QString::fromLatin1(text), Dialogs::Icon::None, Dialogs::Buttons::Ok });
}

void musicFailure()
{
    const int error = MIDASgetLastError();
    const QString text = QStringLiteral("MIDAS error: ") + QString::fromUtf8(MIDASgetErrorMessage(error));
    Dialogs::show({ QStringLiteral("Information"), text, Dialogs::Icon::Information, Dialogs::Buttons::Ok });
    MIDASclose();
    TerminateInstaller();
}

// The user's own temporary folder. QDir::tempPath() turns a TMPDIR that does
// not exist into an empty path, which would put the copy at the root.
QString temporaryFolder()
{
    const QString chosen = qEnvironmentVariable("TMPDIR");
    return chosen.isEmpty() ? QDir::tempPath() : chosen;
}

// Writes the module to a new file that only this user can read, created
// exclusively so that nobody can have put anything in its place; returns
// its path.
QByteArray writeTemporaryCopy(const char* bytes, qint64 size)
{
    QByteArray path = QFile::encodeName(temporaryFolder() + QStringLiteral("/oRb-XXXXXX"));
    const int fd = mkstemp(path.data()); // mode 0600, O_EXCL
    if (fd < 0)
        throw EInOutError::fromErrno(errno);
    qint64 written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, bytes + written, size_t(size - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(path.constData()); // a fresh name each run: leave no half copy behind
            throw EInOutError::fromErrno(error);
        }
        written += n;
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(path.constData());
        throw EInOutError::fromErrno(error);
    }
    return path;
}

}

bool StartMusic(const QString& resource)
{
    // A start begins from "not started" (it runs once a program, but the
    // windows can be made again in one process).
    g_module = nullptr;
    g_playHandle = 0;

    // Find, size, load and lock: the resource steps over Qt's resources.
    const QResource module(resource);
    if (!module.isValid()) {
        showNotice("Could not find the resource");
        return false;
    }
    const qint64 size = module.uncompressedSize();
    if (size == 0) {
        showNotice("Nothing to load - size = 0");
        return false;
    }
    // Loading unpacks a compressed resource, which fails on damaged data.
    const QByteArray loaded = module.uncompressedData();
    if (loaded.isEmpty()) {
        showNotice("Resource Load Failure");
        return false;
    }
    // Locking yields the resource's bytes, as many as its size says; data
    // that unpacks to another length cannot be handed on as the resource.
    if (loaded.size() != size) {
        showNotice("Resource Lock Failure");
        return false;
    }

    const QByteArray copy = writeTemporaryCopy(loaded.constData(), size);

    MIDASstartup();
    if (!MIDASinit()) {
        musicFailure();
        return false;
    }
    if (!MIDASstartBackgroundPlay(0)) {
        musicFailure();
        return false;
    }
    g_module = MIDASloadModule(copy.constData());
    if (!g_module) {
        musicFailure();
        return false;
    }
    g_playHandle = MIDASplayModule(g_module, true);
    if (!g_playHandle) {
        musicFailure();
        return false;
    }
    ::unlink(copy.constData()); // a failed deletion is not reported
    return true;
}

void HoldMusicStart()
{
    MIDASholdBackgroundWork();
}

void ReleaseMusicStart()
{
    MIDASreleaseBackgroundWork();
}

void StopMusic()
{
    MIDASstopModule(g_playHandle);
    MIDASfreeModule(g_module);
    MIDASstopBackgroundPlay();
    MIDASclose();
    g_playHandle = 0;
}
