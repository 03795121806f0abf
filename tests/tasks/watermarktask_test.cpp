// The watermark against a plain alpha blend worked out here, at every place and three
// opacities, also when the mark is larger than the picture; and a mark that cannot be read.
#include "engine/pximage.h"
#include "imageio/imagefile.h"
#include "imageio/imagefile_testhooks.h"
#include "tasks/pixortawatermarktask.h"
#include "taskimages.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {

// A mark of w x h with colours and an alpha that change from pixel to pixel, saved as PNG.
PxImage MarkPicture(uint32_t w, uint32_t h)
{
    PxImage mark;
    mark.Create(w, h, 24);
    mark.AlphaCreate();
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            SetColourAt(mark, int(x), int(y), QColor(250 - int(x % 50) * 5, int(y % 60) * 4, 30));
            mark.AlphaSet(int32_t(x), int32_t(h - 1 - y), uint8_t((x * 13 + y * 7) % 256));
        }
    return mark;
}

bool Save(const PxImage &picture, const QString &path)
{
    PxImage copy(picture);
    return SaveImageFile(copy, path);
}

uint8_t AlphaAt(const PxImage &image, int x, int y)
{
    return image.AlphaGet(x, int32_t(image.GetHeight()) - 1 - y);
}

// Every pixel of out is the picture blended with the mark placed at (left, top): in + (mark -
// in) x alpha / 255 x opacity / 100, rounded, give or take a level.
void ExpectBlend(const PxImage &picture, const PxImage &mark, const PxImage &out, qint64 left,
                 qint64 top, int opacity)
{
    ASSERT_EQ(out.GetWidth(), picture.GetWidth());
    ASSERT_EQ(out.GetHeight(), picture.GetHeight());
    for (int y = 0; y < int(picture.GetHeight()); ++y)
        for (int x = 0; x < int(picture.GetWidth()); ++x) {
            const QColor in = ColourAt(picture, x, y);
            QColor expected = in;
            const qint64 mx = x - left, my = y - top;
            if (mx >= 0 && my >= 0 && mx < mark.GetWidth() && my < mark.GetHeight()) {
                const QColor m = ColourAt(mark, int(mx), int(my));
                const double a = AlphaAt(mark, int(mx), int(my)) / 255.0 * opacity / 100.0;
                auto blend = [a](int i, int c) { return int(std::lround(i + (c - i) * a)); };
                expected = QColor(blend(in.red(), m.red()), blend(in.green(), m.green()),
                                  blend(in.blue(), m.blue()));
            }
            const QColor got = ColourAt(out, x, y);
            ASSERT_LE(std::abs(got.red() - expected.red()), 1) << x << "," << y;
            ASSERT_LE(std::abs(got.green() - expected.green()), 1) << x << "," << y;
            ASSERT_LE(std::abs(got.blue() - expected.blue()), 1) << x << "," << y;
        }
}

class WatermarkTask : public ::testing::Test {
protected:
    TempFolder dir;
    const PxImage picture = NoiseImage(200, 120, 3);
};

TEST_F(WatermarkTask, BlendsAtEveryPlaceAndOpacity)
{
    // 25% of 200 is 50, the mark's own width: it is laid as it is. The margin, 5% of the
    // width, is 10 pixels on every side.
    const PxImage mark = MarkPicture(50, 20);
    ASSERT_TRUE(Save(mark, dir.File("mark.png")));
    const struct {
        Placement where;
        qint64 left, top;
    } places[] = {
        {Placement::TopLeft, 10, 10},    {Placement::Top, 75, 10},     {Placement::TopRight, 140, 10},
        {Placement::Left, 10, 50},       {Placement::Center, 75, 50},  {Placement::Right, 140, 50},
        {Placement::BottomLeft, 10, 90}, {Placement::Bottom, 75, 90},  {Placement::BottomRight, 140, 90},
    };
    for (int opacity : {100, 55, 20})
        for (const auto &p : places) {
            SCOPED_TRACE(testing::Message() << PlacementCaption(p.where).toStdString() << " at "
                                            << opacity << "%");
            CPixortaWatermarkTask task;
            task.m_file = dir.File("mark.png");
            task.m_position = p.where;
            task.m_size = 25;
            task.m_margin = 5;
            task.m_opacity = opacity;
            PxImage out(picture);
            bool modified = false;
            ASSERT_TRUE(task.Apply(out, modified, QString())) << out.GetLastError();
            EXPECT_TRUE(modified);
            ExpectBlend(picture, mark, out, p.left, p.top, opacity);
        }
}

TEST_F(WatermarkTask, AMarkLargerThanThePictureIsCutAtItsEdges)
{
    // 20% of 200 is 40: a 40 x 300 mark on a picture 120 high.
    const PxImage mark = MarkPicture(40, 300);
    ASSERT_TRUE(Save(mark, dir.File("tall.png")));
    const struct {
        Placement where;
        qint64 left, top;
    } places[] = {{Placement::Center, 80, -90}, {Placement::TopLeft, 10, 10},
                  {Placement::BottomRight, 150, -190}, {Placement::Left, 10, -90}};
    for (const auto &p : places) {
        SCOPED_TRACE(PlacementCaption(p.where).toStdString());
        CPixortaWatermarkTask task;
        task.m_file = dir.File("tall.png");
        task.m_position = p.where;
        task.m_size = 20;
        task.m_margin = 5;
        task.m_opacity = 70;
        const CPixortaWatermarkTask::Spot spot = task.SpotFor(200, 120, 40, 300);
        EXPECT_EQ(spot.left, p.left);
        EXPECT_EQ(spot.top, p.top);
        PxImage out(picture);
        bool modified = false;
        ASSERT_TRUE(task.Apply(out, modified, QString()));
        ExpectBlend(picture, mark, out, p.left, p.top, 70);
    }
}

TEST_F(WatermarkTask, IsScaledToItsShareOfTheWidthWithItsProportions)
{
    // An opaque mark: where it lands, the picture is the mark scaled by the engine.
    ASSERT_TRUE(Save(SolidImage(80, 30, QColor(10, 200, 90)), dir.File("wide.png")));
    const QString file = dir.File("wide.png");
    const struct {
        uint32_t w, h;
        qint32 size;
        qint64 width, height;
    } rows[] = {{200, 120, 10, 20, 7}, {333, 50, 33, 109, 40}, {50, 50, 100, 50, 18}, {3, 3, 1, 1, 1}};
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << r.w << "x" << r.h << " at " << r.size << "%");
        CPixortaWatermarkTask task;
        task.m_file = file;
        task.m_size = r.size;
        task.m_margin = 0;
        task.m_opacity = 100;
        task.m_position = Placement::TopLeft;
        const CPixortaWatermarkTask::Spot spot = task.SpotFor(r.w, r.h, 80, 30);
        EXPECT_EQ(spot.width, r.width);
        EXPECT_EQ(spot.height, r.height);
        PxImage out = SolidImage(r.w, r.h, QColor(0, 0, 0));
        bool modified = false;
        ASSERT_TRUE(task.Apply(out, modified, QString()));
        PxImage scaled = SolidImage(80, 30, QColor(10, 200, 90));
        ASSERT_TRUE(scaled.Resample(int32_t(r.width), int32_t(r.height), 0));
        // The scaled mark inside the spot, the picture outside it.
        for (int y = 0; y < int(r.h); ++y)
            for (int x = 0; x < int(r.w); ++x) {
                const bool inside = x < r.width && y < r.height;
                ASSERT_EQ(ColourAt(out, x, y), inside ? ColourAt(scaled, x, y) : QColor(0, 0, 0))
                    << x << "," << y;
            }
    }
}

TEST_F(WatermarkTask, AMarkThatCannotBeReadFailsEveryPictureAndIsReadOnce)
{
    WriteFile(dir.File("broken.png"), QByteArray("\x89PNG\r\n\x1a\n not really", 20));
    std::atomic<int> loads{0};
    SetLoadHookForTests([&](const QString &path) {
        if (path.endsWith(QLatin1String("broken.png")))
            ++loads;
    });
    CPixortaWatermarkTask task;
    task.m_file = dir.File("broken.png");
    // Applied on several threads at once, as a batch's workers do.
    std::vector<std::thread> workers;
    std::atomic<int> failed{0};
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < 3; ++i) {
                PxImage out = SolidImage(30, 20, QColor(1, 2, 3));
                bool modified = false;
                if (!task.Apply(out, modified, QString()) &&
                    QString::fromUtf8(out.GetLastError()).contains(QLatin1String("broken.png")) &&
                    ColourAt(out, 0, 0) == QColor(1, 2, 3))
                    ++failed;
            }
        });
    for (std::thread &w : workers)
        w.join();
    SetLoadHookForTests(nullptr);
    EXPECT_EQ(failed, 12);
    EXPECT_EQ(loads, 1);

    // The plan knows a file that is not there, without reading anything.
    task.m_file = dir.File("missing.png");
    EXPECT_EQ(task.PredictOutcome(QString(), 30, 20), CPixortaTask::Outcome::Fails);
    EXPECT_EQ(WatermarkFileProblem(task.m_file), "'" + dir.File("missing.png") + "' does not exist");
    EXPECT_EQ(WatermarkFileProblem(QString()), "no picture file is given");
    EXPECT_TRUE(WatermarkFileProblem(dir.Path()).endsWith("is a folder, not a picture file"));
}

} // namespace
