#include "Shape.h"

#include <QPainter>

TShape::TShape(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TShape::setBrushColor(const QColor& color)
{
    m_brush = color;
    update();
}

void TShape::setPenColor(const QColor& color)
{
    m_pen = color;
    update();
}

void TShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_brush);
    painter.setPen(m_pen);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
