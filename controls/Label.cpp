#include "Label.h"

#include <QMouseEvent>

TLabel::TLabel(QWidget* parent)
    : QLabel(parent)
{
    setAutoFillBackground(false);
    setTextFormat(Qt::PlainText);
    applyPalette();
}

void TLabel::setColor(const QColor& color)
{
    m_color = color;
    applyPalette();
}

void TLabel::setDisabledLook(bool on)
{
    m_disabledLook = on;
    applyPalette();
}

void TLabel::setPixelFont(const QString& family, int pixelHeight, bool bold)
{
    QFont f(family);
    f.setPixelSize(pixelHeight);
    f.setBold(bold);
    setFont(f);
}

void TLabel::setPixelSize(int pixels)
{
    QFont f = font();
    f.setPixelSize(pixels);
    setFont(f);
}

void TLabel::applyPalette()
{
    QPalette p = palette();
    for (auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled })
        p.setColor(group, QPalette::WindowText, m_color);
    if (m_disabledLook)
        p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(128, 128, 128));
    setPalette(p);
}

void TLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && isEnabled() && rect().contains(event->position().toPoint()))
        emit clicked();
}
