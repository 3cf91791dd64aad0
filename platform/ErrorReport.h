// The program's general error report, and the guard through which every
// handler runs so that no exception crosses Qt's event loop.
#pragma once

#include <QString>
#include <exception>
#include <utility>

namespace ErrorReport {

// The report's text: a full stop is appended when the last character sorts
// after "." (a letter or a digit, say).
QString withFullStop(const QString& message);

// A message box captioned with the application title, stop icon, OK.
void show(const QString& message);
void show(const std::exception& error);

// Runs `handler`; an error it raises ends it and is reported.
template <typename Handler>
void guarded(Handler&& handler)
{
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception& error) {
        show(error);
    }
}

}
