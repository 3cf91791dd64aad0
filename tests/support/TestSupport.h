// Helpers shared by the tests: files with exact bytes, a current directory
// restored afterwards, and message boxes answered and recorded instead of
// shown.
#pragma once

#include "Dialogs.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <vector>

namespace TestSupport {

void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

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

}
