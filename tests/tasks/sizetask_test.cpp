#include "tasks/pixortasizetask.h"
#include "engine/pximage.h"

#include <gtest/gtest.h>

namespace {

using Mode = CPixortaSizeTask::Mode;

TEST(SizeTask, ApplyArithmetic)
{
    // Expected sizes are worked by hand: factor = p x 0.01 in double precision, then truncation
    // (0.29 x 100 = 28.999..., 0.58 x 100 = 57.999..., 0.58 x 200 = 115.999...).
    struct Row {
        const char *name;
        qint32 mode, percentage, width, height;
        uint32_t imageWidth, imageHeight;
        bool result, modified;
        uint32_t newWidth, newHeight;
    } rows[] = {
        {"29% truncates", Mode::ModePercentage, 29, 0, 0, 100, 100, true, true, 28, 28},
        {"58% truncates", Mode::ModePercentage, 58, 0, 0, 100, 200, true, true, 57, 115},
        {"50% of odd sides", Mode::ModePercentage, 50, 0, 0, 101, 51, true, true, 50, 25},
        {"200% enlarges", Mode::ModePercentage, 200, 0, 0, 10, 5, true, true, 20, 10},
        {"100% changes nothing", Mode::ModePercentage, 100, 0, 0, 101, 51, true, false, 101, 51},
        {"0% fails", Mode::ModePercentage, 0, 0, 0, 100, 50, false, true, 100, 50},
        {"negative % fails", Mode::ModePercentage, -5, 0, 0, 100, 50, false, true, 100, 50},
        {"width only keeps the ratio", Mode::ModeConstant, 100, 300, 0, 100, 50, true, true, 300,
         150},
        {"height only keeps the ratio", Mode::ModeConstant, 100, 0, 25, 100, 50, true, true, 50,
         25},
        {"width only, truncated", Mode::ModeConstant, 100, 33, 0, 100, 50, true, true, 33, 16},
        {"both given", Mode::ModeConstant, 100, 40, 30, 100, 50, true, true, 40, 30},
        {"neither given", Mode::ModeConstant, 100, 0, 0, 100, 50, true, true, 100, 50},
        {"negative sides count as not given", Mode::ModeConstant, 100, -4, -4, 100, 50, true,
         true, 100, 50},
        {"mode none", Mode::ModeNone, 50, 10, 10, 100, 50, true, true, 100, 50},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        PxImage image;
        ASSERT_NE(image.Create(row.imageWidth, row.imageHeight, 24), nullptr);
        CPixortaSizeTask task;
        task.m_mode = row.mode;
        task.m_percentage = row.percentage;
        task.m_width = row.width;
        task.m_height = row.height;
        bool modified = false;
        EXPECT_EQ(task.Apply(image, modified, QStringLiteral("/in/a.jpg")), row.result);
        EXPECT_EQ(modified, row.modified);
        EXPECT_EQ(image.GetWidth(), row.newWidth);
        EXPECT_EQ(image.GetHeight(), row.newHeight);
        EXPECT_EQ(image.GetBpp(), 24u);
    }
}

TEST(SizeTask, SizesTheEngineCannotMakeFailAndLeaveTheImage)
{
    // A failed resample must not be reported as done: the batch would save the unchanged image.
    struct Row {
        const char *name;
        qint32 mode, percentage, width, height;
        uint32_t imageWidth, imageHeight;
    } rows[] = {
        {"1% of a small image is 0 pixels", Mode::ModePercentage, 1, 0, 0, 50, 50},
        {"largest percentage overflows a side", Mode::ModePercentage, 2147483647, 0, 0, 100, 100},
        {"beyond the memory cap", Mode::ModeConstant, 100, 100000, 100000, 10, 10},
        {"width only, height beyond the int range", Mode::ModeConstant, 100, 2147483647, 0, 1,
         2},
        {"height only rounds the width to 0", Mode::ModeConstant, 100, 0, 1, 1, 100},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        PxImage image;
        ASSERT_NE(image.Create(row.imageWidth, row.imageHeight, 24), nullptr);
        CPixortaSizeTask task;
        task.m_mode = row.mode;
        task.m_percentage = row.percentage;
        task.m_width = row.width;
        task.m_height = row.height;
        bool modified = true;
        EXPECT_FALSE(task.Apply(image, modified, QString()));
        EXPECT_EQ(image.GetWidth(), row.imageWidth);
        EXPECT_EQ(image.GetHeight(), row.imageHeight);
    }
}

TEST(SizeTask, EmptyImageFailsUnlessNothingIsAsked)
{
    CPixortaSizeTask task;
    task.m_mode = Mode::ModePercentage;
    task.m_percentage = 50;
    PxImage empty;
    bool modified = true;
    EXPECT_FALSE(task.Apply(empty, modified, QString()));
    task.m_percentage = 100;
    EXPECT_TRUE(task.Apply(empty, modified, QString()));
    EXPECT_FALSE(modified);
}

TEST(SizeTask, KindAndDescription)
{
    CPixortaSizeTask task;
    EXPECT_EQ(task.Kind(), TaskResize);
    // A fresh record is what the panel starts with: a percentage that leaves the size.
    EXPECT_EQ(task.m_mode, Mode::ModePercentage);
    EXPECT_EQ(task.m_percentage, 100);
    EXPECT_EQ(task.m_width, 0);
    EXPECT_EQ(task.m_height, 0);
    EXPECT_EQ(task.GetDescription(), "Resize to: 100%");
    task.m_mode = Mode::ModeNone;
    EXPECT_EQ(task.GetDescription(), "Resize to: ");
    task.m_mode = Mode::ModePercentage;
    task.m_percentage = 50;
    EXPECT_EQ(task.GetDescription(), "Resize to: 50%");
    task.m_mode = Mode::ModeConstant;
    EXPECT_EQ(task.GetDescription(), "Resize to: ");
}

} // namespace
