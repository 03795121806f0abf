#include "tasks/pixortacolorstask.h"
#include "taskimages.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <limits>

namespace {

struct Settings {
    qint32 light = 100, contrast = 100, red = 100, green = 100, blue = 100, grey = 0;
};

CPixortaColorsTask Record(const Settings &s)
{
    CPixortaColorsTask task;
    task.m_light = s.light;
    task.m_contrast = s.contrast;
    task.m_red = s.red;
    task.m_green = s.green;
    task.m_blue = s.blue;
    task.m_grayScale = s.grey;
    return task;
}

// The record's steps one by one, as the engine offers them, with the channel shifts as every
// pixel read and written back through the pixel access: what the record must give.
void StepByStep(PxImage &image, const Settings &s)
{
    if (s.grey)
        image.GrayScale();
    if (s.light != 100 || s.contrast != 100)
        image.Light(s.light - 100, s.contrast - 100);
    if (s.red == 100 && s.green == 100 && s.blue == 100)
        return;
    if (s.grey)
        image.IncreaseBpp(24);
    auto shift = [](int v, qint64 by) { return uint8_t(std::clamp<qint64>(v + by - 100, 0, 255)); };
    for (int32_t y = 0; y < int32_t(image.GetHeight()); ++y)
        for (int32_t x = 0; x < int32_t(image.GetWidth()); ++x) {
            PxRGBQuad c = image.GetPixelColor(x, y, true);
            c.red = shift(c.red, s.red);
            c.green = shift(c.green, s.green);
            c.blue = shift(c.blue, s.blue);
            image.SetPixelColor(x, y, c, false);
        }
}

TEST(ColorsTask, PixelFigures)
{
    struct Row {
        const char *name;
        Settings settings;
        QColor in, out;
        uint32_t bpp;
    } rows[] = {
        {"light 120 lifts 100", {.light = 120}, QColor(100, 100, 100), QColor(120, 120, 120), 24},
        {"light 120 saturates 240", {.light = 120}, QColor(240, 240, 240), QColor(255, 255, 255), 24},
        {"contrast 200 spreads 100", {.contrast = 200}, QColor(100, 100, 100), QColor(72, 72, 72), 24},
        {"contrast 200 saturates 200", {.contrast = 200}, QColor(200, 200, 200), QColor(255, 255, 255), 24},
        {"contrast 0 flattens", {.contrast = 0}, QColor(10, 200, 255), QColor(128, 128, 128), 24},
        {"red 150 clamps at 255", {.red = 150}, QColor(230, 7, 9), QColor(255, 7, 9), 24},
        {"red 0 clamps at 0", {.red = 0}, QColor(60, 7, 9), QColor(0, 7, 9), 24},
        {"grey then blue 120 tints", {.blue = 120, .grey = 1}, QColor(255, 0, 0), QColor(76, 76, 96), 24},
        {"grey alone stays a palette image", {.grey = 1}, QColor(255, 0, 0), QColor(76, 76, 76), 8},
        {"a typed 300 is +200", {.light = 300}, QColor(40, 50, 60), QColor(240, 250, 255), 24},
        {"the largest typed values saturate",
         {.light = std::numeric_limits<qint32>::max(), .contrast = std::numeric_limits<qint32>::max(),
          .red = std::numeric_limits<qint32>::max()},
         QColor(0, 100, 200), QColor(255, 255, 255), 24},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        PxImage image = SolidImage(3, 2, row.in);
        CPixortaColorsTask task = Record(row.settings);
        bool modified = true;
        EXPECT_TRUE(task.Apply(image, modified, QStringLiteral("/in/a.jpg")));
        EXPECT_TRUE(modified);
        EXPECT_EQ(image.GetBpp(), row.bpp);
        EXPECT_EQ(ColourAt(image, 2, 1), row.out);
    }
}

TEST(ColorsTask, NeutralSettingsLeaveTheImageAlone)
{
    const PxImage original = NoiseImage(5, 4);
    PxImage image(original);
    bool modified = true;
    EXPECT_TRUE(Record({}).Apply(image, modified, QString()));
    EXPECT_FALSE(modified);
    EXPECT_TRUE(SamePixels(image, original));
}

TEST(ColorsTask, GivesWhatTheStepsOneByOneGive)
{
    // A true-colour picture with alpha, a transparent colour and odd bytes in its row padding
    // (the one-pass ways must map or clear it as the steps do), and palette pictures of 8 and
    // 4 bits, which map every shifted colour to the nearest entry.
    PxImage trueColour = NoiseImage(17, 9);
    ASSERT_TRUE(trueColour.AlphaCreate());
    for (uint32_t y = 0; y < 9; ++y) {
        for (uint32_t x = 0; x < 17; ++x)
            trueColour.AlphaSet(int32_t(x), int32_t(y), uint8_t(x * 13 + y));
        for (uint32_t i = 17 * 3; i < trueColour.GetEffWidth(); ++i)
            trueColour.GetBits(y)[i] = uint8_t(200 + i);
    }
    trueColour.SetTransIndex(0);
    trueColour.SetBkColor(PxRGBQuad{30, 60, 90, 0});
    trueColour.SetType(PXFORMAT_PNG);
    PxImage palette8(trueColour);
    ASSERT_TRUE(palette8.DecreaseBpp(8, false));
    PxImage palette4(trueColour);
    ASSERT_TRUE(palette4.DecreaseBpp(4, false));

    const Settings settings[] = {
        {.light = 120, .contrast = 130, .red = 110, .green = 90, .blue = 105, .grey = 1},
        {.light = 80, .contrast = 100, .red = 140, .green = 100, .blue = 100, .grey = 0},
        {.red = 130, .green = 40, .blue = 101},
        {.blue = 120, .grey = 1},
        {.light = 150, .grey = 1},
        {.contrast = 170},
    };
    for (const PxImage *source : {&trueColour, &palette8, &palette4})
        for (const Settings &s : settings) {
            SCOPED_TRACE(testing::Message() << source->GetBpp() << " bits, light " << s.light
                                            << ", red " << s.red << ", grey " << s.grey);
            PxImage expected(*source);
            StepByStep(expected, s);
            PxImage image(*source);
            bool modified = false;
            EXPECT_TRUE(Record(s).Apply(image, modified, QString()));
            EXPECT_TRUE(modified);
            EXPECT_TRUE(SamePixels(image, expected));
            EXPECT_EQ(image.GetTransIndex(), expected.GetTransIndex());
            EXPECT_EQ(image.GetBkColor(), expected.GetBkColor());
            EXPECT_EQ(image.GetType(), expected.GetType());
            ASSERT_EQ(image.AlphaIsValid(), expected.AlphaIsValid());
            if (image.AlphaIsValid()) {
                const size_t n = size_t(image.GetWidth()) * image.GetHeight();
                EXPECT_TRUE(std::equal(image.AlphaGetPointer(), image.AlphaGetPointer() + n,
                                       expected.AlphaGetPointer()));
            }
        }
}

} // namespace
