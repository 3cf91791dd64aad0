#include "ShellFolders.h"

#include <QDir>
#include <QStandardPaths>

namespace ShellFolders {

namespace {

QString location(QStandardPaths::StandardLocation type)
{
    return QDir::cleanPath(QStandardPaths::writableLocation(type));
}

// A folder of the user's own that a fresh account may not have yet.
QString ensured(const QString& folder)
{
    if (folder.isEmpty())
        return folder;
    QDir().mkpath(folder);
    return folder;
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
        return ensured(applicationsFolder());
    if (valueName == u"Fonts")
        return ensured(location(QStandardPaths::FontsLocation));
    if (valueName == u"Startup") {
        const QString config = location(QStandardPaths::GenericConfigLocation);
        return config.isEmpty() ? QString() : ensured(config + QStringLiteral("/autostart"));
    }
    if (valueName == u"Templates")
        return location(QStandardPaths::TemplatesLocation);
    return {};
}

}
