#include "engine/pximage.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A 3 x 2 true-colour picture with six distinct colours; (x, y) counts rows from the bottom.
PxImage MakeColourImage()
{
    PxImage img;
    EXPECT_NE(img.Create(3, 2, 24), nullptr);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            img.SetPixelColor(x, y, PxRGBQuad{uint8_t(10 + x), uint8_t(100 + y), uint8_t(200 + 10 * x + y), 0});
    return img;
}

QRgb Expected(const PxImage &img, int x, int yFromTop)
{
    const uint8_t *p = img.GetBits(img.GetHeight() - 1 - yFromTop) + 3 * x;
    return qRgb(p[2], p[1], p[0]);
}

QImage Surface(int w, int h, QRgb fill)
{
    QImage s(w, h, QImage::Format_RGB32);
    s.fill(fill);
    return s;
}

TEST(PxImageDraw, OwnSizePutsExactlyThePixels)
{
    PxImage img = MakeColourImage();
    const QRgb grey = qRgb(50, 50, 50);
    QImage surface = Surface(8, 6, grey);
    {
        QPainter p(&surface);
        EXPECT_EQ(img.Draw(p, 2, 3), 1);
    }
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
            const bool inside = x >= 2 && x < 5 && y >= 3 && y < 5;
            EXPECT_EQ(surface.pixel(x, y), inside ? Expected(img, x - 2, y - 3) : grey);
        }
}

TEST(PxImageDraw, TwiceTheSizeMakesTwoByTwoBlocks)
{
    PxImage img = MakeColourImage();
    QImage surface = Surface(8, 6, qRgb(0, 0, 0));
    {
        QPainter p(&surface);
        EXPECT_EQ(img.Draw(p, 1, 1, 6, 4), 1);
    }
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
            EXPECT_EQ(surface.pixel(1 + x, 1 + y), Expected(img, x / 2, y / 2));
        }
    EXPECT_EQ(surface.pixel(7, 5), qRgb(0, 0, 0));
}

TEST(PxImageDraw, UnevenScalingSamplesByTheDesignRule)
{
    // 3 x 2 drawn into 5 x 3: columns floor(c * 0.6) = 0 0 1 1 2; rows counted from the bottom
    // edge take H - ceil((h - k) * 2/3) = stored rows 1, 0, 0 from the top row down.
    PxImage img = MakeColourImage();
    QImage surface = Surface(5, 3, qRgb(0, 0, 0));
    {
        QPainter p(&surface);
        img.Draw(p, 0, 0, 5, 3);
    }
    const int columns[5] = {0, 0, 1, 1, 2};
    const int storedRows[3] = {1, 0, 0};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
            EXPECT_EQ(surface.pixel(x, y), Expected(img, columns[x], 1 - storedRows[y]));
        }
}

TEST(PxImageDraw, TransparentIndexLeavesTheSurface)
{
    PxImage img;
    ASSERT_NE(img.Create(4, 1, 8), nullptr);
    img.SetPaletteColor(0, 255, 0, 0);
    img.SetPaletteColor(1, 0, 255, 0);
    const uint8_t indexes[4] = {0, 1, 1, 0};
    std::memcpy(img.GetBits(0), indexes, 4);
    img.SetTransIndex(1);
    const QRgb blue = qRgb(0, 0, 255);
    for (int scale : {1, 2}) {
        SCOPED_TRACE(scale);
        QImage surface = Surface(8, 2, blue);
        {
            QPainter p(&surface);
            EXPECT_EQ(img.Draw(p, 0, 0, 4 * scale, scale), 1);
        }
        for (int x = 0; x < 4 * scale; ++x)
            EXPECT_EQ(surface.pixel(x, 0), indexes[x / scale] == 1 ? blue : qRgb(255, 0, 0)) << x;
    }
}

TEST(PxImageDraw, TransparentColourOfTrueColourImage)
{
    PxImage img;
    ASSERT_NE(img.Create(2, 1, 24), nullptr);
    img.SetPixelColor(0, 0, PxRGBQuad{1, 2, 3, 0});
    img.SetPixelColor(1, 0, PxRGBQuad{9, 9, 9, 0});
    img.SetBkColor(PxRGBQuad{1, 2, 3, 0});
    img.SetTransIndex(0);
    QImage surface = Surface(2, 1, qRgb(7, 7, 7));
    {
        QPainter p(&surface);
        img.Draw(p, 0, 0);
    }
    EXPECT_EQ(surface.pixel(0, 0), qRgb(7, 7, 7));
    EXPECT_EQ(surface.pixel(1, 0), qRgb(9, 9, 9));
}

TEST(PxImageDraw, AlphaCombinesWithIntegerRule)
{
    // Black over white: (0 * a + 255 * (255 - a)) >> 8, worked out by hand.
    const struct {
        uint8_t alpha, alphaMax, paletteAlpha;
        int expected;
    } cases[] = {
        {128, 255, 255, 126}, {0, 255, 255, 255}, {255, 255, 255, 0},  {64, 255, 255, 190},
        {255, 127, 255, 127}, // a = 255 * 128 / 256 = 127
        {255, 255, 127, 127}, // palette alpha: 255 * 128 / 256 = 127
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.alpha) + "/" + std::to_string(c.alphaMax) + "/" +
                     std::to_string(c.paletteAlpha));
        PxImage img;
        const bool palette = c.paletteAlpha != 255;
        ASSERT_NE(img.Create(2, 2, palette ? 8 : 24), nullptr);
        std::memset(img.GetBits(0), 0, img.GetHeader().sizeImage);
        if (palette) {
            img.SetPaletteColor(0, 0, 0, 0, c.paletteAlpha);
            img.AlphaPaletteEnable(true);
        }
        ASSERT_TRUE(img.AlphaCreate());
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                img.AlphaSet(x, y, c.alpha);
        img.AlphaSetMax(c.alphaMax);
        QImage surface = Surface(2, 2, qRgb(255, 255, 255));
        {
            QPainter p(&surface);
            img.Draw(p, 0, 0);
        }
        EXPECT_EQ(surface.pixel(1, 1), qRgb(c.expected, c.expected, c.expected));
    }
}

TEST(PxImageDraw, NothingToDrawReturnsZero)
{
    PxImage img = MakeColourImage();
    PxImage empty;
    PxImage disabled = MakeColourImage();
    disabled.Enable(false);
    const QRgb grey = qRgb(50, 50, 50);
    QImage surface = Surface(4, 4, grey);
    QPainter p(&surface);
    EXPECT_EQ(img.Draw(p, 0, 0, 0, 2), 0);
    EXPECT_EQ(img.Draw(p, 0, 0, 3, 0), 0);
    EXPECT_EQ(empty.Draw(p, 0, 0), 0);
    EXPECT_EQ(disabled.Draw(p, 0, 0), 0);
    p.end();
    EXPECT_EQ(surface, Surface(4, 4, grey));
}

TEST(PxImageDraw, ClipRectangleLimitsAndIsUndone)
{
    PxImage img = MakeColourImage();
    const QRgb grey = qRgb(50, 50, 50);
    QImage surface = Surface(6, 4, grey);
    QPainter p(&surface);
    const QRect clip(0, 0, 2, 4);
    EXPECT_EQ(img.Draw(p, 0, 0, 6, 4, &clip), 1);
    EXPECT_FALSE(p.hasClipping());
    p.end();
    EXPECT_EQ(surface.pixel(1, 1), Expected(img, 0, 0));
    EXPECT_EQ(surface.pixel(2, 1), grey);
    EXPECT_EQ(surface.pixel(5, 3), grey);
}

TEST(PxImageBitmap, CreateFromThirtyTwoBitGivesTwentyFourBit)
{
    QImage source(3, 2, QImage::Format_ARGB32);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            source.setPixel(x, y, qRgba(x * 40, y * 90, 7, 128));
    PxImage img(PXFORMAT_PNG);
    ASSERT_TRUE(img.CreateFromHBITMAP(source));
    EXPECT_EQ(img.GetBpp(), 24u);
    EXPECT_EQ(img.GetWidth(), 3u);
    EXPECT_EQ(img.GetHeight(), 2u);
    EXPECT_EQ(img.GetType(), 0u);
    EXPECT_FALSE(img.AlphaIsValid());
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(Expected(img, x, y), qRgb(x * 40, y * 90, 7)) << x << "," << y;
}

TEST(PxImageBitmap, CreateFromIndexedKeepsIndexes)
{
    QImage indexed(5, 2, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(1, 2, 3), qRgb(40, 50, 60), qRgb(200, 100, 0)});
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x)
            indexed.setPixel(x, y, static_cast<uint>((x + y) % 3));
    QImage mono(9, 1, QImage::Format_MonoLSB);
    mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int x = 0; x < 9; ++x)
        mono.setPixel(x, 0, x % 3 == 0);

    PxImage img;
    ASSERT_TRUE(img.CreateFromHBITMAP(indexed));
    EXPECT_EQ(img.GetBpp(), 8u);
    EXPECT_EQ(img.GetPaletteColor(2), (PxRGBQuad{0, 100, 200, 0}));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(img.GetPixelIndex(x, 1 - y), (x + y) % 3);

    ASSERT_TRUE(img.CreateFromHBITMAP(mono));
    EXPECT_EQ(img.GetBpp(), 1u);
    for (int x = 0; x < 9; ++x)
        EXPECT_EQ(img.GetPixelIndex(x, 0), x % 3 == 0 ? 1 : 0) << x;
}

TEST(PxImageBitmap, AdoptedPixelsReplaceAnImageAsAReadBackSurfaceDoes)
{
    // Both ways keep the image's information fields, drop its planes and clear the format.
    PxImage original(PXFORMAT_GIF);
    ASSERT_TRUE(original.Create(4, 3, 8, PXFORMAT_GIF));
    original.SetTransIndex(2);
    original.SetJpegQuality(40);
    original.SetXDPI(200);
    ASSERT_TRUE(original.AlphaCreate());
    ASSERT_TRUE(original.SelectionCreate());
    PxImage drawn = MakeColourImage();
    PxImage viaSurface(original), adopted(original);
    ASSERT_TRUE(viaSurface.CreateFromHBITMAP(drawn.MakeBitmap()));
    ASSERT_TRUE(adopted.AdoptPixels(drawn));
    EXPECT_FALSE(drawn.IsValid());
    EXPECT_EQ(adopted.GetSize(), viaSurface.GetSize());
    EXPECT_EQ(std::memcmp(adopted.GetDIB(), viaSurface.GetDIB(), adopted.GetSize()), 0);
    for (const PxImage *img : {&adopted, &viaSurface}) {
        EXPECT_EQ(img->GetType(), 0u);
        EXPECT_EQ(img->GetTransIndex(), 2);
        EXPECT_EQ(img->GetJpegQuality(), 40);
        EXPECT_EQ(img->GetXDPI(), 200);
        EXPECT_FALSE(img->AlphaIsValid());
        EXPECT_FALSE(img->SelectionIsValid());
    }
    PxImage palette;
    ASSERT_TRUE(palette.Create(2, 2, 8));
    EXPECT_FALSE(adopted.AdoptPixels(palette));
    EXPECT_TRUE(palette.IsValid());
}

TEST(PxImageBitmap, NullBitmapFails)
{
    PxImage img = MakeColourImage();
    EXPECT_FALSE(img.CreateFromHBITMAP(QImage()));
    EXPECT_STREQ(img.GetLastError(), "GetDIBits failed");
    EXPECT_FALSE(img.IsValid());
}

TEST(PxImageBitmap, MakeBitmapRoundTrip)
{
    PxImage img;
    ASSERT_NE(img.Create(7, 5, 24), nullptr);
    uint32_t seed = 12345;
    for (uint32_t row = 0; row < 5; ++row)
        for (uint32_t i = 0; i < 21; ++i) {
            seed = seed * 1103515245 + 12345;
            img.GetBits(row)[i] = static_cast<uint8_t>(seed >> 16);
        }
    const QImage bitmap = img.MakeBitmap();
    ASSERT_FALSE(bitmap.isNull());
    EXPECT_EQ(bitmap.format(), QImage::Format_RGB32);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(bitmap.pixel(x, y), Expected(img, x, y));
    PxImage back;
    ASSERT_TRUE(back.CreateFromHBITMAP(bitmap));
    for (uint32_t row = 0; row < 5; ++row)
        EXPECT_EQ(std::memcmp(back.GetBits(row), img.GetBits(row), 21), 0) << row;

    PxImage indexed;
    ASSERT_NE(indexed.Create(3, 1, 4), nullptr);
    indexed.SetPaletteColor(5, 9, 8, 7);
    indexed.SetPixelIndex(1, 0, 5);
    const QImage fromIndexed = indexed.MakeBitmap();
    EXPECT_EQ(fromIndexed.pixel(1, 0), qRgb(9, 8, 7));
    EXPECT_EQ(fromIndexed.pixel(0, 0), qRgb(0, 0, 0));

    EXPECT_TRUE(PxImage().MakeBitmap().isNull());
}

TEST(PxImageBitmap, CopyToHandleHoldsTheWholeBlock)
{
    PxImage img;
    ASSERT_NE(img.Create(3, 2, 8), nullptr);
    img.SetPaletteColor(3, 1, 2, 3);
    img.SetPixelIndex(2, 1, 3);
    const std::string block = img.CopyToHandle();
    ASSERT_EQ(block.size(), 40u + 1024u + 8u);
    EXPECT_EQ(std::memcmp(block.data(), img.GetDIB(), block.size()), 0);
    PxBitmapInfoHeader head;
    std::memcpy(&head, block.data(), 40);
    EXPECT_EQ(head.width, 3);
    EXPECT_EQ(head.bitCount, 8);
    EXPECT_TRUE(PxImage().CopyToHandle().empty());
}

} // namespace
