#include "Banner.h"

#include "ErrorReport.h"
#include "Errors.h"

#include <QBackingStore>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWindow>
#include <algorithm>

TBanner::TBanner(QWidget* parent)
    : QWidget(parent)
    , m_timer(new QTimer(this))
{
    // Opaque: the parent never paints beneath the banner, which keeps
    // 10 ms steps free of flicker and cheap.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(m_interval);
    connect(m_timer, &QTimer::timeout, this, [this] { ErrorReport::guarded([this] { scrollStep(); }); });
    resize(100, 100);
}

TBanner::~TBanner() = default;

void TBanner::setScrollEnabled(bool on)
{
    if (isLoading())
        return;
    if (on)
        makeSureOfContent();
    else if (isPictureRendered())
        m_picture.reset(); // rendered again from the text on the next start
    m_enabled = on;
    applyTimer();
    if (on)
        emit OnEnable(this);
    else
        emit OnDisable(this);
}

void TBanner::makeSureOfContent()
{
    if (hasUsablePicture())
        return;
    // A rendered picture of zero size would only render the same again.
    if (isPictureRendered())
        throw Exception(noContentMessage);
    if (!m_lines.isEmpty())
        renderLines();
    else if (!m_scrollText.isEmpty())
        renderText(m_scrollText);
    else
        throw Exception(noContentMessage);
    if (!hasUsablePicture())
        throw Exception(noContentMessage);
}

void TBanner::applyTimer()
{
    // A zero interval means no steps at all (QTimer would fire continuously).
    if (m_enabled && m_interval > 0)
        m_timer->start();
    else
        m_timer->stop();
}

QPixmap TBanner::blankPicture(int width, int height) const
{
    QPixmap picture(std::max(width, 0), std::max(height, 0));
    if (!picture.isNull())
        picture.fill(m_color);
    return picture;
}

void TBanner::setScrollText(const QString& text)
{
    renderText(text);
}

void TBanner::renderText(const QString& text)
{
    setScrollEnabled(false);
    m_lines.clear();
    m_picture.reset();
    m_scrollText = text;
    // A definition sets the text before the font and colour, and the
    // picture is rendered again once it is loaded: rendering it now too
    // would only load a font the banner never shows.
    if (isLoading() && !text.isEmpty())
        return;
    m_picture = renderedPicture({ text }, taLeftJustify);
    if (m_autoEnable)
        setScrollEnabled(true);
}

void TBanner::setLines(const QStringList& lines)
{
    m_lines = lines;
    renderLines();
}

void TBanner::setLinesAlign(TAlignment align)
{
    if (align == m_linesAlign)
        return;
    m_linesAlign = align;
    if (!m_lines.isEmpty())
        renderLines();
}

// One picture for a text (a single left-aligned line) or for the lines:
// as wide as the widest, one "Xj" height per line, in the font's colour on
// an opaque background of `Color`.
QPixmap TBanner::renderedPicture(const QStringList& lines, TAlignment align) const
{
    const QFontMetrics metrics(font());
    int widest = 0;
    for (const QString& line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    const int lineHeight = metrics.height(); // the height of "Xj": every line the same
    QPixmap picture = blankPicture(widest, int(lines.size()) * lineHeight);
    if (picture.isNull())
        return picture;
    QPainter painter(&picture);
    painter.setFont(font());
    painter.setPen(m_fontColor);
    painter.setBackground(m_color);
    painter.setBackgroundMode(Qt::OpaqueMode);
    for (int i = 0; i < lines.size(); ++i) {
        const int own = metrics.horizontalAdvance(lines[i]);
        int x = 0;
        if (align == taRightJustify)
            x = widest - own;
        else if (align == taCenter)
            x = (widest - own) / 2;
        painter.drawText(x, i * lineHeight + metrics.ascent(), lines[i]);
    }
    return picture;
}

void TBanner::renderLines()
{
    const bool wasEnabled = m_enabled;
    setScrollEnabled(false);
    m_scrollText.clear();
    m_picture.reset();

    m_picture = renderedPicture(m_lines, m_linesAlign);

    if (wasEnabled || m_autoEnable)
        setScrollEnabled(true);
}

void TBanner::setBitmap(const QPixmap& bitmap)
{
    m_picture = bitmap;
    m_scrollText.clear();
    m_lines.clear();
    update();
    if (m_autoEnable && m_picture->width() != 0)
        setScrollEnabled(true);
}

void TBanner::setNoGap(bool on)
{
    m_noGap = on;
    update();
}

void TBanner::setScrollInterval(quint16 milliseconds)
{
    m_timer->setInterval(milliseconds);
    m_interval = quint16(m_timer->interval());
    applyTimer();
}

void TBanner::setScrollDirection(TScrollDirection direction)
{
    if (direction == m_direction)
        return;
    const bool fromHorizontal = isHorizontal();
    const bool toHorizontal = direction == sdRightToLeft || direction == sdLeftToRight;
    if (!m_picture) {
        m_position = 0;
    } else {
        const int pictureWidth = m_picture->width();
        const int pictureHeight = m_picture->height();
        if (fromHorizontal && toHorizontal)
            m_position = quint16(pictureWidth + width() - m_position);
        else if (!fromHorizontal && !toHorizontal)
            m_position = quint16(pictureHeight + height() - m_position);
        else if (toHorizontal)
            m_position = quint16(pictureWidth);
        else
            m_position = quint16(pictureHeight);
    }
    m_direction = direction;
    update();
}

void TBanner::setColor(const QColor& color)
{
    m_color = color;
    update();
}

void TBanner::setFontPixelSize(int pixels)
{
    QFont f = font();
    f.setPixelSize(pixels);
    setFont(f);
}

void TBanner::scrollStep()
{
    // Without a picture of non-zero size there is nothing to move, and the
    // no-gap reduction below would never end.
    if (!hasUsablePicture())
        return;
    const int extent = isHorizontal() ? m_picture->width() : m_picture->height();
    const int span = isHorizontal() ? width() : height();
    m_position = quint16(m_position + m_pixels);
    if (m_noGap) {
        while (m_position > extent)
            m_position = quint16(m_position - extent);
    } else if (m_position > extent + span) {
        if (m_onlyOnce)
            setScrollEnabled(false);
        else
            m_position = 0;
    }
    if (!repaintIntoWindow())
        repaint();
    emit OnScroll(this);
}

void TBanner::Loaded()
{
    LoadableComponent::Loaded();
    if (!m_scrollText.isEmpty())
        renderText(m_scrollText);
    if (!m_lines.isEmpty())
        renderLines();
    if (m_autoEnable && m_picture && m_picture->height() > 0)
        setScrollEnabled(true);
}

QPoint TBanner::enteringCopy() const
{
    const int p = m_position;
    switch (m_direction) {
    case sdRightToLeft:
        return { width() - p, 0 };
    case sdLeftToRight:
        return { p - m_picture->width(), 0 };
    case sdTopToBottom:
        return { 0, p - m_picture->height() };
    case sdBottomToTop:
        return { 0, height() - p };
    }
    return {};
}

void TBanner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintFrame(painter);
}

void TBanner::paintFrame(QPainter& painter)
{
    painter.fillRect(rect(), m_color);
    if (!hasUsablePicture() || !isVisible())
        return;
    painter.setClipRect(rect());
    if (m_noGap)
        PaintWithoutGap(painter);
    else
        PaintWithGap(painter);
}

// A step repaints a hundred times a second. Through the widget repaint
// nearly a third of its work is bookkeeping (dirty regions, a paint event,
// the search for other widgets to paint); a banner plainly on its window owns
// its pixels in the window's backing store, so the step paints and flushes
// them itself. Anything else goes through the widget repaint.
bool TBanner::repaintIntoWindow()
{
    QWidget* top = window();
    QWindow* handle = top->windowHandle();
    QBackingStore* store = backingStore();
    if (!store || !handle || !handle->isExposed() || handle->devicePixelRatio() != 1 || !isVisible()
        || !updatesEnabled() || nativeParentWidget() != top || !isPlainlyOnWindow())
        return false;
    const QRect area(mapTo(top, QPoint()), size());
    if (!QRect(QPoint(), store->size()).contains(area))
        return false;
    store->beginPaint(area);
    {
        QPainter painter(store->paintDevice());
        painter.translate(area.topLeft());
        paintFrame(painter);
    }
    store->endPaint();
    store->flush(area, handle);
    return true;
}

bool TBanner::isPlainlyOnWindow() const
{
    for (const QObject* child : children())
        if (child->isWidgetType() && static_cast<const QWidget*>(child)->isVisible())
            return false;
    QRect area = rect();
    for (const QWidget* w = this; !w->isWindow(); w = w->parentWidget()) {
        if (w->graphicsEffect())
            return false;
        const QWidget* parent = w->parentWidget();
        area.translate(w->pos());
        if (!parent->rect().contains(area))
            return false;
        // Siblings after `w` are stacked above it.
        bool above = false;
        for (const QObject* sibling : parent->children()) {
            if (sibling == w) {
                above = true;
            } else if (above && sibling->isWidgetType()) {
                const auto* widget = static_cast<const QWidget*>(sibling);
                if (!widget->isWindow() && widget->isVisible() && widget->geometry().intersects(area))
                    return false;
            }
        }
    }
    return true;
}

void TBanner::PaintWithGap(QPainter& frame)
{
    frame.drawPixmap(enteringCopy(), *m_picture);
}

void TBanner::PaintWithoutGap(QPainter& frame)
{
    const QPixmap& picture = *m_picture;
    const int pictureWidth = picture.width();
    const int pictureHeight = picture.height();
    const QPoint first = enteringCopy();
    switch (m_direction) {
    case sdRightToLeft:
        for (int x = first.x(); x + pictureWidth > 0; x -= pictureWidth)
            frame.drawPixmap(x, 0, picture);
        break;
    case sdLeftToRight:
        for (int x = first.x(); x < width(); x += pictureWidth)
            frame.drawPixmap(x, 0, picture);
        break;
    case sdTopToBottom:
        for (int y = first.y(); y < height(); y += pictureHeight)
            frame.drawPixmap(0, y, picture);
        break;
    case sdBottomToTop:
        for (int y = first.y(); y + pictureHeight > 0; y -= pictureHeight)
            frame.drawPixmap(0, y, picture);
        break;
    }
}

void TBanner::mouseReleaseEvent(QMouseEvent* event)
{
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit OnClick(this);
}

void TBanner::mouseDoubleClickEvent(QMouseEvent* event)
{
    QWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit OnDblClick(this);
}
