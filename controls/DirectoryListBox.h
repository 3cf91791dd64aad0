// A directory list in the classic manner: the path from the drive's root
// down to the current directory, then its subdirectories, one 16-pixel row
// each. Opening an entry (double click or Enter) moves into it.
//
// The list's directory is always the process's current directory: every
// change first makes the new directory current, reads it back (so the list
// holds the form the system reports) and only then rebuilds the rows. A
// directory that cannot be made current raises EInOutError and leaves
// everything as it was. The list remembers the last directory it showed on
// each drive; a drive not yet visited starts at its root.
#pragma once

#include "Drives.h"

#include <QListWidget>
#include <map>
#include <vector>

class TDirectoryListBox : public QListWidget {
    Q_OBJECT
public:
    // Starts on the current directory.
    explicit TDirectoryListBox(QWidget* parent = nullptr);

    QString Directory() const { return m_directory; }
    void setDirectory(const QString& directory);

    // The mount point of the drive the list is on.
    QString Drive() const;
    // Moves to the directory last shown on `mountPoint` unless the list is
    // already on that drive.
    void setDrive(const QString& mountPoint);

    // The drives whose directories the list remembers (the machine's
    // pickable mounts unless set).
    void setDrives(std::vector<Drives::Drive> drives);

    static constexpr int RowHeight = 16;

    enum Role { PathRole = Qt::UserRole, LevelRole };

signals:
    void changed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QString driveOf(const QString& directory) const;
    void openRow(int row);
    void rebuild();

    QString m_directory;
    std::vector<Drives::Drive> m_drives;
    std::map<QString, QString> m_lastOnDrive;
};
