#include "ReleaseFiles.h"

#include <filesystem>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace ReleaseFiles {

namespace {

bool equalIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// The one entry of `dir` named `name` ignoring case; none when there are
// none or several.
std::optional<fs::path> matchInDirectory(const fs::path& dir, const std::string& name)
{
    std::error_code ec;
    fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec);
    if (ec)
        return std::nullopt;
    std::optional<fs::path> found;
    for (const auto& entry : it) {
        if (!equalIgnoringCase(entry.path().filename().string(), name))
            continue;
        if (found)
            return std::nullopt;
        found = dir / entry.path().filename();
    }
    return found;
}

}

std::string resolve(const std::string& path)
{
    std::error_code ec;
    if (path.empty() || fs::exists(fs::symlink_status(path, ec)))
        return path;
    fs::path resolved;
    for (const auto& part : fs::path(path)) {
        const fs::path candidate = resolved / part;
        if (part == "/" || part == "." || part == ".." || fs::exists(fs::symlink_status(candidate, ec))) {
            resolved = candidate;
            continue;
        }
        auto match = matchInDirectory(resolved, part.string());
        if (!match)
            return path;
        resolved = *match;
    }
    return resolved.string();
}

bool isFile(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(resolve(path), ec);
}

}
