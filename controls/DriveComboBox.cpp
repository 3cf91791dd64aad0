#include "DriveComboBox.h"

#include "CurrentDirectory.h"
#include "FileNames.h"

#include <QFile>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStyle>

TDriveComboBox::TDriveComboBox(QWidget* parent)
    : QComboBox(parent)
{
    connect(this, &QComboBox::currentIndexChanged, this, [this] { emit changed(); });
    setDrives(Drives::mounted());
}

QString TDriveComboBox::Drive() const
{
    return currentData().toString();
}

void TDriveComboBox::setDrive(const QString& mountPoint)
{
    const int index = findData(mountPoint);
    if (index >= 0)
        setCurrentIndex(index);
}

void TDriveComboBox::setDrives(std::vector<Drives::Drive> drives)
{
    const QSignalBlocker quiet(this);
    m_drives = std::move(drives);
    clear();
    const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    for (const Drives::Drive& drive : m_drives) {
        const QString mountPoint = FileNames::decode(drive.mountPoint);
        addItem(icon, QStringLiteral("%1  [%2]").arg(mountPoint, QString::fromStdString(drive.name)), mountPoint);
    }
    std::string current = "/";
    try {
        current = CurrentDirectory::get();
    } catch (const std::exception&) {
        // A current directory removed from under us lies nowhere: start on the root.
    }
    setCurrentIndex(std::max(0, findData(FileNames::decode(Drives::driveOf(current, m_drives)))));
}

void TDriveComboBox::showEvent(QShowEvent* event)
{
    QComboBox::showEvent(event);
    if (!m_initialReported) {
        m_initialReported = true;
        emit changed();
    }
}
