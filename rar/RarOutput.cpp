#include "RarOutput.h"

#include "RarCodes.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RarOutput {

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// The directory made of the first `count` components, opened without
// following a symbolic link anywhere; missing ones are created when asked.
int openDirectory(const Components& path, size_t count, bool create)
{
    int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (size_t i = 0; i < count && fd >= 0; ++i) {
        const char* name = path[i].c_str();
        int next = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(fd, name, 0777) == 0 || errno == EEXIST)
                next = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        const int saved = errno;
        ::close(fd);
        errno = saved;
        fd = next;
    }
    return fd;
}

// A name beside `name` that no one else uses and that does not look like
// the finished file.
std::string temporaryName(const std::string& name)
{
    static std::atomic<unsigned> counter { 0 };
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%d-%u.unrar-part", int(::getpid()), counter++);
    return "." + name.substr(0, 180) + suffix;
}

void setTimes(int fd, const timespec* mtime)
{
    if (!mtime)
        return;
    const timespec times[2] = { { 0, UTIME_OMIT }, *mtime };
    ::futimens(fd, times);
}

void setLinkTimes(int dir, const std::string& name, const timespec* mtime)
{
    if (!mtime)
        return;
    const timespec times[2] = { { 0, UTIME_OMIT }, *mtime };
    ::utimensat(dir, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

Components split(const std::string& name)
{
    Components parts;
    std::string part;
    for (char c : name) {
        if (isSeparator(c)) {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    return parts;
}

}

bool safeComponents(const std::string& name, Components& out)
{
    out.clear();
    if (name.empty() || isSeparator(name[0]))
        return false;
    // "C:..." names a drive on the system the archive came from.
    if (name.size() >= 2 && name[1] == ':')
        return false;
    for (const std::string& part : split(name)) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return false;
        out.push_back(part);
    }
    return !out.empty();
}

bool symlinkStaysInside(const Components& link, const std::string& target)
{
    if (target.empty() || isSeparator(target[0]) || (target.size() >= 2 && target[1] == ':'))
        return false;
    // The link's own directory is `link` without its last component.
    long depth = long(link.size()) - 1;
    for (const std::string& part : split(target)) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (--depth < 0)
                return false;
        } else {
            ++depth;
        }
    }
    return true;
}

int makeDirectory(const Components& path, const timespec* mtime)
{
    Fd dir(openDirectory(path, path.size(), true));
    if (dir.get() < 0)
        return ERAR_ECREATE;
    setTimes(dir.get(), mtime);
    return 0;
}

int makeSymlink(const Components& path, const std::string& target, const timespec* mtime)
{
    Fd dir(openDirectory(path, path.size() - 1, true));
    if (dir.get() < 0)
        return ERAR_ECREATE;
    const std::string temporary = temporaryName(path.back());
    if (::symlinkat(target.c_str(), dir.get(), temporary.c_str()) != 0)
        return ERAR_ECREATE;
    if (::renameat(dir.get(), temporary.c_str(), dir.get(), path.back().c_str()) != 0) {
        ::unlinkat(dir.get(), temporary.c_str(), 0);
        return ERAR_ECREATE;
    }
    setLinkTimes(dir.get(), path.back(), mtime);
    return 0;
}

int makeHardLink(const Components& path, const Components& target)
{
    Fd from(openDirectory(target, target.size() - 1, false));
    if (from.get() < 0)
        return ERAR_ECREATE;
    Fd dir(openDirectory(path, path.size() - 1, true));
    if (dir.get() < 0)
        return ERAR_ECREATE;
    const std::string temporary = temporaryName(path.back());
    // Flags 0: a link names the target itself, never what a symbolic link points to.
    if (::linkat(from.get(), target.back().c_str(), dir.get(), temporary.c_str(), 0) != 0)
        return ERAR_ECREATE;
    if (::renameat(dir.get(), temporary.c_str(), dir.get(), path.back().c_str()) != 0) {
        ::unlinkat(dir.get(), temporary.c_str(), 0);
        return ERAR_ECREATE;
    }
    return 0;
}

File::~File()
{
    discard();
}

int File::create(const Components& path, mode_t mode)
{
    discard();
    m_dir = openDirectory(path, path.size() - 1, true);
    if (m_dir < 0)
        return ERAR_ECREATE;
    m_name = path.back();
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_temporary = temporaryName(m_name);
        m_fd = ::openat(m_dir, m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (m_fd >= 0)
            return 0;
        if (errno != EEXIST)
            break;
    }
    const int saved = errno;
    m_temporary.clear();
    discard();
    return saved == ENOSPC || saved == EDQUOT ? ERAR_EWRITE : ERAR_ECREATE;
}

bool File::write(const void* data, size_t size)
{
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        p += n;
        size -= size_t(n);
    }
    return true;
}

int File::commit(const timespec* mtime)
{
    setTimes(m_fd, mtime);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        const int saved = errno;
        discard();
        return saved == ENOSPC || saved == EDQUOT ? ERAR_EWRITE : ERAR_ECLOSE;
    }
    if (::renameat(m_dir, m_temporary.c_str(), m_dir, m_name.c_str()) != 0) {
        discard();
        return ERAR_ECREATE;
    }
    m_temporary.clear();
    ::close(m_dir);
    m_dir = -1;
    return 0;
}

void File::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_dir >= 0) {
        if (!m_temporary.empty())
            ::unlinkat(m_dir, m_temporary.c_str(), 0);
        ::close(m_dir);
        m_dir = -1;
    }
    m_temporary.clear();
}

}
