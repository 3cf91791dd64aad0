#include "TestSupport.h"

#include "FileNames.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
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

QMap<QString, QString> lnkinfo(const QString& path)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("lnkinfo"), { path });
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {};
    QMap<QString, QString> values;
    static const QRegularExpression line(QStringLiteral("^\\t([^\\t]+?)\\t+: ?(.*)$"));
    for (const QString& text : QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = line.match(text);
        if (m.hasMatch())
            values.insert(m.captured(1), m.captured(2));
    }
    return values;
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

namespace {
QString shellQuoted(QString text)
{
    text.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}
}

StandIns::StandIns(const QStringList& programs)
    : m_log(m_dir.filePath(QStringLiteral("calls.log")))
    , m_savedPath(qgetenv("PATH"))
{
    QDir(m_dir.path()).mkdir(QStringLiteral("bin"));
    for (const QString& program : programs)
        add(m_dir.filePath(QStringLiteral("bin/") + program));
    qputenv("PATH", QFile::encodeName(m_dir.filePath(QStringLiteral("bin"))) + ':' + m_savedPath);
}

StandIns::~StandIns()
{
    qputenv("PATH", m_savedPath);
}

void StandIns::add(const QString& path)
{
    writeRecorder(path, m_log);
}

void writeRecorder(const QString& path, const QString& log)
{
    const QString name = QFileInfo(path).fileName();
    writeFile(path,
        // One write per call, so that a reader never sees half a call.
        QStringLiteral("#!/bin/sh\n"
                       "r=$(printf '%s\\n' \"--- %1 $$\" \"$(pwd -P)\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; printf .)\n"
                       "printf '%s' \"${r%.}\" >> %2\n")
            .arg(name, shellQuoted(log))
            .toUtf8());
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeUser);
}

QList<Call> StandIns::calls() const
{
    return readCalls(m_log);
}

QList<Call> readCalls(const QString& log)
{
    QList<Call> calls;
    // Names and arguments are bytes; those that are not UTF-8 are kept.
    QStringList lines = FileNames::decode(readFile(log).toStdString()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (const QString& line : lines) {
        if (line.startsWith(QStringLiteral("--- "))) {
            const qsizetype blank = line.lastIndexOf(QLatin1Char(' '));
            calls.append({ line.mid(4, blank - 4), {}, {}, line.mid(blank + 1).toLongLong() });
        }
        else if (!calls.isEmpty() && calls.last().directory.isNull())
            calls.last().directory = line;
        else if (!calls.isEmpty())
            calls.last().arguments.append(line);
    }
    return calls;
}

QList<Call> StandIns::waitForCalls(int count, int timeoutMs) const
{
    QList<Call> list;
    (void)QTest::qWaitFor([&] { return (list = calls()).size() >= count; }, timeoutMs);
    std::sort(list.begin(), list.end(), [](const Call& a, const Call& b) { return a.pid < b.pid; });
    return list;
}

}
