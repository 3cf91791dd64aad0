// The release title's bitmap font: glyphs cut out of one picture, the glyph
// strip (white capitals over black, each with a fading mirror image).
#pragma once

#include <QImage>
#include <QString>

namespace BitmapFont {

struct Glyph {
    QChar character;
    int left;  // first column in the strip
    int right; // column after the last one
    int width() const { return right - left; }
};

// The glyph of a (case-folded) character, or none.
const Glyph* find(QChar c);

constexpr int GlyphRows = 45;
constexpr QChar EndMark = QChar(0x00A4);

// Draws `text` into `destination` from column 0, glyph after glyph, rows 0
// to 44, without clearing it first. A character outside the font repeats
// the glyph of the last known character before it (nothing before the
// first known one); drawing stops at the first end mark; what passes the
// right edge is lost. `destination` must already have its final size.
void DrawBitmapText(const QImage& strip, QImage& destination, const QString& text);

}
