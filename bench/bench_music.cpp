// CPU share of the music layer playing the installer's module in real time
// (SDL's silent "dummy" output, which pulls audio at the real rate), against
// openmpt123 rendering the same module to /dev/null. openmpt123 has no
// real-time silent output here, so it renders as fast as it can; its CPU
// time per second of music rendered is the comparable figure.
//
//   build-x/bench/bench_music [SECONDS]      (bench/bench_music.sh runs it)
#include "Midas.h"

#include <libopenmpt/libopenmpt.hpp>

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QResource>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

namespace {

double seconds(const timeval& t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double cpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    Q_INIT_RESOURCE(music); // the installer's module, as the program registers it
    const int wall = argc > 1 ? std::atoi(argv[1]) : 10;
    qputenv("SDL_AUDIODRIVER", "dummy");

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("merik.mod"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)
            || file.write(QResource(QStringLiteral(":/MODULE/MERIK")).uncompressedData()) <= 0) {
            std::fprintf(stderr, "cannot write the module\n");
            return 1;
        }
    }
    const QByteArray name = QFile::encodeName(path);
    const QByteArray bytes = QResource(QStringLiteral(":/MODULE/MERIK")).uncompressedData();
    const double songSeconds = openmpt::module(bytes.constData(), size_t(bytes.size())).get_duration_seconds();

    // Our layer: start as the installer does, play for `wall` seconds.
    MIDASstartup();
    if (!MIDASinit() || !MIDASstartBackgroundPlay(0)) {
        std::fprintf(stderr, "music layer: %s\n", MIDASgetErrorMessage(MIDASgetLastError()));
        return 1;
    }
    MIDASmodule module = MIDASloadModule(name.constData());
    const MIDASmodulePlayHandle play = module ? MIDASplayModule(module, true) : 0;
    if (!play) {
        std::fprintf(stderr, "music layer: %s\n", MIDASgetErrorMessage(MIDASgetLastError()));
        return 1;
    }
    const double ownBefore = cpuSeconds(RUSAGE_SELF);
    std::this_thread::sleep_for(std::chrono::seconds(wall));
    const double ownCpu = cpuSeconds(RUSAGE_SELF) - ownBefore;
    MIDASstopModule(play);
    MIDASfreeModule(module);
    MIDASstopBackgroundPlay();
    MIDASclose();

    // openmpt123: the same module, played twice through, 44.1 kHz 16-bit
    // stereo like ours, to /dev/null.
    const double childBefore = cpuSeconds(RUSAGE_CHILDREN);
    const auto started = std::chrono::steady_clock::now();
    const std::string command = "openmpt123 --quiet --batch --stdout --samplerate 44100 --no-float --repeat 1 '"
        + name.toStdString() + "' > /dev/null 2>&1";
    const int status = std::system(command.c_str());
    const double renderWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double childCpu = cpuSeconds(RUSAGE_CHILDREN) - childBefore;
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "openmpt123 failed (status %d)\n", status);
        return 1;
    }
    const double musicSeconds = 2 * songSeconds; // --repeat 1 plays it twice

    std::printf("bench_music: music layer (SDL dummy, real time) %.2f%% of one core over %d s; "
                "openmpt123 to /dev/null %.2f%% of one core per second of music "
                "(%.2f s CPU for %.1f s of music in %.2f s)\n",
        100.0 * ownCpu / wall, wall, 100.0 * childCpu / musicSeconds, childCpu, musicSeconds, renderWall);
    return 0;
}
