#include "Image.h"

#include "StoredPixels.h"

#include <QMouseEvent>
#include <QPainter>
#include <QResource>
#include <utility>

TImage::TImage(QWidget* parent)
    : QWidget(parent)
{
    setMouseTracking(true);
}

QImage TImage::artwork(const QString& name)
{
    const QResource stored(QStringLiteral(":/art/") + name);
    return StoredPixels::decode(stored.data(), stored.size());
}

void TImage::setPicture(const QImage& picture)
{
    m_picture = picture;
    prepare();
}

void TImage::setTransparent(bool on)
{
    m_transparent = on;
    prepare();
}

void TImage::prepare()
{
    if (m_picture.isNull()) {
        m_shown = QImage();
    } else if (m_transparent) {
        QImage cut = m_picture.convertToFormat(QImage::Format_ARGB32);
        const QRgb key = cut.pixel(0, cut.height() - 1);
        for (int y = 0; y < cut.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(cut.scanLine(y));
            for (int x = 0; x < cut.width(); ++x)
                if (line[x] == key)
                    line[x] = qRgba(0, 0, 0, 0);
        }
        // Premultiplied (in place), as the painter draws it without converting.
        m_shown = std::move(cut).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    } else {
        m_shown = m_picture; // shared, not copied
    }
    update();
}

void TImage::paintEvent(QPaintEvent*)
{
    if (m_shown.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(0, 0, m_shown);
}

void TImage::mouseMoveEvent(QMouseEvent* event)
{
    QWidget::mouseMoveEvent(event);
    emit mouseMoved();
}

void TImage::mouseReleaseEvent(QMouseEvent* event)
{
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}
