// The desktop's menu lists desktop entries (.desktop files in the freedesktop
// desktop entry format), not Windows shortcuts. A shortcut saved into the
// applications folder gets an entry of the same name beside it, which
// starts the target as the shell would (Shell::resolve): a Windows program
// through Wine, an executable directly, with the shortcut's arguments.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace DesktopEntry {

struct Shortcut {
    QString name; // the shortcut's file name without ".lnk"
    QString description;
    QString workingDirectory;
    QString target;
    QString arguments;
};

// A value escaped for the format (backslash, newline, tab, carriage return,
// a leading blank). Empty optional when the value holds another control
// character, or a file name's byte that is not UTF-8, which the format
// cannot carry.
std::optional<QString> escapeValue(const QString& value);

// The Exec value (before escapeValue) that starts `program` with
// `arguments`: each one quoted where it holds a reserved character, "%"
// doubled.
QString execValue(const QString& program, const QStringList& arguments);

// The entry's text with the given Icon value.
std::optional<QString> text(const Shortcut& shortcut, const QString& icon);

// The target's first icon as a PNG under the user's icons folder, when the
// target is a Windows program with an icon and icoutils is installed; else
// a standard icon name.
QString icon(const QString& program, const QString& entryPath);

// Writes `bytes` to `path` through a temporary file beside it that replaces
// the old file only once complete; on failure the old file is left as it
// was and the temporary file removed. (The link writer uses it too.)
bool replaceFile(const QString& path, const QByteArray& bytes);

// Writes the entry at `entryPath`, replacing an older one only once the new
// one is complete, then tells the menu database when
// update-desktop-database is installed. False when it cannot be written.
// A shortcut without a target or name gets no entry (and that is no
// failure).
bool write(const QString& entryPath, const Shortcut& shortcut);

}
