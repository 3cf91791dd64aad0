#include "ShellLnk.h"

#include "LinkWriter.h"
#include "ShellFolders.h"

namespace {

constexpr TKvShellLink::Messages FrenchMessages {
    "\"CoCreateInstance\" a échoué.",
    "\"PersistFile QueryInterface\" a échoué.",
    "Erreur en écriture.",
};

constexpr TKvShellLink::Messages EnglishMessages {
    "\"CoCreateInstance\" failed.",
    "\"PersistFile QueryInterface\" failed.",
    "Write error.",
};

// Shared by every component of the process.
const TKvShellLink::Messages* currentMessages = &FrenchMessages;

// The names the shell keeps the folders under, in TShellFolder order.
const char* const FolderValueNames[] = {
    nullptr, "Desktop", "Favorites", "Fonts", "Personal", "Programs",
    "Recent", "SendTo", "Start Menu", "Startup", "Templates",
};

QString folderPath(TShellFolder folder)
{
    return ShellFolders::path(QString::fromLatin1(FolderValueNames[folder]));
}

bool isSeparator(QChar c)
{
    return c == u'/' || c == u'\\' || c == u':';
}

// The text after the last separator.
QString namePart(const QString& path)
{
    qsizetype i = path.size();
    while (i > 0 && !isSeparator(path.at(i - 1)))
        --i;
    return path.mid(i);
}

// From the last "." of the name part on; empty when it has none.
QString extension(const QString& path)
{
    const QString name = namePart(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot);
}

// Upper-cases a-z only; other letters compare as they are.
QString asciiUpper(QString text)
{
    for (QChar& c : text) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 'a' + 'A');
    }
    return text;
}

// A string as the 8-bit buffers of the link interface carry it.
QString limited(const QString& text)
{
    if (text.size() <= TKvShellLink::MaxTextLength)
        return text;
    qsizetype units = TKvShellLink::MaxTextLength;
    if (text.at(units - 1).isHighSurrogate())
        --units;
    return text.left(units);
}

constexpr qint32 SwShowNormal = 1;
constexpr qint32 SwShowMaximized = 3;
constexpr qint32 SwShowMinNoActive = 7;

constexpr TShortCut ShiftFlag = 0x2000;
constexpr TShortCut CtrlFlag = 0x4000;
constexpr TShortCut AltFlag = 0x8000;
constexpr quint16 HotKeyShift = 1;
constexpr quint16 HotKeyControl = 2;
constexpr quint16 HotKeyAlt = 4;

}

const TKvShellLink::Messages& TKvShellLink::messages()
{
    return *currentMessages;
}

TKvShellLink::TKvShellLink(QObject* owner)
    : QObject(owner)
    , m_fileIcon(new TFileIcon(this))
{
    setLanguage(lgFrench);
}

TKvShellLink::~TKvShellLink() = default;

TShortCut TKvShellLink::hotKey() const
{
    const quint16 modifiers = m_hotKey >> 8;
    TShortCut shortCut = m_hotKey & 0xFF;
    if (modifiers & HotKeyShift)
        shortCut += ShiftFlag;
    if (modifiers & HotKeyControl)
        shortCut += CtrlFlag;
    if (modifiers & HotKeyAlt)
        shortCut += AltFlag;
    return shortCut;
}

void TKvShellLink::setHotKey(TShortCut shortCut)
{
    const quint16 key = shortCut & 0x1FFF;
    quint16 modifiers = key >> 8;
    if (shortCut & ShiftFlag)
        modifiers += HotKeyShift;
    if (shortCut & CtrlFlag)
        modifiers += HotKeyControl;
    if (shortCut & AltFlag)
        modifiers += HotKeyAlt;
    m_hotKey = quint16(((modifiers & 0xFF) << 8) | (key & 0xFF));
}

TWindowState TKvShellLink::windowState() const
{
    switch (m_showCommand) {
    case SwShowMinNoActive: return wsMinimized;
    case SwShowMaximized: return wsMaximized;
    default: return wsNormal;
    }
}

void TKvShellLink::setWindowState(TWindowState state)
{
    switch (state) {
    case wsMinimized: m_showCommand = SwShowMinNoActive; break;
    case wsMaximized: m_showCommand = SwShowMaximized; break;
    default: m_showCommand = SwShowNormal; break;
    }
}

void TKvShellLink::setFileName(const QString& fileName)
{
    if (fileName == m_fileName)
        return;
    QString value = fileName;
    // The folder is looked up anew on every assignment.
    if (m_shellFolder != sfNone)
        value = folderPath(m_shellFolder) + QLatin1Char('/') + namePart(value);
    if (asciiUpper(extension(value)) != u".LNK")
        value += QStringLiteral(".lnk");
    if (asciiUpper(namePart(value)) == u".LNK")
        value.clear();
    m_fileName = value;
}

void TKvShellLink::setLanguage(TLanguage language)
{
    m_language = language;
    currentMessages = language == lgEnglish ? &EnglishMessages : &FrenchMessages;
}

void TKvShellLink::setShellFolder(TShellFolder folder)
{
    if (folder == m_shellFolder)
        return;
    m_shellFolder = folder;
    if (folder != sfNone)
        m_fileName = folderPath(folder) + QLatin1Char('/') + namePart(m_fileName);
}

void TKvShellLink::CreateLink()
{
    // The link object is released on every way out, errors included.
    const std::unique_ptr<LinkWriter> link = LinkWriter::create();
    if (!link)
        throw EKvShellLink(messages().linkObjectFailed);
    // Here the link object saves itself; there is no separate persist-file
    // interface to ask for, so the second message has no occasion.

    link->SetDescription(limited(m_description));
    link->SetPath(limited(m_target));
    link->SetWorkingDirectory(limited(m_workingDir));
    link->SetArguments(limited(m_arguments));
    link->SetShowCmd(m_showCommand);
    link->SetHotkey(m_hotKey);
    link->SetIconLocation(limited(m_fileIcon->fileName()), m_fileIcon->iconIndex());

    // A path that does not fit the shell's path buffer is not converted at
    // all, and Save refuses the empty path: a shortened path would name
    // another file.
    const QString path = m_fileName.size() <= MaxPathLength ? m_fileName : QString();
    // The folder comes into being with the first file written into it,
    // not when it is looked up.
    if (m_shellFolder != sfNone && !path.isEmpty())
        ShellFolders::create(QString::fromLatin1(FolderValueNames[m_shellFolder]));
    if (!link->Save(path))
        throw EKvShellLink(messages().writeError);
}
