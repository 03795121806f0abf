#include "smallcodecs.h"

namespace {
using namespace codectest;
using Bytes = std::vector<uint8_t>;

// The codec option bit that asks the TGA writer for run-length packets (the image type's RLE
// bit); the reader sets it for run-length files.
constexpr uint32_t kRle = 8;

struct Head {
    uint8_t idLength = 0, cmapType = 0, type = 2;
    uint16_t cmapFirst = 0, cmapLength = 0;
    uint8_t cmapBits = 0;
    uint16_t width = 1, height = 1;
    uint8_t depth = 24, descriptor = 0;
};

Bytes Tga(const Head &h, const Bytes &rest)
{
    Bytes b = {h.idLength, h.cmapType, h.type, uint8_t(h.cmapFirst), uint8_t(h.cmapFirst >> 8),
               uint8_t(h.cmapLength), uint8_t(h.cmapLength >> 8), h.cmapBits, 0, 0, 0, 0,
               uint8_t(h.width), uint8_t(h.width >> 8), uint8_t(h.height), uint8_t(h.height >> 8),
               h.depth, h.descriptor};
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

TEST(TgaCodec, PublicSuite)
{
    PX_REQUIRE_TESTDATA();
    Allowance attributeBit;
    attributeBit.skipPixels = true;
    attributeBit.reason = "Pillow ignores the attribute bit; checked by hand below";
    EXPECT_EQ(CheckSuite("tga", PXFORMAT_TGA, 0, {{"pillow/tga/rgba16.tga", attributeBit}}), 35);
}

TEST(TgaCodec, AttributeBitOfTheSuiteFile)
{
    PX_REQUIRE_TESTDATA();
    // 0x541F: attribute clear, red 21, green 0, blue 31; 0x83EA: attribute set, red 0,
    // green 31, blue 10. 21 -> 173 and 10 -> 82 by repeating the top bits.
    PxImage img;
    ASSERT_TRUE(DecodeFile(TestDataDir() / "pillow/tga/rgba16.tga", PXFORMAT_TGA, img));
    EXPECT_EQ(ToRgba(img), (Bytes{173, 0, 255, 0, 0, 255, 82, 255}));
}

TEST(TgaCodec, RawAndRunLengthFilesOfOnePictureAgree)
{
    PX_REQUIRE_TESTDATA();
    PxImage raw, rle;
    ASSERT_TRUE(DecodeFile(TestDataDir() / "libgd/tga/tga_read_rgb.tga", PXFORMAT_TGA, raw));
    ASSERT_TRUE(DecodeFile(TestDataDir() / "libgd/tga/tga_read_rgb_rle.tga", PXFORMAT_TGA, rle));
    EXPECT_EQ(ToRgba(raw), ToRgba(rle));
    // The compression travels with the image, so saving again keeps it.
    EXPECT_EQ(raw.GetCodecOption(), 0u);
    EXPECT_EQ(rle.GetCodecOption(), kRle);
}

TEST(TgaCodec, ReadsHandMadeFiles)
{
    const Bytes fourPixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}; // BGR, first row in file
    const struct Case {
        const char *name;
        Bytes file;
        Bytes rgba; // top row first
        int32_t transIndex;
    } cases[] = {
        {"bottom-left origin", Tga({.width = 2, .height = 2}, fourPixels),
         {9, 8, 7, 255, 12, 11, 10, 255, 3, 2, 1, 255, 6, 5, 4, 255}, -1},
        {"top-left origin", Tga({.width = 2, .height = 2, .descriptor = 0x20}, fourPixels),
         {3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255, 12, 11, 10, 255}, -1},
        {"top-right origin", Tga({.width = 2, .height = 2, .descriptor = 0x30}, fourPixels),
         {6, 5, 4, 255, 3, 2, 1, 255, 12, 11, 10, 255, 9, 8, 7, 255}, -1},
        // Slots 2 and 3 hold 15-bit red (31 -> 255) and blue (21 -> 173); slot 0 is unset.
        {"image ID, colour map from index 2",
         Tga({.idLength = 3, .cmapType = 1, .type = 1, .cmapFirst = 2, .cmapLength = 2,
              .cmapBits = 15, .width = 1, .height = 3, .depth = 8},
             {'a', 'b', 'c', 0x00, 0x7C, 0x15, 0x00, 2, 0, 3}),
         {0, 0, 173, 255, 0, 0, 0, 255, 255, 0, 0, 255}, -1},
        // A run of three crosses into the top row, then a raw packet of one.
        {"run crossing a row", Tga({.type = 11, .width = 2, .height = 2, .depth = 8},
                                   {0x82, 50, 0x00, 200}),
         {50, 50, 50, 255, 200, 200, 200, 255, 50, 50, 50, 255, 50, 50, 50, 255}, -1},
        {"run longer than the image", Tga({.type = 10, .width = 2}, {0x85, 1, 2, 3}),
         {3, 2, 1, 255, 3, 2, 1, 255}, -1},
        {"grey with alpha", Tga({.type = 3, .width = 2, .depth = 16, .descriptor = 8},
                                {10, 0, 20, 128}),
         {10, 10, 10, 0, 20, 20, 20, 128}, -1},
        {"32 bits, alpha all zero", Tga({.depth = 32, .descriptor = 8}, {1, 2, 3, 0}),
         {3, 2, 1, 255}, -1},
        {"32 bits, alpha without descriptor bits",
         Tga({.width = 2, .depth = 32}, {1, 2, 3, 128, 4, 5, 6, 0}),
         {3, 2, 1, 128, 6, 5, 4, 0}, -1},
        // 0x801F: attribute set, blue 31; 0x03E0: attribute clear, green 31.
        {"16 bits with attribute bit", Tga({.width = 2, .depth = 16, .descriptor = 1},
                                           {0x1F, 0x80, 0xE0, 0x03}),
         {0, 0, 255, 255, 0, 255, 0, 0}, -1},
        {"16 bits, attribute bits all clear", Tga({.depth = 16, .descriptor = 1}, {0x1F, 0x00}),
         {0, 0, 255, 255}, -1},
        {"32-bit colour map with one clear entry",
         Tga({.cmapType = 1, .type = 1, .cmapLength = 2, .cmapBits = 32, .height = 2, .depth = 8,
              .descriptor = 8},
             {0, 0, 255, 255, 0, 255, 0, 0, 0, 1}),
         {0, 255, 0, 0, 255, 0, 0, 255}, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        ASSERT_TRUE(DecodeMemory(c.file, PXFORMAT_TGA, img)) << img.GetLastError();
        EXPECT_EQ(ToRgba(img), c.rgba);
        EXPECT_EQ(img.GetTransIndex(), c.transIndex);
    }
}

TEST(TgaCodec, RefusesImplausibleAndBrokenFiles)
{
    const struct {
        const char *name;
        Bytes file;
    } cases[] = {
        {"header only", Tga({}, {})},
        {"short header", Bytes(17, 0)},
        {"no image data type", Tga({.type = 0}, {1, 2, 3})},
        {"unknown type", Tga({.type = 4}, {1, 2, 3})},
        {"colour map type 2", Tga({.cmapType = 2}, {1, 2, 3})},
        {"8-bit true colour", Tga({.depth = 8}, {1})},
        {"colour map entries of 8 bits",
         Tga({.cmapType = 1, .type = 1, .cmapLength = 1, .cmapBits = 8, .depth = 8}, {0, 0})},
        {"colour-mapped without a map", Tga({.type = 1, .depth = 8}, {0})},
        {"16-bit indices", Tga({.cmapType = 1, .type = 1, .cmapLength = 1, .cmapBits = 24,
                                .depth = 16},
                               {0, 0, 0, 0, 0})},
        {"interleaved rows", Tga({.descriptor = 0x40}, {1, 2, 3})},
        {"zero width", Tga({.width = 0}, {1, 2, 3})},
        {"raw pixels one byte short", Tga({.width = 2}, {1, 2, 3, 4, 5})},
        {"colour map beyond the file",
         Tga({.cmapType = 1, .type = 1, .cmapLength = 200, .cmapBits = 24, .depth = 8}, {0})},
        {"run-length data ends early", Tga({.type = 10, .width = 2, .height = 2}, {0x81, 1, 2, 3})},
        {"raw packet beyond the file", Tga({.type = 10, .width = 2}, {0x01, 1, 2, 3, 4})},
        {"60000 x 60000 from 40 bytes", Tga({.type = 10, .width = 60000, .height = 60000},
                                            Bytes(40, 0x80))},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        EXPECT_FALSE(DecodeMemory(c.file, PXFORMAT_TGA, img));
        EXPECT_STRNE(img.GetLastError(), "");
    }
}

TEST(TgaCodec, RoundTripsThroughBothWritersAndPillow)
{
    const struct {
        const char *name;
        uint32_t bpp;
        bool grey, alpha, trans;
    } cases[] = {
        {"1 bit", 1, false, false, false},   {"4 bits", 4, false, false, false},
        {"8 bits", 8, false, false, false},  {"8-bit grey", 8, true, false, false},
        {"8 bits, transparent index", 8, false, false, true},
        {"24 bits", 24, false, false, false}, {"24 bits with alpha", 24, false, true, false},
        {"4 bits with alpha", 4, false, true, false},
    };
    std::vector<smallcodecs::Written> written;
    for (const auto &c : cases) {
        for (const uint32_t option : {0u, kRle}) {
            const std::string name = std::string(c.name) + (option ? ", run-length" : ", raw");
            SCOPED_TRACE(name);
            PxImage img = smallcodecs::Pattern(45, 13, c.bpp);
            if (c.grey)
                img.SetGrayPalette();
            if (c.alpha)
                smallcodecs::AddAlpha(img);
            if (c.trans)
                img.SetTransIndex(7);
            img.SetCodecOption(option);
            Bytes bytes;
            PxImage back = smallcodecs::RoundTrip(img, PXFORMAT_TGA, &bytes);
            EXPECT_EQ(ToRgba(back), ToRgba(img));
            EXPECT_EQ(back.GetCodecOption(), option);
            EXPECT_EQ(back.GetTransIndex(), -1);
            if (c.bpp == 8 && !c.alpha && !c.trans) {
                EXPECT_EQ(back.GetBpp(), 8u);
            }
            written.push_back({name, bytes, ToRgba(img)});
        }
    }
    smallcodecs::ExpectPillowAgrees(written, "tga");
}

TEST(TgaCodec, RunLengthWriterCompressesFlatAreas)
{
    PxImage img;
    ASSERT_TRUE(img.Create(300, 4, 24, 0));
    for (uint32_t y = 0; y < 4; ++y)
        std::memset(img.GetBits(y), 0x40, img.GetEffWidth());
    img.SetCodecOption(kRle);
    Bytes bytes;
    PxImage back = smallcodecs::RoundTrip(img, PXFORMAT_TGA, &bytes);
    // Per row: a run of 128, a run of 128 and a run of 44, four bytes each.
    EXPECT_EQ(bytes.size(), 18u + 4 * 3 * 4 + 26);
    EXPECT_EQ(ToRgba(back), ToRgba(img));
}

TEST(TgaCodec, ContentDetectionTellsTheFormatsApart)
{
    PX_REQUIRE_TESTDATA();
    EXPECT_GT(smallcodecs::RefusesOtherFormats({"tga"}, PXFORMAT_TGA), 700);
    EXPECT_EQ(smallcodecs::DetectedAs({"tga"}, PXFORMAT_TGA), 35);
}
} // namespace
