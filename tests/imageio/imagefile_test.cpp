#include "imageio/imagefile.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <gtest/gtest.h>
#include <set>

namespace {

PxImage MakeImage(uint32_t bpp, uint32_t w = 9, uint32_t h = 6)
{
    PxImage img;
    EXPECT_NE(img.Create(w, h, bpp), nullptr);
    for (uint32_t i = 0; i < img.GetNumColors(); ++i)
        img.SetPaletteColor(uint8_t(i), uint8_t(i * 5), uint8_t(200 - i % 200), uint8_t(i * 3));
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t b = 0; b < img.GetEffWidth(); ++b)
            img.GetBits(y)[b] = uint8_t(y * 40 + b * 13);
    return img;
}

// Distinct colours of a 24-bit picture: more than a palette can hold.
PxImage MakeColourful()
{
    PxImage img;
    EXPECT_NE(img.Create(32, 32, 24), nullptr);
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 32; ++x) {
            uint8_t *p = img.GetBits(y) + 3 * x;
            p[0] = uint8_t(x * 8), p[1] = uint8_t(y * 8), p[2] = uint8_t((x ^ y) * 8);
        }
    return img;
}

class ImageFileTest : public testing::Test {
protected:
    TempFolder dir;
};

TEST_F(ImageFileTest, LoadTakesTheFormatFromTheExtension)
{
    PxImage src = MakeImage(8);
    ASSERT_TRUE(SaveImageFile(src, dir.File("pic.bmp")));
    ASSERT_TRUE(QFile::copy(dir.File("pic.bmp"), dir.File("PIC.BMP")));
    ASSERT_TRUE(QFile::copy(dir.File("pic.bmp"), dir.File("pic.dat")));
    ASSERT_TRUE(QFile::copy(dir.File("pic.bmp"), dir.File("noextension")));
    for (const char *name : {"pic.bmp", "PIC.BMP", "pic.dat", "noextension"}) {
        SCOPED_TRACE(name);
        PxImage img;
        ASSERT_TRUE(LoadImageFile(img, dir.File(name))) << img.GetLastError();
        EXPECT_EQ(img.GetType(), PXFORMAT_BMP);
        EXPECT_EQ(img.GetBpp(), 8u);
    }
    PxImage img;
    EXPECT_TRUE(LoadImageFile(img, dir.File("pic.dat"), PXFORMAT_BMP));
    EXPECT_FALSE(LoadImageFile(img, dir.File("missing.bmp")));
}

TEST_F(ImageFileTest, PathsWithWideCharactersReachTheFileSystem)
{
    PxImage src = MakeImage(24);
    const QString path = dir.File(QString::fromUtf8("Bild \u00e4\u00f6 \u65e5\u672c.bmp"));
    ASSERT_TRUE(SaveImageFile(src, path));
    EXPECT_TRUE(QFile::exists(path));
    PxImage back;
    ASSERT_TRUE(LoadImageFile(back, path));
    EXPECT_EQ(back.GetWidth(), 9u);
}

TEST_F(ImageFileTest, PngNamedJpgLoadsThroughDetection)
{
    PX_REQUIRE_TESTDATA();
    ASSERT_TRUE(QFile::copy(QString::fromStdString((TestDataDir() / "pngsuite/basn2c08.png").string()),
                            dir.File("photo.jpg")));
    PxImage img;
    ASSERT_TRUE(LoadImageFile(img, dir.File("photo.jpg"))) << img.GetLastError();
    EXPECT_EQ(img.GetType(), PXFORMAT_PNG);
    EXPECT_EQ(img.GetWidth(), 32u);
}

TEST_F(ImageFileTest, SaveConvertsForTheTargetFormat)
{
    struct Case {
        const char *name;
        uint32_t bpp;
        bool convert;
        uint32_t bppAfter;
    };
    const Case cases[] = {
        {"a.gif", 24, true, 8},  {"b.gif", 24, false, 24}, {"c.jpg", 8, true, 24},
        {"d.jpeg", 4, true, 24}, {"e.jpg", 1, false, 1},   {"f.jp2", 8, true, 24},
        {"g.png", 8, true, 8},   {"h.bmp", 4, true, 4},    {"i.tif", 1, true, 1},
        {"j.png", 24, true, 24},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img = c.bpp == 24 ? MakeColourful() : MakeImage(c.bpp);
        SaveImageFile(img, dir.File(c.name), -1, c.convert);
        EXPECT_EQ(img.GetBpp(), c.bppAfter);
        EXPECT_LE(img.GetNumColors(), 256u);
    }
}

TEST_F(ImageFileTest, GifKeepsAnExistingPalette)
{
    PxImage img = MakeImage(8);
    std::vector<PxRGBQuad> before(img.GetPalette(), img.GetPalette() + 256);
    SaveImageFile(img, dir.File("keep.gif"));
    ASSERT_EQ(img.GetBpp(), 8u);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), img.GetPalette()));
}

TEST_F(ImageFileTest, QuantizedGifPaletteHoldsThePicturesColours)
{
    PxImage img = MakeColourful();
    SaveImageFile(img, dir.File("q.gif"));
    ASSERT_EQ(img.GetBpp(), 8u);
    // 32 x 32 pixels of 1024 colours folded into at most 256.
    std::set<uint8_t> used;
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 32; ++x)
            used.insert(img.GetBits(y)[x]);
    EXPECT_LE(used.size(), 256u);
    EXPECT_GT(used.size(), 16u);
}

TEST_F(ImageFileTest, JpegClearsOnlyTheTiffCompressionCodes)
{
    const struct {
        const char *name;
        uint32_t before;
        uint32_t after;
    } cases[] = {
        {"a.jpg", 5, 0}, {"b.jpg", 7, 0}, {"c.jpg", 4, 4}, {"d.jpg", 64, 64},
        {"e.tif", 5, 5}, {"f.bmp", 7, 7}, {"g.JPG", 5, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img = MakeImage(24);
        img.SetCodecOption(c.before);
        SaveImageFile(img, dir.File(c.name));
        EXPECT_EQ(img.GetCodecOption(), c.after);
    }
}

TEST_F(ImageFileTest, ExplicitFormatOverridesTheExtension)
{
    PxImage img = MakeImage(4);
    ASSERT_TRUE(SaveImageFile(img, dir.File("out.jpg"), PXFORMAT_BMP));
    EXPECT_EQ(img.GetBpp(), 4u); // BMP needs no conversion, whatever the name says
    const auto bytes = ReadFileBytes(dir.Fs("out.jpg"));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
}

TEST_F(ImageFileTest, FailedSavesLeaveNothingBehind)
{
    PxImage img = MakeImage(8);
    EXPECT_FALSE(SaveImageFile(img, dir.File("unknown.xyz")));
    EXPECT_STREQ(img.GetLastError(), "Encode: Unknown format");
    EXPECT_FALSE(SaveImageFile(img, dir.File("nowhere/x.bmp")));
    EXPECT_TRUE(QDir(dir.Path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
}

TEST_F(ImageFileTest, LzwTiffSavedAsJpegAndAsTiff)
{
    const char *sample = "libtiff/quad-lzw-compat.tiff";
    PX_REQUIRE_TESTDATA();
    PxImage img;
    ASSERT_TRUE(LoadImageFile(img, QString::fromStdString((TestDataDir() / sample).string())));
    ASSERT_EQ(img.GetCodecOption(), 5u);
    PxImage copy(img);
    ASSERT_TRUE(SaveImageFile(img, dir.File("lzw.jpg"))) << img.GetLastError();
    PxImage jpeg;
    ASSERT_TRUE(LoadImageFile(jpeg, dir.File("lzw.jpg")));
    EXPECT_EQ(jpeg.GetType(), PXFORMAT_JPG);
    EXPECT_EQ(jpeg.GetBpp(), 24u);

    ASSERT_TRUE(SaveImageFile(copy, dir.File("lzw.tif"))) << copy.GetLastError();
    PxImage tiff;
    ASSERT_TRUE(LoadImageFile(tiff, dir.File("lzw.tif")));
    EXPECT_EQ(tiff.GetCodecOption(), 5u);
}

} // namespace

namespace {

// Whatever depth an image has, a good file of every writable format reads back as saved, so a
// verified batch never calls a sound file bad; a file cut in half never passes.
TEST_F(ImageFileTest, VerifyPassesEveryGoodFileAndCatchesACutOne)
{
    const QStringList extensions = QString::fromStdString(WritableExtensionList(",")).split(',');
    for (const QString &ext : extensions) {
        for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
            SCOPED_TRACE(ext.toStdString() + " from " + std::to_string(bpp) + " bits");
            PxImage img = MakeImage(bpp, 23, 17);
            if (bpp == 8)
                img.SetGrayPalette();
            const QString path = dir.File("v." + ext);
            PxPendingSave pending;
            if (!PrepareImageFileSave(img, path, pending)) {
                // What a format refuses (an icon of this depth, say) is a failed save, not a
                // matter for verifying.
                continue;
            }
            QString why;
            EXPECT_TRUE(VerifyPendingSave(pending, path, img, &why)) << why.toStdString();
            std::filesystem::resize_file(pending.EncodedFile(),
                                         std::filesystem::file_size(pending.EncodedFile()) / 2);
            EXPECT_FALSE(VerifyPendingSave(pending, path, img, &why));
            EXPECT_TRUE(why.startsWith("the written file")) << why.toStdString();
        }
    }
}

} // namespace
