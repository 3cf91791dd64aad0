// TBanner: a control without a window of its own that scrolls a picture
// across its rectangle on a timer. The picture is a line of text
// (ScrollText), several lines (Lines) or a bitmap (Bitmap); text is rendered
// once per content change, in the banner's font, font colour and Color.
//
// Scrolling on or off is the banner's own `Enabled` property
// (scrollEnabled()/setScrollEnabled()); QWidget's input-enabled state is left
// alone, so mouse events arrive in both states.
//
// The properties are declared in the order a window definition stores them:
// Tag, geometry, AutoEnable, Bitmap, Enabled (never stored), Lines,
// LinesAlign, NoGap, OnlyOnce, ScrollDirection, ScrollInterval, ScrollPixels,
// ScrollText, then Color and Font. A Qt font cannot carry a height in pixels
// through a .ui file, and has no colour, so FontPixelSize and FontColor follow
// Font. Because ScrollText is set before Color and Font, Loaded() renders the
// text again with the loaded look.
//
// Two cases the behaviour leaves open are settled like this:
//  - Content that renders to a picture of zero width or height (a Lines list
//    of empty strings, say) cannot be made usable by rendering it again, so
//    enabling with such a rendered picture raises "Assign a bitmap or text to
//    banner before enabling" at once; the banner stays stopped and keeps that
//    picture. Enabling therefore always ends.
//  - Changing ScrollDirection while there is no picture (a stop discarded the
//    rendered one) sets the position to 0: the next rendering enters from the
//    new direction's edge.
// A step never moves anything while the picture has zero width or height (a
// zero-size Bitmap assigned while scrolling): it then does nothing at all.
#pragma once

#include "DefinitionLoading.h"

#include <QColor>
#include <QPixmap>
#include <QStringList>
#include <QWidget>
#include <optional>

class QTimer;

class TBanner : public QWidget, public LoadableComponent {
    Q_OBJECT
    Q_PROPERTY(int Tag READ tag WRITE setTag)
    Q_PROPERTY(bool AutoEnable READ autoEnable WRITE setAutoEnable)
    Q_PROPERTY(QPixmap Bitmap READ bitmap WRITE setBitmap)
    Q_PROPERTY(bool Enabled READ scrollEnabled WRITE setScrollEnabled STORED false)
    Q_PROPERTY(QStringList Lines READ lines WRITE setLines)
    Q_PROPERTY(TAlignment LinesAlign READ linesAlign WRITE setLinesAlign)
    Q_PROPERTY(bool NoGap READ noGap WRITE setNoGap)
    Q_PROPERTY(bool OnlyOnce READ onlyOnce WRITE setOnlyOnce)
    Q_PROPERTY(TScrollDirection ScrollDirection READ scrollDirection WRITE setScrollDirection)
    Q_PROPERTY(quint16 ScrollInterval READ scrollInterval WRITE setScrollInterval)
    Q_PROPERTY(quint16 ScrollPixels READ scrollPixels WRITE setScrollPixels)
    Q_PROPERTY(QString ScrollText READ scrollText WRITE setScrollText)
    Q_PROPERTY(QColor Color READ color WRITE setColor)
    Q_PROPERTY(QFont Font READ font WRITE setFont)
    Q_PROPERTY(int FontPixelSize READ fontPixelSize WRITE setFontPixelSize)
    Q_PROPERTY(QColor FontColor READ fontColor WRITE setFontColor)
public:
    enum TAlignment { taLeftJustify, taRightJustify, taCenter };
    Q_ENUM(TAlignment)
    enum TScrollDirection { sdRightToLeft, sdLeftToRight, sdTopToBottom, sdBottomToTop };
    Q_ENUM(TScrollDirection)

    explicit TBanner(QWidget* parent = nullptr);
    ~TBanner() override;

    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    bool autoEnable() const { return m_autoEnable; }
    void setAutoEnable(bool on) { m_autoEnable = on; }

    // The current picture (rendered or assigned); a null pixmap when there
    // is none. hasPicture() tells "none" from an empty 0 x 0 picture.
    QPixmap bitmap() const { return m_picture.value_or(QPixmap()); }
    bool hasPicture() const { return m_picture.has_value(); }
    void setBitmap(const QPixmap& bitmap);

    bool scrollEnabled() const { return m_enabled; }
    // Raises Exception "Assign a bitmap or text to banner before enabling"
    // when enabling finds nothing to show.
    void setScrollEnabled(bool on);

    QStringList lines() const { return m_lines; }
    void setLines(const QStringList& lines);

    TAlignment linesAlign() const { return m_linesAlign; }
    void setLinesAlign(TAlignment align);

    bool noGap() const { return m_noGap; }
    void setNoGap(bool on);

    bool onlyOnce() const { return m_onlyOnce; }
    void setOnlyOnce(bool on) { m_onlyOnce = on; }

    TScrollDirection scrollDirection() const { return m_direction; }
    void setScrollDirection(TScrollDirection direction);

    quint16 scrollInterval() const { return m_interval; }
    void setScrollInterval(quint16 milliseconds);

    quint16 scrollPixels() const { return m_pixels; }
    void setScrollPixels(quint16 pixels) { m_pixels = pixels; }

    QString scrollText() const { return m_scrollText; }
    void setScrollText(const QString& text);

    QColor color() const { return m_color; }
    void setColor(const QColor& color);

    int fontPixelSize() const { return font().pixelSize(); }
    void setFontPixelSize(int pixels);

    QColor fontColor() const { return m_fontColor; }
    void setFontColor(const QColor& color) { m_fontColor = color; }

    // The scroll offset in pixels (16 bits, wrapping).
    quint16 position() const { return m_position; }

    // One timer step: move, end or wrap the pass, repaint at once, OnScroll.
    void scrollStep();

    void Loaded() override;

    static constexpr const char* noContentMessage = "Assign a bitmap or text to banner before enabling";

signals:
    void OnScroll(TBanner* sender);
    void OnEnable(TBanner* sender);
    void OnDisable(TBanner* sender);
    void OnClick(TBanner* sender);
    void OnDblClick(TBanner* sender);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

    virtual void PaintWithGap(QPainter& frame);
    virtual void PaintWithoutGap(QPainter& frame);

public:
    // What a window definition stores (Enabled never): a picture rendered
    // from text is not stored, the text is.
    bool isBitmapStored() const { return m_scrollText.isEmpty() && m_lines.isEmpty(); }
    bool isLinesStored() const { return !m_lines.isEmpty(); }
    bool isScrollTextStored() const { return !m_scrollText.isEmpty(); }

private:

    bool isHorizontal() const { return m_direction == sdRightToLeft || m_direction == sdLeftToRight; }
    bool hasUsablePicture() const { return m_picture && m_picture->width() > 0 && m_picture->height() > 0; }
    // Made from ScrollText or Lines rather than assigned through Bitmap.
    bool isPictureRendered() const { return m_picture && (!m_scrollText.isEmpty() || !m_lines.isEmpty()); }

    void makeSureOfContent();
    void renderText(const QString& text);
    void renderLines();
    QPixmap blankPicture(int width, int height) const;
    QPixmap renderedPicture(const QStringList& lines, TAlignment align) const;
    void applyTimer();
    // Where the entering copy's top-left corner lies.
    QPoint enteringCopy() const;
    // The banner's whole rectangle in `painter`'s coordinates: Color, then the picture.
    void paintFrame(QPainter& painter);
    // A step's repaint straight into the window's backing store; false when
    // the banner is not plainly on screen, and the widget repaint must do it.
    bool repaintIntoWindow();
    // Nothing covers any part of the banner (no child, no widget stacked
    // above it or above a parent of it, no effect) and no parent's edge cuts
    // it off.
    bool isPlainlyOnWindow() const;

    int m_tag = 0;
    bool m_autoEnable = true;
    std::optional<QPixmap> m_picture = QPixmap();
    bool m_enabled = false;
    QStringList m_lines;
    TAlignment m_linesAlign = taCenter;
    bool m_noGap = false;
    bool m_onlyOnce = false;
    TScrollDirection m_direction = sdRightToLeft;
    quint16 m_interval = 200;
    quint16 m_pixels = 4;
    quint16 m_position = 0;
    QString m_scrollText;
    QTimer* m_timer;
    QColor m_color = Qt::white;
    QColor m_fontColor = Qt::black;
};
