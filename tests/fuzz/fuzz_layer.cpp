// libFuzzer target over the whole archive layer: the input is written as a
// volume (split in two where a second RAR signature starts), opened, every
// header read and every entry extracted into a fresh destination inside a
// sandbox, the way the extraction window does it. The oracle aborts when
// anything outside the destination changed or a link inside leads out.
//
// A hole in the layer could write anywhere the process may write, so when
// it can the target first makes every file system read-only for itself
// (a private mount namespace) except the sandbox and its working directory,
// where libFuzzer keeps the corpus and crash inputs.
#include "UnRAR.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <ftw.h>
#include <map>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string g_sandbox;     // sandbox/home/dest is the destination
std::string g_destination;
std::string g_medium;
int g_workingDirectory = -1; // libFuzzer's, where corpus and crash inputs go

void die(const char* what)
{
    std::fprintf(stderr, "fuzz_layer: %s: %s\n", what, std::strerror(errno));
    std::abort();
}

void writeFile(const std::string& path, const uint8_t* data, size_t size)
{
    ::unlink(path.c_str());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        die(path.c_str());
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0)
            die(path.c_str());
        data += n;
        size -= size_t(n);
    }
    ::close(fd);
}

std::string linkTarget(const std::string& path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string("?") : std::string(buffer, size_t(n));
}

// Path -> kind, mode, size, modification time and link target, never
// following a link; `skip` is left out with everything beneath it.
using Listing = std::map<std::string, std::string>;
void walk(const std::string& path, const std::string& skip, Listing& out)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return;
    std::string line = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " "
        + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    if (S_ISLNK(st.st_mode))
        line += " -> " + linkTarget(path);
    out[path] = line;
    if (!S_ISDIR(st.st_mode))
        return;
    std::error_code error;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        const std::string child = it->path().string();
        if (child != skip)
            walk(child, skip, out);
    }
}

int removeOne(const char* path, const struct stat*, int, FTW*)
{
    // Directories may have lost their permissions to an entry's mode.
    ::chmod(path, 0700);
    ::remove(path);
    return 0;
}

void freshDestination()
{
    ::nftw(g_destination.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
    if (::mkdir(g_destination.c_str(), 0755) != 0)
        die("destination");
    // A link already there that leads out, as an earlier installation or
    // the user might have left it.
    if (::symlink("../../outside", (g_destination + "/out").c_str()) != 0)
        die("planted link");
}

void checkLinksInside()
{
    std::error_code error;
    const fs::path top = fs::canonical(g_destination, error);
    if (error)
        die("destination vanished");
    Listing inside;
    walk(g_destination, {}, inside);
    for (const auto& [path, line] : inside) {
        if (line.find(" -> ") == std::string::npos || path == g_destination + "/out")
            continue;
        const fs::path target = linkTarget(path);
        std::error_code e;
        const fs::path parent = fs::canonical(fs::path(path).parent_path(), e);
        if (e)
            continue;
        const fs::path resolved = fs::weakly_canonical(target.is_absolute() ? target : parent / target, e);
        if (e)
            continue; // a loop leads nowhere
        const fs::path rel = resolved.lexically_relative(top);
        if (rel.empty() || *rel.begin() == "..") {
            std::fprintf(stderr, "fuzz_layer: the link %s -> %s leads out to %s\n", path.c_str(), target.c_str(),
                resolved.c_str());
            std::abort();
        }
    }
}

// Everything read-only for this process but the sandbox and the working
// directory. Only root can do this; anyone else cannot harm the system's
// files anyway.
void confine()
{
    if (::geteuid() != 0) {
        std::fprintf(stderr, "fuzz_layer: not root: the file systems stay writable\n");
        return;
    }
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd))
        die("getcwd");
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        std::fprintf(stderr, "fuzz_layer: no private mount namespace (%s): refusing to run as root unconfined\n",
            std::strerror(errno));
        std::exit(1);
    }
    const std::vector<std::string> writable { g_sandbox, cwd };
    for (const std::string& w : writable)
        if (::mount(w.c_str(), w.c_str(), nullptr, MS_BIND, nullptr) != 0)
            die("bind mount");
    std::vector<std::string> mounts;
    std::ifstream table("/proc/self/mounts");
    for (std::string device, point, rest; table >> device >> point && std::getline(table, rest);)
        mounts.push_back(point);
    for (const std::string& point : mounts) {
        if (point == "/proc" || point.rfind("/proc/", 0) == 0 || point == "/sys" || point.rfind("/sys/", 0) == 0
            || point == "/dev" || point.rfind("/dev/", 0) == 0)
            continue;
        bool keep = false;
        for (const std::string& w : writable)
            keep = keep || point == w;
        if (!keep)
            ::mount(nullptr, point.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr);
    }
    const std::string probe = "/tmp/merik-fuzz-layer-probe";
    if (g_sandbox.rfind("/tmp/", 0) == 0 && ::mkdir(probe.c_str(), 0700) == 0) {
        ::rmdir(probe.c_str());
        std::fprintf(stderr, "fuzz_layer: /tmp is still writable: refusing to run unconfined\n");
        std::exit(1);
    }
}

void removeSandbox()
{
    ::nftw(g_sandbox.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
}

}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char pattern[] = "/tmp/merik-fuzz-layer-XXXXXX";
    if (!::mkdtemp(pattern))
        die("mkdtemp");
    g_sandbox = pattern;
    g_destination = g_sandbox + "/home/dest";
    g_medium = g_sandbox + "/medium";
    for (const char* d : { "/home", "/home/sibling", "/outside", "/medium" })
        if (::mkdir((g_sandbox + d).c_str(), 0755) != 0)
            die("sandbox");
    const char bashrc[] = "# the user's own\n";
    writeFile(g_sandbox + "/.bashrc", reinterpret_cast<const uint8_t*>(bashrc), sizeof bashrc - 1);
    const char secret[] = "secret\n";
    writeFile(g_sandbox + "/outside/secret", reinterpret_cast<const uint8_t*>(secret), sizeof secret - 1);
    writeFile(g_sandbox + "/home/sibling/notes.txt", reinterpret_cast<const uint8_t*>(secret), sizeof secret - 1);
    writeFile(g_medium + "/install.ini", reinterpret_cast<const uint8_t*>(secret), sizeof secret - 1);
    g_workingDirectory = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (g_workingDirectory < 0)
        die("working directory");
    confine();
    std::atexit(removeSandbox);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    freshDestination();
    // A second signature starts the second volume; it is found under both
    // numberings' names of the first volume's successor.
    static const uint8_t signature[] = { 0x52, 0x61, 0x72, 0x21, 0x1a, 0x07 };
    size_t split = size;
    for (size_t i = 7; i + sizeof signature <= size; ++i)
        if (std::memcmp(data + i, signature, sizeof signature) == 0) {
            split = i;
            break;
        }
    const std::string first = g_medium + "/fuzz.part1.rar";
    writeFile(first, data, split);
    for (const char* next : { "/fuzz.part2.rar", "/fuzz.part1.r00" }) {
        if (split < size)
            writeFile(g_medium + next, data + split, size - split);
        else
            ::unlink((g_medium + next).c_str());
    }

    Listing before;
    walk(g_sandbox, g_destination, before);

    if (::chdir(g_destination.c_str()) != 0)
        die("chdir");
    char comment[16384];
    RAROpenArchiveData open;
    open.ArcName = first.c_str();
    open.OpenMode = RAR_OM_EXTRACT;
    open.CmtBuf = comment;
    open.CmtBufSize = sizeof comment;
    if (RARHandle handle = RAROpenArchive(&open)) {
        RARSetChangeVolProc(handle, [](char*, int mode) { return mode == RAR_VOL_ASK ? 0 : 1; });
        RARSetProcessDataProc(handle, [](unsigned char*, int) { return 1; });
        RARHeaderData header;
        // On after a failure too, as far as the layer lets us.
        for (int i = 0; i < 256 && RARReadHeader(handle, &header) == 0; ++i)
            RARProcessFile(handle, RAR_EXTRACT, nullptr, nullptr);
        RARCloseArchive(handle);
    }
    if (::fchdir(g_workingDirectory) != 0)
        die("chdir");

    Listing after;
    walk(g_sandbox, g_destination, after);
    if (after != before) {
        for (const auto& [path, line] : after)
            if (before.count(path) == 0 || before[path] != line)
                std::fprintf(stderr, "fuzz_layer: changed outside the destination: %s %s\n", path.c_str(), line.c_str());
        for (const auto& [path, line] : before)
            if (after.count(path) == 0)
                std::fprintf(stderr, "fuzz_layer: gone outside the destination: %s\n", path.c_str());
        std::abort();
    }
    checkLinksInside();
    return 0;
}
