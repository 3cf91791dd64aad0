#include "Form.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>

TForm::TForm(Frame frame, QSize clientSize, QWidget* parent)
    : QWidget(parent,
        frame == Frame::None ? Qt::Window | Qt::FramelessWindowHint
                             : Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setFixedSize(clientSize);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
}

QPoint TForm::centredPosition() const
{
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return pos();
    const QSize area = screen->geometry().size();
    const QSize outer = frameGeometry().size().expandedTo(size());
    return { std::max(0, (area.width() - outer.width()) / 2), std::max(0, (area.height() - outer.height()) / 2) };
}

void TForm::showEvent(QShowEvent* event)
{
    if (!m_shownOnce && !event->spontaneous()) {
        m_shownOnce = true;
        if (m_centre)
            move(centredPosition());
    }
    QWidget::showEvent(event);
}

void TForm::showInFront()
{
    show();
    raise();
    activateWindow();
}
