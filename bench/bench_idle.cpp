// The installer sitting idle on its main window, music playing and banner
// stepping: CPU time of the whole process (every thread) per second of wall
// time, each thread's share, and the intervals between the banner's steps.
//
//   bench_idle [--seconds 20] [--rounds 3] [--installer PATH] [--plain PATH]
//
// Needs a display (bench/bench_idle.sh runs it under Xvfb). Each round runs
// three children one after the other: the real installer program (its CPU
// read from /proc, after two seconds to settle); the yardstick, a plain Qt
// window that repaints a strip of the banner's size every 10 ms
// (bench_plain_window --strip, on the same image transfer the installer
// picks), read the same way; and the installer's windows made the way the
// program makes them in a process that also records the banner's step
// intervals. Medians over the rounds.
#include "Application.h"
#include "Banner.h"
#include "ScratchFolder.h"
#include "Unit1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(fraction * double(values.size() - 1) + 0.5))];
}

// Clock ticks of user and system time of each thread of `pid`, by thread name
// (threads of the same name added up), and of the whole process under "".
std::map<std::string, long> threadTicks(pid_t pid)
{
    std::map<std::string, long> ticks;
    const std::string base = "/proc/" + std::to_string(pid);
    auto read = [](const std::string& path, std::string* name) -> long {
        std::ifstream in(path);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto open = text.find('('), close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            return 0;
        if (name)
            *name = text.substr(open + 1, close - open - 1);
        std::istringstream rest(text.substr(close + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14)
                utime = std::stol(field);
            if (i == 15)
                stime = std::stol(field);
        }
        return utime + stime;
    };
    ticks[""] = read(base + "/stat", nullptr);
    if (DIR* dir = ::opendir((base + "/task").c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            std::string name;
            const long t = read(base + "/task/" + entry->d_name + "/stat", &name);
            ticks[name] += t;
        }
        ::closedir(dir);
    }
    return ticks;
}

// The real program: whole-process share and each thread's, in percent of one core.
std::map<std::string, double> measureProgram(const std::string& program, const char* argument, double seconds)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(program.c_str(), program.c_str(), argument, nullptr);
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto before = threadTicks(pid);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const auto after = threadTicks(pid);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double hz = double(::sysconf(_SC_CLK_TCK));
    std::map<std::string, double> shares;
    for (const auto& [name, ticks] : after) {
        const auto was = before.find(name);
        shares[name] = 100.0 * double(ticks - (was == before.end() ? 0 : was->second)) / hz / wall;
    }
    return shares;
}

double processCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The windows as the program makes them, with the banner's steps timed.
int childSteps(int argc, char** argv, const char* program, double seconds, const char* report)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("MERIK-Installer"));
    CreateInstallerWindows({ QString::fromLocal8Bit(program) });
    if (InstallerTerminated())
        return 4;
    Form1->show();

    std::vector<double> intervals;
    QElapsedTimer clock;
    clock.start();
    qint64 lastStep = -1;
    bool measuring = false;
    int pixels = 0;
    QObject::connect(Form1->Banner1, &TBanner::OnScroll, &app, [&](TBanner* banner) {
        const qint64 now = clock.nsecsElapsed();
        if (measuring && lastStep >= 0)
            intervals.push_back(double(now - lastStep) / 1e6);
        lastStep = now;
        pixels = banner->scrollPixels();
    });
    double cpuAtStart = 0, cpu = 0, wall = 0;
    qint64 wallAtStart = 0;
    QTimer::singleShot(2000, &app, [&] {
        measuring = true;
        cpuAtStart = processCpuSeconds();
        wallAtStart = clock.nsecsElapsed();
    });
    QTimer::singleShot(int(2000 + seconds * 1000), &app, [&] {
        measuring = false;
        cpu = processCpuSeconds() - cpuAtStart;
        wall = double(clock.nsecsElapsed() - wallAtStart) / 1e9;
        app.quit();
    });
    app.exec();
    if (FILE* f = std::fopen(report, "w")) {
        std::fprintf(f, "%f %f %f %f %zu %d\n", 100.0 * cpu / wall, percentile(intervals, 0.5),
            percentile(intervals, 0.99), percentile(intervals, 1.0), intervals.size(), pixels);
        std::fclose(f);
    }
    Form1->close();
    DestroyInstallerWindows();
    return 0;
}

}

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--child-steps") == 0)
        return childSteps(1, argv, argv[2], std::atof(argv[3]), argv[4]);

    double seconds = 20;
    int rounds = 3;
    std::string installer = MERIK_BINARY_DIR "/installer/installer";
    std::string plain = MERIK_BINARY_DIR "/bench/bench_plain_window";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--seconds")
            seconds = std::stod(value);
        else if (key == "--rounds")
            rounds = std::stoi(value);
        else if (key == "--installer")
            installer = value;
        else if (key == "--plain")
            plain = value;
        else {
            std::fprintf(stderr, "bench_idle: unknown option %s\n", key.c_str());
            return 2;
        }
    }

    // The program reads install.ini from its own folder: a copy of both.
    const ScratchFolder scratch((fs::exists("/dev/shm") ? std::string("/dev/shm") : std::string("/tmp")) + "/merik-bench-idle-");
    if (scratch.path().empty())
        return 1;
    const std::string& work = scratch.path();
    fs::copy_file(installer, work + "/installer");
    fs::copy_file(MERIK_SOURCE_DIR "/demo/install.ini", work + "/install.ini");
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string report = work + "/report";

    std::vector<double> program, yardstick, steps, medians, p99s, maxima;
    std::map<std::string, std::vector<double>> threads;
    int pixels = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto shares = measureProgram(work + "/installer", nullptr, seconds);
        program.push_back(shares.at(""));
        ::setenv("QT_XCB_NO_MITSHM", "1", 1);
        yardstick.push_back(measureProgram(plain, "--strip", seconds).at(""));
        ::unsetenv("QT_XCB_NO_MITSHM");
        std::string perThread;
        for (const auto& [name, share] : shares) {
            if (name.empty())
                continue;
            threads[name].push_back(share);
            perThread += " " + name + " " + std::to_string(share).substr(0, 5) + "%";
        }

        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl(self.c_str(), self.c_str(), "--child-steps", work.c_str(), std::to_string(seconds).c_str(),
                report.c_str(), nullptr);
            _exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        double cpu = 0, med = 0, p99 = 0, max = 0;
        size_t count = 0;
        if (std::FILE* f = std::fopen(report.c_str(), "r")) {
            if (std::fscanf(f, "%lf %lf %lf %lf %zu %d", &cpu, &med, &p99, &max, &count, &pixels) != 6)
                cpu = -1;
            std::fclose(f);
        }
        steps.push_back(cpu);
        medians.push_back(med);
        p99s.push_back(p99);
        maxima.push_back(max);
        std::fprintf(stderr,
            "round %d: installer %.2f%% of one core (threads:%s); plain Qt strip %.2f%%; windows with timed steps "
            "%.2f%%, %zu steps of %d px, interval median %.2f ms, p99 %.2f ms, max %.2f ms\n",
            round + 1, shares.at(""), perThread.c_str(), yardstick.back(), cpu, count, pixels, med, p99, max);
    }
    std::string perThread;
    for (const auto& [name, values] : threads)
        perThread += " " + name + " " + std::to_string(median(values)).substr(0, 5) + "%";
    std::printf("bench_idle: %d rounds of %.0f s, medians: installer %.2f%% of one core (range %.2f..%.2f; threads:%s); "
                "plain Qt strip %.2f%% (range %.2f..%.2f), installer / plain %.2f; "
                "banner steps of %d px, interval median %.2f ms (range %.2f..%.2f), p99 %.2f ms, max %.2f ms; the same "
                "windows in the timing process %.2f%%\n",
        rounds, seconds, median(program), *std::min_element(program.begin(), program.end()),
        *std::max_element(program.begin(), program.end()), perThread.c_str(), median(yardstick),
        *std::min_element(yardstick.begin(), yardstick.end()), *std::max_element(yardstick.begin(), yardstick.end()),
        median(yardstick) > 0 ? median(program) / median(yardstick) : 0.0, pixels, median(medians),
        *std::min_element(medians.begin(), medians.end()), *std::max_element(medians.begin(), medians.end()),
        median(p99s), median(maxima), median(steps));
    return 0;
}
