#include "DesktopEntry.h"

#include "AnsiText.h"
#include "Shell.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace DesktopEntry {

namespace {

QString standardIcon()
{
    return QStringLiteral("application-x-executable");
}

// Helper tools get this long; a tool that hangs must not hold up the
// installation.
constexpr int ToolTimeoutMs = 10000;

bool isWindowsProgram(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == u"exe" || suffix == u"com" || suffix == u"bat";
}

// What the entry starts, and the Windows program behind it (if any).
struct Launch {
    Shell::Command command;
    QString tryExec;
    QString windowsProgram;
};

Launch launchOf(const Shortcut& shortcut)
{
    Launch launch { Shell::resolve(shortcut.target, shortcut.arguments), {}, {} };
    if (launch.command.program.isEmpty()) {
        // The shell has nothing to start it with yet (no Wine, or no
        // xdg-open for a document): the entry names that starter, found when
        // launched, and TryExec keeps it out of the menu until it is there.
        const QString path = QFileInfo(AnsiText::releasePath(shortcut.target)).absoluteFilePath();
        if (isWindowsProgram(path)) {
            launch.command = { QStringLiteral("wine"), QStringList { path } + QProcess::splitCommand(shortcut.arguments) };
            launch.tryExec = QStringLiteral("wine");
        } else {
            launch.command = { QStringLiteral("xdg-open"), { path } };
            launch.tryExec = QStringLiteral("xdg-open");
        }
    }
    const QString first = launch.command.arguments.value(0);
    if (QFileInfo(launch.command.program).fileName() == u"wine" && isWindowsProgram(first))
        launch.windowsProgram = first;
    return launch;
}

// Runs a helper tool and returns its standard output; empty optional when
// it did not run to a successful end.
std::optional<QByteArray> run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(ToolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

// A file name for the icon: the entry's name made safe, and a short hash of
// the entry's path so that two entries never share one.
QString iconStem(const QString& entryPath)
{
    QString stem = QFileInfo(entryPath).completeBaseName();
    for (QChar& c : stem) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != u'-' && c != u'_')
            c = u'_';
    }
    const QByteArray hash = QCryptographicHash::hash(QFile::encodeName(entryPath), QCryptographicHash::Sha1).toHex();
    return stem + QLatin1Char('-') + QString::fromLatin1(hash.left(8));
}

bool isReserved(QChar c)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    return reserved.contains(c);
}

QString quoted(const QString& argument)
{
    bool needsQuotes = argument.isEmpty();
    for (QChar c : argument)
        needsQuotes = needsQuotes || isReserved(c);
    if (!needsQuotes)
        return argument;
    QString out = QStringLiteral("\"");
    for (QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            out += QLatin1Char('\\');
        out += c;
    }
    return out + QLatin1Char('"');
}

}

bool replaceFile(const QString& path, const QByteArray& bytes)
{
    if (path.isEmpty())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Check the flush: commit() would otherwise rename a file whose buffered
    // tail failed to reach the disk (full disk, file size limit).
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

std::optional<QString> escapeValue(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u' ' && i == 0)
            out += QStringLiteral("\\s"); // a reader would drop it otherwise
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return std::nullopt;
        else if (c.isHighSurrogate() && i + 1 < value.size() && value.at(i + 1).isLowSurrogate()) {
            out += c;
            out += value.at(++i);
        } else if (c.isSurrogate())
            return std::nullopt; // a file name byte that is not UTF-8: the entry is UTF-8 text
        else
            out += c;
    }
    return out;
}

QString execValue(const QString& program, const QStringList& arguments)
{
    QStringList words { quoted(program) };
    for (const QString& argument : arguments)
        words << quoted(argument);
    // "%" starts a field code; a literal one is doubled.
    return words.join(QLatin1Char(' ')).replace(QLatin1Char('%'), QStringLiteral("%%"));
}

std::optional<QString> text(const Shortcut& shortcut, const QString& icon)
{
    const Launch launch = launchOf(shortcut);
    QString out = QStringLiteral("[Desktop Entry]\nType=Application\n");
    bool ok = true;
    auto line = [&](const char* key, const QString& value) {
        const std::optional<QString> escaped = escapeValue(value);
        ok = ok && escaped.has_value();
        if (escaped)
            out += QLatin1String(key) + QLatin1Char('=') + *escaped + QLatin1Char('\n');
    };
    line("Name", shortcut.name);
    if (!shortcut.description.isEmpty())
        line("Comment", shortcut.description);
    if (!shortcut.workingDirectory.isEmpty())
        line("Path", shortcut.workingDirectory);
    line("Exec", execValue(launch.command.program, launch.command.arguments));
    if (!launch.tryExec.isEmpty())
        line("TryExec", launch.tryExec);
    line("Icon", icon);
    out += QStringLiteral("Terminal=false\n");
    if (!ok)
        return std::nullopt;
    return out;
}

QString icon(const QString& program, const QString& entryPath)
{
    const QString wrestool = QStandardPaths::findExecutable(QStringLiteral("wrestool"));
    const QString icotool = QStandardPaths::findExecutable(QStringLiteral("icotool"));
    if (program.isEmpty() || wrestool.isEmpty() || icotool.isEmpty())
        return standardIcon();
    QTemporaryDir work;
    if (!work.isValid())
        return standardIcon();

    // The first icon group, as the program lists it.
    const auto groups = run(wrestool, { QStringLiteral("-l"), QStringLiteral("--type=14"), program });
    if (!groups)
        return standardIcon();
    static const QRegularExpression group(QStringLiteral("--name=(?:'([^']*)'|(\\S+)) --language=(\\S+)"));
    const QRegularExpressionMatch first = group.match(QString::fromLocal8Bit(*groups));
    if (!first.hasMatch())
        return standardIcon();
    const QString name = first.captured(1).isEmpty() ? first.captured(2) : first.captured(1);
    const QString ico = work.filePath(QStringLiteral("icon.ico"));
    if (!run(wrestool, { QStringLiteral("-x"), QStringLiteral("--type=14"), QStringLiteral("--name=") + name,
                         QStringLiteral("--language=") + first.captured(3), QStringLiteral("-o"), ico, program }))
        return standardIcon();

    // Its largest, deepest image.
    const auto images = run(icotool, { QStringLiteral("-l"), ico });
    if (!images)
        return standardIcon();
    static const QRegularExpression image(QStringLiteral("--index=(\\d+) --width=(\\d+) --height=(\\d+) --bit-depth=(\\d+)"));
    QString best;
    qint64 bestScore = -1;
    for (auto it = image.globalMatch(QString::fromLocal8Bit(*images)); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const qint64 score = m.captured(2).toLongLong() * m.captured(3).toLongLong() * 64 + m.captured(4).toLongLong();
        if (score > bestScore) {
            bestScore = score;
            best = m.captured(1);
        }
    }
    const QString png = work.filePath(QStringLiteral("icon.png"));
    if (best.isEmpty() || !run(icotool, { QStringLiteral("-x"), QStringLiteral("--index=") + best, QStringLiteral("-o"), png, ico }))
        return standardIcon();

    QFile extracted(png);
    if (!extracted.open(QIODevice::ReadOnly))
        return standardIcon();
    const QByteArray bytes = extracted.readAll();
    const QImage picture = QImage::fromData(bytes, "PNG");
    if (picture.isNull())
        return standardIcon();

    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/icons/hicolor/%1x%2/apps").arg(picture.width()).arg(picture.height());
    const QString target = folder + QLatin1Char('/') + iconStem(entryPath) + QStringLiteral(".png");
    if (!QDir().mkpath(folder) || !replaceFile(target, bytes))
        return standardIcon();
    return target;
}

bool write(const QString& entryPath, const Shortcut& shortcut)
{
    if (shortcut.name.isEmpty() || shortcut.target.isEmpty())
        return true;
    const std::optional<QString> contents = text(shortcut, icon(launchOf(shortcut).windowsProgram, entryPath));
    if (!contents)
        return false;
    if (!replaceFile(entryPath, contents->toUtf8()))
        return false;

    // The menu picks the entry up by itself too; the database only speeds
    // that up, so its outcome does not matter.
    const QString updater = QStandardPaths::findExecutable(QStringLiteral("update-desktop-database"));
    if (!updater.isEmpty())
        run(updater, { QStringLiteral("-q"), QFileInfo(entryPath).absolutePath() });
    return true;
}

}
