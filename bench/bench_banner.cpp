// The main window's banner (448 x 20, 3 pixels every 10 ms, black, grey bold
// Arial 13 pixels) scrolling in a window of the main window's size for a
// while: CPU time of the whole process per second of wall time, and the
// distribution of intervals between steps.
//
//   bench_banner [SECONDS]        (default 10; QT_QPA_PLATFORM picks the
//                                  platform; bench_banner.sh runs both)
#include "Banner.h"
#include "DefinitionLoading.h"
#include "Form.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double processCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = std::min(values.size() - 1, size_t(fraction * double(values.size() - 1) + 0.5));
    return values[index];
}

}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(1.0, QString::fromLocal8Bit(argv[1]).toDouble()) : 10.0;

    TForm window(TForm::Frame::None, QSize(452, 345));
    TBanner* banner = nullptr;
    {
        DefinitionLoading loading;
        banner = new TBanner(&window);
        banner->setObjectName("Banner1");
        banner->setGeometry(3, 323, 448, 20);
        banner->setScrollInterval(10);
        banner->setScrollPixels(3);
        banner->setScrollText("OoOoOps ! The INSTALL.INI file is missing !");
        banner->setColor(Qt::black);
        QFont font(QStringLiteral("Arial"));
        font.setBold(true);
        banner->setFont(font);
        banner->setFontPixelSize(13);
        banner->setFontColor(QColor(128, 128, 128));
        loading.finish();
    }
    window.show();

    std::vector<double> intervals;
    intervals.reserve(size_t(seconds * 150));
    QElapsedTimer clock;
    qint64 lastStep = -1;
    bool measuring = false;
    QObject::connect(banner, &TBanner::OnScroll, &app, [&](TBanner*) {
        const qint64 now = clock.nsecsElapsed();
        if (measuring && lastStep >= 0)
            intervals.push_back(double(now - lastStep) / 1e6);
        lastStep = now;
    });

    // One second to settle (window mapped, fonts loaded), then measure.
    double cpuAtStart = 0;
    qint64 wallAtStart = 0;
    clock.start();
    QTimer::singleShot(1000, &app, [&] {
        measuring = true;
        cpuAtStart = processCpuSeconds();
        wallAtStart = clock.nsecsElapsed();
    });
    double wall = 0;
    double cpu = 0;
    double stepMicroseconds = 0;
    QTimer::singleShot(int(1000 + seconds * 1000), &app, [&] {
        measuring = false;
        wall = double(clock.nsecsElapsed() - wallAtStart) / 1e9;
        cpu = processCpuSeconds() - cpuAtStart;
        // The banner's own share: steps called back to back (move, paint,
        // flush to the window system), without the timer and the event loop.
        const int directSteps = 2000;
        const double stepStart = processCpuSeconds();
        for (int i = 0; i < directSteps; ++i)
            banner->scrollStep();
        stepMicroseconds = (processCpuSeconds() - stepStart) / directSteps * 1e6;
        app.quit();
    });
    app.exec();
    std::printf("bench_banner platform=%s seconds=%.1f steps=%zu cpu=%.2f%% of one core "
                "interval median=%.2f ms p99=%.2f ms max=%.2f ms (over 30 ms: %zu) step alone=%.1f us\n",
        qPrintable(QGuiApplication::platformName()), wall, intervals.size() + 1, 100.0 * cpu / wall,
        percentile(intervals, 0.5), percentile(intervals, 0.99), percentile(intervals, 1.0),
        size_t(std::count_if(intervals.begin(), intervals.end(), [](double ms) { return ms > 30; })), stepMicroseconds);
    return 0;
}
