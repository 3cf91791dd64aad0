#include "RarVolumes.h"

#include <cctype>
#include <cstdio>

namespace RarVolumes {

namespace {

size_t fileNameStart(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// The position of the last '.' of the file name, or npos.
size_t extensionDot(const std::string& path)
{
    const size_t dot = path.find_last_of('.');
    return dot == std::string::npos || dot < fileNameStart(path) ? std::string::npos : dot;
}

std::string oldStyle(const std::string& firstPath, unsigned index)
{
    const size_t dot = extensionDot(firstPath);
    const std::string stem = dot == std::string::npos ? firstPath : firstPath.substr(0, dot);
    const bool upper = dot != std::string::npos && dot + 1 < firstPath.size()
        && std::isupper(static_cast<unsigned char>(firstPath[dot + 1]));
    char ext[16];
    std::snprintf(ext, sizeof ext, ".%c%02u", char((upper ? 'R' : 'r') + (index - 1) / 100), (index - 1) % 100);
    return stem + ext;
}

}

std::string volumePath(const std::string& firstPath, bool newNumbering, unsigned index)
{
    if (index == 0)
        return firstPath;
    if (newNumbering) {
        // The last group of digits before the extension counts the volumes.
        const size_t start = fileNameStart(firstPath);
        size_t end = extensionDot(firstPath);
        if (end == std::string::npos)
            end = firstPath.size();
        size_t last = end;
        while (last > start && !std::isdigit(static_cast<unsigned char>(firstPath[last - 1])))
            --last;
        size_t first = last;
        while (first > start && std::isdigit(static_cast<unsigned char>(firstPath[first - 1])))
            --first;
        if (first < last && last - first <= 9) {
            const unsigned long number = std::stoul(firstPath.substr(first, last - first)) + index;
            char digits[32];
            std::snprintf(digits, sizeof digits, "%0*lu", int(last - first), number);
            std::string rest = firstPath.substr(last);
            // A self-extracting first volume is NAME.part1.exe; the others are .rar.
            if (rest.size() == 4 && (rest == ".exe" || rest == ".EXE" || rest == ".Exe"))
                rest = rest[1] == 'E' ? ".RAR" : ".rar";
            return firstPath.substr(0, first) + digits + rest;
        }
    }
    return oldStyle(firstPath, index);
}

std::string firstPartPath(const std::string& archivePath, unsigned digits)
{
    const size_t dot = extensionDot(archivePath);
    const std::string stem = dot == std::string::npos ? archivePath : archivePath.substr(0, dot);
    const std::string ext = dot == std::string::npos ? std::string(".rar") : archivePath.substr(dot);
    char number[32];
    std::snprintf(number, sizeof number, "%0*u", int(digits), 1u);
    const bool upper = !ext.empty() && ext.size() > 1 && std::isupper(static_cast<unsigned char>(ext[1]));
    return stem + (upper ? ".PART" : ".part") + number + ext;
}

}
