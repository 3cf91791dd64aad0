// Stand-in for the shell's link object: it takes the values of a shortcut
// the way the shell's link interface does and saves them as a Windows
// shortcut file (.lnk) in the documented binary format: the shell link
// header (show command, hot key, icon index, the target's attributes, times
// and size), link info with the target as a Windows path (Wine's Z: drive for
// a path of this system) so that Windows and Wine resolve it, and Unicode
// string data for the description, the target as relative path, the working
// directory, the arguments and the icon location.
//
// Saving into the desktop's applications folder also writes a desktop entry
// beside the shortcut, since the desktop's menu ignores .lnk files.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

class LinkWriter {
public:
    // The link object; null when it cannot be made.
    static std::unique_ptr<LinkWriter> create() noexcept;

    void SetDescription(const QString& description) { m_description = description; }
    void SetPath(const QString& target) { m_target = target; }
    void SetWorkingDirectory(const QString& directory) { m_workingDirectory = directory; }
    void SetArguments(const QString& arguments) { m_arguments = arguments; }
    void SetShowCmd(qint32 showCommand) { m_showCommand = showCommand; }
    // Low byte a virtual-key code, high byte 1 Shift, 2 Control, 4 Alt.
    void SetHotkey(quint16 hotKey) { m_hotKey = hotKey; }
    void SetIconLocation(const QString& file, qint32 index)
    {
        m_iconFile = file;
        m_iconIndex = index;
    }

    // The shortcut file's contents.
    QByteArray bytes() const;

    // Writes the shortcut to `fileName`, replacing an existing file only once
    // the new one is complete. False when it cannot be written (empty name,
    // missing folder, no permission, disk full). A desktop entry that cannot
    // be written beside it is reported on standard error and fails nothing.
    bool Save(const QString& fileName) const;

    // The format counts each string's UTF-16 units in 16 bits; longer
    // strings are cut to this.
    static constexpr qsizetype MaxStringUnits = 0xFFFF;

    // Header offsets of the show command and the hot key.
    static constexpr int ShowCommandOffset = 0x3C;
    static constexpr int HotKeyOffset = 0x40;

private:
    LinkWriter() = default;

    QString m_description;
    QString m_target;
    QString m_workingDirectory;
    QString m_arguments;
    QString m_iconFile;
    qint32 m_iconIndex = 0;
    qint32 m_showCommand = 0;
    quint16 m_hotKey = 0;
};
