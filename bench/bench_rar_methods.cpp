// Unpacked megabytes per second for each RAR method through the archive
// layer as the installer drives it (RAROpenArchive, RARReadHeader,
// RARProcessFile with RAR_EXTRACT into a fresh directory on --tmp), against
// `unar` and `bsdtar -xf` extracting the same archive into a directory there.
//
// A sample is extracted N times in a row, N chosen so that one run unpacks at
// least --mb megabytes (at most --max-runs passes). Our layer does the N
// passes in one child process; unar and bsdtar are N child processes, so
// their process start-up is part of their time (printed on its own at the
// end). Every run's wall time and CPU time (user + system) are taken; the
// table shows medians over --rounds, with the load average of the machine.
//
// Before timing, each tool extracts the sample once and its tree (names,
// sizes, CRC32, link targets) is compared with ours: bsdtar is timed only
// where it agrees, otherwise the table says "wrong" (or "fail" when it
// stops with an error). unar is the reference for RAR 1.5 to 4.x, so a
// difference there is reported as an error of ours.
//
// Peak memory is the layer child's getrusage maximum resident set, for one
// pass and for the N passes; the last rows (one 241 MB entry, alone and in
// a volume set, N = 1) show that it does not grow with the entry's size.
//
//   bench_rar_methods [--mb 100] [--rounds 3] [--max-runs 3000] [--tmp /dev/shm] [--fixtures DIR] [--big 0|1]
//                     [--only TEXT]
//
// --big 0 leaves out the 241 MB rows, --only keeps the samples whose label
// contains TEXT.
//
// DIR defaults to MERIK_SHARED_FIXTURES/rar, the samples nothing here can
// write; a sample that is missing is skipped with a line saying so.
#include "RarFormat.h"
#include "ScratchFolder.h"
#include "UnRAR.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

#ifndef MERIK_SHARED_FIXTURES
#define MERIK_SHARED_FIXTURES ""
#endif

namespace {

struct Sample {
    const char* label;
    const char* method;
    const char* file; // first volume, under the fixtures directory
    bool big = false; // the large-entry row
};

const Sample kSamples[] = {
    { "Rar15.rar", "1.5", "sharpcompress/Rar15.rar" },
    { "Rar2.rar", "2.0", "sharpcompress/Rar2.rar" },
    { "Rar.rar", "2.9 LZ", "sharpcompress/Rar.rar" },
    { "compress_normal", "2.9 LZ", "test_read_format_rar_compress_normal.rar" },
    // Best method, but its blocks are LZ: the decoder never builds a PPM
    // model for it (bench_ppmd measures PPMd on an archive of its own).
    { "binary_data", "2.9 Bs", "test_read_format_rar_binary_data.rar" },
    { "filter", "2.9 filter", "test_read_format_rar_filter.rar" },
    { "Audio_program", "2.9 filter", "sharpcompress/Rar.Audio_program.rar" },
    { "Rar.solid.rar", "2.9 solid", "sharpcompress/Rar.solid.rar" },
    { "Rar5.solid.rar", "5", "sharpcompress/Rar5.solid.rar" },
    { "rar5_compressed", "5", "test_read_format_rar5_compressed.rar" },
    // Mostly LZ with a few PPM blocks: the PPMd decoder's share of the time
    // is small here, but it is the only sample that switches between both.
    { "ppmd_lzss 241MB", "2.9 PPMd+LZ", "test_read_format_rar_ppmd_lzss_conversion.rar", true },
    { "multivolume 241MB", "2.9 vol", "test_read_format_rar_multivolume.part0001.rar", true },
};

struct Run {
    bool ok = false;
    double wall = 0;
    double cpu = 0;
    long maxRssKb = 0;
};

double cpuOf(const rusage& u)
{
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// One child process in `dir` (when given), its output to /dev/null.
Run spawn(const std::vector<std::string>& args, const std::string& dir)
{
    Run r;
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0)
        return r;
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (!dir.empty() && ::chdir(dir.c_str()) != 0)
            _exit(126);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage u {};
    ::wait4(pid, &status, 0, &u);
    r.wall = std::chrono::duration<double>(Clock::now() - start).count();
    r.cpu = cpuOf(u);
    r.maxRssKb = u.ru_maxrss;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

// The layer child: `passes` extractions of the archive, pass i into
// base/i, as the installer does it (the current directory is the target).
int childLayer(const char* archive, const char* base, long passes)
{
    for (long i = 0; i < passes; ++i) {
        const std::string dir = std::string(base) + "/" + std::to_string(i);
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (ec || ::chdir(dir.c_str()) != 0)
            return 3;
        RAROpenArchiveData open;
        open.ArcName = archive;
        open.OpenMode = RAR_OM_EXTRACT;
        RARHandle handle = RAROpenArchive(&open);
        if (!handle)
            return 4;
        RARSetChangeVolProc(handle, [](char*, int mode) { return mode == RAR_VOL_ASK ? 0 : 1; });
        RARHeaderData header;
        int result;
        int failures = 0;
        while ((result = RARReadHeader(handle, &header)) == 0)
            if (RARProcessFile(handle, RAR_EXTRACT, nullptr, nullptr) != 0)
                ++failures;
        RARCloseArchive(handle);
        if (failures || result != ERAR_END_ARCHIVE)
            return 5;
    }
    return 0;
}

// A tree as path -> what it is: "d", "l:target", or "f:size:crc".
using Tree = std::map<std::string, std::string>;

Tree treeOf(const fs::path& root, uint64_t& fileBytes)
{
    Tree tree;
    fileBytes = 0;
    std::vector<unsigned char> buffer(1 << 20);
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = fs::relative(it->path(), root).string();
        const auto status = it->symlink_status();
        if (fs::is_symlink(status)) {
            tree[name] = "l:" + fs::read_symlink(it->path()).string();
        } else if (fs::is_directory(status)) {
            tree[name] = "d";
        } else {
            uint32_t crc = 0;
            uint64_t size = 0;
            const int fd = ::open(it->path().c_str(), O_RDONLY);
            if (fd >= 0) {
                ssize_t n;
                while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) {
                    crc = Rar::crc32(crc, buffer.data(), size_t(n));
                    size += uint64_t(n);
                }
                ::close(fd);
            }
            fileBytes += size;
            char text[64];
            std::snprintf(text, sizeof text, "f:%llu:%08x", (unsigned long long)size, crc);
            tree[name] = text;
        }
    }
    return tree;
}

// What differs, briefly ("" when nothing does).
std::string difference(const Tree& ours, const Tree& theirs)
{
    for (const auto& [name, what] : ours) {
        const auto it = theirs.find(name);
        if (it == theirs.end())
            return name + " missing";
        if (it->second != what)
            return name + " is " + it->second + ", ours " + what;
    }
    for (const auto& [name, what] : theirs)
        if (!ours.count(name))
            return name + " extra";
    return {};
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::string loadAverage()
{
    std::string text;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        char line[128] = {};
        if (std::fgets(line, sizeof line, f))
            text = line;
        std::fclose(f);
    }
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

struct Options {
    double mb = 100;
    int rounds = 3;
    long maxRuns = 3000;
    std::string tmp = "/dev/shm";
    std::string fixtures = std::string(MERIK_SHARED_FIXTURES) + "/rar";
    bool big = true;
    std::string only; // samples whose label contains this
};

// N passes of one tool: the layer in one child, the others one child each.
struct Timing {
    bool ok = true;
    double wall = 0;
    double cpu = 0;
    long maxRssKb = 0;
};

enum class Tool { Ours, Unar, Bsdtar };

Timing timePasses(Tool tool, const std::string& self, const std::string& archive, const std::string& base, long passes)
{
    Timing t;
    fs::create_directories(base);
    if (tool == Tool::Ours) {
        const Run r = spawn({ self, "--child-layer", archive, base, std::to_string(passes) }, {});
        t.ok = r.ok;
        t.wall = r.wall;
        t.cpu = r.cpu;
        t.maxRssKb = r.maxRssKb;
    } else {
        for (long i = 0; i < passes && t.ok; ++i) {
            const std::string dir = base + "/" + std::to_string(i);
            fs::create_directory(dir);
            const Run r = tool == Tool::Unar ? spawn({ "unar", "-q", "-D", "-f", "-o", dir, archive }, {})
                                             : spawn({ "bsdtar", "-xf", archive }, dir);
            t.ok = r.ok;
            t.wall += r.wall;
            t.cpu += r.cpu;
            t.maxRssKb = std::max(t.maxRssKb, r.maxRssKb);
        }
    }
    std::error_code ec;
    fs::remove_all(base, ec);
    return t;
}

std::string rate(double megabytes, double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds > 0 ? megabytes / seconds : 0.0);
    return text;
}

std::string ratio(double a, double b)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", b > 0 ? a / b : 0.0);
    return text;
}

}

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--child-layer") == 0)
        return childLayer(argv[2], argv[3], std::atol(argv[4]));

    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const std::string value = argv[i + 1];
        if (key == "--mb")
            o.mb = std::stod(value);
        else if (key == "--rounds")
            o.rounds = std::max(1, std::stoi(value));
        else if (key == "--max-runs")
            o.maxRuns = std::max(1L, std::stol(value));
        else if (key == "--tmp")
            o.tmp = value;
        else if (key == "--fixtures")
            o.fixtures = value;
        else if (key == "--big")
            o.big = value != "0";
        else if (key == "--only")
            o.only = value;
        else {
            std::fprintf(stderr, "bench_rar_methods: unknown option %s\n", key.c_str());
            return 2;
        }
    }
    if ((argc - 1) % 2) {
        std::fprintf(stderr, "usage: bench_rar_methods [--mb 100] [--rounds 3] [--max-runs 3000] [--tmp /dev/shm] "
                             "[--fixtures DIR] [--big 0|1] [--only TEXT]\n");
        return 2;
    }

    const ScratchFolder scratch(o.tmp + "/merik-rar-methods-");
    if (scratch.path().empty())
        return 1;
    const std::string& work = scratch.path();
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    std::printf("bench_rar_methods: samples from %s, output on %s, >= %.0f MB a run (at most %ld passes), %d rounds, "
                "medians\n",
        o.fixtures.c_str(), o.tmp.c_str(), o.mb, o.maxRuns, o.rounds);
    std::printf("load average at start: %s (%ld cores)\n", loadAverage().c_str(), sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("%-18s %-10s %8s %6s %7s | %8s %8s %8s | %6s %6s | %6s %6s | %7s %7s\n", "sample", "method", "MB/pass",
        "passes", "MB/run", "ours", "unar", "bsdtar", "o/bsd", "o/unar", "cpu", "cpu", "peak MB", "peak MB");
    std::printf("%-18s %-10s %8s %6s %7s | %8s %8s %8s | %6s %6s | %6s %6s | %7s %7s\n", "", "", "", "", "", "MB/s",
        "MB/s", "MB/s", "time", "time", "o/bsd", "o/unar", "1 pass", "N pass");
    std::fflush(stdout);

    struct Verdict {
        double worstBsdtar = 0; // ours/bsdtar time, where bsdtar is right
        double worstUnar = 0;
        long peakKb = 0;
        bool oursWrong = false;
    } verdict;
    long smallPeakKb = 0, bigPeakKb = 0;

    for (const Sample& s : kSamples) {
        if ((s.big && !o.big) || std::string(s.label).find(o.only) == std::string::npos)
            continue;
        const std::string archive = o.fixtures + "/" + s.file;
        if (!fs::exists(archive)) {
            std::printf("%-18s %-10s skipped: %s is missing\n", s.label, s.method, archive.c_str());
            continue;
        }
        // One pass of each tool, kept to compare the trees.
        const std::string check = work + "/check";
        fs::create_directories(check);
        const Run once = spawn({ self, "--child-layer", archive, check + "/ours", "1" }, {});
        if (!once.ok) {
            std::printf("%-18s %-10s the layer failed to extract %s\n", s.label, s.method, archive.c_str());
            verdict.oursWrong = true;
            fs::remove_all(check);
            continue;
        }
        uint64_t bytes = 0;
        const Tree ours = treeOf(check + "/ours/0", bytes);

        auto checkTool = [&](Tool tool, const char* name, std::string& note) {
            const std::string dir = check + "/" + name;
            fs::create_directories(dir);
            const Run r = tool == Tool::Unar ? spawn({ "unar", "-q", "-D", "-f", "-o", dir, archive }, {})
                                             : spawn({ "bsdtar", "-xf", archive }, dir);
            uint64_t theirBytes = 0;
            const std::string diff = difference(ours, treeOf(dir, theirBytes));
            note = !diff.empty() ? "wrong" : !r.ok ? "fail" : "";
            if (!note.empty())
                std::fprintf(stderr, "%s: %s %s (exit %s)%s%s\n", s.label, name, note.c_str(), r.ok ? "0" : "not 0",
                    diff.empty() ? "" : ": ", diff.c_str());
            return note.empty();
        };
        std::string unarNote, bsdtarNote;
        const bool unarRight = checkTool(Tool::Unar, "unar", unarNote);
        const bool bsdtarRight = checkTool(Tool::Bsdtar, "bsdtar", bsdtarNote);
        const bool rar5 = std::strcmp(s.method, "5") == 0;
        if (!unarRight && !rar5) {
            // unar is the reference for these methods.
            std::fprintf(stderr, "%s: our tree differs from unar's\n", s.label);
            verdict.oursWrong = true;
        }
        fs::remove_all(check);

        const double mbPass = double(bytes) / 1e6;
        long passes = bytes ? long(std::ceil(o.mb * 1e6 / double(bytes))) : 1;
        passes = std::clamp(passes, 1L, o.maxRuns);
        if (s.big)
            passes = 1;
        const double mbRun = mbPass * double(passes);

        std::vector<double> oursWall, unarWall, bsdWall, oursCpu, unarCpu, bsdCpu;
        long peakKb = 0;
        bool failed = false;
        for (int round = 0; round < o.rounds && !failed; ++round) {
            const Timing a = timePasses(Tool::Ours, self, archive, work + "/ours", passes);
            failed = !a.ok;
            oursWall.push_back(a.wall);
            oursCpu.push_back(a.cpu);
            peakKb = std::max(peakKb, a.maxRssKb);
            if (unarRight) {
                const Timing u = timePasses(Tool::Unar, self, archive, work + "/unar", passes);
                if (!u.ok)
                    unarNote = "fail";
                unarWall.push_back(u.wall);
                unarCpu.push_back(u.cpu);
            }
            if (bsdtarRight) {
                const Timing b = timePasses(Tool::Bsdtar, self, archive, work + "/bsdtar", passes);
                if (!b.ok)
                    bsdtarNote = "fail";
                bsdWall.push_back(b.wall);
                bsdCpu.push_back(b.cpu);
            }
            std::fprintf(stderr, "%s round %d: ours %.3f s (cpu %.3f), unar %.3f s, bsdtar %.3f s; load %s\n", s.label,
                round + 1, a.wall, a.cpu, unarWall.empty() ? 0.0 : unarWall.back(),
                bsdWall.empty() ? 0.0 : bsdWall.back(), loadAverage().c_str());
        }
        if (failed) {
            std::printf("%-18s %-10s the layer failed during the timed runs\n", s.label, s.method);
            verdict.oursWrong = true;
            continue;
        }
        const double ow = median(oursWall), oc = median(oursCpu);
        const double uw = median(unarWall), uc = median(unarCpu);
        const double bw = median(bsdWall), bc = median(bsdCpu);
        const bool haveUnar = unarNote.empty() && !unarWall.empty();
        const bool haveBsd = bsdtarNote.empty() && !bsdWall.empty();
        std::printf("%-18s %-10s %8.3f %6ld %7.1f | %8s %8s %8s | %6s %6s | %6s %6s | %7.1f %7.1f\n", s.label, s.method,
            mbPass, passes, mbRun, rate(mbRun, ow).c_str(), haveUnar ? rate(mbRun, uw).c_str() : unarNote.c_str(),
            haveBsd ? rate(mbRun, bw).c_str() : bsdtarNote.c_str(), haveBsd ? ratio(ow, bw).c_str() : "-",
            haveUnar ? ratio(ow, uw).c_str() : "-", haveBsd ? ratio(oc, bc).c_str() : "-",
            haveUnar ? ratio(oc, uc).c_str() : "-", once.maxRssKb / 1024.0, peakKb / 1024.0);
        std::fflush(stdout);
        if (haveBsd)
            verdict.worstBsdtar = std::max(verdict.worstBsdtar, ow / bw);
        if (haveUnar)
            verdict.worstUnar = std::max(verdict.worstUnar, ow / uw);
        verdict.peakKb = std::max(verdict.peakKb, std::max(peakKb, once.maxRssKb));
        if (s.big)
            bigPeakKb = std::max(bigPeakKb, once.maxRssKb);
        else
            smallPeakKb = std::max(smallPeakKb, once.maxRssKb);
    }

    // What one process costs before it decodes anything: the smallest
    // sample, many times.
    const std::string tiny = o.fixtures + "/test_read_format_rar.rar";
    if (fs::exists(tiny)) {
        const long n = 50;
        const Timing u = timePasses(Tool::Unar, self, tiny, work + "/unar", n);
        const Timing b = timePasses(Tool::Bsdtar, self, tiny, work + "/bsdtar", n);
        const Timing a = timePasses(Tool::Ours, self, tiny, work + "/ours", n);
        std::printf("start-up: one pass of test_read_format_rar.rar (336 bytes) takes unar %.1f ms, bsdtar %.1f ms "
                    "(a process each), the layer %.2f ms (in one process)\n",
            1000 * u.wall / n, 1000 * b.wall / n, 1000 * a.wall / n);
    }
    std::printf("load average at end: %s\n", loadAverage().c_str());
    std::fflush(stdout);
    std::printf("worst ours/bsdtar time %.2f (target <= 1.0, aim 0.7), worst ours/unar time %.2f (target < 1), "
                "peak memory %.1f MB (target < 300 MB); one pass: largest of the small samples %.1f MB, a 241 MB entry %.1f MB%s\n",
        verdict.worstBsdtar, verdict.worstUnar, verdict.peakKb / 1024.0, smallPeakKb / 1024.0, bigPeakKb / 1024.0,
        verdict.oursWrong ? "; OUR OUTPUT WAS WRONG SOMEWHERE (see above)" : "");
    return verdict.oursWrong ? 1 : 0;
}
