// The real extraction window on many small entries (a stored RAR 4 archive,
// entries of 0 to 299 bytes in directories of 100), from the click on
// `extract` to the end actions, against `bsdtar -xf` of the same archive and
// against the archive layer alone (no window, no event loop). The installer's
// windows are made as the program makes them (music playing, the main
// window's banner stepping behind the extraction window).
//
//   bench_extract_window [--entries 10000,100000] [--rounds 5] [--tmp /dev/shm]
//
// Needs a display (bench/bench_extract_window.sh runs it under Xvfb). Every
// run is a child process; medians over the rounds, the window and bsdtar
// alternating within each round. Besides the times it prints the longest gap
// between two drains of the window's message queue during the extraction
// (a posted event that posts itself again is delivered once per drain) and
// how many times the status line was painted.
#include "Application.h"
#include "RarWriter.h"
#include "ScratchFolder.h"
#include "Unit1.h"
#include "Unit4.h"
#include "UnRAR.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int EntriesPerDirectory = 100;

// Delivered once per drain of the queue: each delivery posts the next.
class DrainWatch : public QObject {
public:
    bool running = false;
    double longestMs = 0;
    long drains = 0;

    void start()
    {
        running = true;
        m_clock.start();
        m_last = 0;
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
    }

protected:
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        if (!running)
            return true;
        const qint64 now = m_clock.nsecsElapsed();
        longestMs = std::max(longestMs, double(now - m_last) / 1e6);
        m_last = now;
        ++drains;
        QCoreApplication::postEvent(this, new QEvent(QEvent::User));
        return true;
    }

private:
    QElapsedTimer m_clock;
    qint64 m_last = 0;
};

// Counts the status line's paints.
class StatusWatch : public QObject {
public:
    explicit StatusWatch(QLabel* label)
        : m_label(label)
    {
        label->installEventFilter(this);
    }
    long paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }

private:
    QLabel* m_label;
};

void click(QWidget* widget)
{
    const QPointF local(3, 3);
    const QPointF global = widget->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, {});
    QApplication::sendEvent(widget, &release);
}

void settle(int milliseconds)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// The child: the installer's windows over `source`, extracting into `dest`.
int childWindow(int argc, char** argv, const char* program, const char* source, const char* dest, const char* report)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("MERIK-Installer"));
    if (!QDir::setCurrent(QString::fromLocal8Bit(source)))
        return 3;
    CreateInstallerWindows({ QString::fromLocal8Bit(program) });
    if (InstallerTerminated())
        return 4;
    Form1->show();
    double seconds = -1;
    QElapsedTimer clock;
    DrainWatch drains;
    Form4->setEndActions([&] {
        seconds = double(clock.nsecsElapsed()) / 1e9;
        drains.running = false;
    });
    if (!QDir::setCurrent(QString::fromLocal8Bit(dest)))
        return 3;
    Form1->setEnabled(false);
    Form4->show();
    while (!Form4->windowHandle() || !Form4->windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    settle(300);

    StatusWatch status(Form4->Label1);

    drains.start();
    clock.start();
    click(Form4->Label2);
    if (seconds < 0)
        return 5;
    if (FILE* f = std::fopen(report, "w")) {
        std::fprintf(f, "%f %f %ld %ld\n", seconds, drains.longestMs, drains.drains, status.paints);
        std::fclose(f);
    }
    DestroyInstallerWindows();
    return 0;
}

// The archive layer alone, into the current directory.
int childLayer(const char* archive, const char* dest, const char* report)
{
    if (::chdir(dest) != 0)
        return 3;
    const auto start = Clock::now();
    RAROpenArchiveData open;
    open.ArcName = archive;
    open.OpenMode = RAR_OM_EXTRACT;
    RARHandle handle = RAROpenArchive(&open);
    if (!handle)
        return 4;
    RARSetChangeVolProc(handle, [](char*, int mode) { return mode == RAR_VOL_ASK ? 0 : 1; });
    RARSetProcessDataProc(handle, [](unsigned char*, int) { return 1; });
    RARHeaderData header;
    int result;
    int failures = 0;
    while ((result = RARReadHeader(handle, &header)) == 0)
        if (RARProcessFile(handle, RAR_EXTRACT, nullptr, nullptr) != 0)
            ++failures;
    RARCloseArchive(handle);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (FILE* f = std::fopen(report, "w")) {
        std::fprintf(f, "%f 0 0 0\n", seconds);
        std::fclose(f);
    }
    return failures == 0 && result == ERAR_END_ARCHIVE ? 0 : 5;
}

bool runChild(const std::function<void()>& exec, double* wallSeconds = nullptr)
{
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        exec();
        _exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (wallSeconds)
        *wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::vector<RarWriter::Entry> smallEntries(int count)
{
    std::vector<RarWriter::Entry> entries;
    char name[64];
    for (int i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "D%04d/F%06d.DAT", i / EntriesPerDirectory, i);
        const size_t size = size_t((uint64_t(i) * 7919u + 13u) % 300u);
        std::string data(size, '\0');
        for (size_t k = 0; k < size; ++k)
            data[k] = char((i * 31 + int(k) * 7) & 0xff);
        entries.push_back(RarWriter::Entry::file(name, std::move(data), 1700000000));
        // Each directory after its contents, as the mastering tool stores them.
        if ((i + 1) % EntriesPerDirectory == 0 || i + 1 == count) {
            std::snprintf(name, sizeof name, "D%04d", i / EntriesPerDirectory);
            entries.push_back(RarWriter::Entry::directory(name, 1700000000));
        }
    }
    return entries;
}

struct Report {
    double seconds = 0, longestGapMs = 0;
    long drains = 0, paints = 0;
};

Report readReport(const std::string& path)
{
    Report r;
    std::ifstream in(path);
    in >> r.seconds >> r.longestGapMs >> r.drains >> r.paints;
    return r;
}

std::vector<int> parseCounts(const std::string& text)
{
    std::vector<int> counts;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ','))
        counts.push_back(std::stoi(item));
    return counts;
}

}

int main(int argc, char** argv)
{
    if (argc == 6 && std::strcmp(argv[1], "--child-window") == 0)
        return childWindow(1, argv, argv[2], argv[3], argv[4], argv[5]);
    if (argc == 5 && std::strcmp(argv[1], "--child-layer") == 0)
        return childLayer(argv[2], argv[3], argv[4]);

    std::vector<int> counts { 10000, 100000 };
    int rounds = 5;
    std::string tmp = "/dev/shm";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--entries")
            counts = parseCounts(value);
        else if (key == "--rounds")
            rounds = std::stoi(value);
        else if (key == "--tmp")
            tmp = value;
        else {
            std::fprintf(stderr, "bench_extract_window: unknown option %s\n", key.c_str());
            return 2;
        }
    }

    const ScratchFolder scratch(tmp + "/merik-bench-window-");
    if (scratch.path().empty())
        return 1;
    const std::string& work = scratch.path();

    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string program = work + "/program", source = work + "/medium", out = work + "/out";
    const std::string report = work + "/report";
    fs::create_directories(program);
    fs::create_directories(source);
    {
        std::ofstream ini(program + "/install.ini", std::ios::binary);
        ini << "Release title: Bench\r\nFrom         : bench\r\nDirectory    : BENCH\r\nArchive      : BENCH.RAR\r\n"
               "Size in MB   : 1\r\n\r\nShortcut     : Bench\r\nProgram      : BENCH\r\n\r\nBanner       : "
               "many small entries\r\n";
    }

    int status = 0;
    double firstPerEntry = 0;
    try {
        for (const int count : counts) {
            const std::string archive = source + "/BENCH.RAR";
            RarWriter::write(archive, smallEntries(count), {});
            std::vector<double> window, bsdtar, layer, gaps;
            long paints = 0, drains = 0;
            for (int round = 0; round < rounds; ++round) {
                fs::create_directories(out);
                if (!runChild([&] {
                        ::execl(self.c_str(), self.c_str(), "--child-window", program.c_str(), source.c_str(), out.c_str(),
                            report.c_str(), nullptr);
                    }))
                    throw std::runtime_error("the window's extraction failed");
                const Report w = readReport(report);
                window.push_back(w.seconds);
                gaps.push_back(w.longestGapMs);
                paints = w.paints;
                drains = w.drains;
                fs::remove_all(out);

                fs::create_directories(out);
                double b = 0;
                if (!runChild(
                        [&] {
                            if (::chdir(out.c_str()) == 0)
                                ::execlp("bsdtar", "bsdtar", "-xf", archive.c_str(), nullptr);
                        },
                        &b))
                    throw std::runtime_error("bsdtar -xf failed");
                bsdtar.push_back(b);
                fs::remove_all(out);

                fs::create_directories(out);
                if (!runChild([&] {
                        ::execl(self.c_str(), self.c_str(), "--child-layer", archive.c_str(), out.c_str(), report.c_str(),
                            nullptr);
                    }))
                    throw std::runtime_error("the layer's extraction failed");
                layer.push_back(readReport(report).seconds);
                fs::remove_all(out);
                std::fprintf(stderr,
                    "%d entries, round %d: window %.3f s (longest gap between drains %.2f ms, %ld drains, status painted "
                    "%ld times), bsdtar %.3f s, layer alone %.3f s\n",
                    count, round + 1, w.seconds, w.longestGapMs, w.drains, w.paints, b, layer.back());
            }
            const double w = median(window), b = median(bsdtar), l = median(layer);
            const double perEntry = w / count * 1e6;
            if (firstPerEntry == 0)
                firstPerEntry = perEntry;
            std::printf("bench_extract_window: %d small entries, %d rounds, medians: window %.3f s, bsdtar %.3f s, "
                        "layer alone %.3f s; window/bsdtar %.2f; window %.1f us per entry (%.2f x that of the first "
                        "size); window range %.3f..%.3f s, bsdtar range %.3f..%.3f s; longest gap between drains "
                        "median %.2f ms, worst %.2f ms; status painted %ld times, %ld drains (last round)\n",
                count, rounds, w, b, l, w / b, perEntry, perEntry / firstPerEntry,
                *std::min_element(window.begin(), window.end()), *std::max_element(window.begin(), window.end()),
                *std::min_element(bsdtar.begin(), bsdtar.end()), *std::max_element(bsdtar.begin(), bsdtar.end()),
                median(gaps), *std::max_element(gaps.begin(), gaps.end()), paints, drains);
            std::fflush(stdout);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_extract_window: %s\n", e.what());
        status = 1;
    }
    return status;
}
