// What the Change colors, Add background and Add text tasks cost next to decoding the photo
// they work on. A task should never dominate a batch: Apply of the colour task (every value
// changed and grey scale) and of the background task (default margins) within 0.3 of the JPEG
// decode, of the text task (default box, with a shadow) within 0.6.
//
// bench_tasks [photo.jpg]   (default: /work/photos/photo02.jpg, 4224 x 3168;
//                            ../shared/photos/fetch-photos.sh DIR fetches the photos)
// Times are the best of several runs in CPU time of this thread.

#include "engine/pximage.h"
#include "tasks/pixortabackgroundtask.h"
#include "tasks/pixortacolorstask.h"
#include "tasks/pixortatexttask.h"

#include <QGuiApplication>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <time.h>
#include <vector>

namespace {

double ThreadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Best of runs; prepare (not timed) makes the input of each run.
double Best(int runs, const std::function<void()> &prepare, const std::function<bool()> &op)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        prepare();
        const double t0 = ThreadSeconds();
        if (!op())
            return -1;
        best = std::min(best, ThreadSeconds() - t0);
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const std::string path = argc > 1 ? argv[1] : "/work/photos/photo02.jpg";
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.empty()) {
        std::fprintf(stderr, "bench_tasks: cannot read %s\n", path.c_str());
        return 1;
    }

    PxImage photo, work;
    const double decode = Best(5, [&] { photo.Destroy(); },
                               [&] { return photo.Decode(bytes.data(), bytes.size(), PXFORMAT_JPG); });
    if (decode < 0) {
        std::fprintf(stderr, "bench_tasks: cannot decode %s\n", path.c_str());
        return 1;
    }
    std::printf("%s: %u x %u, %.1f MP\n", path.c_str(), photo.GetWidth(), photo.GetHeight(),
                photo.GetWidth() * double(photo.GetHeight()) / 1e6);
    std::printf("  %-44s %8.1f ms\n", "JPEG decode", decode * 1e3);

    CPixortaColorsTask colours;
    colours.m_light = 120;
    colours.m_contrast = 130;
    colours.m_red = 110;
    colours.m_green = 90;
    colours.m_blue = 105;
    colours.m_grayScale = 1;
    CPixortaBackgroundTask background;
    CPixortaTextTask text;
    text.m_text = QStringLiteral("%fTitle%, a summer afternoon by the river");
    text.m_shadowColour.flag |= 1;
    CPixortaColorsTask colourOnly = colours;
    colourOnly.m_grayScale = 0;

    struct Row {
        const char *name;
        CPixortaTask *task;
        double limit;
    } rows[] = {
        {"Change colors (all five values, grey scale)", &colours, 0.3},
        {"Change colors (all five values, no grey)", &colourOnly, 0.3},
        {"Add background (default margins)", &background, 0.3},
        {"Add text (default box and shadow)", &text, 0.6},
    };
    bool allWithin = true;
    for (const Row &row : rows) {
        const double t = Best(5, [&] { work = photo; }, [&] {
            bool modified = true;
            return row.task->Apply(work, modified, QString::fromStdString(path));
        });
        const bool within = t >= 0 && t <= row.limit * decode;
        allWithin = allWithin && within;
        std::printf("  %-44s %8.1f ms  %.2f of decode (at most %.1f) %s\n", row.name, t * 1e3,
                    t / decode, row.limit, within ? "ok" : "TOO SLOW");
    }
    return allWithin ? 0 : 1;
}
