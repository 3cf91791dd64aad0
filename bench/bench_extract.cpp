// Extraction through the archive layer, as the extraction window drives it
// (a data callback that drains a Qt event loop), against `bsdtar -xf` of one
// archive with the same content and against `cat` of the volumes into one
// file. Every run is a child process, so its time and peak memory
// (getrusage) are its own; medians over the rounds.
//
//   bench_extract [--mb 200] [--volumes 5] [--rounds 5] [--big-mb 1024] [--tmp /tmp]
//
// Writes its sets with the mastering code under a fresh directory in --tmp
// and removes everything afterwards. --big-mb 0 leaves out the run with one
// big entry (which shows that memory does not grow with the entry's size).
// Prints the figures of every run on stderr and one line of results on stdout.
#include "RarWriter.h"
#include "ScratchFolder.h"
#include "UnRAR.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Measure {
    double seconds = 0;
    long maxRssKb = 0;
    double maxGapMs = 0; // the layer only
    bool ok = false;
};

// The child: extracts the set into the current directory like the window.
int childLayer(int argc, char** argv, const char* archive, const char* destination, const char* report)
{
    QCoreApplication app(argc, argv);
    if (::chdir(destination) != 0)
        return 3;
    // Something for the event loop to do, as a window would have.
    long ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);

    RAROpenArchiveData open;
    open.ArcName = archive;
    open.OpenMode = RAR_OM_EXTRACT;
    RARHandle handle = RAROpenArchive(&open);
    if (!handle)
        return 4;
    Clock::time_point last {};
    bool started = false;
    double maxGap = 0;
    long long bytes = 0;
    long long maxGapAt = 0;
    RARSetChangeVolProc(handle, [](char*, int mode) { return mode == RAR_VOL_ASK ? 0 : 1; });
    RARSetProcessDataProc(handle, [&](unsigned char*, int size) {
        const auto now = Clock::now();
        const double gap = std::chrono::duration<double, std::milli>(now - last).count();
        if (started && gap > maxGap) {
            maxGap = gap;
            maxGapAt = bytes;
        }
        started = true;
        bytes += size;
        QCoreApplication::processEvents();
        last = Clock::now();
        // The gap counts from the end of one callback to the start of the next.
        return 1;
    });
    RARHeaderData header;
    int result;
    int failures = 0;
    while ((result = RARReadHeader(handle, &header)) == 0)
        if (RARProcessFile(handle, RAR_EXTRACT, nullptr, nullptr) != 0)
            ++failures;
    RARCloseArchive(handle);
    if (FILE* f = std::fopen(report, "w")) {
        std::fprintf(f, "%f %lld %ld %lld\n", maxGap, bytes, ticks, maxGapAt);
        std::fclose(f);
    }
    return failures == 0 && result == ERAR_END_ARCHIVE ? 0 : 5;
}

Measure runChild(const std::function<void()>& exec)
{
    Measure m;
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        exec();
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    m.maxRssKb = usage.ru_maxrss;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

RarWriter::Entry generated(const std::string& name, uint64_t size, uint64_t seed)
{
    RarWriter::Entry e;
    e.storedName = name;
    e.size = size;
    e.mtime = 1700000000;
    e.generate = [seed](uint64_t offset, unsigned char* buffer, size_t n) {
        // Cheap, not compressible in any useful way, reproducible.
        uint64_t x = (offset / 8) * 0x9e3779b97f4a7c15ull ^ seed;
        for (size_t i = 0; i < n; ++i) {
            if ((offset + i) % 8 == 0)
                x = ((offset + i) / 8) * 0x9e3779b97f4a7c15ull ^ seed;
            buffer[i] = static_cast<unsigned char>(x >> (8 * ((offset + i) % 8)));
        }
    };
    return e;
}

struct Options {
    uint64_t mb = 200;
    int volumes = 5;
    int rounds = 5;
    uint64_t bigMb = 1024;
    std::string tmp = "/tmp";
};

}

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--child-layer") == 0)
        return childLayer(1, argv, argv[2], argv[3], argv[4]);

    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const std::string value = argv[i + 1];
        if (key == "--mb")
            o.mb = std::stoull(value);
        else if (key == "--volumes")
            o.volumes = std::stoi(value);
        else if (key == "--rounds")
            o.rounds = std::stoi(value);
        else if (key == "--big-mb")
            o.bigMb = std::stoull(value);
        else if (key == "--tmp")
            o.tmp = value;
        else {
            std::fprintf(stderr, "bench_extract: unknown option %s\n", key.c_str());
            return 2;
        }
    }

    const ScratchFolder scratch(o.tmp + "/merik-bench-");
    if (scratch.path().empty())
        return 1;
    const std::string& work = scratch.path();

    const std::string self = fs::read_symlink("/proc/self/exe").string();
    int status = 0;
    try {
        // The content: ten entries of equal size, once as a set of volumes
        // and once as one archive.
        const uint64_t total = o.mb * 1000 * 1000;
        std::vector<RarWriter::Entry> entries;
        for (int i = 0; i < 10; ++i)
            entries.push_back(generated("DATA/FILE" + std::to_string(i) + ".DAT", total / 10, uint64_t(i) + 1));
        RarWriter::Options setOptions;
        setOptions.volumeSize = (total + uint64_t(o.volumes) * 4096) / uint64_t(o.volumes);
        fs::create_directories(work + "/set");
        fs::create_directories(work + "/one");
        const auto set = RarWriter::write(work + "/set/BENCH.RAR", entries, setOptions);
        RarWriter::write(work + "/one/bench.rar", entries, {});
        std::vector<std::string> volumes;
        for (const auto& v : set.volumes)
            volumes.push_back(v.path);
        std::fprintf(stderr, "set: %zu volumes, %llu bytes of data\n", volumes.size(), (unsigned long long)set.dataBytes);

        std::vector<double> layer, bsdtar, cat;
        double maxGap = 0;
        long layerRss = 0, bsdtarRss = 0, catRss = 0;
        const std::string report = work + "/report";
        auto readGap = [&] {
            double gap = 0;
            if (FILE* f = std::fopen(report.c_str(), "r")) {
                if (std::fscanf(f, "%lf", &gap) != 1)
                    gap = -1;
                std::fclose(f);
            }
            return gap;
        };
        for (int round = 0; round < o.rounds; ++round) {
            const std::string out = work + "/out";
            fs::create_directories(out);
            Measure m = runChild([&] {
                ::execl(self.c_str(), self.c_str(), "--child-layer", volumes.front().c_str(), out.c_str(), report.c_str(), nullptr);
            });
            if (!m.ok)
                throw std::runtime_error("the layer's extraction failed");
            m.maxGapMs = readGap();
            layer.push_back(m.seconds);
            maxGap = std::max(maxGap, m.maxGapMs);
            layerRss = std::max(layerRss, m.maxRssKb);
            fs::remove_all(out);

            fs::create_directories(out);
            const std::string single = work + "/one/bench.rar";
            Measure b = runChild([&] {
                if (::chdir(out.c_str()) == 0)
                    ::execlp("bsdtar", "bsdtar", "-xf", single.c_str(), nullptr);
            });
            if (!b.ok)
                throw std::runtime_error("bsdtar -xf failed");
            bsdtar.push_back(b.seconds);
            bsdtarRss = std::max(bsdtarRss, b.maxRssKb);
            fs::remove_all(out);

            const std::string joined = work + "/joined";
            Measure c = runChild([&] {
                const int fd = ::open(joined.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                ::dup2(fd, 1);
                std::vector<char*> args { const_cast<char*>("cat") };
                for (const auto& v : volumes)
                    args.push_back(const_cast<char*>(v.c_str()));
                args.push_back(nullptr);
                ::execvp("cat", args.data());
            });
            if (!c.ok)
                throw std::runtime_error("cat failed");
            cat.push_back(c.seconds);
            catRss = std::max(catRss, c.maxRssKb);
            fs::remove(joined);
            std::fprintf(stderr, "round %d: layer %.3f s (gap %.2f ms, %ld KB), bsdtar %.3f s (%ld KB), cat %.3f s\n",
                round + 1, m.seconds, m.maxGapMs, m.maxRssKb, b.seconds, b.maxRssKb, c.seconds);
        }

        // One big entry: the memory must not grow with it.
        double bigGap = 0;
        long bigRss = 0;
        double bigSeconds = 0;
        if (o.bigMb) {
            fs::remove_all(work + "/one");
            fs::create_directories(work + "/big");
            RarWriter::Options bigOptions;
            bigOptions.volumeSize = (o.bigMb * 1024 * 1024 + uint64_t(o.volumes) * 4096) / uint64_t(o.volumes);
            const auto bigSet = RarWriter::write(work + "/big/BIG.RAR",
                { generated("BIG.DAT", o.bigMb * 1024 * 1024, 99) }, bigOptions);
            const std::string out = work + "/out";
            fs::create_directories(out);
            const std::string first = bigSet.volumes.front().path;
            Measure m = runChild([&] {
                ::execl(self.c_str(), self.c_str(), "--child-layer", first.c_str(), out.c_str(), report.c_str(), nullptr);
            });
            if (!m.ok)
                throw std::runtime_error("the layer's extraction of the big entry failed");
            bigGap = readGap();
            bigRss = m.maxRssKb;
            bigSeconds = m.seconds;
            std::fprintf(stderr, "big entry of %llu MiB: layer %.3f s (gap %.2f ms, %ld KB)\n",
                (unsigned long long)o.bigMb, m.seconds, bigGap, m.maxRssKb);
        }

        const double l = median(layer), b = median(bsdtar), c = median(cat);
        std::printf("bench_extract: %llu MB in %zu volumes, %d rounds, medians: layer %.3f s, bsdtar %.3f s, cat %.3f s; "
                    "layer/bsdtar %.3f, layer/cat %.3f; longest gap between data callbacks %.2f ms; "
                    "peak memory layer %.1f MB, bsdtar %.1f MB, cat %.1f MB",
            (unsigned long long)o.mb, volumes.size(), o.rounds, l, b, c, l / b, l / c, maxGap, layerRss / 1024.0,
            bsdtarRss / 1024.0, catRss / 1024.0);
        if (o.bigMb)
            std::printf("; one %llu MiB entry: %.3f s, gap %.2f ms, peak memory %.1f MB", (unsigned long long)o.bigMb,
                bigSeconds, bigGap, bigRss / 1024.0);
        std::printf("\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_extract: %s\n", e.what());
        status = 1;
    }
    return status;
}
