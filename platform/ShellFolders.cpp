#include "ShellFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace ShellFolders {

namespace {

QString location(QStandardPaths::StandardLocation type)
{
    return QDir::cleanPath(QStandardPaths::writableLocation(type));
}

}

QString applicationsFolder()
{
    return location(QStandardPaths::ApplicationsLocation);
}

QString path(const QString& valueName)
{
    if (valueName == u"Desktop")
        return location(QStandardPaths::DesktopLocation);
    if (valueName == u"Personal")
        return location(QStandardPaths::DocumentsLocation);
    if (valueName == u"Programs" || valueName == u"Start Menu")
        return applicationsFolder();
    if (valueName == u"Fonts")
        return location(QStandardPaths::FontsLocation);
    if (valueName == u"Startup") {
        const QString config = location(QStandardPaths::GenericConfigLocation);
        return config.isEmpty() ? QString() : config + QStringLiteral("/autostart");
    }
    if (valueName == u"Templates")
        return location(QStandardPaths::TemplatesLocation);
    return {};
}

bool create(const QString& valueName)
{
    const bool own = valueName == u"Programs" || valueName == u"Start Menu" || valueName == u"Fonts"
        || valueName == u"Startup";
    const QString folder = path(valueName);
    if (folder.isEmpty())
        return false;
    if (own)
        QDir().mkpath(folder);
    return QFileInfo(folder).isDir();
}

}
