// The thumbnail of a file: fitted, centred, refused where there is no picture, and written by
// pxconvert exactly as the list shows it.

#include "listtests.h"
#include "imagelist/thumbnails.h"

#include <QCoreApplication>
#include <QProcess>

namespace {
using namespace listtest;

constexpr QRgb kWhite = 0xFFFFFF, kRed = 0xFF0000, kBlue = 0x0000FF;

QRgb At(const QImage &img, int x, int y)
{
    return img.pixel(x, y) & 0xFFFFFF;
}


TEST(Thumbnail, FitsShrinkingOnlyAndKeepsEverySideAPixel)
{
    struct Case {
        QSize picture, box, fitted;
    } const cases[] = {
        {{2000, 1000}, {800, 600}, {800, 400}},
        {{300, 200}, {800, 600}, {300, 200}},
        {{800, 50}, {800, 600}, {800, 50}}, // as wide as the box: scaled by 1
        {{184, 92}, {92, 92}, {92, 46}},
        {{5000, 1}, {92, 92}, {92, 1}},
        {{1, 5000}, {92, 92}, {1, 92}},
        {{100, 100}, {0, 0}, {0, 0}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FitInside(c.picture, c.box), c.fitted) << c.picture.width() << "x" << c.picture.height();
}

TEST(Thumbnail, PictureIsCentredOnWhiteAndNeverEnlarged)
{
    TempFolder dir;
    struct Case {
        const char *name;
        int w, h;
        QRect picture; // where the picture lies in the 92 x 92 cell
    } const cases[] = {
        {"wide.png", 200, 100, QRect(0, 23, 92, 46)},
        {"tall.bmp", 60, 184, QRect(31, 0, 30, 92)},
        {"small.pcx", 10, 6, QRect(41, 43, 10, 6)},
        {"line.png", 5000, 1, QRect(0, 45, 92, 1)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteImage(dir.File(c.name), c.w, c.h, kRed));
        const QImage cell = MakeThumbnail(dir.File(c.name), 92, 92);
        ASSERT_EQ(cell.size(), QSize(92, 92));
        for (int y = 0; y < 92; ++y)
            for (int x = 0; x < 92; ++x)
                ASSERT_PRED2(Near, At(cell, x, y), c.picture.contains(x, y) ? kRed : kWhite)
                    << x << "," << y;
    }
}

TEST(Thumbnail, TransparencyShowsTheBackground)
{
    TempFolder dir;
    PxImage img;
    ASSERT_TRUE(img.Create(20, 20, 24));
    ASSERT_TRUE(img.AlphaCreate());
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            img.SetPixelColor(x, y, PxRGBQuad{0, 0, 0, 0});
            img.AlphaSet(x, y, x < 10 ? 0 : 255);
        }
    ASSERT_TRUE(SaveImageFile(img, dir.File("half.png")));
    const QImage cell = MakeThumbnail(dir.File("half.png"), 92, 92, qRgb(10, 20, 30));
    EXPECT_EQ(At(cell, 40, 46), 0x0A141Eu) << "transparent black is not shown";
    EXPECT_EQ(At(cell, 50, 46), 0u) << "opaque black is";
}

TEST(Thumbnail, NothingToShowGivesNoThumbnail)
{
    TempFolder dir;
    WriteText(dir.File("empty.jpg"), "");
    WriteText(dir.File("broken.jpg"), "\xFF\xD8\xFF\xE0 not really");
    WriteText(dir.File("movie.mng"), "\x8AMNG\r\n\x1A\n");
    for (const QString &path : {dir.File("missing.jpg"), dir.File("empty.jpg"),
                                dir.File("broken.jpg"), dir.File("movie.mng"), dir.Path()})
        EXPECT_TRUE(MakeThumbnail(path, 92, 92).isNull()) << qPrintable(path);
}

TEST(Thumbnail, ReducedJpegDecodeShowsThePictureAndPxconvertWritesTheSamePixels)
{
    TempFolder dir;
    const QString jpeg = dir.File("big.jpg"), png = dir.File("big.png");
    ASSERT_TRUE(WriteImage(jpeg, 1600, 1200, kRed, kBlue));
    ASSERT_TRUE(WriteImage(png, 1600, 1200, kRed, kBlue));
    const QImage fast = MakeThumbnail(jpeg, 92, 92), exact = MakeThumbnail(png, 92, 92);
    ASSERT_FALSE(fast.isNull());
    int worst = 0;
    for (int y = 0; y < 92; ++y)
        for (int x = 0; x < 92; ++x)
            if (x < 44 || x > 47) // the seam between the halves may blur differently
                for (int shift : {0, 8, 16})
                    worst = std::max(worst, std::abs(int((fast.pixel(x, y) >> shift) & 0xFF) -
                                                     int((exact.pixel(x, y) >> shift) & 0xFF)));
    EXPECT_LE(worst, 8);

    QProcess tool;
    tool.start(QCoreApplication::applicationDirPath() + "/../bin/pxconvert",
               {"--thumbnail", "92", "--output-folder", dir.File("out"), jpeg, png,
                dir.File("missing.jpg")});
    ASSERT_TRUE(tool.waitForFinished(60000));
    EXPECT_EQ(tool.exitCode(), 1) << "one of the files had no thumbnail";
    EXPECT_TRUE(tool.readAllStandardError().contains("missing.jpg"));
    const struct {
        QString file;
        QImage expected;
    } outputs[] = {{"big.png", fast}, {"big00.png", exact}};
    for (const auto &out : outputs) {
        PxImage written;
        ASSERT_TRUE(LoadImageFile(written, dir.File("out/" + out.file))) << qPrintable(out.file);
        EXPECT_EQ(written.MakeBitmap(), out.expected.convertToFormat(QImage::Format_RGB32));
    }
}

} // namespace
