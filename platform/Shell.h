// The shell's "open" request: program, parameter string, no working
// directory (the current one is inherited), shown normally. Programs start
// detached and are not waited for; the outcome is not examined.
//
// How a request resolves here:
//  - "explorer.exe DIR" opens DIR in the desktop's file manager (xdg-open);
//  - "regedit.exe FILE" runs `wine regedit FILE` when Wine is installed, else
//    nothing happens;
//  - a Windows program (.exe, .com, .bat) runs through `wine` when installed;
//  - an executable file runs with the parameters split as a shell would;
//  - any other file opens with xdg-open.
// The parameter string is passed on without quotes added: for the folder
// window and the registry editor it is one argument, blanks and all.
#pragma once

#include <QString>
#include <QStringList>

namespace Shell {

struct Command {
    QString program; // empty: nothing would start
    QStringList arguments;
};

// What an "open" request of `file` with `parameters` starts, resolved
// against the current directory and PATH.
Command resolve(const QString& file, const QString& parameters);

// Starts the resolved command detached in the current directory.
void ShellExecute(const QString& file, const QString& parameters);

}
