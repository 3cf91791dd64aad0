#include "RarOutput.h"

#include "RarCodes.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace RarOutput {

namespace {

// --- live parts, for the signal handlers ---------------------------------
//
// A fixed table that a signal handler can read without locks: a slot is
// claimed (1), filled, then made live (2); the handler touches live slots
// only. The table has to be reachable from a handler, hence process-wide.

constexpr int kSlots = 64;
constexpr size_t kNameSize = 256; // NAME_MAX and its NUL

struct PartSlot {
    std::atomic<int> state { 0 };
    int dir = -1;
    int flags = 0; // 0 for a part, AT_REMOVEDIR for a directory made for it
    char name[kNameSize] = {};
};

PartSlot g_parts[kSlots];
static_assert(std::atomic<int>::is_always_lock_free);

int claimSlot(int dir, const std::string& name, int flags)
{
    if (name.size() >= kNameSize)
        return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (!g_parts[i].state.compare_exchange_strong(expected, 1))
            continue;
        g_parts[i].dir = dir;
        g_parts[i].flags = flags;
        std::memcpy(g_parts[i].name, name.c_str(), name.size() + 1);
        g_parts[i].state.store(2);
        return i;
    }
    return -1; // full: the part is still removed on every ordinary path
}

void releaseSlot(int& slot)
{
    if (slot >= 0)
        g_parts[slot].state.store(0);
    slot = -1;
}

// Async-signal-safe: unlinkat only.
void removeLiveParts()
{
    for (auto& slot : g_parts)
        if (slot.state.load() == 2 && slot.flags == 0)
            ::unlinkat(slot.dir, slot.name, 0);
    // Directories inside others go first; each pass removes at least the
    // innermost one that is left.
    for (int pass = 0; pass < kSlots; ++pass) {
        bool removed = false;
        for (auto& slot : g_parts)
            if (slot.state.load() == 2 && slot.flags == AT_REMOVEDIR && ::unlinkat(slot.dir, slot.name, AT_REMOVEDIR) == 0) {
                slot.state.store(0);
                removed = true;
            }
        if (!removed)
            break;
    }
}

constexpr int kCleanedSignals[] = { SIGTERM, SIGINT, SIGHUP };
struct sigaction g_previous[3];
std::atomic<bool> g_handlersInstalled { false };

void onEndingSignal(int signal, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    removeLiveParts();
    for (size_t i = 0; i < 3; ++i) {
        if (kCleanedSignals[i] != signal)
            continue;
        const struct sigaction& before = g_previous[i];
        if ((before.sa_flags & SA_SIGINFO) && before.sa_sigaction) {
            before.sa_sigaction(signal, info, context);
            errno = savedErrno;
            return;
        }
        if (before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN && before.sa_handler) {
            before.sa_handler(signal);
            errno = savedErrno;
            return;
        }
    }
    // End as the signal would have: it is blocked while this runs, so the
    // raised one arrives, with the default action, as soon as we return.
    struct sigaction plain {};
    plain.sa_handler = SIG_DFL;
    sigemptyset(&plain.sa_mask);
    ::sigaction(signal, &plain, nullptr);
    ::raise(signal);
    errno = savedErrno;
}

// --- file descriptors ------------------------------------------------------

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

void closeKeepingErrno(int& fd)
{
    if (fd < 0)
        return;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    fd = -1;
}

// --- resolution beneath the destination -----------------------------------

constexpr uint64_t kBeneath = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
std::atomic<bool> g_noOpenat2 { false };

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// A component as it goes to the system: one name, nothing that moves.
bool plainComponent(const std::string& part)
{
    return !part.empty() && part != "." && part != ".." && part.size() < kNameSize && part.find('/') == std::string::npos
        && part.find('\0') == std::string::npos;
}

bool plainComponents(const Components& path)
{
    for (const std::string& part : path)
        if (!plainComponent(part))
            return false;
    return !path.empty();
}

std::string join(const Components& path, size_t count)
{
    if (count == 0)
        return ".";
    std::string joined;
    for (size_t i = 0; i < count; ++i) {
        if (i)
            joined += '/';
        joined += path[i];
    }
    return joined;
}

// Without openat2: one component at a time, every symbolic link refused.
// Only for paths of plain components (no "..", no leading "/").
int walkWithoutLinks(int root, const std::string& path, int flags)
{
    Fd dir(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    size_t begin = 0;
    while (dir.get() >= 0) {
        const size_t end = path.find('/', begin);
        const std::string part = path.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        if (end == std::string::npos)
            return ::openat(dir.get(), part.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
        dir.reset(::openat(dir.get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        begin = end + 1;
    }
    return -1;
}

// `path` opened below `root` with a resolution that cannot leave it: EXDEV
// when it would.
int openBeneath(int root, const std::string& path, int flags, uint64_t resolve = kBeneath)
{
    if (!g_noOpenat2.load()) {
        open_how how {};
        how.flags = uint64_t(flags | O_CLOEXEC);
        how.resolve = resolve;
        for (int attempt = 0; attempt < 8; ++attempt) {
            const long fd = ::syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
            if (fd >= 0)
                return int(fd);
            // EAGAIN: a rename elsewhere raced the walk.
            if (errno != EAGAIN && errno != EINTR)
                break;
        }
        if (errno != ENOSYS)
            return -1;
        g_noOpenat2.store(true);
    }
    if (path.empty() || path[0] == '/' || path == "." )
        return path == "." ? ::openat(root, ".", flags | O_CLOEXEC) : (errno = EXDEV, -1);
    return walkWithoutLinks(root, path, flags);
}

std::string readLinkAt(int dir, const std::string& name, bool& ok)
{
    std::string text(4096, '\0');
    const ssize_t n = ::readlinkat(dir, name.c_str(), text.data(), text.size());
    ok = n > 0 && size_t(n) < text.size();
    text.resize(ok ? size_t(n) : 0);
    return text;
}

Components splitAtSlash(const std::string& text)
{
    Components parts;
    size_t begin = 0;
    for (;;) {
        const size_t end = text.find('/', begin);
        parts.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        if (end == std::string::npos)
            return parts;
        begin = end + 1;
    }
}

// Follows `walk` from the top of the destination the way the kernel will,
// through every link already there. The real directories passed are kept
// by name: a directory is never replaced, so ".." from one of them is its
// parent for good. After a name that does not exist (or is no directory)
// only names may follow: what is made there later cannot be known now.
bool resolvesInside(int root, std::deque<std::string> walk)
{
    Components at;
    bool missing = false;
    int links = 0;
    size_t steps = 0;
    while (!walk.empty()) {
        if (++steps > 65536)
            return false;
        const std::string part = std::move(walk.front());
        walk.pop_front();
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (missing || at.empty())
                return false;
            at.pop_back();
            continue;
        }
        if (missing)
            continue;
        Fd dir(openBeneath(root, join(at, at.size()), O_PATH | O_DIRECTORY, kBeneath | RESOLVE_NO_SYMLINKS));
        if (dir.get() < 0)
            return false;
        struct stat st {};
        if (::fstatat(dir.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                return false;
            missing = true;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            at.push_back(part);
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            if (++links > 40)
                return false;
            bool ok = false;
            const std::string text = readLinkAt(dir.get(), part, ok);
            if (!ok || text[0] == '/')
                return false;
            const Components inner = splitAtSlash(text);
            walk.insert(walk.begin(), inner.begin(), inner.end());
            continue;
        }
        missing = true; // nothing is below a file
    }
    return true;
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

int createCode(int error) { return error == ENOSPC || error == EDQUOT ? ERAR_EWRITE : ERAR_ECREATE; }

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

bool hasDrive(const std::string& name) { return name.size() >= 2 && name[1] == ':'; }

}

bool safeComponents(const std::string& name, Components& out)
{
    out.clear();
    if (name.empty() || isSeparator(name[0]) || hasDrive(name) || name.find('\0') != std::string::npos)
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
    if (target.empty() || isSeparator(target[0]) || hasDrive(target) || target.find('\0') != std::string::npos)
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

// --- one entry -------------------------------------------------------------

struct Entry::Created {
    Fd parent;
    std::string name;
    int slot = -1;
};

Entry::Entry()
    : m_root(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC))
{
}

Entry::~Entry()
{
    if (!m_committed)
        rollback();
    closeKeepingErrno(m_root);
}

// The directory of the first `count` components, reached beneath the
// destination; missing ones are made (and recorded) when asked.
int Entry::parentOf(const Components& path, size_t count, bool create)
{
    if (m_root < 0)
        return -1;
    if (count == 0)
        return openBeneath(m_root, ".", O_PATH | O_DIRECTORY);
    // The level reached so far; the destination itself (m_root) before the first.
    Fd dir;
    for (size_t i = 0; i < count; ++i) {
        const int above = i == 0 ? m_root : dir.get();
        const std::string prefix = join(path, i + 1);
        int next = openBeneath(m_root, prefix, O_PATH | O_DIRECTORY);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(above, path[i].c_str(), 0777) == 0) {
                Created made { Fd(::fcntl(above, F_DUPFD_CLOEXEC, 0)), path[i] };
                if (made.parent.get() >= 0) {
                    made.slot = claimSlot(made.parent.get(), made.name, AT_REMOVEDIR);
                    m_created.push_back(std::move(made));
                } else {
                    ::unlinkat(above, path[i].c_str(), AT_REMOVEDIR);
                    return -1;
                }
            } else if (errno != EEXIST) {
                return -1;
            }
            next = openBeneath(m_root, prefix, O_PATH | O_DIRECTORY);
        }
        dir.reset(next);
        if (dir.get() < 0)
            return -1;
    }
    return dir.release();
}

void Entry::registerPart()
{
    m_slot = claimSlot(m_parent, m_temporary, 0);
}

void Entry::forgetPart()
{
    releaseSlot(m_slot);
    m_temporary.clear();
}

// Whether `name` in `dir` may get a new thing: anything but a directory
// (which cannot be replaced) and a symbolic link (which stays as it is, or
// is "replaced" by the same link).
bool Entry::replaceable(int dir, const std::string& name, const std::string* sameLinkTarget) const
{
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (S_ISDIR(st.st_mode))
        return false;
    if (!S_ISLNK(st.st_mode))
        return true;
    if (!sameLinkTarget)
        return false;
    bool ok = false;
    return readLinkAt(dir, name, ok) == *sameLinkTarget && ok;
}

int Entry::makeDirectory(const Components& path, const timespec* mtime)
{
    if (m_kind != Kind::None || !plainComponents(path))
        return ERAR_ECREATE;
    const int dir = parentOf(path, path.size(), true);
    if (dir < 0) {
        rollback();
        return ERAR_ECREATE;
    }
    ::close(dir);
    m_kind = Kind::Directory;
    m_path = path;
    m_hasTime = mtime != nullptr;
    if (mtime)
        m_mtime = *mtime;
    return 0;
}

int Entry::makeSymlink(const Components& path, const std::string& target, const timespec* mtime)
{
    if (m_kind != Kind::None || !plainComponents(path))
        return ERAR_ECREATE;
    std::string text = target;
    for (char& c : text)
        if (c == '\\')
            c = '/';
    if (text.empty() || text[0] == '/' || hasDrive(text) || text.find('\0') != std::string::npos)
        return ERAR_ECREATE;
    m_parent = parentOf(path, path.size() - 1, true);
    if (m_parent < 0) {
        rollback();
        return ERAR_ECREATE;
    }
    std::deque<std::string> walk(path.begin(), path.end() - 1);
    for (std::string& part : splitAtSlash(text))
        walk.push_back(std::move(part));
    bool inside = resolvesInside(m_root, walk) && replaceable(m_parent, path.back(), &text);
    // Where the target exists, the kernel's own resolution must agree.
    if (inside) {
        const std::string through = join(path, path.size() - 1) + "/" + text;
        Fd reached(openBeneath(m_root, through, O_PATH));
        inside = reached.get() >= 0 || errno == ENOENT || errno == ENOTDIR;
    }
    if (!inside) {
        rollback();
        return ERAR_ECREATE;
    }
    m_name = path.back();
    m_temporary = temporaryName(m_name);
    if (::symlinkat(text.c_str(), m_parent, m_temporary.c_str()) != 0) {
        m_temporary.clear();
        rollback();
        return ERAR_ECREATE;
    }
    registerPart();
    m_kind = Kind::Link;
    m_linkTarget = text;
    m_hasTime = mtime != nullptr;
    if (mtime)
        m_mtime = *mtime;
    return 0;
}

int Entry::makeHardLink(const Components& path, const Components& target)
{
    if (m_kind != Kind::None || !plainComponents(path) || !plainComponents(target))
        return ERAR_ECREATE;
    Fd from(parentOf(target, target.size() - 1, false));
    struct stat original {};
    if (from.get() < 0 || ::fstatat(from.get(), target.back().c_str(), &original, AT_SYMLINK_NOFOLLOW) != 0
        || !S_ISREG(original.st_mode))
        return ERAR_ECREATE;
    m_parent = parentOf(path, path.size() - 1, true);
    if (m_parent < 0 || !replaceable(m_parent, path.back(), nullptr)) {
        rollback();
        return ERAR_ECREATE;
    }
    m_name = path.back();
    m_temporary = temporaryName(m_name);
    // Flags 0: the link names the file itself, never what a link points to.
    if (::linkat(from.get(), target.back().c_str(), m_parent, m_temporary.c_str(), 0) != 0) {
        m_temporary.clear();
        rollback();
        return ERAR_ECREATE;
    }
    registerPart();
    m_kind = Kind::Link;
    // What was linked must be the regular file that was checked.
    struct stat made {};
    if (::fstatat(m_parent, m_temporary.c_str(), &made, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(made.st_mode)
        || made.st_ino != original.st_ino || made.st_dev != original.st_dev) {
        rollback();
        return ERAR_ECREATE;
    }
    return 0;
}

int Entry::createFile(const Components& path, mode_t mode)
{
    if (m_kind != Kind::None || !plainComponents(path))
        return ERAR_ECREATE;
    m_parent = parentOf(path, path.size() - 1, true);
    if (m_parent < 0 || !replaceable(m_parent, path.back(), nullptr)) {
        const int code = createCode(errno);
        rollback();
        return code;
    }
    m_name = path.back();
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_temporary = temporaryName(m_name);
        m_fd = ::openat(m_parent, m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0777);
        if (m_fd >= 0) {
            registerPart();
            m_kind = Kind::File;
            return 0;
        }
        if (errno != EEXIST)
            break;
    }
    const int code = createCode(errno);
    m_temporary.clear();
    rollback();
    return code;
}

bool Entry::write(const void* data, size_t size)
{
    if (m_kind != Kind::File || m_fd < 0) {
        errno = EBADF;
        return false;
    }
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

int Entry::finishFile(const timespec* mtime)
{
    if (m_kind != Kind::File || m_fd < 0)
        return ERAR_ECLOSE;
    if (mtime) {
        const timespec times[2] = { { 0, UTIME_OMIT }, *mtime };
        ::futimens(m_fd, times);
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        const int saved = errno;
        rollback();
        return saved == ENOSPC || saved == EDQUOT ? ERAR_EWRITE : ERAR_ECLOSE;
    }
    m_finished = true;
    return 0;
}

int Entry::commit()
{
    if (m_committed)
        return 0;
    int result = 0;
    switch (m_kind) {
    case Kind::None:
        break;
    case Kind::Directory:
        if (m_hasTime) {
            Fd dir(openBeneath(m_root, join(m_path, m_path.size()), O_RDONLY | O_DIRECTORY));
            const timespec times[2] = { { 0, UTIME_OMIT }, m_mtime };
            if (dir.get() >= 0)
                ::futimens(dir.get(), times);
        }
        break;
    case Kind::File:
        if (!m_finished)
            result = finishFile(nullptr);
        [[fallthrough]];
    case Kind::Link: {
        if (result)
            break;
        const bool symbolic = !m_linkTarget.empty();
        if (!replaceable(m_parent, m_name, symbolic ? &m_linkTarget : nullptr)) {
            result = ERAR_ECREATE;
            break;
        }
        struct stat st {};
        const bool same = symbolic && ::fstatat(m_parent, m_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
        if (same) {
            // The very link is there already: keep it.
            ::unlinkat(m_parent, m_temporary.c_str(), 0);
        } else if (::renameat(m_parent, m_temporary.c_str(), m_parent, m_name.c_str()) != 0) {
            result = ERAR_ECREATE;
            break;
        } else if (m_kind == Kind::Link) {
            // A hard link onto its own target renames nothing and keeps
            // the temporary name.
            ::unlinkat(m_parent, m_temporary.c_str(), 0);
        }
        forgetPart();
        if (symbolic && m_hasTime) {
            const timespec times[2] = { { 0, UTIME_OMIT }, m_mtime };
            ::utimensat(m_parent, m_name.c_str(), times, AT_SYMLINK_NOFOLLOW);
        }
        break;
    }
    }
    if (result) {
        rollback();
        return result;
    }
    for (Created& made : m_created)
        releaseSlot(made.slot);
    m_created.clear();
    closeKeepingErrno(m_parent);
    m_committed = true;
    return 0;
}

void Entry::rollback()
{
    closeKeepingErrno(m_fd);
    if (!m_temporary.empty() && m_parent >= 0) {
        const int saved = errno;
        ::unlinkat(m_parent, m_temporary.c_str(), 0);
        errno = saved;
    }
    forgetPart();
    closeKeepingErrno(m_parent);
    // Deepest first; a directory someone filled meanwhile stays.
    for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
        const int saved = errno;
        ::unlinkat(it->parent.get(), it->name.c_str(), AT_REMOVEDIR);
        errno = saved;
        releaseSlot(it->slot);
    }
    m_created.clear();
    m_kind = Kind::None;
    m_finished = false;
    m_name.clear();
    m_linkTarget.clear();
    m_path.clear();
    m_hasTime = false;
}

// --- the calls before Entry ------------------------------------------------

int makeDirectory(const Components& path, const timespec* mtime)
{
    Entry entry;
    const int result = entry.makeDirectory(path, mtime);
    return result ? result : entry.commit();
}

int makeSymlink(const Components& path, const std::string& target, const timespec* mtime)
{
    Entry entry;
    const int result = entry.makeSymlink(path, target, mtime);
    return result ? result : entry.commit();
}

int makeHardLink(const Components& path, const Components& target)
{
    Entry entry;
    const int result = entry.makeHardLink(path, target);
    return result ? result : entry.commit();
}

File::~File()
{
    discard();
}

int File::create(const Components& path, mode_t mode)
{
    discard();
    m_entry = std::make_unique<Entry>();
    const int result = m_entry->createFile(path, mode);
    if (result)
        discard();
    return result;
}

bool File::write(const void* data, size_t size)
{
    if (!m_entry) {
        errno = EBADF;
        return false;
    }
    return m_entry->write(data, size);
}

int File::commit(const timespec* mtime)
{
    if (!m_entry)
        return ERAR_ECLOSE;
    int result = m_entry->finishFile(mtime);
    if (!result)
        result = m_entry->commit();
    m_entry.reset();
    return result;
}

void File::discard()
{
    m_entry.reset(); // rolls back what was not committed
}

// --- signals ---------------------------------------------------------------

void removePartsOnSignals()
{
    if (g_handlersInstalled.exchange(true))
        return;
    for (size_t i = 0; i < 3; ++i) {
        struct sigaction before {};
        if (::sigaction(kCleanedSignals[i], nullptr, &before) != 0 || before.sa_handler == SIG_IGN)
            continue; // ignored (nohup): stays ignored
        g_previous[i] = before;
        struct sigaction handler {};
        handler.sa_sigaction = onEndingSignal;
        handler.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&handler.sa_mask);
        for (int other : kCleanedSignals)
            sigaddset(&handler.sa_mask, other);
        ::sigaction(kCleanedSignals[i], &handler, nullptr);
    }
}

}
