// From exec to the first frame on screen: the installer's main window against
// a plain Qt window of the same size (bench_plain_window), side by side on
// the same display, several rounds, medians.
//
//   bench_startup [--rounds 7] [--installer PATH] [--plain PATH]
//
// Needs an X display without a window manager (bench/bench_startup.sh runs it
// under Xvfb). The root window is painted one solid colour; a new window of
// 452 x 345 pixels is mapped with no background of its own, so until its
// program paints it shows that colour. The first frame is the moment a row
// through the middle of the window shows the colour in less than 5% of its
// pixels (polled every 0.25 ms).
#include "ScratchFolder.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Width = 452, Height = 345;
constexpr unsigned long RootColour = 0xff00ff;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

struct Start {
    double mappedMs = -1, frameMs = -1;
};

Start measure(Display* display, const std::string& program)
{
    const Window root = DefaultRootWindow(display);
    XSync(display, True); // drop what earlier runs left
    Start result;
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(program.c_str(), program.c_str(), nullptr);
        _exit(127);
    }
    auto elapsed = [&] { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); };
    Window window = 0;
    int x = 0, y = 0;
    while (!window && elapsed() < 20000) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != MapNotify)
                continue;
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(display, event.xmap.window, &attributes))
                continue;
            if (attributes.width == Width && attributes.height == Height) {
                window = event.xmap.window;
                x = attributes.x;
                y = attributes.y;
                result.mappedMs = elapsed();
            }
        }
        if (!window)
            std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
    while (window && elapsed() < 20000) {
        XImage* row = XGetImage(display, root, x, y + Height / 2, Width, 1, AllPlanes, ZPixmap);
        int unpainted = 0;
        if (row) {
            for (int i = 0; i < Width; ++i)
                unpainted += (XGetPixel(row, i, 0) & 0xffffff) == RootColour;
            XDestroyImage(row);
        }
        if (row && unpainted < Width / 20) {
            result.frameMs = elapsed();
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    // Let the server repaint the root where the window was.
    XClearWindow(display, root);
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return result;
}

}

int main(int argc, char** argv)
{
    int rounds = 7;
    std::string installer = MERIK_BINARY_DIR "/installer/installer";
    std::string plain = MERIK_BINARY_DIR "/bench/bench_plain_window";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--rounds")
            rounds = std::stoi(value);
        else if (key == "--installer")
            installer = value;
        else if (key == "--plain")
            plain = value;
        else {
            std::fprintf(stderr, "bench_startup: unknown option %s\n", key.c_str());
            return 2;
        }
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "bench_startup: no display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    XSetWindowBackground(display, root, RootColour);
    XClearWindow(display, root);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    // The installer reads install.ini from its own folder: a copy of both, on tmpfs.
    const ScratchFolder scratch((fs::exists("/dev/shm") ? std::string("/dev/shm") : std::string("/tmp")) + "/merik-bench-start-");
    if (scratch.path().empty())
        return 1;
    const std::string& work = scratch.path();
    fs::copy_file(installer, work + "/installer");
    fs::copy_file(MERIK_SOURCE_DIR "/demo/install.ini", work + "/install.ini");
    fs::copy_file(plain, work + "/plain");

    std::vector<double> installerFrames, plainFrames, installerMaps, plainMaps, ratios;
    int status = 0;
    measure(display, work + "/plain"); // a first run that only warms the file cache
    measure(display, work + "/installer");
    for (int round = 0; round < rounds && status == 0; ++round) {
        // Alternate which goes first.
        Start a, p;
        if (round % 2 == 0) {
            a = measure(display, work + "/installer");
            p = measure(display, work + "/plain");
        } else {
            p = measure(display, work + "/plain");
            a = measure(display, work + "/installer");
        }
        if (a.frameMs < 0 || p.frameMs < 0) {
            std::fprintf(stderr, "bench_startup: no first frame seen (installer %.1f ms, plain %.1f ms)\n", a.frameMs, p.frameMs);
            status = 1;
            break;
        }
        installerFrames.push_back(a.frameMs);
        plainFrames.push_back(p.frameMs);
        installerMaps.push_back(a.mappedMs);
        plainMaps.push_back(p.mappedMs);
        ratios.push_back(a.frameMs / p.frameMs);
        std::fprintf(stderr, "round %d: installer mapped %.1f ms, first frame %.1f ms; plain window mapped %.1f ms, first frame %.1f ms; ratio %.2f\n",
            round + 1, a.mappedMs, a.frameMs, p.mappedMs, p.frameMs, a.frameMs / p.frameMs);
    }
    XCloseDisplay(display);
    if (status != 0)
        return status;
    std::printf("bench_startup: %d rounds, medians: installer first frame %.1f ms (mapped %.1f ms; range %.1f..%.1f), "
                "plain Qt window first frame %.1f ms (mapped %.1f ms; range %.1f..%.1f); ratio of medians %.2f, median of "
                "ratios %.2f (range %.2f..%.2f)\n",
        rounds, median(installerFrames), median(installerMaps), *std::min_element(installerFrames.begin(), installerFrames.end()),
        *std::max_element(installerFrames.begin(), installerFrames.end()), median(plainFrames), median(plainMaps),
        *std::min_element(plainFrames.begin(), plainFrames.end()), *std::max_element(plainFrames.begin(), plainFrames.end()),
        median(installerFrames) / median(plainFrames), median(ratios), *std::min_element(ratios.begin(), ratios.end()),
        *std::max_element(ratios.begin(), ratios.end()));
    return 0;
}
