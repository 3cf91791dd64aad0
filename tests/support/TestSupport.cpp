#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace TestSupport {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

CurrentDirectoryGuard::CurrentDirectoryGuard()
    : m_saved(QDir::currentPath())
{
}

CurrentDirectoryGuard::~CurrentDirectoryGuard()
{
    QDir::setCurrent(m_saved);
}

DialogRecorder::DialogRecorder(std::vector<Dialogs::Answer> answers)
    : m_answers(std::move(answers))
{
    m_previous = Dialogs::setResponder([this](const Dialogs::Box& box) {
        m_boxes.push_back(box);
        if (m_hook)
            m_hook(box);
        if (m_boxes.size() <= m_answers.size())
            return m_answers[m_boxes.size() - 1];
        return Dialogs::Answer::Ok;
    });
}

DialogRecorder::~DialogRecorder()
{
    Dialogs::setResponder(std::move(m_previous));
}

QStringList DialogRecorder::texts() const
{
    QStringList list;
    for (const auto& box : m_boxes)
        list << box.text;
    return list;
}

}
