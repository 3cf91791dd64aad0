#include "BitmapFont.h"

#include <QPainter>
#include <array>

namespace BitmapFont {

namespace {

constexpr std::array<Glyph, 49> Glyphs = { {
    { u'0', 1, 15 }, { u'1', 16, 27 }, { u'2', 27, 42 }, { u'3', 42, 58 }, { u'4', 58, 73 },
    { u'5', 74, 89 }, { u'6', 89, 105 }, { u'7', 105, 117 }, { u'8', 117, 133 }, { u'9', 133, 148 },
    { u'a', 149, 165 }, { u'b', 165, 181 }, { u'c', 181, 197 }, { u'd', 198, 214 }, { u'e', 214, 226 },
    { u'f', 227, 239 }, { u'g', 239, 255 }, { u'h', 255, 271 }, { u'i', 271, 279 }, { u'j', 279, 289 },
    { u'k', 290, 306 }, { u'l', 306, 318 }, { u'm', 318, 338 }, { u'n', 339, 355 }, { u'o', 355, 371 },
    { u'p', 372, 387 }, { u'q', 387, 403 }, { u'r', 403, 419 }, { u's', 419, 434 }, { u't', 435, 449 },
    { u'u', 449, 464 }, { u'v', 465, 481 }, { u'w', 481, 505 }, { u'x', 505, 519 }, { u'y', 520, 534 },
    { u'z', 534, 547 }, { u'!', 547, 554 }, { u':', 554, 560 }, { u'\'', 560, 565 }, { u'"', 566, 577 },
    { u'?', 577, 592 }, { u'-', 593, 601 }, { u'+', 601, 616 }, { u'.', 617, 622 }, { u'*', 623, 630 },
    { u',', 631, 636 }, { u' ', 673, 687 }, { u'/', 636, 648 }, { u'@', 648, 672 },
} };

// Only A to Z fold: accented capitals keep their case, as they did.
QChar foldCase(QChar c)
{
    return c >= u'A' && c <= u'Z' ? QChar(c.unicode() + 32) : c;
}

}

const Glyph* find(QChar c)
{
    for (const Glyph& glyph : Glyphs)
        if (glyph.character == c)
            return &glyph;
    return nullptr;
}

void DrawBitmapText(const QImage& strip, QImage& destination, const QString& text)
{
    QPainter painter(&destination);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    Glyph current { QChar(), 0, 0 };
    int x = 0;
    for (QChar c : text) {
        c = foldCase(c);
        if (c == EndMark)
            break;
        if (const Glyph* glyph = find(c))
            current = *glyph;
        if (current.width() > 0)
            painter.drawImage(QRect(x, 0, current.width(), GlyphRows), strip,
                QRect(current.left, 0, current.width(), GlyphRows));
        x += current.width();
        if (x >= destination.width())
            break; // everything further falls outside
    }
}

}
