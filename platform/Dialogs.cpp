#include "Dialogs.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace Dialogs {

namespace {
Responder& responder()
{
    static Responder r;
    return r;
}

QMessageBox::Icon qtIcon(Icon icon)
{
    switch (icon) {
    case Icon::Information: return QMessageBox::Information;
    case Icon::Question: return QMessageBox::Question;
    case Icon::Stop: return QMessageBox::Critical;
    case Icon::None: break;
    }
    return QMessageBox::NoIcon;
}
}

Responder setResponder(Responder r)
{
    return std::exchange(responder(), std::move(r));
}

Answer show(const Box& box)
{
    if (responder())
        return responder()(box);

    QMessageBox message(qtIcon(box.icon), box.caption, box.text);
    QPushButton* ok = message.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    if (box.buttons == Buttons::OkCancel)
        message.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    message.setDefaultButton(ok);
    message.adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        message.move(area.center() - message.rect().center());
    }
    message.exec();
    return message.clickedButton() == ok ? Answer::Ok : Answer::Cancel;
}

}
