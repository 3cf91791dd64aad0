#include "Image.h"

#include <QBitmap>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>

TImage::TImage(QWidget* parent)
    : QWidget(parent)
{
    setMouseTracking(true);
}

QImage TImage::artwork(const QString& resource)
{
    // Read as what it is: left to guess, the reader would first load every
    // image plugin to ask whether it knows the file better, about half a
    // millisecond of the main window's start.
    QImageReader reader(resource, "bmp");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
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
        m_shown = QPixmap();
    } else if (m_transparent) {
        const QImage argb = m_picture.convertToFormat(QImage::Format_ARGB32);
        const QRgb key = argb.pixel(0, argb.height() - 1);
        QImage cut = argb;
        for (int y = 0; y < cut.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(cut.scanLine(y));
            for (int x = 0; x < cut.width(); ++x)
                if (line[x] == key)
                    line[x] = qRgba(0, 0, 0, 0);
        }
        m_shown = QPixmap::fromImage(cut);
    } else {
        m_shown = QPixmap::fromImage(m_picture);
    }
    update();
}

void TImage::paintEvent(QPaintEvent*)
{
    if (m_shown.isNull())
        return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_shown);
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
