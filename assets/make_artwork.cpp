// Draws every picture of the release (installer windows, glyph strip, launcher
// background) into the folder named on the command line.  Everything is drawn
// from vector paths with a fixed-seed generator, so the same Qt and the same
// font files give the same pixels on every run.

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRadialGradient>
#include <QTextStream>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

QString g_outDir;
bool g_ok = true;

// Our own generator: std distributions differ between library versions.
class Rng {
public:
    explicit Rng(std::uint32_t seed) : m_state(seed) { }
    double unit()
    {
        m_state = m_state * 1664525u + 1013904223u;
        return double(m_state >> 8) / 16777216.0;
    }
    double range(double lo, double hi) { return lo + (hi - lo) * unit(); }

private:
    std::uint32_t m_state;
};

// Loads a font file by path so the pictures do not depend on fontconfig's
// choice of substitute; falls back to the family name.
QString loadFamily(const char* file, const char* fallback)
{
    const QString dirs[] = { QStringLiteral("/usr/share/fonts/truetype/liberation/"),
        QStringLiteral("/usr/share/fonts/truetype/dejavu/") };
    for (const QString& dir : dirs) {
        const QString path = dir + QLatin1String(file);
        if (!QFile::exists(path))
            continue;
        const int id = QFontDatabase::addApplicationFont(path);
        if (id >= 0) {
            const QStringList families = QFontDatabase::applicationFontFamilies(id);
            if (!families.isEmpty())
                return families.first();
        }
    }
    return QLatin1String(fallback);
}

struct Fonts {
    QString sans;
    QString heavy;
    QString heavyCondensed;
};
Fonts g_fonts;

QFont makeFont(const QString& family, qreal pixelSize, bool bold, bool italic = false)
{
    QFont f(family);
    f.setPixelSize(std::max(1, int(std::lround(pixelSize))));
    f.setWeight(bold ? QFont::Bold : QFont::Normal);
    f.setItalic(italic);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setKerning(false);
    f.setStyleStrategy(QFont::NoFontMerging);
    return f;
}

QPainterPath textPath(const QString& text, const QFont& font, qreal spacing = 0)
{
    QPainterPath path;
    QFontMetricsF fm(font);
    qreal x = 0;
    for (const QChar ch : text) {
        path.addText(x, 0, font, QString(ch));
        x += fm.horizontalAdvance(ch) + spacing;
    }
    return path;
}

QColor rgb(int r, int g, int b, int a = 255)
{
    return QColor(r, g, b, a);
}

void save(const QImage& image, const char* name)
{
    const QString path = QDir(g_outDir).filePath(QLatin1String(name));
    if (!image.save(path, "BMP")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        g_ok = false;
    }
}

// 24-bit pictures: drawn on RGB32, written without alpha.
void saveRgb(const QImage& image, const char* name)
{
    save(image.convertToFormat(QImage::Format_RGB888), name);
}

void hline(QPainter& p, int x0, int x1, int y, const QColor& c)
{
    p.fillRect(QRect(x0, y, x1 - x0 + 1, 1), c);
}

void vline(QPainter& p, int x, int y0, int y1, const QColor& c)
{
    p.fillRect(QRect(x, y0, 1, y1 - y0 + 1), c);
}

// A horizontal bar whose colour peaks in its middle row and fades out towards
// both ends, the copper-bar look of the era.
void copperBar(QPainter& p, QRectF r, const QColor& peak, const QColor& edge, qreal fadeFraction = 0.18)
{
    QLinearGradient v(r.topLeft(), r.bottomLeft());
    v.setColorAt(0.0, edge);
    v.setColorAt(0.5, peak);
    v.setColorAt(1.0, edge);
    p.fillRect(r, v);
    QLinearGradient h(r.topLeft(), r.topRight());
    h.setColorAt(0.0, rgb(0, 0, 0, 255));
    h.setColorAt(fadeFraction, rgb(0, 0, 0, 0));
    h.setColorAt(1.0 - fadeFraction, rgb(0, 0, 0, 0));
    h.setColorAt(1.0, rgb(0, 0, 0, 255));
    p.fillRect(r, h);
}

// A small glossy sphere: the group's "orb".
void orb(QPainter& p, QPointF c, qreal r, const QColor& body, const QColor& dark)
{
    QRadialGradient g(c + QPointF(-r * 0.35, -r * 0.4), r * 1.35);
    g.setColorAt(0.0, rgb(255, 245, 225));
    g.setColorAt(0.25, body);
    g.setColorAt(0.85, dark);
    g.setColorAt(1.0, rgb(0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(c, r, r);
}

// Bevelled plate behind a clickable word.
void plate(QPainter& p, QRect r)
{
    p.setPen(Qt::NoPen);
    p.fillRect(r.adjusted(-1, -1, 1, 1), rgb(0, 0, 0));
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0.0, rgb(125, 16, 10));
    g.setColorAt(0.5, rgb(78, 6, 4));
    g.setColorAt(1.0, rgb(40, 0, 0));
    p.fillRect(r, g);
    hline(p, r.left(), r.right(), r.top(), rgb(210, 80, 55));
    vline(p, r.left(), r.top(), r.bottom(), rgb(170, 55, 40));
    hline(p, r.left(), r.right(), r.bottom(), rgb(18, 0, 0));
    vline(p, r.right(), r.top(), r.bottom(), rgb(28, 0, 0));
    // A small orange tab at the left gives the plates a common accent.
    p.fillRect(QRect(r.left() + 3, r.top() + 4, 2, r.height() - 8), rgb(255, 140, 20));
}

// The plate around a word that the window draws with its left edge at x.
QRect wordPlate(const QString& word, int x, qreal pixelSize, int padLeft, int padRight, int top, int bottom)
{
    QFontMetricsF fm(makeFont(g_fonts.sans, pixelSize, true));
    const int w = int(std::ceil(fm.horizontalAdvance(word)));
    return QRect(QPoint(x - padLeft, top), QPoint(x + w + padRight, bottom));
}

// ---------------------------------------------------------------- glyph strip

struct GlyphEntry {
    char ch;
    int left;
    int right;
};

// The renderer cuts glyphs out of these columns; every glyph must stay inside
// its own span.  The blank (673..687) is part of the black tail of the strip.
const GlyphEntry kGlyphs[] = {
    { '0', 1, 15 }, { '1', 16, 27 }, { '2', 27, 42 }, { '3', 42, 58 }, { '4', 58, 73 },
    { '5', 74, 89 }, { '6', 89, 105 }, { '7', 105, 117 }, { '8', 117, 133 }, { '9', 133, 148 },
    { 'A', 149, 165 }, { 'B', 165, 181 }, { 'C', 181, 197 }, { 'D', 198, 214 }, { 'E', 214, 226 },
    { 'F', 227, 239 }, { 'G', 239, 255 }, { 'H', 255, 271 }, { 'I', 271, 279 }, { 'J', 279, 289 },
    { 'K', 290, 306 }, { 'L', 306, 318 }, { 'M', 318, 338 }, { 'N', 339, 355 }, { 'O', 355, 371 },
    { 'P', 372, 387 }, { 'Q', 387, 403 }, { 'R', 403, 419 }, { 'S', 419, 434 }, { 'T', 435, 449 },
    { 'U', 449, 464 }, { 'V', 465, 481 }, { 'W', 481, 505 }, { 'X', 505, 519 }, { 'Y', 520, 534 },
    { 'Z', 534, 547 }, { '!', 547, 554 }, { ':', 554, 560 }, { '\'', 560, 565 }, { '"', 566, 577 },
    { '?', 577, 592 }, { '-', 593, 601 }, { '+', 601, 616 }, { '.', 617, 622 }, { '*', 623, 630 },
    { ',', 631, 636 }, { '/', 636, 648 }, { '@', 648, 672 },
};

void makeGlyphs()
{
    constexpr int W = 696, H = 50;
    constexpr int Top = 1;         // first row of a capital
    constexpr int Baseline = 23;   // capitals fill rows Top..Baseline-1
    constexpr int MirrorTop = 24;  // reflection rows MirrorTop..40
    constexpr int MirrorRows = 17;

    QImage upright(W, H, QImage::Format_Grayscale8);
    upright.fill(0);
    {
        QPainter p(&upright);
        p.setRenderHint(QPainter::Antialiasing);
        const QFont font = makeFont(g_fonts.heavyCondensed, 100, true);
        const qreal cap = QFontMetricsF(font).capHeight();
        const qreal sy = (Baseline - Top) / cap;
        for (const GlyphEntry& e : kGlyphs) {
            QPainterPath path;
            path.addText(0, 0, font, QString(QLatin1Char(e.ch)));
            const QRectF b = path.boundingRect();
            // One column of margin on the right keeps neighbours apart.
            const qreal box = (e.right - e.left) - 1.0;
            const qreal sx = std::min(sy * 1.05, box / b.width());
            const qreal w = b.width() * sx;
            const qreal x0 = e.left + std::floor((box - w) / 2.0 * 2.0 + 0.5) / 2.0;
            QTransform t;
            t.translate(x0 - b.left() * sx, Baseline);
            t.scale(sx, sy);
            // A vertical sheen: pure white on top, a touch greyer at the foot.
            QLinearGradient g(0, Top, 0, Baseline);
            g.setColorAt(0.0, QColor(255, 255, 255));
            g.setColorAt(0.55, QColor(255, 255, 255));
            g.setColorAt(1.0, QColor(200, 200, 200));
            p.setPen(Qt::NoPen);
            p.setBrush(g);
            p.setClipRect(QRect(e.left, 0, e.right - e.left - 1, 41));
            p.drawPath(t.map(path));
        }
    }

    QImage strip(W, H, QImage::Format_Grayscale8);
    strip.fill(0);
    for (int y = 0; y < Baseline + 4; ++y) {
        const uchar* src = upright.constScanLine(y);
        uchar* dst = strip.scanLine(y);
        std::copy(src, src + W, dst);
    }
    // The reflection: squashed, upside down, fading out towards row 40.
    for (int k = 0; k < MirrorRows; ++k) {
        const int y = MirrorTop + k;
        const qreal srcRow = (Baseline - 1) - (k + 0.5) * 0.8 * (Baseline - Top) / MirrorRows;
        const int r0 = std::clamp(int(std::floor(srcRow)), 0, Baseline - 1);
        const int r1 = std::clamp(r0 + 1, 0, Baseline - 1);
        const qreal f = srcRow - std::floor(srcRow);
        const qreal t = (k + 0.5) / MirrorRows;
        // Fades fast: the credit line sits over the lower half of it.
        const qreal fade = 0.6 * std::pow(1.0 - t, 2.6);
        const uchar* a = upright.constScanLine(r0);
        const uchar* b = upright.constScanLine(r1);
        uchar* dst = strip.scanLine(y);
        for (int x = 0; x < W; ++x) {
            // Scan-line gaps in the reflection, as on water.
            const qreal lines = (k % 3 == 2) ? 0.55 : 1.0;
            int v = int(std::lround((a[x] * (1 - f) + b[x] * f) * fade * lines));
            if (v < 10)
                v = 0; // no murky near-black halo over the background
            dst[x] = uchar(std::max<int>(dst[x], v));
        }
    }
    // Nothing outside the glyph spans, nothing in rows 41..49.
    for (int y = 0; y < H; ++y) {
        uchar* row = strip.scanLine(y);
        for (int x = 0; x < W; ++x) {
            bool inside = false;
            if (y <= 40)
                for (const GlyphEntry& e : kGlyphs)
                    if (x >= e.left && x < e.right - 1)
                        inside = true;
            if (!inside)
                row[x] = 0;
        }
    }

    // The faintest edge pixels go to black: they would only show as a dirty
    // halo over the background, and it frees palette entries 1..3.
    for (int y = 0; y < H; ++y) {
        uchar* row = strip.scanLine(y);
        for (int x = 0; x < W; ++x)
            if (row[x] < 4)
                row[x] = 0;
    }
    QImage indexed(W, H, QImage::Format_Indexed8);
    QList<QRgb> palette;
    for (int i = 0; i < 256; ++i)
        palette.append(qRgb(i, i, i));
    // Entry 1 is unused; its hue keeps the strip's palette as it has always
    // been (a PNG writer would have stored an all-grey one as greyscale).
    palette[1] = qRgb(128, 0, 0);
    indexed.setColorTable(palette);
    for (int y = 0; y < H; ++y)
        std::copy(strip.constScanLine(y), strip.constScanLine(y) + W, indexed.scanLine(y));
    save(indexed, "glyphs.bmp");
}

// ------------------------------------------------------------ main background

struct Avoid {
    std::vector<QRect> rects;
    bool hits(QPointF pt) const
    {
        for (const QRect& r : rects)
            if (r.contains(pt.toPoint()))
                return true;
        return false;
    }
};

void stars(QPainter& p, Rng& rng, QRect area, int count, const Avoid& avoid)
{
    p.setPen(Qt::NoPen);
    for (int i = 0; i < count; ++i) {
        const QPointF pt(std::floor(rng.range(area.left(), area.right() + 1)),
            std::floor(rng.range(area.top(), area.bottom() + 1)));
        const double u = rng.unit();
        const double tint = rng.unit();
        const double big = rng.unit();
        if (avoid.hits(pt))
            continue;
        const int v = 50 + int(205 * u * u * u);
        QColor c = tint < 0.2 ? rgb(v, v * 8 / 10, v * 6 / 10) : tint < 0.45 ? rgb(v * 8 / 10, v * 9 / 10, v) : rgb(v, v, v);
        if (big > 0.955 && v > 120) {
            QColor halo = c;
            halo.setAlpha(70);
            p.fillRect(QRectF(pt.x() - 2, pt.y(), 5, 1), halo);
            p.fillRect(QRectF(pt.x(), pt.y() - 2, 1, 5), halo);
            p.fillRect(QRectF(pt.x() - 1, pt.y(), 3, 1), c);
            p.fillRect(QRectF(pt.x(), pt.y() - 1, 1, 3), c);
            p.fillRect(QRectF(pt.x(), pt.y(), 1, 1), rgb(255, 255, 255));
        } else {
            p.fillRect(QRectF(pt, QSizeF(1, 1)), c);
        }
    }
}

void planet(QPainter& p, QPointF c, qreal r)
{
    p.save();
    // Atmosphere glow around the disc.
    QRadialGradient glow(c, r + 16);
    glow.setColorAt(r / (r + 16) - 0.02, rgb(255, 110, 40, 0));
    glow.setColorAt(r / (r + 16), rgb(255, 120, 50, 110));
    glow.setColorAt(1.0, rgb(255, 60, 20, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(c, r + 16, r + 16);

    QPainterPath disc;
    disc.addEllipse(c, r, r);
    p.setClipPath(disc);
    QRadialGradient body(c + QPointF(r * 0.45, -r * 0.5), r * 1.55);
    body.setColorAt(0.0, rgb(255, 200, 130));
    body.setColorAt(0.25, rgb(230, 120, 50));
    body.setColorAt(0.55, rgb(140, 40, 18));
    body.setColorAt(0.8, rgb(45, 8, 6));
    body.setColorAt(1.0, rgb(8, 0, 2));
    p.setBrush(body);
    p.drawEllipse(c, r, r);

    // Cloud bands, tilted, dark and light in turn.
    p.translate(c);
    p.rotate(-18);
    Rng rng(7);
    for (int i = -12; i <= 12; ++i) {
        const qreal y = i * r / 12.0 + rng.range(-2, 2);
        const qreal h = rng.range(2, 6);
        const bool dark = (i % 2) != 0;
        p.fillRect(QRectF(-r * 1.2, y, r * 2.4, h), dark ? rgb(40, 5, 0, 55) : rgb(255, 200, 140, 28));
    }
    p.resetTransform();

    // Night side.
    QRadialGradient night(c + QPointF(r * 0.35, -r * 0.35), r * 1.6);
    night.setColorAt(0.0, rgb(0, 0, 0, 0));
    night.setColorAt(0.6, rgb(0, 0, 0, 0));
    night.setColorAt(0.85, rgb(0, 0, 10, 170));
    night.setColorAt(1.0, rgb(0, 0, 10, 235));
    p.setBrush(night);
    p.drawEllipse(c, r, r);
    p.setClipping(false);

    // Lit rim.
    QPen rim(QBrush(rgb(255, 180, 110, 150)), 1.2);
    p.setPen(rim);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 5 * 16, 100 * 16);
    p.restore();
}

// The group's logo lettering: chrome to fire gradient, dark outline, drop
// shadow, and the horizontal slices of a 90s intro logo.
void logo(QPainter& p, const QString& text, QRectF box, qreal spacing)
{
    QFont font = makeFont(g_fonts.heavy, 100, true);
    QPainterPath path = textPath(text, font, spacing * 100.0 / box.height());
    QTransform shear;
    shear.shear(-0.22, 0);
    path = shear.map(path);
    const QRectF b = path.boundingRect();
    QTransform fit;
    fit.translate(box.left(), box.top());
    fit.scale(box.width() / b.width(), box.height() / b.height());
    fit.translate(-b.left(), -b.top());
    path = fit.map(path);

    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(rgb(0, 0, 0, 170));
    p.drawPath(path.translated(5, 5));

    QPainterPathStroker stroker;
    stroker.setWidth(4);
    stroker.setJoinStyle(Qt::RoundJoin);
    p.setBrush(rgb(25, 0, 0));
    p.drawPath(stroker.createStroke(path).united(path));

    QLinearGradient g(0, box.top(), 0, box.bottom());
    g.setColorAt(0.00, rgb(255, 255, 245));
    g.setColorAt(0.30, rgb(255, 215, 150));
    g.setColorAt(0.50, rgb(240, 120, 40));
    g.setColorAt(0.51, rgb(90, 10, 5));
    g.setColorAt(0.60, rgb(170, 25, 10));
    g.setColorAt(1.00, rgb(255, 110, 40));
    p.setBrush(g);
    p.drawPath(path);

    // Slices through the lower half.
    p.setClipPath(path);
    for (qreal y = box.top() + box.height() * 0.58; y < box.bottom(); y += 4)
        p.fillRect(QRectF(box.left() - 20, y, box.width() + 40, 1), rgb(40, 0, 0, 150));
    p.setClipping(false);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(rgb(255, 235, 200, 110), 0.8));
    p.drawPath(path);
    p.restore();
}

void makeBackground()
{
    // Picture coordinates: window coordinates minus 1.
    const QRect credit(44, 47, 260, 19);
    const QRect info(191, 193, 248, 63);
    const QRect infoPanel = info.adjusted(-6, -6, 6, 5);
    const QRect rows(0, 265, 450, 46);
    const QRect banner(2, 322, 448, 20);

    QImage img(450, 344, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // Deep space, a little bluer towards the middle.
    QLinearGradient sky(0, 0, 0, 344);
    sky.setColorAt(0.0, rgb(2, 2, 6));
    sky.setColorAt(0.35, rgb(8, 6, 22));
    sky.setColorAt(0.65, rgb(14, 6, 26));
    sky.setColorAt(1.0, rgb(4, 2, 8));
    p.fillRect(img.rect(), sky);

    // Nebulae behind the logo.
    auto nebula = [&](QPointF c, qreal r, QColor col) {
        QRadialGradient g(c, r);
        g.setColorAt(0.0, col);
        col.setAlpha(0);
        g.setColorAt(1.0, col);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawEllipse(c, r, r);
    };
    nebula(QPointF(320, 125), 150, rgb(90, 20, 110, 80));
    nebula(QPointF(400, 175), 90, rgb(150, 20, 30, 70));
    nebula(QPointF(230, 95), 80, rgb(30, 40, 120, 60));
    nebula(QPointF(60, 140), 110, rgb(40, 10, 70, 50));

    // The header band behind the title stays near black so that the white
    // title and its reflection read.
    {
        QLinearGradient g(0, 0, 0, 80);
        g.setColorAt(0.0, rgb(0, 0, 0, 255));
        g.setColorAt(0.75, rgb(0, 0, 0, 235));
        g.setColorAt(1.0, rgb(0, 0, 0, 0));
        p.fillRect(QRect(0, 0, 450, 80), g);
    }

    Rng rng(1999);
    Avoid avoid;
    avoid.rects = { credit, infoPanel.adjusted(-2, -2, 2, 2), rows, banner.adjusted(-2, -2, 2, 2),
        QRect(0, 0, 450, 18), QRect(28, 20, 417, 28) };
    p.setRenderHint(QPainter::Antialiasing, false);
    stars(p, rng, QRect(1, 1, 448, 305), 420, avoid);
    p.setRenderHint(QPainter::Antialiasing);

    planet(p, QPointF(82, 262), 90);

    // A small moon off the planet's lit side, and a shooting star across the
    // empty sky at the left.
    orb(p, QPointF(166, 132), 5, rgb(175, 170, 185), rgb(30, 28, 40));
    {
        const QPointF from(26, 92), to(128, 118);
        QLinearGradient g(from, to);
        g.setColorAt(0.0, rgb(255, 255, 255, 0));
        g.setColorAt(0.85, rgb(255, 210, 170, 140));
        g.setColorAt(1.0, rgb(255, 255, 255, 255));
        p.setPen(QPen(QBrush(g), 1.1));
        p.drawLine(from, to);
        p.setPen(Qt::NoPen);
        p.setBrush(rgb(255, 255, 255, 90));
        p.drawEllipse(to, 2.0, 2.0);
    }

    // Header: copper bars above and below the title strip.
    copperBar(p, QRectF(1, 11, 448, 6), rgb(255, 120, 30), rgb(60, 0, 0));
    copperBar(p, QRectF(1, 68, 448, 5), rgb(220, 40, 20), rgb(40, 0, 0));
    hline(p, 1, 448, 17, rgb(0, 0, 0));
    hline(p, 1, 448, 67, rgb(0, 0, 0));

    // The orb at the left end of the title.
    orb(p, QPointF(15, 36), 8, rgb(230, 70, 30), rgb(80, 0, 0));
    orb(p, QPointF(15, 53), 4, rgb(200, 200, 210), rgb(50, 50, 60));

    // Logo: MERIK, and the group tag under it.
    logo(p, QStringLiteral("MERIK"), QRectF(186, 88, 246, 60), 6);
    {
        QLinearGradient g(176, 0, 440, 0);
        g.setColorAt(0.0, rgb(255, 90, 30, 0));
        g.setColorAt(0.4, rgb(255, 90, 30, 200));
        g.setColorAt(1.0, rgb(255, 180, 80, 255));
        p.fillRect(QRectF(176, 163, 264, 1), g);
        const QFont tagFont = makeFont(g_fonts.sans, 13, true);
        QPainterPath tag = textPath(QStringLiteral("[oRb]"), tagFont, 2);
        const QRectF tb = tag.boundingRect();
        tag.translate(438 - tb.right(), 178);
        p.setPen(Qt::NoPen);
        p.setBrush(rgb(0, 0, 0, 200));
        p.drawPath(tag.translated(1, 1));
        QLinearGradient tg(0, 178 - tb.height(), 0, 178);
        tg.setColorAt(0.0, rgb(255, 255, 255));
        tg.setColorAt(1.0, rgb(150, 150, 165));
        p.setBrush(tg);
        p.drawPath(tag);
        const QFont small = makeFont(g_fonts.sans, 9, false);
        QPainterPath sub = textPath(QStringLiteral("r e l e a s e   i n s t a l l e r"), small, 0);
        sub.translate(438 - tb.width() - 14 - sub.boundingRect().width(), 176);
        p.setBrush(rgb(130, 110, 150));
        p.drawPath(sub);
    }

    // The information panel: calm, dark, framed.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(infoPanel, rgb(5, 4, 12, 235));
    p.setPen(rgb(85, 85, 95));
    p.setBrush(Qt::NoBrush);
    p.drawRect(infoPanel);
    p.setPen(rgb(0, 0, 0));
    p.drawRect(infoPanel.adjusted(-1, -1, 1, 1));
    // Red corner marks.
    const QColor mark = rgb(230, 50, 25);
    for (const QPoint c : { infoPanel.topLeft(), infoPanel.topRight(), infoPanel.bottomLeft(), infoPanel.bottomRight() }) {
        const int dx = c.x() == infoPanel.left() ? 1 : -1;
        const int dy = c.y() == infoPanel.top() ? 1 : -1;
        for (int i = 0; i < 8; ++i) {
            p.fillRect(QRect(c.x() + dx * i, c.y(), 1, 1), mark);
            p.fillRect(QRect(c.x(), c.y() + dy * i, 1, 1), mark);
        }
    }

    // Behind the menu rows (covered by them, but kept tidy) and the strip
    // between the last row and the banner.
    p.fillRect(QRect(0, 262, 450, 82), rgb(0, 0, 0));
    hline(p, 0, 449, 263, rgb(90, 20, 15));
    copperBar(p, QRectF(1, 309, 448, 8), rgb(200, 30, 20), rgb(30, 0, 0), 0.12);
    hline(p, 1, 448, 308, rgb(0, 0, 0));
    hline(p, 1, 448, 318, rgb(0, 0, 0));

    // Banner well with a grey frame.
    p.fillRect(banner, rgb(0, 0, 0));
    hline(p, 0, 449, 321, rgb(110, 110, 110));
    hline(p, 0, 449, 342, rgb(60, 60, 60));
    vline(p, 1, 321, 342, rgb(110, 110, 110));

    // Outer frame.
    hline(p, 0, 449, 0, rgb(128, 128, 128));
    hline(p, 0, 449, 343, rgb(128, 128, 128));
    vline(p, 0, 0, 343, rgb(128, 128, 128));
    vline(p, 449, 0, 343, rgb(128, 128, 128));
    p.end();

    saveRgb(img, "background.bmp");
}

// ---------------------------------------------------------------- menu rows

void makeRow(const QString& label, int height, bool lit, const char* name)
{
    QImage img(450, height, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, height);
    if (lit) {
        g.setColorAt(0.0, rgb(255, 95, 60));
        g.setColorAt(0.45, rgb(225, 25, 15));
        g.setColorAt(1.0, rgb(150, 0, 0));
    } else {
        g.setColorAt(0.0, rgb(105, 14, 10));
        g.setColorAt(0.5, rgb(72, 4, 3));
        g.setColorAt(1.0, rgb(40, 0, 0));
    }
    p.fillRect(img.rect(), g);
    // Darker towards both ends, so the word in the middle carries the row.
    QLinearGradient ends(0, 0, 450, 0);
    ends.setColorAt(0.0, rgb(0, 0, 0, lit ? 90 : 120));
    ends.setColorAt(0.3, rgb(0, 0, 0, 0));
    ends.setColorAt(0.7, rgb(0, 0, 0, 0));
    ends.setColorAt(1.0, rgb(0, 0, 0, lit ? 90 : 120));
    p.fillRect(img.rect(), ends);
    hline(p, 1, 448, 0, lit ? rgb(255, 170, 130) : rgb(140, 40, 30));
    hline(p, 1, 448, height - 1, lit ? rgb(90, 0, 0) : rgb(15, 0, 0));
    vline(p, 0, 0, height - 1, rgb(128, 128, 128));
    vline(p, 449, 0, height - 1, rgb(128, 128, 128));

    const QFont font = makeFont(g_fonts.sans, 11, true);
    const qreal cap = 8;
    QPainterPath path = textPath(label, font, 2.0);
    const QRectF b = path.boundingRect();
    const qreal scaleY = cap / QFontMetricsF(font).capHeight();
    QTransform t;
    const qreal top = std::floor((height - cap) / 2.0);
    t.translate(std::round(225 - b.width() / 2 - b.left()), top + cap);
    t.scale(1.0, scaleY);
    path = t.map(path);
    p.setPen(Qt::NoPen);
    p.setBrush(lit ? rgb(110, 0, 0) : rgb(20, 0, 0));
    p.drawPath(path.translated(1, 1));
    p.setBrush(lit ? rgb(255, 255, 255) : rgb(165, 160, 160));
    p.drawPath(path);

    // Small arrow heads either side of the word.
    const qreal mid = top + cap / 2.0;
    const QRectF pb = path.boundingRect();
    auto arrow = [&](qreal x, int dir) {
        QPainterPath a;
        a.moveTo(x, mid - 3);
        a.lineTo(x + 4 * dir, mid);
        a.lineTo(x, mid + 3);
        a.closeSubpath();
        p.drawPath(a);
    };
    p.setBrush(lit ? rgb(255, 230, 120) : rgb(120, 40, 30));
    arrow(pb.left() - 14, 1);
    arrow(pb.right() + 14, -1);
    p.end();
    saveRgb(img, name);
}

// ------------------------------------------------------- installation windows

// A title bar: red, lit from the left, closed by an orange rule at row 23;
// rows below extend it as a glow that dies into the black panel.
QImage titleBar(int width, int height, int visibleWidth)
{
    QImage img(width, height, QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const int barH = 22;
    QLinearGradient h(0, 0, visibleWidth, 0);
    h.setColorAt(0.0, rgb(190, 25, 15));
    h.setColorAt(0.55, rgb(105, 8, 5));
    h.setColorAt(1.0, rgb(30, 0, 0));
    p.fillRect(QRect(0, 0, width, barH), h);
    QLinearGradient v(0, 0, 0, barH);
    v.setColorAt(0.0, rgb(255, 255, 255, 60));
    v.setColorAt(0.45, rgb(255, 255, 255, 0));
    v.setColorAt(0.55, rgb(0, 0, 0, 0));
    v.setColorAt(1.0, rgb(0, 0, 0, 120));
    p.fillRect(QRect(0, 0, width, barH), v);
    hline(p, 0, width - 1, 0, rgb(230, 110, 80));
    hline(p, 0, width - 1, barH - 1, rgb(25, 0, 0));

    // Racing stripes and the orb at the right end.
    p.save();
    p.setClipRect(QRect(0, 1, width, barH - 2));
    for (int i = 0; i < 4; ++i) {
        const qreal x = visibleWidth - 58 + i * 7;
        QPainterPath s;
        s.moveTo(x, barH);
        s.lineTo(x + 3, barH);
        s.lineTo(x + 3 + 10, 0);
        s.lineTo(x + 10, 0);
        s.closeSubpath();
        p.fillPath(s, rgb(255, 120 + i * 25, 40, 70 + i * 35));
    }
    p.restore();
    orb(p, QPointF(visibleWidth - 14, barH / 2.0), 6, rgb(230, 70, 30), rgb(70, 0, 0));

    // The rule that closes the bar when it is seen alone.
    {
        QLinearGradient r(0, 0, visibleWidth, 0);
        r.setColorAt(0.0, rgb(255, 150, 30));
        r.setColorAt(0.7, rgb(200, 60, 10));
        r.setColorAt(1.0, rgb(90, 10, 0));
        p.fillRect(QRect(0, barH + 1, width, 1), r);
        hline(p, 0, width - 1, barH + 2, rgb(60, 6, 0));
    }

    // Below: a glow under the bar that fades to black, with faint scan lines.
    if (height > barH + 3) {
        const QRect ext(0, barH + 3, width, height - barH - 3);
        QLinearGradient g(0, ext.top(), 0, std::min(ext.bottom(), barH + 18));
        g.setColorAt(0.0, rgb(70, 8, 2));
        g.setColorAt(1.0, rgb(0, 0, 0));
        p.fillRect(ext, g);
        QLinearGradient fadeX(0, 0, visibleWidth, 0);
        fadeX.setColorAt(0.0, rgb(0, 0, 0, 0));
        fadeX.setColorAt(1.0, rgb(0, 0, 0, 200));
        p.fillRect(ext, fadeX);
        for (int y = ext.top() + 1; y <= ext.bottom(); y += 2)
            p.fillRect(QRect(0, y, width, 1), rgb(0, 0, 0, 90));
    }
    p.end();
    return img;
}

// The strip under a plate row: a thin dark-red line with small studs that
// links the plates.
void plateRail(QPainter& p, int x0, int x1, int y)
{
    hline(p, x0, x1, y, rgb(90, 12, 8));
    hline(p, x0, x1, y + 1, rgb(30, 2, 0));
    for (int x = x0 + 6; x < x1 - 3; x += 9)
        p.fillRect(QRect(x, y - 1, 2, 4), rgb(150, 30, 20));
}

void footerRule(QPainter& p, int width, int y)
{
    QLinearGradient g(0, 0, width, 0);
    g.setColorAt(0.0, rgb(128, 128, 128, 0));
    g.setColorAt(0.15, rgb(128, 128, 128, 255));
    g.setColorAt(0.85, rgb(128, 128, 128, 255));
    g.setColorAt(1.0, rgb(128, 128, 128, 0));
    p.fillRect(QRect(0, y, width, 1), g);
}

void makeChooserFooter()
{
    QImage img(246, 60, QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    footerRule(p, 246, 6);
    const QRect ok = wordPlate(QStringLiteral("ok"), 35, 12, 14, 12, 21, 41);
    const QRect mk = wordPlate(QStringLiteral("makedir"), 101, 12, 14, 9, 21, 41);
    const QRect cn = wordPlate(QStringLiteral("cancel"), 186, 12, 14, 9, 21, 41);
    plateRail(p, 6, 239, 31);
    plate(p, ok);
    plate(p, mk);
    plate(p, cn);
    // The window's own frame continues under the picture: grey line, then
    // the one-pixel white edge of the window.
    hline(p, 0, 245, 54, rgb(128, 128, 128));
    hline(p, 0, 245, 55, rgb(255, 255, 255));
    p.end();
    saveRgb(img, "chooser_footer.bmp");
}

void makePromptFooter()
{
    QImage img(248, 53, QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    footerRule(p, 248, 11);
    const QRect ok = wordPlate(QStringLiteral("ok"), 33, 11, 14, 13, 21, 40);
    const QRect cn = wordPlate(QStringLiteral("cancel"), 188, 11, 14, 10, 21, 40);
    plateRail(p, 6, 241, 30);
    plate(p, ok);
    plate(p, cn);
    p.end();
    saveRgb(img, "prompt_footer.bmp");
}

void makeExtractFooter()
{
    QImage img(344, 38, QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    footerRule(p, 344, 2);
    const QRect ex = wordPlate(QStringLiteral("extract"), 26, 11, 14, 10, 8, 27);
    const QRect cn = wordPlate(QStringLiteral("cancel"), 279, 11, 14, 10, 8, 27);
    plateRail(p, 6, 337, 17);
    plate(p, ex);
    plate(p, cn);
    p.end();
    saveRgb(img, "extract_footer.bmp");
}

void makeTitles()
{
    saveRgb(titleBar(248, 43, 246), "chooser_title.bmp");
    QImage extract = titleBar(346, 37, 345);
    {
        // The last column lies on the window's grey frame.
        QPainter p(&extract);
        vline(p, 345, 0, 36, rgb(128, 128, 128));
    }
    saveRgb(extract, "extract_title.bmp");
}

// ------------------------------------------------------------------ launcher

void makeLauncherBackground()
{
    QImage img(388, 113, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // Orange strip for the black title.
    QLinearGradient o(0, 0, 0, 17);
    o.setColorAt(0.0, rgb(255, 190, 90));
    o.setColorAt(0.5, rgb(255, 145, 25));
    o.setColorAt(1.0, rgb(225, 100, 0));
    p.fillRect(QRect(0, 0, 388, 17), o);
    hline(p, 0, 387, 0, rgb(255, 225, 160));

    // Black band with the logo at its right end.
    QLinearGradient k(0, 17, 0, 44);
    k.setColorAt(0.0, rgb(0, 0, 0));
    k.setColorAt(1.0, rgb(24, 18, 22));
    p.fillRect(QRect(0, 17, 388, 27), k);
    hline(p, 0, 387, 17, rgb(60, 25, 0));
    {
        Rng rng(64);
        Avoid avoid;
        avoid.rects = { QRect(0, 17, 300, 18) };
        p.setRenderHint(QPainter::Antialiasing, false);
        stars(p, rng, QRect(0, 19, 388, 24), 70, avoid);
        p.setRenderHint(QPainter::Antialiasing);
    }
    logo(p, QStringLiteral("MERIK"), QRectF(296, 22, 82, 17), 2);
    orb(p, QPointF(287, 30.5), 5, rgb(230, 70, 30), rgb(70, 0, 0));

    // Orange rule, then the light grey button area.
    hline(p, 0, 387, 44, rgb(255, 128, 0));
    hline(p, 0, 387, 45, rgb(120, 50, 0));
    QLinearGradient gr(0, 46, 0, 113);
    gr.setColorAt(0.0, rgb(208, 208, 212));
    gr.setColorAt(1.0, rgb(236, 236, 236));
    p.fillRect(QRect(0, 46, 388, 67), gr);

    // A faint embossed watermark of the group tag in the empty grey.
    {
        const QFont font = makeFont(g_fonts.heavy, 30, true);
        QPainterPath w = textPath(QStringLiteral("[oRb]"), font, 4);
        const QRectF b = w.boundingRect();
        w.translate(194 - b.center().x(), 72 - b.center().y());
        p.setPen(Qt::NoPen);
        p.setBrush(rgb(255, 255, 255, 120));
        p.drawPath(w.translated(1, 1));
        p.setBrush(rgb(150, 150, 158, 60));
        p.drawPath(w);
    }
    // Groove above the buttons.
    hline(p, 6, 381, 93, rgb(160, 160, 165));
    hline(p, 6, 381, 94, rgb(255, 255, 255));
    p.end();
    saveRgb(img, "launcher_background.bmp");
}

} // namespace

int main(int argc, char** argv)
{
    // Drawing needs fonts but no screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_artwork OUTPUT_FOLDER\n");
        return 2;
    }
    g_outDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(g_outDir)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    g_fonts.sans = loadFamily("LiberationSans-Bold.ttf", "Liberation Sans");
    loadFamily("LiberationSans-Regular.ttf", "Liberation Sans"); // same family, regular weight
    g_fonts.heavy = loadFamily("DejaVuSans-Bold.ttf", "DejaVu Sans");
    g_fonts.heavyCondensed = loadFamily("DejaVuSansCondensed-Bold.ttf", "DejaVu Sans Condensed");

    makeGlyphs();
    makeBackground();
    makeRow(QStringLiteral("INSTALL"), 13, false, "row1.bmp");
    makeRow(QStringLiteral("INSTALL"), 13, true, "row1lit.bmp");
    makeRow(QStringLiteral("VIEW THE MERIK.NFO"), 15, false, "row2.bmp");
    makeRow(QStringLiteral("VIEW THE MERIK.NFO"), 15, true, "row2lit.bmp");
    makeRow(QStringLiteral("QUIT"), 14, false, "row3.bmp");
    makeRow(QStringLiteral("QUIT"), 14, true, "row3lit.bmp");
    makeTitles();
    makeChooserFooter();
    makePromptFooter();
    makeExtractFooter();
    makeLauncherBackground();
    return g_ok ? 0 : 1;
}
