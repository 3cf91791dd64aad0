// Release files are 8-bit text. A value shown to the user or used as a file
// name is UTF-8 when it is valid UTF-8, otherwise Windows-1252; the
// information text is the DOS code page 437.
#pragma once

#include <QString>
#include <string>

namespace AnsiText {

QString decode(const std::string& bytes);
// Every byte as the DOS screen showed it: control bytes as their glyphs
// (0x01 a smiling face, 0x0A a ring on a block, ...), except the tab.
QString decodeCp437(const std::string& bytes);

// A path taken from a release file: "\" separators become "/".
QString releasePath(const QString& path);

}
