// Helpers shared by the tests: files with exact bytes, a current directory
// restored afterwards, and message boxes answered and recorded instead of
// shown.
#pragma once

#include "Dialogs.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>
#include <vector>

namespace TestSupport {

void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// What lnkinfo (an independent .lnk reader) says of a shortcut: its
// "Key : value" lines; empty when it cannot read the file.
QMap<QString, QString> lnkinfo(const QString& path);

// Restores the process's current directory when it goes out of scope.
class CurrentDirectoryGuard {
public:
    CurrentDirectoryGuard();
    ~CurrentDirectoryGuard();
    CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
    CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;

private:
    QString m_saved;
};

// Answers every message box with the next of the given answers (then OK)
// and keeps what each box said; restores real boxes when destroyed.
class DialogRecorder {
public:
    explicit DialogRecorder(std::vector<Dialogs::Answer> answers = {});
    ~DialogRecorder();
    DialogRecorder(const DialogRecorder&) = delete;
    DialogRecorder& operator=(const DialogRecorder&) = delete;

    const std::vector<Dialogs::Box>& boxes() const { return m_boxes; }
    QStringList texts() const;
    // Runs before a box is answered (a test may change the world there).
    void onBox(std::function<void(const Dialogs::Box&)> hook) { m_hook = std::move(hook); }

private:
    std::vector<Dialogs::Answer> m_answers;
    std::vector<Dialogs::Box> m_boxes;
    std::function<void(const Dialogs::Box&)> m_hook;
    Dialogs::Responder m_previous;
};

// One start of a recording program: its name, the directory it ran in and
// its arguments.
struct Call {
    QString name;
    QString directory;
    QStringList arguments;
    qint64 pid = 0; // process ids grow, so they tell the order of starts
    bool operator==(const Call& other) const
    {
        return name == other.name && directory == other.directory && arguments == other.arguments;
    }
};

// Writes a program at `path` that appends each of its starts to `log`, and
// reads such a log back.
void writeRecorder(const QString& path, const QString& log);
QList<Call> readCalls(const QString& log);

// Recording stand-ins for programs the shell starts (xdg-open, wine, ...):
// small scripts on a PATH of the test's own that write down, per call, their
// name, the directory they ran in and their arguments. PATH is restored when
// this goes out of scope.
class StandIns {
public:
    using Call = TestSupport::Call;

    explicit StandIns(const QStringList& programs);
    ~StandIns();
    StandIns(const StandIns&) = delete;
    StandIns& operator=(const StandIns&) = delete;

    QString directory() const { return m_dir.path(); }
    // Adds another recording program at `path` (on PATH or not).
    void add(const QString& path);
    QList<Call> calls() const;
    // The calls once `count` have arrived (programs start detached), or
    // what there is after `timeoutMs`.
    QList<Call> waitForCalls(int count, int timeoutMs = 10000) const;

private:
    QTemporaryDir m_dir;
    QString m_log;
    QByteArray m_savedPath;
};

}
