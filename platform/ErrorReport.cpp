#include "ErrorReport.h"

#include "Dialogs.h"

#include <QGuiApplication>

namespace ErrorReport {

QString withFullStop(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void show(const QString& message)
{
    Dialogs::show({ QGuiApplication::applicationDisplayName(), withFullStop(message),
        Dialogs::Icon::Stop, Dialogs::Buttons::Ok });
}

void show(const std::exception& error)
{
    show(QString::fromUtf8(error.what()));
}

}
