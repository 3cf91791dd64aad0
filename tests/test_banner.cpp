// The scrolling banner, driven as a real widget on the offscreen platform:
// its steps, its copies on screen (read back as pixels), its events, its
// rendering and its loading from a window definition.
#include "Banner.h"
#include "DefinitionLoading.h"
#include "Errors.h"
#include "ui_BannerTestForm.h"

#include <QGraphicsEffect>
#include <QLabel>
#include <QMetaProperty>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {

// A picture in which every pixel differs from its neighbours and from the
// plain background colours the tests use, so each copy's place is visible.
QPixmap patternPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(16 + x % 224, 16 + (x / 224) % 224, 16 + (y * 7) % 224));
    return QPixmap::fromImage(image);
}

// What the banner should show: Color with the picture at the given places.
QImage expectedFrame(QSize size, const QColor& color, const QPixmap& picture, const QList<QPoint>& copies)
{
    QImage frame(size, QImage::Format_RGB32);
    frame.fill(color);
    QPainter painter(&frame);
    const QImage source = picture.toImage().convertToFormat(QImage::Format_RGB32);
    for (const QPoint& at : copies)
        painter.drawImage(at, source);
    return frame;
}

int pixelsOfColour(const QImage& image, const QColor& color)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixel(x, y) == color.rgb();
    return count;
}

// Counts the drawing operations every repaint ends in, whichever way it
// reaches the window.
class CountingBanner : public TBanner {
public:
    using TBanner::TBanner;
    int drawn = 0;

protected:
    void PaintWithGap(QPainter& frame) override
    {
        ++drawn;
        TBanner::PaintWithGap(frame);
    }
    void PaintWithoutGap(QPainter& frame) override
    {
        ++drawn;
        TBanner::PaintWithoutGap(frame);
    }
};

// A child widget filled with one colour.
QWidget* panel(QWidget* parent, const QRect& geometry, const QColor& color)
{
    auto* widget = new QWidget(parent);
    widget->setGeometry(geometry);
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    return widget;
}

QImage onScreen(QWidget& window, const QRect& area)
{
    return window.screen()->grabWindow(window.winId(), area.x(), area.y(), area.width(), area.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// A window holding one banner at its top-left corner, shown offscreen.
struct Host {
    explicit Host(QSize bannerSize, QColor color = Qt::black)
    {
        banner = new CountingBanner(&window);
        banner->setAutoEnable(false);
        banner->setGeometry(QRect(QPoint(0, 0), bannerSize));
        banner->setColor(color);
        window.resize(bannerSize + QSize(10, 10));
        window.show();
    }
    QImage frame() const { return banner->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    // Brings the position to p in one step (the 16-bit sum wraps onto p).
    void moveTo(int p)
    {
        const quint16 pixels = banner->scrollPixels();
        banner->setScrollPixels(quint16(p - banner->position()));
        banner->scrollStep();
        banner->setScrollPixels(pixels);
        QCOMPARE(int(banner->position()), p);
    }

    QWidget window;
    CountingBanner* banner;
};

// Records the banner's events in order.
QStringList* recordEvents(TBanner* banner, QStringList* log)
{
    QObject::connect(banner, &TBanner::OnEnable, banner, [log](TBanner*) { log->append("enable"); });
    QObject::connect(banner, &TBanner::OnDisable, banner, [log](TBanner*) { log->append("disable"); });
    QObject::connect(banner, &TBanner::OnScroll, banner, [log](TBanner*) { log->append("scroll"); });
    return log;
}

QString errorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Exception& error) {
        return QString::fromStdString(error.what());
    }
    return {};
}

}

using Direction = TBanner::TScrollDirection;

class TestBanner : public QObject {
    Q_OBJECT

private slots:
    void construction()
    {
        QWidget parent;
        TBanner banner(&parent);
        QCOMPARE(banner.size(), QSize(100, 100));
        QVERIFY(banner.testAttribute(Qt::WA_OpaquePaintEvent));
        QVERIFY(!banner.testAttribute(Qt::WA_NativeWindow));
        QVERIFY(!banner.isWindow());
        QVERIFY(banner.autoEnable());
        QVERIFY(banner.hasPicture());
        QCOMPARE(banner.bitmap().size(), QSize(0, 0));
        QVERIFY(!banner.scrollEnabled());
        QVERIFY(banner.lines().isEmpty());
        QCOMPARE(banner.linesAlign(), TBanner::taCenter);
        QVERIFY(!banner.noGap());
        QVERIFY(!banner.onlyOnce());
        QCOMPARE(banner.scrollDirection(), TBanner::sdRightToLeft);
        QCOMPARE(banner.scrollInterval(), quint16(200));
        QCOMPARE(banner.scrollPixels(), quint16(4));
        QCOMPARE(banner.position(), quint16(0));
        QVERIFY(banner.scrollText().isEmpty());
        auto* timer = banner.findChild<QTimer*>();
        QVERIFY(timer);
        QCOMPARE(timer->interval(), 200);
        QVERIFY(!timer->isActive());
        // Scrolling on or off leaves input enabled.
        QVERIFY(banner.isEnabled());
    }

    void propertiesInStoredOrder()
    {
        const QMetaObject& meta = TBanner::staticMetaObject;
        QStringList own;
        for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i)
            own << meta.property(i).name();
        QCOMPARE(own, (QStringList { "Tag", "AutoEnable", "Bitmap", "Enabled", "Lines", "LinesAlign", "NoGap", "OnlyOnce",
                          "ScrollDirection", "ScrollInterval", "ScrollPixels", "ScrollText", "Color", "Font",
                          "FontPixelSize", "FontColor" }));
        QVERIFY(!meta.property(meta.indexOfProperty("Enabled")).isStored());

        // Through the property system, "Enabled" is scrolling, not input.
        Host host(QSize(50, 10));
        host.banner->setBitmap(patternPicture(20, 10));
        QVERIFY(host.banner->setProperty("Enabled", true));
        QVERIFY(host.banner->scrollEnabled());
        QVERIFY(host.banner->setProperty("Enabled", false));
        QVERIFY(!host.banner->scrollEnabled());
        QVERIFY(host.banner->isEnabled());
        QVERIFY(host.banner->setProperty("ScrollDirection", int(TBanner::sdTopToBottom)));
        QCOMPARE(host.banner->scrollDirection(), TBanner::sdTopToBottom);
    }

    void storageRules()
    {
        Host host(QSize(50, 10));
        TBanner& banner = *host.banner;
        QVERIFY(banner.isBitmapStored());
        banner.setScrollText("text");
        QVERIFY(banner.isScrollTextStored() && !banner.isBitmapStored() && !banner.isLinesStored());
        banner.setLines({ "a" });
        QVERIFY(!banner.isScrollTextStored() && !banner.isBitmapStored() && banner.isLinesStored());
        banner.setBitmap(patternPicture(5, 5));
        QVERIFY(!banner.isScrollTextStored() && banner.isBitmapStored() && !banner.isLinesStored());
    }

    void mainWindowExample()
    {
        Host host(QSize(448, 20));
        TBanner& banner = *host.banner;
        banner.setScrollInterval(10);
        banner.setScrollPixels(3);
        const QPixmap picture = patternPicture(600, 15);
        banner.setBitmap(picture);
        banner.setScrollEnabled(true);
        QCOMPARE(banner.position(), quint16(0));
        QCOMPARE(host.frame(), expectedFrame(QSize(448, 20), Qt::black, picture, { { 448, 0 } }));
        for (int expected = 3; expected <= 1047; expected += 3) {
            banner.scrollStep();
            QCOMPARE(int(banner.position()), expected);
        }
        // Right end just left at the left edge (x = 448 - 1047 = -599).
        QCOMPARE(host.frame(), expectedFrame(QSize(448, 20), Qt::black, picture, { { -599, 0 } }));
        QCOMPARE(pixelsOfColour(host.frame(), Qt::black), 447 * 20 + 5);
        banner.scrollStep();
        QCOMPARE(banner.position(), quint16(0));
        QVERIFY(banner.scrollEnabled());
        banner.scrollStep();
        QCOMPARE(host.frame(), expectedFrame(QSize(448, 20), Qt::black, picture, { { 445, 0 } }));
    }

    void copies_data()
    {
        QTest::addColumn<bool>("noGap");
        QTest::addColumn<Direction>("direction");
        QTest::addColumn<QSize>("bannerSize");
        QTest::addColumn<QSize>("pictureSize");
        QTest::addColumn<int>("position");
        QTest::addColumn<QList<QPoint>>("expected");
        const QSize wide(448, 20), tall(20, 448);
        QTest::newRow("no gap, right to left") << true << TBanner::sdRightToLeft << wide << QSize(300, 20) << 100
                                               << QList<QPoint> { { 348, 0 }, { 48, 0 }, { -252, 0 } };
        QTest::newRow("no gap, left to right") << true << TBanner::sdLeftToRight << wide << QSize(300, 20) << 100
                                               << QList<QPoint> { { -200, 0 }, { 100, 0 }, { 400, 0 } };
        QTest::newRow("no gap, top to bottom") << true << TBanner::sdTopToBottom << tall << QSize(20, 300) << 100
                                               << QList<QPoint> { { 0, -200 }, { 0, 100 }, { 0, 400 } };
        QTest::newRow("no gap, bottom to top") << true << TBanner::sdBottomToTop << tall << QSize(20, 300) << 100
                                               << QList<QPoint> { { 0, 348 }, { 0, 48 }, { 0, -252 } };
        QTest::newRow("no gap, narrow picture") << true << TBanner::sdRightToLeft << wide << QSize(200, 20) << 150
                                                << QList<QPoint> { { 298, 0 }, { 98, 0 }, { -102, 0 } };
        QTest::newRow("gap, right to left") << false << TBanner::sdRightToLeft << wide << QSize(300, 20) << 100
                                            << QList<QPoint> { { 348, 0 } };
        QTest::newRow("gap, left to right") << false << TBanner::sdLeftToRight << wide << QSize(300, 20) << 100
                                            << QList<QPoint> { { -200, 0 } };
        QTest::newRow("gap, top to bottom") << false << TBanner::sdTopToBottom << tall << QSize(20, 300) << 100
                                            << QList<QPoint> { { 0, -200 } };
        QTest::newRow("gap, bottom to top") << false << TBanner::sdBottomToTop << tall << QSize(20, 300) << 100
                                            << QList<QPoint> { { 0, 348 } };
        QTest::newRow("gap, not centred across") << false << TBanner::sdRightToLeft << QSize(448, 40) << QSize(300, 10) << 200
                                                 << QList<QPoint> { { 248, 0 } };
        QTest::newRow("gap, vertical left edge") << false << TBanner::sdTopToBottom << QSize(60, 100) << QSize(30, 50) << 70
                                                 << QList<QPoint> { { 0, 20 } };
    }
    void copies()
    {
        QFETCH(bool, noGap);
        QFETCH(Direction, direction);
        QFETCH(QSize, bannerSize);
        QFETCH(QSize, pictureSize);
        QFETCH(int, position);
        QFETCH(QList<QPoint>, expected);
        Host host(bannerSize, Qt::red);
        TBanner& banner = *host.banner;
        banner.setNoGap(noGap);
        banner.setScrollDirection(direction);
        const QPixmap picture = patternPicture(pictureSize.width(), pictureSize.height());
        banner.setBitmap(picture);
        host.moveTo(position);
        const QImage frame = host.frame();
        QCOMPARE(frame, expectedFrame(bannerSize, Qt::red, picture, expected));
        if (noGap)
            QCOMPARE(pixelsOfColour(frame, Qt::red), 0);
        else
            QVERIFY(pixelsOfColour(frame, Qt::red) > 0);
    }

    void noGapWrapsAtPictureSize()
    {
        Host host(QSize(448, 20));
        host.banner->setNoGap(true);
        host.banner->setBitmap(patternPicture(300, 20));
        host.banner->setScrollPixels(130);
        QList<int> seen;
        for (int i = 0; i < 5; ++i) {
            host.banner->scrollStep();
            seen << host.banner->position();
        }
        QCOMPARE(seen, (QList<int> { 130, 260, 90, 220, 50 }));
        // A picture of exactly the step: p stays at most the picture's size.
        host.banner->setBitmap(patternPicture(10, 20));
        host.banner->setScrollPixels(10);
        host.banner->scrollStep();
        QCOMPARE(host.banner->position(), quint16(10));
    }

    void directionSwitch_data()
    {
        QTest::addColumn<Direction>("from");
        QTest::addColumn<Direction>("to");
        QTest::addColumn<QSize>("bannerSize");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("newPosition");
        QTest::addColumn<QPoint>("newPlace");
        QTest::addColumn<QPoint>("afterStep");
        // Picture 300 x 20 (horizontal banners) or 20 x 300 (vertical); 5 pixels a step.
        const QSize wide(448, 40), tall(40, 448);
        QTest::newRow("right to left, then left to right") << TBanner::sdRightToLeft << TBanner::sdLeftToRight << wide << 100 << 648
                                                           << QPoint(348, 0) << QPoint(353, 0);
        QTest::newRow("left to right, then right to left") << TBanner::sdLeftToRight << TBanner::sdRightToLeft << wide << 100 << 648
                                                           << QPoint(-200, 0) << QPoint(-205, 0);
        QTest::newRow("top to bottom, then bottom to top") << TBanner::sdTopToBottom << TBanner::sdBottomToTop << tall << 100 << 648
                                                           << QPoint(0, -200) << QPoint(0, -205);
        QTest::newRow("bottom to top, then top to bottom") << TBanner::sdBottomToTop << TBanner::sdTopToBottom << tall << 100 << 648
                                                           << QPoint(0, 348) << QPoint(0, 353);
        // Horizontal to vertical: p = BH, the whole picture against the entry edge.
        QTest::newRow("right to left, then top to bottom") << TBanner::sdRightToLeft << TBanner::sdTopToBottom << wide << 100 << 20
                                                           << QPoint(0, 0) << QPoint(0, 5);
        QTest::newRow("right to left, then bottom to top") << TBanner::sdRightToLeft << TBanner::sdBottomToTop << wide << 100 << 20
                                                           << QPoint(0, 20) << QPoint(0, 15);
        // Vertical to horizontal: p = BW.
        QTest::newRow("top to bottom, then left to right") << TBanner::sdTopToBottom << TBanner::sdLeftToRight << tall << 100 << 20
                                                           << QPoint(0, 0) << QPoint(5, 0);
        QTest::newRow("bottom to top, then right to left") << TBanner::sdBottomToTop << TBanner::sdRightToLeft << tall << 100 << 20
                                                           << QPoint(20, 0) << QPoint(15, 0);
    }
    void directionSwitch()
    {
        QFETCH(Direction, from);
        QFETCH(Direction, to);
        QFETCH(QSize, bannerSize);
        QFETCH(int, position);
        QFETCH(int, newPosition);
        QFETCH(QPoint, newPlace);
        QFETCH(QPoint, afterStep);
        Host host(bannerSize);
        TBanner& banner = *host.banner;
        banner.setScrollDirection(from);
        const bool horizontal = from == TBanner::sdRightToLeft || from == TBanner::sdLeftToRight;
        const QPixmap picture = horizontal ? patternPicture(300, 20) : patternPicture(20, 300);
        banner.setBitmap(picture);
        host.moveTo(position);
        const QImage before = host.frame();

        banner.setScrollDirection(to);
        QCOMPARE(int(banner.position()), newPosition);
        QCOMPARE(host.frame(), expectedFrame(bannerSize, Qt::black, picture, { newPlace }));
        const bool sameAxis = horizontal == (to == TBanner::sdRightToLeft || to == TBanner::sdLeftToRight);
        if (sameAxis)
            QCOMPARE(host.frame(), before); // the picture stays where it was

        banner.setScrollPixels(5);
        banner.scrollStep();
        QCOMPARE(host.frame(), expectedFrame(bannerSize, Qt::black, picture, { afterStep }));

        // The same direction again changes nothing.
        const quint16 kept = banner.position();
        banner.setScrollDirection(to);
        QCOMPARE(banner.position(), kept);
    }

    void directionSwitchWithoutPicture()
    {
        Host host(QSize(448, 20));
        TBanner& banner = *host.banner;
        banner.setScrollText("Hello");
        banner.setScrollEnabled(true);
        host.moveTo(100);
        banner.setScrollEnabled(false); // discards the rendered picture
        QVERIFY(!banner.hasPicture());
        banner.setScrollDirection(TBanner::sdLeftToRight);
        QCOMPARE(banner.position(), quint16(0));
        banner.setScrollEnabled(true);
        QVERIFY(banner.hasPicture());
        // Enters at the left edge.
        const int width = banner.bitmap().width();
        QCOMPARE(host.frame(), expectedFrame(QSize(448, 20), Qt::black, banner.bitmap(), { { -width, 0 } }));
    }

    void onlyOnce_data()
    {
        QTest::addColumn<bool>("rendered");
        QTest::newRow("text") << true;
        QTest::newRow("bitmap") << false;
    }
    void onlyOnce()
    {
        QFETCH(bool, rendered);
        Host host(QSize(448, 20));
        TBanner& banner = *host.banner;
        QStringList events;
        banner.setOnlyOnce(true);
        if (rendered)
            banner.setScrollText("Only once");
        else
            banner.setBitmap(patternPicture(100, 20));
        banner.setScrollEnabled(true);
        banner.setScrollPixels(50);
        recordEvents(&banner, &events);
        const int limit = (banner.bitmap().width() + 448) / 50 + 1;
        int steps = 0;
        while (banner.scrollEnabled() && steps < 100) {
            banner.scrollStep();
            ++steps;
        }
        QCOMPARE(steps, limit);
        QVERIFY(!banner.scrollEnabled());
        QCOMPARE(int(banner.position()), limit * 50); // left unchanged at the end
        QCOMPARE(events.mid(events.size() - 2), (QStringList { "disable", "scroll" }));
        QCOMPARE(banner.hasPicture(), !rendered);
        QCOMPARE(pixelsOfColour(host.frame(), Qt::black), 448 * 20);

        // Enabling again ends the pass again on the next step.
        banner.setScrollEnabled(true);
        QVERIFY(banner.hasPicture());
        banner.scrollStep();
        QVERIFY(!banner.scrollEnabled());
        QCOMPARE(int(banner.position()), limit * 50 + 50);
    }

    void onlyOnceNeverStopsWithoutGap()
    {
        Host host(QSize(448, 20));
        TBanner& banner = *host.banner;
        banner.setOnlyOnce(true);
        banner.setNoGap(true);
        banner.setBitmap(patternPicture(100, 20));
        banner.setScrollEnabled(true);
        banner.setScrollPixels(7);
        for (int i = 0; i < 2000; ++i) {
            banner.scrollStep();
            QVERIFY(banner.scrollEnabled());
            QVERIFY(banner.position() <= 100);
        }
    }

    void events()
    {
        Host host(QSize(100, 20));
        TBanner& banner = *host.banner;
        QStringList events;
        recordEvents(&banner, &events);
        banner.setBitmap(patternPicture(30, 10));
        QVERIFY(events.isEmpty()); // AutoEnable off
        banner.setScrollEnabled(true);
        banner.setScrollEnabled(true);
        QCOMPARE(events, (QStringList { "enable", "enable" }));
        events.clear();
        banner.setScrollEnabled(false);
        banner.setScrollEnabled(false);
        QCOMPARE(events, (QStringList { "disable", "disable" }));

        banner.setAutoEnable(true);
        events.clear();
        banner.setScrollText("abc");
        QCOMPARE(events, (QStringList { "disable", "enable" }));

        // Bitmap does not stop the scrolling.
        events.clear();
        banner.setBitmap(patternPicture(30, 10));
        QCOMPARE(events, (QStringList { "enable" }));

        // Lines restart scrolling that was on, even without AutoEnable.
        banner.setAutoEnable(false);
        events.clear();
        banner.setLines({ "one", "two" });
        QCOMPARE(events, (QStringList { "disable", "enable" }));
        events.clear();
        banner.setLinesAlign(TBanner::taCenter); // unchanged: nothing happens
        QVERIFY(events.isEmpty());
        banner.setLinesAlign(TBanner::taLeftJustify);
        QCOMPARE(events, (QStringList { "disable", "enable" }));

        // Text without AutoEnable stays stopped.
        events.clear();
        banner.setScrollText("stopped");
        QCOMPARE(events, (QStringList { "disable" }));
        QVERIFY(!banner.scrollEnabled());

        // Starting after a stop renders the text again (its own stop and start
        // come first).
        banner.setAutoEnable(true);
        banner.setScrollEnabled(false);
        events.clear();
        banner.setScrollEnabled(true);
        QCOMPARE(events, (QStringList { "disable", "enable", "enable" }));
        QVERIFY(banner.scrollEnabled());
        banner.scrollStep();
        QCOMPARE(events.last(), QString("scroll"));
    }

    void stoppingKeepsPositionAndAssignedPicture()
    {
        Host host(QSize(448, 20));
        TBanner& banner = *host.banner;
        banner.setScrollText("text");
        banner.setScrollEnabled(true);
        host.moveTo(40);
        banner.setScrollEnabled(false);
        QVERIFY(!banner.hasPicture());
        QVERIFY(banner.bitmap().isNull());
        QCOMPARE(banner.position(), quint16(40));
        QCOMPARE(pixelsOfColour(host.frame(), Qt::black), 448 * 20);
        banner.setScrollEnabled(true);
        QCOMPARE(banner.position(), quint16(40));

        const QPixmap picture = patternPicture(50, 20);
        banner.setBitmap(picture);
        QVERIFY(banner.scrollText().isEmpty());
        banner.setScrollEnabled(false);
        QVERIFY(banner.hasPicture());
        QCOMPARE(host.frame(), expectedFrame(QSize(448, 20), Qt::black, picture, { { 408, 0 } }));
    }

    void intervalAndPixels()
    {
        Host host(QSize(100, 20));
        TBanner& banner = *host.banner;
        auto* timer = banner.findChild<QTimer*>();
        QVERIFY(timer);
        QSignalSpy scrolls(&banner, &TBanner::OnScroll);
        banner.setBitmap(patternPicture(30, 10));

        banner.setScrollInterval(0);
        banner.setScrollEnabled(true);
        QVERIFY(banner.scrollEnabled());
        QCOMPARE(banner.scrollInterval(), quint16(0));
        QVERIFY(!timer->isActive());
        QTest::qWait(50);
        QCOMPARE(scrolls.count(), 0);
        QCOMPARE(banner.position(), quint16(0));

        banner.setScrollInterval(10);
        QCOMPARE(timer->interval(), 10);
        QVERIFY(timer->isActive());
        QCOMPARE(timer->timerType(), Qt::PreciseTimer);
        QTRY_VERIFY(scrolls.count() >= 3);
        banner.setScrollEnabled(false);
        QVERIFY(!timer->isActive());

        // ScrollPixels 0 repaints each step without motion.
        banner.setScrollEnabled(true);
        banner.setScrollInterval(0);
        banner.setScrollPixels(0);
        const quint16 position = banner.position();
        const int drawn = host.banner->drawn;
        scrolls.clear();
        for (int i = 0; i < 3; ++i)
            banner.scrollStep();
        QCOMPARE(banner.position(), position);
        QCOMPARE(host.banner->drawn, drawn + 3);
        QCOMPARE(scrolls.count(), 3);
    }

    void stepRepaintsAtOnce()
    {
        Host host(QSize(448, 20));
        TBanner& banner = *host.banner;
        const QPixmap picture = patternPicture(100, 20);
        banner.setBitmap(picture);
        banner.setScrollEnabled(true);
        banner.setScrollPixels(60);
        QVERIFY(QTest::qWaitForWindowExposed(&host.window));
        QCoreApplication::processEvents();
        const int drawn = host.banner->drawn;
        banner.scrollStep();
        QCOMPARE(host.banner->drawn, drawn + 1); // no event processing in between
        // What reached the window's surface, not a fresh rendering.
        const QImage expected = expectedFrame(QSize(448, 20), Qt::black, picture, { { 388, 0 } });
        QCOMPARE(onScreen(host.window, QRect(0, 0, 448, 20)), expected);
        QCOMPARE(host.frame(), expected);
    }

    // A step paints the banner's own pixels only: what is stacked above it
    // (opaque or drawn over it), a parent edge that cuts it off, and an
    // effect on a parent show after a step as the window painted afresh
    // shows them, and the banner still shows each step at once.
    void stepLeavesCoversAndClipsAlone_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::newRow("nothing over it") << "plain";
        QTest::newRow("opaque widget above") << "opaque";
        QTest::newRow("text above") << "label";
        QTest::newRow("widget above a parent") << "above parent";
        QTest::newRow("parent edge") << "clipped";
        QTest::newRow("effect on a parent") << "effect";
    }
    void stepLeavesCoversAndClipsAlone()
    {
        QFETCH(QString, layout);
        QWidget window;
        window.resize(300, 40);
        panel(&window, window.rect(), Qt::blue);
        QWidget* box = panel(&window, QRect(0, 0, 300, 20), Qt::blue);
        auto* banner = new CountingBanner(box);
        banner->setAutoEnable(false);
        banner->setColor(Qt::black);
        banner->setGeometry(0, 0, 200, 20);
        if (layout == "opaque") {
            panel(box, QRect(150, 0, 50, 20), Qt::red);
        } else if (layout == "label") {
            auto* label = new QLabel("WWWWWW", box);
            label->setStyleSheet("color: red");
            label->setGeometry(150, 0, 50, 20);
        } else if (layout == "above parent") {
            panel(&window, QRect(150, 10, 50, 30), Qt::red);
        } else if (layout == "clipped") {
            box->resize(150, 20);
        } else if (layout == "effect") {
            box->setGraphicsEffect(new QGraphicsColorizeEffect);
        }
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPixmap picture = patternPicture(100, 20);
        banner->setBitmap(picture);
        banner->setScrollPixels(60);
        QCoreApplication::processEvents();

        const int drawn = banner->drawn;
        banner->scrollStep();
        banner->scrollStep();
        QCOMPARE(banner->drawn, drawn + 2);
        const QImage stepped = onScreen(window, window.rect());
        if (layout != "effect") {
            const QRect open(0, 0, 100, 10); // never covered
            const QImage expected = expectedFrame(QSize(200, 20), Qt::black, picture, { { 80, 0 } });
            QCOMPARE(stepped.copy(open), expected.copy(open));
        }
        // The window painted afresh, away from its surface.
        QCOMPARE(stepped, window.grab().toImage().convertToFormat(QImage::Format_RGB32));
    }

    void emptyContent_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QSize>("picture");
        QTest::newRow("empty text") << "text" << QSize(0, 0);
        QTest::newRow("empty lines") << "lines" << QSize(0, 0);
        QTest::newRow("empty lines while scrolling") << "lines while scrolling" << QSize(0, 0);
        QTest::newRow("lines of empty strings") << "empty strings" << QSize(0, 0);
        QTest::newRow("nothing assigned") << "nothing" << QSize(0, 0);
        QTest::newRow("zero-size bitmap") << "bitmap" << QSize(0, 0);
    }
    void emptyContent()
    {
        QFETCH(QString, how);
        QFETCH(QSize, picture);
        Host host(QSize(100, 20), Qt::blue);
        TBanner& banner = *host.banner;
        QStringList events;
        QString error;
        if (how == "text") {
            banner.setAutoEnable(true);
            banner.setScrollText("before");
            recordEvents(&banner, &events);
            error = errorOf([&] { banner.setScrollText(QString()); });
            QCOMPARE(events, (QStringList { "disable" }));
        } else if (how == "lines") {
            banner.setAutoEnable(true);
            recordEvents(&banner, &events);
            error = errorOf([&] { banner.setLines({}); });
        } else if (how == "lines while scrolling") {
            banner.setLines({ "scrolling" });
            banner.setScrollEnabled(true);
            recordEvents(&banner, &events);
            error = errorOf([&] { banner.setLines({}); });
        } else if (how == "empty strings") {
            banner.setAutoEnable(true);
            recordEvents(&banner, &events);
            error = errorOf([&] { banner.setLines({ "", "" }); });
            QCOMPARE(banner.lines(), (QStringList { "", "" }));
        } else if (how == "nothing") {
            recordEvents(&banner, &events);
            error = errorOf([&] { banner.setScrollEnabled(true); });
            QVERIFY(events.isEmpty()); // nothing changes
        } else {
            banner.setAutoEnable(true);
            recordEvents(&banner, &events);
            banner.setBitmap(QPixmap());
            QVERIFY(events.isEmpty()); // width 0: no automatic enabling
            error = errorOf([&] { banner.setScrollEnabled(true); });
        }
        QCOMPARE(error, QString("Assign a bitmap or text to banner before enabling"));
        QVERIFY(!events.contains("enable"));
        QVERIFY(!banner.scrollEnabled());
        QVERIFY(banner.hasPicture());
        QCOMPARE(banner.bitmap().size(), picture);
        QVERIFY(!banner.findChild<QTimer*>()->isActive());
        QCOMPARE(pixelsOfColour(host.frame(), Qt::blue), 100 * 20);

        // Enabling again ends, with the same error, however often.
        for (int i = 0; i < 2; ++i)
            QCOMPARE(errorOf([&] { banner.setScrollEnabled(true); }), QString(TBanner::noContentMessage));
        banner.setScrollEnabled(false);
        QCOMPARE(errorOf([&] { banner.setScrollEnabled(true); }), QString(TBanner::noContentMessage));
        QVERIFY(!banner.scrollEnabled());
        // A step never moves an empty picture.
        const quint16 position = banner.position();
        banner.scrollStep();
        QCOMPARE(banner.position(), position);
    }

    void zeroSizeBitmapWhileScrolling()
    {
        Host host(QSize(100, 20));
        TBanner& banner = *host.banner;
        banner.setNoGap(true);
        banner.setBitmap(patternPicture(30, 10));
        banner.setScrollEnabled(true);
        host.moveTo(20);
        QSignalSpy scrolls(&banner, &TBanner::OnScroll);
        banner.setBitmap(QPixmap());
        QVERIFY(banner.scrollEnabled()); // Bitmap never stops the scrolling
        banner.scrollStep();
        QCOMPARE(banner.position(), quint16(20));
        QCOMPARE(scrolls.count(), 0);
        QCOMPARE(pixelsOfColour(host.frame(), Qt::black), 100 * 20);
    }

    void renderedText()
    {
        Host host(QSize(448, 40), Qt::white);
        TBanner& banner = *host.banner;
        banner.setFont(QFont("Liberation Sans"));
        banner.setFontPixelSize(20);
        banner.setFontColor(Qt::black);
        banner.setScrollText("Hello banner");
        const QFontMetrics metrics(banner.font());
        QCOMPARE(banner.bitmap().size(), QSize(metrics.horizontalAdvance("Hello banner"), metrics.height()));
        QVERIFY(banner.lines().isEmpty());
        const QImage text = banner.bitmap().toImage().convertToFormat(QImage::Format_RGB32);
        const int ink = text.width() * text.height() - pixelsOfColour(text, Qt::white);
        QVERIFY(ink > 50);
        QVERIFY(pixelsOfColour(text, Qt::black) > 10);

        // Font and Color changed afterwards leave the picture alone...
        banner.setColor(Qt::red);
        banner.setFontPixelSize(30);
        banner.setFontColor(Qt::green);
        QCOMPARE(banner.bitmap().toImage().convertToFormat(QImage::Format_RGB32), text);
        // ...but the background around it takes the new Color at once.
        host.moveTo(300);
        const QImage frame = host.frame();
        QCOMPARE(frame, expectedFrame(QSize(448, 40), Qt::red, QPixmap::fromImage(text), { { 148, 0 } }));
        QCOMPARE(frame.pixel(10, 39), QColor(Qt::red).rgb());
        QCOMPARE(frame.pixel(200, 39), QColor(Qt::red).rgb());

        // Assigning the text again renders with the new look.
        banner.setScrollText("Hello banner");
        const QImage again = banner.bitmap().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(again.height(), QFontMetrics(banner.font()).height());
        QVERIFY(again.height() > text.height());
        QCOMPARE(pixelsOfColour(again, Qt::white), 0);
        QVERIFY(pixelsOfColour(again, Qt::red) > 0);
        QVERIFY(pixelsOfColour(again, Qt::green) > 10);
    }

    void linesAlignment_data()
    {
        QTest::addColumn<TBanner::TAlignment>("align");
        QTest::newRow("left") << TBanner::taLeftJustify;
        QTest::newRow("right") << TBanner::taRightJustify;
        QTest::newRow("centre") << TBanner::taCenter;
    }
    void linesAlignment()
    {
        QFETCH(TBanner::TAlignment, align);
        QFont font("Liberation Sans");
        font.setPixelSize(20);
        const QFontMetrics metrics(font);
        const QString widest = "WWWWW";
        // A narrow line whose width differs from the widest by an odd number.
        QString narrow;
        for (const QString candidate : { "i", "l", "il", "ij", "x", "xi", "m", "mi", "t", "r" })
            if ((metrics.horizontalAdvance(widest) - metrics.horizontalAdvance(candidate)) % 2 != 0) {
                narrow = candidate;
                break;
            }
        QVERIFY2(!narrow.isEmpty(), "no line with an odd width difference in this font");
        const int difference = metrics.horizontalAdvance(widest) - metrics.horizontalAdvance(narrow);

        auto render = [&](TBanner::TAlignment how) {
            TBanner banner;
            banner.setAutoEnable(false);
            banner.setFont(font);
            banner.setColor(Qt::white);
            banner.setFontColor(Qt::black);
            banner.setLinesAlign(how);
            banner.setLines({ narrow, widest, narrow });
            return banner.bitmap().toImage().convertToFormat(QImage::Format_RGB32);
        };
        const QImage left = render(TBanner::taLeftJustify);
        const QImage aligned = render(align);
        const int lineHeight = QFontMetrics(font).height();
        QCOMPARE(aligned.size(), QSize(metrics.horizontalAdvance(widest), 3 * lineHeight));

        auto bandShifted = [&](int band, int shift) {
            for (int y = band * lineHeight; y < (band + 1) * lineHeight; ++y)
                for (int x = 0; x < aligned.width(); ++x) {
                    const int from = x - shift;
                    const QRgb expected = from >= 0 && from < left.width() ? left.pixel(from, y) : qRgb(255, 255, 255);
                    if (aligned.pixel(x, y) != expected)
                        return false;
                }
            return true;
        };
        const int shift = align == TBanner::taLeftJustify ? 0 : align == TBanner::taRightJustify ? difference : difference / 2;
        QVERIFY(bandShifted(0, shift));
        QVERIFY(bandShifted(2, shift));
        QVERIFY(bandShifted(1, 0)); // the widest line fills the picture
        QVERIFY(!bandShifted(0, shift + 1));
        if (align == TBanner::taCenter) // one pixel nearer the left than the right
            QCOMPARE(shift * 2 + 1, difference);
    }

    void linesReplaceText()
    {
        Host host(QSize(100, 40));
        TBanner& banner = *host.banner;
        banner.setScrollText("single");
        banner.setLines({ "a", "b" });
        QVERIFY(banner.scrollText().isEmpty());
        QCOMPARE(banner.bitmap().height(), 2 * QFontMetrics(banner.font()).height());
        banner.setScrollText("single");
        QVERIFY(banner.lines().isEmpty());
        banner.setBitmap(patternPicture(5, 5));
        QVERIFY(banner.lines().isEmpty() && banner.scrollText().isEmpty());
    }

    void positionWraps_data()
    {
        QTest::addColumn<bool>("noGap");
        QTest::addColumn<int>("pictureWidth");
        QTest::addColumn<QList<int>>("pixels");
        QTest::addColumn<QList<int>>("positions");
        QTest::newRow("gap, long picture") << false << 40000 << QList<int> { 40000, 40000 } << QList<int> { 40000, 14464 };
        QTest::newRow("gap, beyond range") << false << 65500 << QList<int> { 30000, 30000, 30000 } << QList<int> { 30000, 60000, 24464 };
        QTest::newRow("gap, top of range") << false << 65000 << QList<int> { 65400, 200 } << QList<int> { 65400, 64 };
        QTest::newRow("gap, exactly at the end") << false << 100 << QList<int> { 548, 1 } << QList<int> { 548, 0 };
        QTest::newRow("no gap") << true << 300 << QList<int> { 100, 65535, 65535 } << QList<int> { 100, 99, 98 };
    }
    void positionWraps()
    {
        QFETCH(bool, noGap);
        QFETCH(int, pictureWidth);
        QFETCH(QList<int>, pixels);
        QFETCH(QList<int>, positions);
        Host host(QSize(448, 4));
        TBanner& banner = *host.banner;
        banner.setNoGap(noGap);
        banner.setBitmap(patternPicture(pictureWidth, 4));
        for (int i = 0; i < pixels.size(); ++i) {
            banner.setScrollPixels(quint16(pixels[i]));
            banner.scrollStep();
            QCOMPARE(int(banner.position()), positions[i]);
        }
    }

    void loadingScope()
    {
        QWidget window;
        TBanner* banner = nullptr;
        QStringList events;
        {
            DefinitionLoading loading;
            banner = new TBanner(&window);
            recordEvents(banner, &events);
            QVERIFY(banner->isLoading());
            banner->setScrollEnabled(true); // ignored: no error, no event
            banner->setScrollText("Loaded text");
            QVERIFY(!banner->scrollEnabled());
            banner->setColor(Qt::black);
            banner->setFontPixelSize(30);
            QVERIFY(events.isEmpty());
            loading.finish();
        }
        QVERIFY(!banner->isLoading());
        QVERIFY(banner->scrollEnabled());
        QVERIFY(banner->findChild<QTimer*>()->isActive());
        // Rendered again with the loaded font, after the text was read.
        QCOMPARE(banner->bitmap().height(), QFontMetrics(banner->font()).height());
        QCOMPARE(banner->bitmap().width(), QFontMetrics(banner->font()).horizontalAdvance("Loaded text"));
        QCOMPARE(events, (QStringList { "disable", "enable", "enable" }));
    }

    void hiddenWindowKeepsStepping()
    {
        QWidget window; // never shown
        TBanner* banner = nullptr;
        {
            DefinitionLoading loading;
            banner = new TBanner(&window);
            banner->setGeometry(2, 47, 248, 16);
            banner->setScrollInterval(10);
            banner->setScrollText("Greetings");
            loading.finish();
        }
        QVERIFY(banner->scrollEnabled());
        QSignalSpy scrolls(banner, &TBanner::OnScroll);
        QTRY_VERIFY(scrolls.count() >= 2);
        QVERIFY(banner->position() > 0);
    }

    void loadingWithoutContent()
    {
        QWidget window;
        DefinitionLoading loading;
        auto* banner = new TBanner(&window);
        loading.finish();
        QVERIFY(!banner->scrollEnabled());
    }

    void loadingEmptyLinesReports()
    {
        QWidget window;
        DefinitionLoading loading;
        auto* banner = new TBanner(&window);
        banner->setLines({ QString() });
        QCOMPARE(errorOf([&] { loading.finish(); }), QString(TBanner::noContentMessage));
        QVERIFY(!banner->scrollEnabled());
    }

    void designerForm()
    {
        QWidget window;
        Ui::BannerTestForm form;
        {
            DefinitionLoading loading;
            form.setupUi(&window);
            QVERIFY(!form.Banner1->scrollEnabled());
            loading.finish();
        }
        TBanner& banner = *form.Banner1;
        QCOMPARE(banner.geometry(), QRect(3, 323, 448, 20));
        QCOMPARE(banner.scrollInterval(), quint16(10));
        QCOMPARE(banner.scrollPixels(), quint16(3));
        QCOMPARE(banner.color(), QColor(Qt::black));
        QCOMPARE(banner.fontColor(), QColor(128, 128, 128));
        QCOMPARE(banner.font().family(), QString("Arial"));
        QVERIFY(banner.font().bold());
        QCOMPARE(banner.fontPixelSize(), 13);
        QCOMPARE(banner.scrollText(), QString("OoOoOps ! The INSTALL.INI file is missing !"));
        QCOMPARE(banner.scrollDirection(), TBanner::sdRightToLeft);
        QVERIFY(!banner.noGap() && !banner.onlyOnce() && banner.autoEnable());
        QVERIFY(banner.scrollEnabled());
        const QFontMetrics metrics(banner.font());
        QCOMPARE(banner.bitmap().size(), QSize(metrics.horizontalAdvance(banner.scrollText()), metrics.height()));
        QVERIFY(banner.bitmap().width() > 200);
        const QImage picture = banner.bitmap().toImage().convertToFormat(QImage::Format_RGB32);
        QVERIFY(pixelsOfColour(picture, Qt::black) > picture.width()); // rendered on Color after loading
        QVERIFY(pixelsOfColour(picture, QColor(128, 128, 128)) > 20); // in the font's colour

        TBanner& lines = *form.Banner2;
        QCOMPARE(lines.lines(), (QStringList { "one", "two two" }));
        QCOMPARE(lines.linesAlign(), TBanner::taRightJustify);
        QVERIFY(lines.noGap());
        QCOMPARE(lines.scrollDirection(), TBanner::sdBottomToTop);
        QVERIFY(lines.scrollEnabled());
        QCOMPARE(lines.bitmap().height(), 2 * QFontMetrics(lines.font()).height());
        QCOMPARE(lines.bitmap().toImage().pixel(0, 0), QColor(0, 0, 128).rgb());
    }

    void inputStaysEnabled()
    {
        Host host(QSize(100, 20));
        TBanner& banner = *host.banner;
        QSignalSpy clicks(&banner, &TBanner::OnClick);
        QTest::mouseClick(&banner, Qt::LeftButton, {}, QPoint(10, 10));
        banner.setBitmap(patternPicture(30, 10));
        banner.setScrollEnabled(true);
        QTest::mouseClick(&banner, Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(clicks.count(), 2);
        QVERIFY(banner.isEnabled());
    }
};

QTEST_MAIN(TestBanner)
#include "test_banner.moc"
