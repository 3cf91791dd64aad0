// A drive selection box: the mounted filesystems a person would pick, each
// shown with its mount point and its name. It starts on the drive of the
// current directory and reports that drive once, when it is first shown;
// after that every change of the selected drive is reported.
#pragma once

#include "Drives.h"

#include <QComboBox>
#include <vector>

class TDriveComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TDriveComboBox(QWidget* parent = nullptr);

    // The selected drive's mount point.
    QString Drive() const;
    // Selects the drive mounted at `mountPoint` (a change is reported).
    void setDrive(const QString& mountPoint);

    const std::vector<Drives::Drive>& drives() const { return m_drives; }
    // Offers `drives` instead, selecting the drive of the current directory
    // without reporting it.
    void setDrives(std::vector<Drives::Drive> drives);

signals:
    void changed();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::vector<Drives::Drive> m_drives;
    bool m_initialReported = false;
};
