// The icon of a shortcut: the file that holds it and its index inside that
// file. An assignable value: Assign copies another icon descriptor, and
// anything else given to it is an invalid cast.
#pragma once

#include "Errors.h"

#include <QObject>
#include <QString>

// Raised when an object is assigned to one of a different kind.
class EInvalidCast : public Exception {
public:
    EInvalidCast();
};

class TFileIcon : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString FileName READ fileName WRITE setFileName)
    Q_PROPERTY(int IconIndex READ iconIndex WRITE setIconIndex)
public:
    explicit TFileIcon(QObject* parent = nullptr);

    QString fileName() const { return m_fileName; }
    void setFileName(const QString& fileName) { m_fileName = fileName; }
    qint32 iconIndex() const { return m_iconIndex; }
    void setIconIndex(qint32 index) { m_iconIndex = index; }

    // Copies both fields of another TFileIcon; any other object (or none)
    // raises EInvalidCast and leaves this one unchanged.
    void Assign(const QObject* source);

private:
    QString m_fileName;
    qint32 m_iconIndex = 0;
};
