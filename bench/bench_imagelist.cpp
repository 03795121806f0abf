// Adding photos to the image list as a user waits for it: how long until every entry shows,
// how long until every thumbnail is drawn, the longest time the window's event loop did not
// run meanwhile (a 10 ms timer measures it) and the peak memory of the process.
//
// bench_imagelist FILE...   prints
//   "entries SECONDS thumbnails SECONDS stall MILLISECONDS peak MB items N cpu SECONDS"
// Runs on Qt's offscreen platform when no display is set.

#include "core/cores.h"
#include "imagelist/pixortaimagelistctrl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

double ProcessSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The process's peak resident memory (VmHWM), in MB.
double PeakMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toDouble() / 1024.0;
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // As the program does.
    ReturnLargeFreedBlocks();
    QApplication app(argc, argv);
    const QStringList files = QCoreApplication::arguments().mid(1);
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: bench_imagelist FILE...\n");
        return 2;
    }
    CPixortaImageListCtrl list;
    list.Initialize();
    list.resize(800, 600);
    list.show();
    QCoreApplication::processEvents();

    QElapsedTimer wall;
    wall.start();
    const double cpu = ProcessSeconds();
    list.AddFiles(files);
    list.viewport()->repaint();
    const double entries = wall.nsecsElapsed() * 1e-9;

    // The event loop runs while the thumbnails come in; the gaps between the ticks of a 10 ms
    // timer are how long it could not.
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.restart());
        if (!list.ThumbnailsPending()) {
            list.viewport()->repaint();
            QCoreApplication::quit();
        }
    });
    tick.start();
    if (list.ThumbnailsPending())
        app.exec();
    const double thumbnails = wall.nsecsElapsed() * 1e-9;
    const double cpuSeconds = ProcessSeconds() - cpu;
    std::printf("entries %.3f thumbnails %.3f stall %lld peak %.1f items %d cpu %.3f\n", entries,
                thumbnails, static_cast<long long>(longest), PeakMegabytes(), list.count(),
                cpuSeconds);
    return list.count() == files.size() ? 0 : 1;
}
