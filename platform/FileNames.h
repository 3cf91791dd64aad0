// File names are bytes. Media written with a Western code page hold names
// that are not UTF-8 (byte 0xE9 for "é"), and such a name must still reach
// the system as the bytes it gave. A name is held as text by decoding its
// valid UTF-8 and keeping every other byte as the lone surrogate
// U+DC80 + (byte - 0x80), which encoding turns back into that byte.
// Qt's own file-name conversion would replace those bytes for good.
#pragma once

#include <QString>
#include <string>

namespace FileNames {

QString decode(const std::string& bytes);
std::string encode(const QString& name);

// The folder that holds the running program, without a trailing "/".
QString programFolder();

}
