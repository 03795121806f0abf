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

// The channel shifts written as every pixel read and written back through the engine's pixel
// access, to hold the record's table-driven version against.
void ShiftPixelByPixel(PxImage &image, const Settings &s)
{
    for (int32_t y = 0; y < int32_t(image.GetHeight()); ++y)
        for (int32_t x = 0; x < int32_t(image.GetWidth()); ++x) {
            PxRGBQuad c = image.GetPixelColor(x, y, true);
            auto shift = [](int v, qint64 by) { return uint8_t(std::clamp<qint64>(v + by - 100, 0, 255)); };
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

TEST(ColorsTask, ShiftsMatchPixelByPixelAccessAndKeepAlpha)
{
    const Settings shift{.red = 130, .green = 40, .blue = 101};

    PxImage trueColour = NoiseImage(17, 9);
    ASSERT_TRUE(trueColour.AlphaCreate());
    for (int32_t y = 0; y < 9; ++y)
        for (int32_t x = 0; x < 17; ++x)
            trueColour.AlphaSet(x, y, uint8_t(x * 13 + y));

    // Palette images map every shifted colour to the nearest entry, 8 and 4 bits alike.
    PxImage palette8(trueColour);
    ASSERT_TRUE(palette8.DecreaseBpp(8, false));
    PxImage palette4(trueColour);
    ASSERT_TRUE(palette4.DecreaseBpp(4, false));

    for (PxImage *source : {&trueColour, &palette8, &palette4}) {
        SCOPED_TRACE(source->GetBpp());
        PxImage expected(*source);
        ShiftPixelByPixel(expected, shift);
        PxImage image(*source);
        bool modified = false;
        EXPECT_TRUE(Record(shift).Apply(image, modified, QString()));
        EXPECT_TRUE(modified);
        EXPECT_TRUE(SamePixels(image, expected));
        ASSERT_EQ(image.AlphaIsValid(), source->AlphaIsValid());
        if (image.AlphaIsValid()) {
            EXPECT_TRUE(std::equal(image.AlphaGetPointer(), image.AlphaGetPointer() + 17 * 9,
                                   source->AlphaGetPointer()));
        }
    }
}

} // namespace
