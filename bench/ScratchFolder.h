// A benchmark's scratch folder, made under a prefix and removed with
// everything in it when the benchmark ends.
#pragma once

#include <cstdio>
#include <filesystem>
#include <stdlib.h>
#include <string>

class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix) : m_path(prefix + "XXXXXX")
    {
        if (!::mkdtemp(m_path.data())) {
            std::perror("mkdtemp");
            m_path.clear();
        }
    }
    ~ScratchFolder()
    {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Empty when the folder could not be made.
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};
