// Time to add photos to the image list: every thumbnail made, the progress box drawn for each
// file and the list repainted at the end, as a user waits for it.
//
// bench_imagelist FILE...   prints "cpu SECONDS wall SECONDS items N"
// Runs on Qt's offscreen platform when no display is set. Process CPU time is what counts on a
// shared machine; wall time is printed beside it.

#include "imagelist/pixortaimagelistctrl.h"

#include <QApplication>
#include <QElapsedTimer>
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

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
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
    const double cpuSeconds = ProcessSeconds() - cpu;
    const double wallSeconds = wall.nsecsElapsed() * 1e-9;
    std::printf("cpu %.3f wall %.3f items %d\n", cpuSeconds, wallSeconds, list.count());
    return list.count() == files.size() ? 0 : 1;
}
