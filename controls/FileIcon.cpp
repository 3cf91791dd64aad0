#include "FileIcon.h"

EInvalidCast::EInvalidCast()
    : Exception("Invalid class typecast")
{
}

TFileIcon::TFileIcon(QObject* parent)
    : QObject(parent)
{
}

void TFileIcon::Assign(const QObject* source)
{
    const auto* icon = qobject_cast<const TFileIcon*>(source);
    if (!icon)
        throw EInvalidCast();
    m_fileName = icon->m_fileName;
    m_iconIndex = icon->m_iconIndex;
}
