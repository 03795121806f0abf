// The Sharpen record sharpens as its settings say: held against what Pillow's unsharp mask makes
// of the same picture with the same settings.
#include "engine/pximage.h"
#include "tasks/pixortasharpentask.h"
#include "taskimages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

std::string Reference(const char *name)
{
    return std::string(PIXORTA_SOURCE_DIR) + "/tests/engine/sharpen/" + name;
}

TEST(SharpenTask, SharpensAsPillowDoesWithTheSameSettings)
{
    const struct {
        qint32 amount, radius, threshold;
        const char *reference;
    } rows[] = {{80, 10, 2, "scene-r1.0-p80-t2.png"},
                {150, 20, 3, "scene-r2.0-p150-t3.png"},
                {100, 3, 0, "odd-r0.3-p100-t0.png"}};
    for (const auto &r : rows) {
        SCOPED_TRACE(r.reference);
        PxImage image, expected;
        const std::string source = std::string(r.reference).substr(0, std::string(r.reference).find('-'));
        ASSERT_TRUE(image.Load(Reference((source + ".png").c_str())));
        ASSERT_TRUE(expected.Load(Reference(r.reference)));
        ASSERT_TRUE(image.IncreaseBpp(24) && expected.IncreaseBpp(24));
        CPixortaSharpenTask task;
        task.m_amount = r.amount;
        task.m_radius = r.radius;
        task.m_threshold = r.threshold;
        bool modified = false;
        ASSERT_TRUE(task.Apply(image, modified, QString()));
        EXPECT_TRUE(modified);
        double total = 0;
        int worst = 0;
        for (uint32_t y = 0; y < image.GetHeight(); ++y)
            for (uint32_t i = 0; i < 3 * image.GetWidth(); ++i) {
                const int d = std::abs(image.GetBits(y)[i] - expected.GetBits(y)[i]);
                total += d;
                worst = std::max(worst, d);
            }
        EXPECT_LT(total / (3.0 * image.GetWidth() * image.GetHeight()), 1.0);
        EXPECT_LE(worst, 8);
    }
}

TEST(SharpenTask, MakesIndexedPicturesTrueColourAndLeavesAlpha)
{
    PxImage image;
    ASSERT_TRUE(image.Create(12, 12, 4));
    image.SetGrayPalette();
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x)
            image.SetPixelIndex(x, y, uint8_t(x < 6 ? 3 : 12));
    ASSERT_TRUE(image.AlphaCreate());
    image.AlphaSet(5, 5, 99);
    CPixortaSharpenTask task;
    bool modified = false;
    ASSERT_TRUE(task.Apply(image, modified, QString()));
    EXPECT_EQ(image.GetBpp(), 24u);
    EXPECT_EQ(image.AlphaGet(5, 5), 99);
    // The step got steeper on both sides.
    EXPECT_LT(ColourAt(image, 5, 6).red(), 3 * 17);
    EXPECT_GT(ColourAt(image, 6, 6).red(), 12 * 17);
    EXPECT_EQ(task.PredictOutcome(QString(), 12, 12), CPixortaTask::Outcome::Changes);
}

} // namespace
