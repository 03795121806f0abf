// The crop's three ways against rectangles worked out by hand, with what the plan predicts.
#include "engine/pximage.h"
#include "tasks/pixortacroptask.h"
#include "taskimages.h"

#include <gtest/gtest.h>

namespace {

using Mode = CPixortaCropTask::Mode;

struct Expected {
    bool kept; // false: the crop fails
    qint64 left, top, width, height;
};

void ExpectCrop(const CPixortaCropTask &task, uint32_t w, uint32_t h, const Expected &e)
{
    const PxImage source = NoiseImage(w, h, w * 31 + h);
    PxImage image(source);
    bool modified = true;
    const bool applied = task.Clone()->Apply(image, modified, QStringLiteral("/in/a.png"));
    quint32 pw = w, ph = h;
    task.PredictSize(pw, ph);
    const CPixortaTask::Outcome outcome = task.PredictOutcome(QString(), w, h);
    if (!e.kept) {
        EXPECT_FALSE(applied);
        EXPECT_TRUE(SamePixels(image, source));
        EXPECT_STRNE(image.GetLastError(), "");
        EXPECT_EQ(outcome, CPixortaTask::Outcome::Fails);
        return;
    }
    ASSERT_TRUE(applied) << image.GetLastError();
    const bool whole = e.left == 0 && e.top == 0 && e.width == w && e.height == h;
    EXPECT_EQ(modified, !whole);
    EXPECT_EQ(outcome, whole ? CPixortaTask::Outcome::Unchanged : CPixortaTask::Outcome::Changes);
    EXPECT_EQ(pw, quint32(e.width));
    EXPECT_EQ(ph, quint32(e.height));
    ASSERT_EQ(image.GetWidth(), quint32(e.width));
    ASSERT_EQ(image.GetHeight(), quint32(e.height));
    for (int y = 0; y < int(e.height); ++y)
        for (int x = 0; x < int(e.width); ++x)
            ASSERT_EQ(ColourAt(image, x, y), ColourAt(source, int(e.left) + x, int(e.top) + y))
                << x << "," << y;
}

TEST(CropTask, AspectRatiosKeepTheLargestPart)
{
    const struct {
        const char *name;
        uint32_t w, h;
        qint32 a, b;
        bool match;
        Expected e;
    } rows[] = {
        {"square of a landscape", 100, 50, 1, 1, false, {true, 25, 0, 50, 50}},
        {"odd room halves down", 101, 50, 1, 1, false, {true, 25, 0, 50, 50}},
        {"square of a portrait", 50, 100, 1, 1, false, {true, 0, 25, 50, 50}},
        // 50 x 16 / 9 = 88.9
        {"16:9 truncated", 100, 50, 16, 9, false, {true, 6, 0, 88, 50}},
        {"the picture's own ratio", 300, 200, 3, 2, false, {true, 0, 0, 300, 200}},
        // 200 x 2 / 3 = 133.3
        {"3:2 on a portrait", 200, 300, 3, 2, false, {true, 0, 83, 200, 133}},
        {"3:2 turned on a portrait", 200, 300, 3, 2, true, {true, 0, 0, 200, 300}},
        {"4:5 turned on a landscape", 300, 200, 4, 5, true, {true, 25, 0, 250, 200}},
        {"a square picture is not turned", 90, 90, 3, 2, true, {true, 0, 15, 90, 60}},
        // 90 x 2 / 3 is 60 exactly, not 59.99
        {"two thirds stay whole", 90, 200, 3, 2, false, {true, 0, 70, 90, 60}},
        {"a square ratio is not turned", 60, 40, 1, 1, true, {true, 10, 0, 40, 40}},
        {"a 1-pixel picture", 1, 1, 1, 1, false, {true, 0, 0, 1, 1}},
        {"less than a pixel fails", 1, 1, 16, 9, false, {false, 0, 0, 0, 0}},
        {"one column", 1, 100, 1, 1, false, {true, 0, 49, 1, 1}},
        {"a thin strip fails", 3, 1000, 1000, 1, false, {false, 0, 0, 0, 0}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        CPixortaCropTask task;
        task.m_mode = Mode::Aspect;
        task.m_aspectWidth = r.a;
        task.m_aspectHeight = r.b;
        task.m_matchOrientation = r.match;
        ExpectCrop(task, r.w, r.h, r.e);
    }
}

TEST(CropTask, EveryAnchorPutsThePartWhereItSays)
{
    // 1:1 of 103 x 40 leaves 63 columns to place the part in; of 40 x 103, 63 rows.
    const struct {
        Placement where;
        qint64 across, down;
    } rows[] = {
        {Placement::Center, 31, 31},     {Placement::TopLeft, 0, 0},   {Placement::Top, 31, 0},
        {Placement::TopRight, 63, 0},    {Placement::Left, 0, 31},     {Placement::Right, 63, 31},
        {Placement::BottomLeft, 0, 63},  {Placement::Bottom, 31, 63},  {Placement::BottomRight, 63, 63},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(PlacementCaption(r.where).toStdString());
        CPixortaCropTask task;
        task.m_anchor = r.where;
        ExpectCrop(task, 103, 40, {true, r.across, 0, 40, 40});
        ExpectCrop(task, 40, 103, {true, 0, r.down, 40, 40});
    }
}

TEST(CropTask, RectanglesAreClippedToThePicture)
{
    const struct {
        const char *name;
        uint32_t w, h;
        qint32 x, y, width, height;
        Expected e;
    } rows[] = {
        {"inside", 100, 50, 10, 5, 30, 20, {true, 10, 5, 30, 20}},
        {"beyond the corner", 100, 50, 90, 40, 30, 20, {true, 90, 40, 10, 10}},
        {"larger than the picture", 100, 50, 0, 0, 1000, 1000, {true, 0, 0, 100, 50}},
        {"the last pixel", 100, 50, 99, 49, 1, 1, {true, 99, 49, 1, 1}},
        {"right of the picture", 100, 50, 100, 0, 5, 5, {false, 0, 0, 0, 0}},
        {"below the picture", 100, 50, 0, 50, 5, 5, {false, 0, 0, 0, 0}},
        {"far away", 100, 50, 2147483647, 2147483647, 2147483647, 2147483647, {false, 0, 0, 0, 0}},
        {"a 1-pixel picture", 1, 1, 0, 0, 1, 1, {true, 0, 0, 1, 1}},
        {"odd sizes", 37, 23, 3, 7, 31, 9, {true, 3, 7, 31, 9}},
        {"no width", 100, 50, 0, 0, 0, 5, {false, 0, 0, 0, 0}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        CPixortaCropTask task;
        task.m_mode = Mode::Rectangle;
        task.m_x = r.x;
        task.m_y = r.y;
        task.m_width = r.width;
        task.m_height = r.height;
        ExpectCrop(task, r.w, r.h, r.e);
    }
}

TEST(CropTask, MarginsArePercentagesOfTheirSides)
{
    const struct {
        const char *name;
        uint32_t w, h;
        qint32 left, top, right, bottom;
        Expected e;
    } rows[] = {
        {"ten all round", 100, 50, 10, 10, 10, 10, {true, 10, 5, 80, 40}},
        // 101 x 33 / 100 = 33.3 on either side
        {"thirds of an odd width", 101, 51, 33, 0, 33, 0, {true, 33, 0, 35, 51}},
        {"29 of 100 is 29", 100, 100, 29, 29, 0, 0, {true, 29, 29, 71, 71}},
        {"one column left", 7, 3, 50, 0, 50, 0, {true, 3, 0, 1, 3}},
        {"nothing left fails", 100, 10, 50, 0, 50, 0, {false, 0, 0, 0, 0}},
        {"a whole side fails", 100, 10, 0, 100, 0, 0, {false, 0, 0, 0, 0}},
        {"no margins", 100, 50, 0, 0, 0, 0, {true, 0, 0, 100, 50}},
        {"a 1-pixel picture keeps its pixel", 1, 1, 10, 10, 10, 10, {true, 0, 0, 1, 1}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        CPixortaCropTask task;
        task.m_mode = Mode::Margins;
        task.m_marginLeft = r.left;
        task.m_marginTop = r.top;
        task.m_marginRight = r.right;
        task.m_marginBottom = r.bottom;
        ExpectCrop(task, r.w, r.h, r.e);
    }
}

TEST(CropTask, KeepsTheDepthPaletteAndAlpha)
{
    PxImage image;
    ASSERT_TRUE(image.Create(9, 4, 8));
    for (int i = 0; i < 256; ++i)
        image.SetPaletteColor(uint8_t(i), uint8_t(i), uint8_t(255 - i), 7);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x)
            image.SetPixelIndex(x, y, uint8_t(x * 10 + y));
    ASSERT_TRUE(image.AlphaCreate());
    image.AlphaSet(8, 3, 17); // top-right, as rows are stored bottom-up
    CPixortaCropTask task;
    task.m_mode = Mode::Rectangle;
    task.m_x = 6;
    task.m_y = 0;
    task.m_width = 3;
    task.m_height = 2;
    bool modified = true;
    ASSERT_TRUE(task.Apply(image, modified, QString()));
    EXPECT_TRUE(modified);
    EXPECT_EQ(image.GetBpp(), 8u);
    EXPECT_EQ(image.GetPaletteColor(200), (PxRGBQuad{7, 55, 200, 0}));
    EXPECT_EQ(image.GetPixelIndex(2, 1), 83);
    EXPECT_EQ(image.AlphaGet(2, 1), 17);
}

} // namespace
