#include "smallcodecs.h"

namespace {
using namespace codectest;
using Bytes = std::vector<uint8_t>;

Bytes Rgba(std::initializer_list<int> whites)
{
    Bytes out;
    for (int w : whites) {
        const uint8_t v = w ? 255 : 0;
        out.insert(out.end(), {v, v, v, 255});
    }
    return out;
}

TEST(WbmpCodec, PublicSuite)
{
    PX_REQUIRE_TESTDATA();
    EXPECT_EQ(CheckSuite("wbmp", PXFORMAT_WBMP, 0, {}), 12);
}

TEST(WbmpCodec, ReadsHandMadeFiles)
{
    struct Case {
        const char *name;
        Bytes file;
        uint32_t width, height;
        Bytes rgba; // top row first
    };
    const Case cases[] = {
        {"10x2, padding bits set", {0, 0, 10, 2, 0xA0, 0x7F, 0xFF, 0xC0}, 10, 2,
         [] {
             Bytes top = Rgba({1, 0, 1, 0, 0, 0, 0, 0, 0, 1});
             const Bytes bottom = Rgba({1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
             top.insert(top.end(), bottom.begin(), bottom.end());
             return top;
         }()},
        {"1x1 black", {0, 0, 1, 1, 0x00}, 1, 1, Rgba({0})},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        ASSERT_TRUE(DecodeMemory(c.file, PXFORMAT_WBMP, img)) << img.GetLastError();
        EXPECT_EQ(img.GetWidth(), c.width);
        EXPECT_EQ(img.GetHeight(), c.height);
        EXPECT_EQ(img.GetBpp(), 1u);
        EXPECT_EQ(ToRgba(img), c.rgba);
    }
}

TEST(WbmpCodec, RefusesImplausibleHeaders)
{
    const struct {
        const char *name;
        Bytes file;
    } cases[] = {
        {"empty", {}},
        {"type 1", {1, 0, 1, 1, 0xFF}},
        {"extension header bit", {0, 0x80, 1, 1, 0xFF}},
        {"fixed header not zero", {0, 0x10, 1, 1, 0xFF}},
        {"needless leading byte", {0, 0, 0x80, 0x81, 1, 0, 0}},
        {"six-byte integer", {0, 0, 0x81, 0x81, 0x81, 0x81, 0x81, 0x01, 1, 0}},
        {"2^32 does not fit", {0, 0, 0x90, 0x80, 0x80, 0x80, 0x00, 1, 0}},
        {"zero width", {0, 0, 0, 1}},
        {"zero height", {0, 0, 1, 0}},
        {"header ends in the height", {0, 0, 8, 0x81}},
        {"pixels cut short", {0, 0, 8, 2, 0xFF}},
        {"bytes after the pixels", {0, 0, 8, 1, 0xFF, 0x00}},
        {"2^32-1 square", {0, 0, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        EXPECT_FALSE(DecodeMemory(c.file, PXFORMAT_WBMP, img));
        EXPECT_STRNE(img.GetLastError(), "");
        EXPECT_FALSE(img.IsValid());
    }
}

TEST(WbmpCodec, WriterThresholdsByBrightness)
{
    // Luma 0, 128, 76 and 150: only the grey and the green are white.
    PxImage img;
    ASSERT_TRUE(img.Create(4, 1, 24, 0));
    const uint8_t bgr[] = {0, 0, 0, 128, 128, 128, 0, 0, 255, 0, 255, 0};
    std::memcpy(img.GetBits(0), bgr, sizeof bgr);
    EXPECT_EQ(EncodeToMemory(img, PXFORMAT_WBMP), (Bytes{0, 0, 4, 1, 0x50}));

    // 300 x 1: the width takes two bytes, 2 * 128 + 44.
    ASSERT_TRUE(img.Create(300, 1, 24, 0));
    std::memset(img.GetBits(0), 0, img.GetEffWidth());
    const Bytes out = EncodeToMemory(img, PXFORMAT_WBMP);
    ASSERT_EQ(out.size(), 5u + 38u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), (Bytes{0, 0, 0x82, 0x2C, 1}));
}

TEST(WbmpCodec, RoundTripKeepsEveryPixel)
{
    const struct {
        const char *name;
        uint32_t bpp;
        bool invertedPalette;
    } cases[] = {{"1 bit black/white", 1, false},
                 {"1 bit white/black", 1, true},
                 {"8 bit grey", 8, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img = smallcodecs::Pattern(37, 11, c.bpp);
        if (c.bpp == 8) {
            img.SetGrayPalette();
            // Only black and white survive a one-bit format.
            for (uint32_t y = 0; y < 11; ++y)
                for (uint32_t x = 0; x < 37; ++x)
                    img.SetPixelIndex(int32_t(x), int32_t(y), (x + y) % 3 ? 255 : 0);
        } else {
            img.SetPaletteColor(0, c.invertedPalette ? PxRGBQuad{255, 255, 255, 0} : PxRGBQuad{});
            img.SetPaletteColor(1, c.invertedPalette ? PxRGBQuad{} : PxRGBQuad{255, 255, 255, 0});
        }
        PxImage back = smallcodecs::RoundTrip(img, PXFORMAT_WBMP);
        EXPECT_EQ(ToRgba(back), ToRgba(img));
    }
}

TEST(WbmpCodec, ContentDetectionTellsTheFormatsApart)
{
    PX_REQUIRE_TESTDATA();
    EXPECT_GT(smallcodecs::RefusesOtherFormats({"wbmp"}, PXFORMAT_WBMP), 700);
    EXPECT_EQ(smallcodecs::DetectedAs({"wbmp"}, PXFORMAT_WBMP), 12);
    // Random bytes that start like a type 0 header.
    Bytes noise = {0, 0, 20, 20};
    for (int i = 0; i < 500; ++i)
        noise.push_back(uint8_t(i * 73 + 5));
    PxImage img;
    EXPECT_FALSE(DecodeMemory(noise, PXFORMAT_WBMP, img));
}
} // namespace
