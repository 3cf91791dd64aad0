// Releases come from a file system that ignores letter case: a medium may
// hold INSTALL.INI, Merik.nfo or GAME.R00. A release file is found by its
// exact name first, else by the one entry of its directory whose name
// matches ignoring case (ASCII letters only), component by component.
#pragma once

#include <string>

namespace ReleaseFiles {

// The path of the existing file or directory that `path` names ignoring
// case; `path` itself when nothing matches (or when it exists as given).
std::string resolve(const std::string& path);

// Whether `path`, found ignoring case, names a regular file (after links):
// a directory, a pipe, a device or a socket of that name is not the file.
bool isFile(const std::string& path);

}
