// The current user's shell folders, looked up by the names the shell keeps
// them under ("Desktop", "Programs", "Start Menu", ...). Here they are the
// freedesktop user directories:
//   Desktop                   the desktop folder
//   Personal                  the documents folder
//   Programs, Start Menu      $XDG_DATA_HOME/applications (the menu's entries)
//   Fonts                     $XDG_DATA_HOME/fonts
//   Startup                   $XDG_CONFIG_HOME/autostart
//   Templates                 the templates folder
//   Favorites, Recent, SendTo none
// A folder that has no counterpart, or an unknown name, gives the empty
// path, as a missing value would.
#pragma once

#include <QString>

namespace ShellFolders {

// The folder's path without a trailing separator, or "". Looking a folder
// up never creates it.
QString path(const QString& valueName);

// Makes the folder ready for a file that is about to be written into it:
// the applications, fonts and autostart folders live in the user's own data
// and configuration folders and are created when missing, so that a fresh
// account can take a shortcut; the others are only checked. True when the
// folder is there afterwards.
bool create(const QString& valueName);

// Where the desktop's menu looks for the user's entries.
QString applicationsFolder();

}
