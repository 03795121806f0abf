// What the tasks cost next to decoding the photo they work on. A task should never dominate a
// batch: Apply of the colour task (every value changed and grey scale), of the background task
// (default margins), of the crop (each way) and of the watermark (a PNG mark with transparency,
// at its defaults) within 0.3 of the JPEG decode, of the sharpening at radius 1.0 within 0.15
// (at 2.0 within 0.3; 5.0 is shown for what it costs), of the text task (default box, with a
// shadow) within 0.6.
//
// bench_tasks [photo.jpg]   (default: /work/photos/photo02.jpg, 4224 x 3168;
//                            ../shared/photos/fetch-photos.sh DIR fetches the photos, among
//                            them photo12.jpg, 4272 x 2848, 12 MP)
// Times are the best of several runs in CPU time of this thread; the watermark's file is read
// by its first run only, as in a batch, and that run is shown apart.

#include "engine/pximage.h"
#include "tasks/pixortabackgroundtask.h"
#include "imageio/imagefile.h"
#include "tasks/pixortacolorstask.h"
#include "tasks/pixortacroptask.h"
#include "tasks/pixortasharpentask.h"
#include "tasks/pixortatexttask.h"
#include "tasks/pixortawatermarktask.h"

#include <QGuiApplication>
#include <QTemporaryDir>
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

    CPixortaCropTask cropAspect;
    cropAspect.m_aspectWidth = 16;
    cropAspect.m_aspectHeight = 9;
    CPixortaCropTask cropRectangle;
    cropRectangle.m_mode = CPixortaCropTask::Mode::Rectangle;
    cropRectangle.m_x = 100;
    cropRectangle.m_y = 100;
    cropRectangle.m_width = 3000;
    cropRectangle.m_height = 2000;
    CPixortaCropTask cropMargins;
    cropMargins.m_mode = CPixortaCropTask::Mode::Margins;
    CPixortaSharpenTask sharpen;
    sharpen.m_amount = 80;
    sharpen.m_radius = 10;
    sharpen.m_threshold = 2;
    CPixortaSharpenTask sharpenWide = sharpen;
    sharpenWide.m_radius = 20;
    CPixortaSharpenTask sharpenWidest = sharpen;
    sharpenWidest.m_radius = 50;

    // A logo of 1200 x 400 with soft edges, scaled to a fifth of the photo's width.
    QTemporaryDir folder;
    PxImage logo;
    logo.Create(1200, 400, 24);
    logo.AlphaCreate();
    for (int32_t y = 0; y < 400; ++y)
        for (int32_t x = 0; x < 1200; ++x) {
            logo.SetPixelColor(x, y, PxRGBQuad{uint8_t(x / 5), 200, uint8_t(y / 2), 0});
            const int edge = std::min({x, y, 1199 - x, 399 - y});
            logo.AlphaSet(x, y, uint8_t(std::min(255, edge * 8)));
        }
    const QString logoPath = folder.filePath(QStringLiteral("logo.png"));
    if (!SaveImageFile(logo, logoPath)) {
        std::fprintf(stderr, "bench_tasks: cannot write the watermark\n");
        return 1;
    }
    CPixortaWatermarkTask watermark;
    watermark.m_file = logoPath;
    {
        PxImage first(photo);
        bool modified = true;
        const double t0 = ThreadSeconds();
        watermark.Apply(first, modified, QString());
        std::printf("  %-44s %8.1f ms  (reads the file; once per batch)\n", "Watermark, first image",
                    (ThreadSeconds() - t0) * 1e3);
    }

    struct Row {
        const char *name;
        CPixortaTask *task;
        // 0: shown, no limit.
        double limit;
    } rows[] = {
        {"Change colors (all five values, grey scale)", &colours, 0.3},
        {"Change colors (all five values, no grey)", &colourOnly, 0.3},
        {"Add background (default margins)", &background, 0.3},
        {"Add text (default box and shadow)", &text, 0.6},
        {"Crop (16:9, centre)", &cropAspect, 0.3},
        {"Crop (rectangle 3000 x 2000)", &cropRectangle, 0.3},
        {"Crop (margins 10 % all round)", &cropMargins, 0.3},
        {"Sharpen (80 %, radius 1.0, threshold 2)", &sharpen, 0.15},
        {"Sharpen (80 %, radius 2.0, threshold 2)", &sharpenWide, 0.3},
        {"Sharpen (80 %, radius 5.0, threshold 2)", &sharpenWidest, 0},
        {"Watermark (PNG with alpha, defaults)", &watermark, 0.3},
    };
    bool allWithin = true;
    for (const Row &row : rows) {
        const double t = Best(5, [&] { work = photo; }, [&] {
            bool modified = true;
            return row.task->Apply(work, modified, QString::fromStdString(path));
        });
        if (row.limit == 0) {
            std::printf("  %-44s %8.1f ms  %.2f of decode\n", row.name, t * 1e3, t / decode);
            continue;
        }
        const bool within = t >= 0 && t <= row.limit * decode;
        allWithin = allWithin && within;
        std::printf("  %-44s %8.1f ms  %.2f of decode (at most %.2f) %s\n", row.name, t * 1e3,
                    t / decode, row.limit, within ? "ok" : "TOO SLOW");
    }
    return allWithin ? 0 : 1;
}
