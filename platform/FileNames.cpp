#include "FileNames.h"

#include <QCoreApplication>
#include <cerrno>
#include <unistd.h>
#include <vector>

namespace FileNames {

namespace {

constexpr char16_t EscapeBase = 0xDC00; // U+DC80..U+DCFF carry bytes 0x80..0xFF

// The length of the valid UTF-8 sequence at `i`, 0 when there is none.
size_t sequenceLength(const std::string& bytes, size_t i)
{
    const auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = at(i);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    char32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((at(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (at(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF))
        || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

}

QString decode(const std::string& bytes)
{
    QString name;
    name.reserve(qsizetype(bytes.size()));
    size_t i = 0;
    while (i < bytes.size()) {
        const size_t length = sequenceLength(bytes, i);
        if (length == 0) {
            name.append(QChar(char16_t(EscapeBase + static_cast<unsigned char>(bytes[i]))));
            ++i;
            continue;
        }
        name.append(QString::fromUtf8(bytes.data() + i, qsizetype(length)));
        i += length;
    }
    return name;
}

std::string encode(const QString& name)
{
    std::string bytes;
    bytes.reserve(size_t(name.size()));
    qsizetype run = 0; // start of the text not yet encoded
    auto flush = [&](qsizetype end) {
        if (end > run)
            bytes += name.mid(run, end - run).toStdString();
    };
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        const bool pairedLow = i > 0 && name.at(i - 1).isHighSurrogate();
        if (c >= EscapeBase + 0x80 && c <= EscapeBase + 0xFF && !pairedLow) {
            flush(i);
            bytes += char(c - EscapeBase);
            run = i + 1;
        }
    }
    flush(name.size());
    return bytes;
}

QString programFolder()
{
    // The link holds the program's path as the bytes of the file system.
    std::vector<char> buffer(4096);
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length > 0 && size_t(length) < buffer.size()) {
        std::string path(buffer.data(), size_t(length));
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos)
            return decode(slash == 0 ? std::string("/") : path.substr(0, slash));
    }
    return QCoreApplication::applicationDirPath();
}

}
