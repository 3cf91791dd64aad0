// The process's current directory, which the installer's windows share.
#pragma once

#include <string>

namespace CurrentDirectory {

// Raises EInOutError with the system's error code when it fails.
void set(const std::string& path);
std::string get();

// `path` with exactly one trailing "/".
std::string withSeparator(const std::string& path);

}
