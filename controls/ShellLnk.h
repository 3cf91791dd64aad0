// A non-visual component that writes one Windows shortcut file (.lnk): the
// program it starts, that program's working directory and arguments, a
// description, an icon, a hot key and the window state to start in. The
// shortcut's location is a full path, or a bare name that the component
// places in one of the current user's shell folders.
//
// The published properties are loaded in this order, which matters because
// the FileName and ShellFolder setters act on each other: Arguments,
// Description, FileIcon, HotKey, FileName, Language, Target, WindowState,
// WorkingDir, ShellFolder.
#pragma once

#include "Errors.h"
#include "FileIcon.h"

#include <QObject>
#include <QString>

enum TLanguage : quint8 { lgFrench = 0, lgEnglish = 1 };

enum TShellFolder : quint8 {
    sfNone, // FileName is a free path
    sfDesktop,
    sfFavorites,
    sfFonts,
    sfPersonal,
    sfPrograms,
    sfRecent,
    sfSendTo,
    sfStartMenu,
    sfStartup,
    sfTemplates,
};

enum TWindowState : quint8 { wsNormal, wsMinimized, wsMaximized };

// A key code in the low 13 bits; 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt.
using TShortCut = quint16;

// The only error CreateLink raises itself.
class EKvShellLink : public Exception {
public:
    using Exception::Exception;
};

class TKvShellLink : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Arguments READ arguments WRITE setArguments)
    Q_PROPERTY(QString Description READ description WRITE setDescription)
    Q_PROPERTY(TFileIcon* FileIcon READ fileIcon WRITE setFileIcon)
    Q_PROPERTY(quint16 HotKey READ hotKey WRITE setHotKey)
    Q_PROPERTY(QString FileName READ fileName WRITE setFileName)
    Q_PROPERTY(TLanguage Language READ language WRITE setLanguage)
    Q_PROPERTY(QString Target READ target WRITE setTarget)
    Q_PROPERTY(TWindowState WindowState READ windowState WRITE setWindowState)
    Q_PROPERTY(QString WorkingDir READ workingDir WRITE setWorkingDir)
    Q_PROPERTY(TShellFolder ShellFolder READ shellFolder WRITE setShellFolder)
public:
    // The process-wide message set, replaced whenever any component's
    // Language is assigned.
    struct Messages {
        const char* linkObjectFailed;
        const char* persistFileFailed;
        const char* writeError;
    };
    static const Messages& messages();

    // Selects the French messages, as every new component does.
    explicit TKvShellLink(QObject* owner = nullptr);
    ~TKvShellLink() override;

    QString arguments() const { return m_arguments; }
    void setArguments(const QString& arguments) { m_arguments = arguments; }
    QString description() const { return m_description; }
    void setDescription(const QString& description) { m_description = description; }
    QString target() const { return m_target; }
    void setTarget(const QString& target) { m_target = target; }
    QString workingDir() const { return m_workingDir; }
    void setWorkingDir(const QString& directory) { m_workingDir = directory; }

    // The owned icon descriptor; writing copies the given one into it.
    TFileIcon* fileIcon() const { return m_fileIcon; }
    void setFileIcon(const TFileIcon* icon) { m_fileIcon->Assign(icon); }

    TShortCut hotKey() const;
    void setHotKey(TShortCut shortCut);
    // The hot key as the link stores it: low byte the key, high byte
    // 1 Shift, 2 Control, 4 Alt.
    quint16 hotKeyWord() const { return m_hotKey; }

    TWindowState windowState() const;
    void setWindowState(TWindowState state);
    qint32 showCommand() const { return m_showCommand; }

    QString fileName() const { return m_fileName; }
    // Places the name in ShellFolder (when set) and ensures ".lnk"; the
    // bare ".lnk" gives "". Assigning the stored value does nothing.
    void setFileName(const QString& fileName);

    TLanguage language() const { return m_language; }
    void setLanguage(TLanguage language);

    TShellFolder shellFolder() const { return m_shellFolder; }
    // Moves the stored FileName's name into the new folder; sfNone leaves
    // FileName as it is.
    void setShellFolder(TShellFolder folder);

    // Writes (or rewrites) the shortcut file named by FileName; raises
    // EKvShellLink with the current message set's text on failure.
    void CreateLink();

    // Strings handed to the link hold at most this many characters, and the
    // shortcut's own path this many.
    static constexpr qsizetype MaxTextLength = 255;
    static constexpr qsizetype MaxPathLength = 259;

private:
    QString m_fileName;
    TLanguage m_language = lgFrench;
    QString m_target;
    QString m_workingDir;
    QString m_description;
    QString m_arguments;
    qint32 m_showCommand = 0;
    quint16 m_hotKey = 0;
    TFileIcon* m_fileIcon;
    TShellFolder m_shellFolder = sfNone;
};
