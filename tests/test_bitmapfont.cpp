// The bitmap-font renderer, pixel by pixel on a strip whose every column
// carries its own number, so each copied column says where it came from.
#include "BitmapFont.h"

#include <QtTest>

namespace {

constexpr QRgb Untouched = 0xFF123456;

// Column x of the strip is coloured (x % 256, x / 256, row).
QImage numberedStrip()
{
    QImage strip(696, 50, QImage::Format_RGB32);
    for (int y = 0; y < strip.height(); ++y)
        for (int x = 0; x < strip.width(); ++x)
            strip.setPixel(x, y, qRgb(x % 256, x / 256, y));
    return strip;
}

QImage blankTitle()
{
    QImage title(417, 45, QImage::Format_RGB32);
    title.fill(Untouched);
    return title;
}

// The strip column a destination column was copied from, or -1.
int sourceColumn(const QImage& title, int x)
{
    const QRgb pixel = title.pixel(x, 0);
    if (pixel == Untouched)
        return -1;
    return qRed(pixel) + 256 * qGreen(pixel);
}

// The source columns drawn, column by column, until the first untouched one.
QList<int> drawnColumns(const QString& text)
{
    QImage title = blankTitle();
    BitmapFont::DrawBitmapText(numberedStrip(), title, text);
    QList<int> columns;
    for (int x = 0; x < title.width() && sourceColumn(title, x) >= 0; ++x)
        columns << sourceColumn(title, x);
    return columns;
}

QList<int> span(int left, int right)
{
    QList<int> columns;
    for (int x = left; x < right; ++x)
        columns << x;
    return columns;
}

}

class TestBitmapFont : public QObject {
    Q_OBJECT
private slots:
    void glyphPlacement_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("columns");
        QTest::newRow("empty text draws nothing") << QString() << QList<int>();
        QTest::newRow("0") << "0" << span(1, 15);
        QTest::newRow("ab") << "ab" << span(149, 165) + span(165, 181);
        QTest::newRow("capitals fold") << "AB" << span(149, 165) + span(165, 181);
        QTest::newRow("unknown first character") << "#a" << span(149, 165);
        QTest::newRow("unknown repeats the last glyph") << "a#b" << span(149, 165) + span(149, 165) + span(165, 181);
        QTest::newRow("end mark stops drawing") << QStringLiteral("ab\u00a4cd") << span(149, 165) + span(165, 181);
        QTest::newRow("accented letters keep their case") << QStringLiteral("\u00c9a") << span(149, 165);
        QTest::newRow("blank") << " " << span(673, 687);
        QTest::newRow("punctuation") << "'\"" << span(560, 565) + span(566, 577);
    }
    void glyphPlacement()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, columns);
        QCOMPARE(drawnColumns(text), columns);
    }

    void rowsZeroTo44Only()
    {
        QImage title(417, 50, QImage::Format_RGB32);
        title.fill(Untouched);
        BitmapFont::DrawBitmapText(numberedStrip(), title, QStringLiteral("m"));
        for (int y = 0; y < 45; ++y)
            QCOMPARE(qBlue(title.pixel(0, y)), y);
        QCOMPARE(title.pixel(0, 45), Untouched);
        QCOMPARE(title.pixel(20, 0), Untouched); // m is 20 wide
    }

    void capitalsAndSmallLettersDrawAlike()
    {
        QImage upper = blankTitle();
        QImage lower = blankTitle();
        BitmapFont::DrawBitmapText(numberedStrip(), upper, QStringLiteral("SPACE GAME 2"));
        BitmapFont::DrawBitmapText(numberedStrip(), lower, QStringLiteral("space game 2"));
        QCOMPARE(upper, lower);
    }

    void clippedAtTheRightEdge()
    {
        // 30 w's are 720 columns; the title keeps its 417.
        QImage title = blankTitle();
        BitmapFont::DrawBitmapText(numberedStrip(), title, QString(30, QLatin1Char('w')));
        QCOMPARE(title.width(), 417);
        QCOMPARE(sourceColumn(title, 416), 481 + 416 % 24);
    }

    void titlePaddingBlacksOutTheRest()
    {
        QImage strip(696, 50, QImage::Format_RGB32);
        strip.fill(Qt::black);
        QImage title = blankTitle();
        BitmapFont::DrawBitmapText(strip, title, QStringLiteral("go") + QString(33, QLatin1Char(' ')));
        for (int x = 0; x < title.width(); ++x)
            QCOMPARE(title.pixel(x, 44), qRgb(0, 0, 0));
    }

    void destinationNotClearedFirst()
    {
        QImage title = blankTitle();
        BitmapFont::DrawBitmapText(numberedStrip(), title, QStringLiteral("i"));
        QCOMPARE(sourceColumn(title, 7), 278);
        QCOMPARE(title.pixel(8, 0), Untouched);
    }
};

QTEST_GUILESS_MAIN(TestBitmapFont)
#include "test_bitmapfont.moc"
