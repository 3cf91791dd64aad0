#include "LinkWriter.h"

#include "AnsiText.h"
#include "DesktopEntry.h"
#include "ShellFolders.h"

#include <QDateTime>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>
#include <cstdio>
#include <new>

namespace {

// The shell link class identifier {00021401-0000-0000-C000-000000000046}
// as stored (the first three groups little-endian).
constexpr unsigned char LinkClsid[16] = { 0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 };

enum LinkFlag : quint32 {
    HasLinkInfo = 0x02,
    HasName = 0x04,
    HasRelativePath = 0x08,
    HasWorkingDir = 0x10,
    HasArguments = 0x20,
    HasIconLocation = 0x40,
    IsUnicode = 0x80,
};

enum FileAttribute : quint32 {
    ReadOnly = 0x01,
    Directory = 0x10,
    Archive = 0x20,
};

constexpr quint32 HeaderSize = 0x4C;
constexpr quint32 DriveFixed = 3;
constexpr quint32 VolumeIdAndLocalBasePath = 1;

void put16(QByteArray& out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void put32(QByteArray& out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

void put64(QByteArray& out, quint64 value)
{
    char bytes[8];
    qToLittleEndian(value, bytes);
    out.append(bytes, 8);
}

void putUtf16(QByteArray& out, const QString& text)
{
    for (QChar c : text)
        put16(out, c.unicode());
}

// At most `units` UTF-16 units, without splitting a surrogate pair.
QString cut(const QString& text, qsizetype units)
{
    if (text.size() <= units)
        return text;
    if (units > 0 && text.at(units - 1).isHighSurrogate())
        --units;
    return text.left(units);
}

// Times as Windows keeps them: 100-nanosecond steps since 1601.
quint64 fileTime(const QDateTime& time)
{
    if (!time.isValid())
        return 0;
    const qint64 msecs = time.toMSecsSinceEpoch() + 11644473600000LL;
    return msecs < 0 ? 0 : quint64(msecs) * 10000;
}

// The target as Windows (or Wine, whose Z: drive is this system's root)
// would find it; empty for a relative path, which has no base to resolve.
QString windowsPath(const QString& target)
{
    static const QRegularExpression drivePath(QStringLiteral("^[A-Za-z]:[\\\\/]"));
    QString path;
    if (drivePath.match(target).hasMatch())
        path = target;
    else if (target.startsWith(QLatin1Char('/')))
        path = QStringLiteral("Z:") + QDir::cleanPath(target);
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return path;
}

// The 8-bit form of a path in the link info; characters outside Latin-1
// become "?" (the Unicode form beside it keeps them).
QByteArray ansi(const QString& text, bool* exact)
{
    QByteArray out;
    *exact = true;
    for (char32_t c : QStringView(text).toUcs4()) {
        if (c < 0x80) {
            out.append(char(c));
            continue;
        }
        // Latin-1 is stored, though the reader's code page may read it
        // otherwise; the Unicode form is what counts.
        out.append(c >= 0xA0 && c <= 0xFF ? char(c) : '?');
        *exact = false;
    }
    return out;
}

// Link info locating the target on a local fixed volume.
QByteArray linkInfo(const QString& localPath)
{
    bool exact = false;
    const QByteArray ansiPath = ansi(localPath, &exact);
    const quint32 headerSize = exact ? 0x1C : 0x24;

    QByteArray volume;
    put32(volume, 0x11); // size: four fields and the empty label
    put32(volume, DriveFixed);
    put32(volume, 0); // serial number
    put32(volume, 0x10); // label offset
    volume.append('\0');

    const quint32 volumeOffset = headerSize;
    const quint32 basePathOffset = volumeOffset + quint32(volume.size());
    const quint32 suffixOffset = basePathOffset + quint32(ansiPath.size()) + 1;
    const quint32 basePathUnicodeOffset = suffixOffset + 1;
    const quint32 suffixUnicodeOffset = basePathUnicodeOffset + 2 * quint32(localPath.size() + 1);

    QByteArray body = volume;
    body.append(ansiPath).append('\0');
    body.append('\0'); // common path suffix: empty
    if (!exact) {
        putUtf16(body, localPath);
        put16(body, 0);
        put16(body, 0);
    }

    QByteArray info;
    put32(info, headerSize + quint32(body.size()));
    put32(info, headerSize);
    put32(info, VolumeIdAndLocalBasePath);
    put32(info, volumeOffset);
    put32(info, basePathOffset);
    put32(info, 0); // no network location
    put32(info, suffixOffset);
    if (!exact) {
        put32(info, basePathUnicodeOffset);
        put32(info, suffixUnicodeOffset);
    }
    return info + body;
}

}

std::unique_ptr<LinkWriter> LinkWriter::create() noexcept
{
    return std::unique_ptr<LinkWriter>(new (std::nothrow) LinkWriter);
}

QByteArray LinkWriter::bytes() const
{
    const QString description = cut(m_description, MaxStringUnits);
    const QString target = cut(m_target, MaxStringUnits);
    const QString workingDirectory = cut(m_workingDirectory, MaxStringUnits);
    const QString arguments = cut(m_arguments, MaxStringUnits);
    const QString iconFile = cut(m_iconFile, MaxStringUnits);
    const QString localPath = windowsPath(target);

    quint32 flags = IsUnicode;
    if (!localPath.isEmpty())
        flags |= HasLinkInfo;
    if (!description.isEmpty())
        flags |= HasName;
    if (!target.isEmpty())
        flags |= HasRelativePath;
    if (!workingDirectory.isEmpty())
        flags |= HasWorkingDir;
    if (!arguments.isEmpty())
        flags |= HasArguments;
    if (!iconFile.isEmpty())
        flags |= HasIconLocation;

    // The target's attributes, times and size as the shell records them.
    quint32 attributes = 0;
    quint64 created = 0, accessed = 0, written = 0;
    quint32 size = 0;
    const QFileInfo info(AnsiText::releasePath(target));
    if (!target.isEmpty() && info.exists()) {
        attributes = info.isDir() ? quint32(Directory) : quint32(Archive);
        if (!info.isWritable())
            attributes |= ReadOnly;
        created = fileTime(info.birthTime().isValid() ? info.birthTime() : info.metadataChangeTime());
        accessed = fileTime(info.lastRead());
        written = fileTime(info.lastModified());
        size = info.isDir() ? 0 : quint32(quint64(info.size()) & 0xFFFFFFFFu);
    }

    QByteArray out;
    put32(out, HeaderSize);
    out.append(reinterpret_cast<const char*>(LinkClsid), sizeof LinkClsid);
    put32(out, flags);
    put32(out, attributes);
    put64(out, created);
    put64(out, accessed);
    put64(out, written);
    put32(out, size);
    put32(out, quint32(m_iconIndex));
    put32(out, quint32(m_showCommand));
    put16(out, m_hotKey);
    put16(out, 0);
    put32(out, 0);
    put32(out, 0);
    Q_ASSERT(out.size() == qsizetype(HeaderSize));

    if (flags & HasLinkInfo)
        out.append(linkInfo(localPath));

    for (const QString& text : { description, target, workingDirectory, arguments, iconFile }) {
        if (text.isEmpty())
            continue;
        put16(out, quint16(text.size()));
        putUtf16(out, text);
    }

    put32(out, 0); // terminal block: no extra data
    return out;
}

namespace {

bool inApplicationsFolder(const QString& fileName)
{
    const QString applications = QFileInfo(ShellFolders::applicationsFolder()).canonicalFilePath();
    return !applications.isEmpty() && QFileInfo(fileName).canonicalPath() == applications;
}

}

bool LinkWriter::Save(const QString& fileName) const
{
    if (!DesktopEntry::replaceFile(fileName, bytes()))
        return false;

    if (!inApplicationsFolder(fileName))
        return true;
    QString name = QFileInfo(fileName).fileName();
    if (name.endsWith(QStringLiteral(".lnk"), Qt::CaseInsensitive))
        name.chop(4);
    const DesktopEntry::Shortcut shortcut {
        name, cut(m_description, MaxStringUnits), cut(m_workingDirectory, MaxStringUnits),
        cut(m_target, MaxStringUnits), cut(m_arguments, MaxStringUnits)
    };
    const QString entry = QFileInfo(fileName).absolutePath() + QLatin1Char('/') + name + QStringLiteral(".desktop");
    // The entry is ours, not the link object's: the shortcut is written in
    // full and stands even when the menu cannot get an entry for it.
    if (!DesktopEntry::write(entry, shortcut))
        std::fprintf(stderr, "The menu entry %s could not be written; the shortcut %s stands.\n",
            QFile::encodeName(entry).constData(), QFile::encodeName(fileName).constData());
    return true;
}
