#include "tasks/pixortabackgroundtask.h"
#include "taskimages.h"

#include <gtest/gtest.h>

namespace {

const QColor kBackground(250, 240, 230);
const QColor kFrame(100, 110, 120);
const QColor kImageFrame(10, 20, 30);
const QColor kPicture(60, 160, 90);

CPixortaBackgroundTask Record(qint32 margin, bool frame = true, bool imageFrame = true)
{
    CPixortaBackgroundTask task;
    task.m_left = task.m_right = task.m_top = task.m_bottom = margin;
    task.m_background = TaskColour::From(kBackground, true);
    task.m_frame = TaskColour::From(kFrame, frame);
    task.m_imageFrame = TaskColour::From(kImageFrame, imageFrame);
    return task;
}

TEST(BackgroundTask, CanvasPlacementAndFrameLines)
{
    // Margins are fractions of the width in double precision: 3 % of 1000 is 29.999..., the
    // sums round to 1060 and 560 before truncation, and the picture lands at (29, 29).
    struct Row {
        const char *name;
        uint32_t width, height;
        qint32 margin;
        uint32_t canvasWidth, canvasHeight;
        int x, y;
    } rows[] = {
        {"3 % of 1000 x 500", 1000, 500, 3, 1060, 560, 29, 29},
        {"4 % of 1000 x 500", 1000, 500, 4, 1080, 580, 40, 40},
        {"0 % keeps the size", 300, 200, 0, 300, 200, 0, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        PxImage image = SolidImage(row.width, row.height, kPicture);
        SetColourAt(image, 0, 0, Qt::red);
        SetColourAt(image, int(row.width) - 1, int(row.height) - 1, Qt::blue);
        CPixortaBackgroundTask task = Record(row.margin, false, false);
        bool modified = false;
        ASSERT_TRUE(task.Apply(image, modified, QString()));
        EXPECT_TRUE(modified);
        ASSERT_EQ(image.GetWidth(), row.canvasWidth);
        ASSERT_EQ(image.GetHeight(), row.canvasHeight);
        EXPECT_EQ(image.GetBpp(), 24u);
        EXPECT_EQ(ColourAt(image, row.x, row.y), QColor(Qt::red));
        EXPECT_EQ(ColourAt(image, row.x + int(row.width) - 1, row.y + int(row.height) - 1),
                  QColor(Qt::blue));
        if (row.x > 0) {
            EXPECT_EQ(ColourAt(image, row.x - 1, row.y), kBackground);
            EXPECT_EQ(ColourAt(image, row.x + int(row.width), row.y + int(row.height)), kBackground);
        }
    }
}

TEST(BackgroundTask, FrameLinesAreCentredOnTheirBorders)
{
    // Columns across the middle row, left edge first, for a pen of width 2 (1000 wide, no
    // inset) and of width 6 (3000 wide, inset 2): half an even pen falls outside its border.
    struct Row {
        const char *name;
        uint32_t width;
        qint32 margin;
        std::vector<std::pair<int, QColor>> columns;
        bool frames = true;
    } rows[] = {
        {"width 2", 1000, 3,
         {{0, kFrame}, {1, kBackground}, {27, kBackground}, {28, kImageFrame}, {29, kImageFrame},
          {30, kPicture}, {1028, kImageFrame}, {1029, kImageFrame}, {1030, kBackground},
          {1058, kBackground}, {1059, kFrame}}},
        {"width 6 with inset 2 (picture at 90)", 3000, 3,
         {{0, kFrame}, {4, kFrame}, {5, kBackground}, {84, kBackground}, {85, kImageFrame},
          {90, kImageFrame}, {91, kPicture}, {3175, kFrame}, {3179, kFrame}}},
        {"no margins: both frames over the picture", 1000, 0,
         {{0, kImageFrame}, {1, kPicture}, {998, kPicture}, {999, kImageFrame}}},
        {"frames switched off", 1000, 3, {{0, kBackground}, {28, kBackground}, {29, kPicture}}, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        PxImage image = SolidImage(row.width, 40, kPicture);
        CPixortaBackgroundTask task = Record(row.margin, row.frames, row.frames);
        bool modified = false;
        ASSERT_TRUE(task.Apply(image, modified, QString()));
        const int middle = int(image.GetHeight()) / 2;
        for (const auto &[x, colour] : row.columns)
            EXPECT_EQ(ColourAt(image, x, middle), colour) << "column " << x;
    }
}

TEST(BackgroundTask, TransparentPixelsShowTheBackground)
{
    // A true-colour picture with a transparent colour is drawn through the engine; everything
    // else about it must come out as for the picture copied row by row.
    const PxImage noise = NoiseImage(200, 30);
    PxImage plain(noise);
    PxImage transparent(noise);
    transparent.SetTransIndex(0);
    transparent.SetBkColor(PxRGBQuad{1, 2, 3, 0});
    SetColourAt(transparent, 5, 5, QColor(3, 2, 1));
    SetColourAt(plain, 5, 5, QColor(3, 2, 1));

    for (PxImage *image : {&plain, &transparent}) {
        CPixortaBackgroundTask task = Record(10);
        bool modified = false;
        ASSERT_TRUE(task.Apply(*image, modified, QString()));
    }
    EXPECT_EQ(ColourAt(transparent, 20 + 5, 20 + 5), kBackground);
    SetColourAt(transparent, 25, 25, QColor(3, 2, 1));
    EXPECT_TRUE(SamePixels(plain, transparent));
}

TEST(BackgroundTask, ImpossibleCanvasFailsAndKeepsTheImage)
{
    const PxImage original = NoiseImage(300, 20);
    for (qint32 margin : {2147483647, 1000000}) {
        SCOPED_TRACE(margin);
        PxImage image(original);
        CPixortaBackgroundTask task = Record(margin);
        bool modified = false;
        EXPECT_FALSE(task.Apply(image, modified, QString()));
        EXPECT_TRUE(SamePixels(image, original));
    }
}

} // namespace
