#include "smallcodecs.h"

namespace {
using namespace codectest;
using Bytes = std::vector<uint8_t>;

struct Head {
    uint8_t version = 5, encoding = 1, bits = 8;
    uint16_t xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    uint8_t planes = 1;
    uint16_t bytesPerLine = 2;
    std::vector<std::array<uint8_t, 3>> palette = {}; // header palette, RGB
};

Bytes Pcx(const Head &h, const Bytes &data)
{
    Bytes b(128, 0);
    b[0] = 10, b[1] = h.version, b[2] = h.encoding, b[3] = h.bits;
    const uint16_t fields[] = {h.xmin, h.ymin, h.xmax, h.ymax, 72, 72};
    for (int i = 0; i < 6; ++i)
        b[4 + 2 * i] = uint8_t(fields[i]), b[5 + 2 * i] = uint8_t(fields[i] >> 8);
    for (size_t i = 0; i < h.palette.size(); ++i)
        std::copy(h.palette[i].begin(), h.palette[i].end(), b.begin() + 16 + 3 * long(i));
    b[65] = h.planes;
    b[66] = uint8_t(h.bytesPerLine), b[67] = uint8_t(h.bytesPerLine >> 8);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// The trailing 256-colour palette with entry i = (i, 2i, 255 - i).
Bytes VgaPalette()
{
    Bytes p = {0x0C};
    for (int i = 0; i < 256; ++i)
        p.insert(p.end(), {uint8_t(i), uint8_t(2 * i), uint8_t(255 - i)});
    return p;
}

Bytes Plus(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(PcxCodec, PublicSuite)
{
    PX_REQUIRE_TESTDATA();
    // Its header palette is empty; the reference decoders each put a different default in
    // its place (the default this reader uses is checked in ReadsHandMadeFiles).
    Allowance emptyPalette;
    emptyPalette.skipPixels = true;
    emptyPalette.reason = "no agreed colours for an empty 16-colour palette";
    EXPECT_EQ(CheckSuite("pcx", PXFORMAT_PCX, 0, {{"pillow/pcx/p_4_planes.pcx", emptyPalette}}),
              11);
}

TEST(PcxCodec, BrokenSuiteFilesSayCorruptedPcx)
{
    PX_REQUIRE_TESTDATA();
    for (const char *name : {"bpl_too_small", "header_only", "huge_dims", "no_vga_palette",
                             "truncated_half", "xmax_lt_xmin"}) {
        SCOPED_TRACE(name);
        PxImage img;
        const auto path = TestDataDir() / "corrupt/generated/pcx" / (std::string(name) + ".pcx");
        EXPECT_FALSE(DecodeFile(path, PXFORMAT_PCX, img));
        EXPECT_EQ(std::string(img.GetLastError()).rfind("corrupted PCX", 0), 0u)
            << img.GetLastError();
    }
}

TEST(PcxCodec, ReadsHandMadeFiles)
{
    const struct Case {
        const char *name;
        Bytes file;
        Bytes rgba; // top row first
    } cases[] = {
        // A run of three 0xFF crosses from the first line into the second.
        {"1 bit, run crossing a line", Pcx({.bits = 1, .xmax = 9, .ymax = 1}, {0xC3, 0xFF, 0x00}),
         [] {
             Bytes out;
             for (int i = 0; i < 20; ++i) {
                 const uint8_t v = i < 18 ? 255 : 0;
                 out.insert(out.end(), {v, v, v, 255});
             }
             return out;
         }()},
        // Index 5 = planes 0 and 2, index 10 = planes 1 and 3.
        {"four 1-bit planes",
         Pcx({.bits = 1, .xmax = 1, .planes = 4,
              .palette = {{}, {}, {}, {}, {}, {10, 20, 30}, {}, {}, {}, {}, {40, 50, 60}}},
             {0x80, 0, 0x40, 0, 0x80, 0, 0x40, 0}),
         {10, 20, 30, 255, 40, 50, 60, 255}},
        // Index 3 (planes 0 and 1) of the standard 16-colour palette is dark cyan.
        {"four planes, empty header palette",
         Pcx({.bits = 1, .planes = 4}, {0x80, 0, 0x80, 0, 0, 0, 0, 0}), {0, 170, 170, 255}},
        {"packed 4 bits",
         Pcx({.bits = 4, .xmax = 2, .palette = {{}, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}}},
             {0x12, 0x30}),
         {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255}},
        {"2-bit CGA",
         Pcx({.bits = 2, .xmax = 3, .palette = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}}},
             {0x1B, 0x00}),
         {1, 1, 1, 255, 2, 2, 2, 255, 3, 3, 3, 255, 4, 4, 4, 255}},
        {"8 bits uncompressed", Plus(Pcx({.encoding = 0, .xmax = 1}, {3, 7}), VgaPalette()),
         {3, 6, 252, 255, 7, 14, 248, 255}},
        {"run of count zero", Plus(Pcx({.xmax = 0}, {0xC0, 0x55, 9, 0}), VgaPalette()),
         {9, 18, 246, 255}},
        {"24 bits in three planes", Pcx({.xmax = 1, .planes = 3}, {10, 20, 30, 40, 50, 60}),
         {10, 30, 50, 255, 20, 40, 60, 255}},
        {"colour and alpha in four planes",
         Pcx({.xmax = 1, .planes = 4}, {10, 20, 30, 40, 50, 60, 0, 0xC1, 0xC8}),
         {10, 30, 50, 0, 20, 40, 60, 0xC8}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        ASSERT_TRUE(DecodeMemory(c.file, PXFORMAT_PCX, img)) << img.GetLastError();
        EXPECT_EQ(ToRgba(img), c.rgba);
    }
}

TEST(PcxCodec, RefusesBrokenHeadersAndData)
{
    Bytes notPcx = Pcx({.xmax = 1}, {1, 2});
    notPcx[0] = 11;
    const struct {
        const char *name;
        Bytes file;
    } cases[] = {
        {"manufacturer 11", notPcx},
        {"version 1", Pcx({.version = 1, .xmax = 1, .planes = 3}, {0, 0, 0, 0, 0, 0})},
        {"encoding 2", Pcx({.encoding = 2, .xmax = 1, .planes = 3}, {0, 0, 0, 0, 0, 0})},
        {"Xmax below Xmin", Pcx({.xmin = 5, .xmax = 4, .planes = 3}, {0, 0, 0, 0, 0, 0})},
        {"Ymax below Ymin", Pcx({.ymin = 5, .ymax = 4, .planes = 3}, {0, 0, 0, 0, 0, 0})},
        {"BytesPerLine too small", Pcx({.xmax = 2, .planes = 3}, Bytes(9, 0))},
        {"two planes of 8 bits", Pcx({.xmax = 1, .planes = 2}, Bytes(4, 0))},
        {"VGA palette missing", Pcx({.xmax = 1}, Bytes(800, 0))},
        {"shorter than a header",
         [] {
             Bytes b = Pcx({.xmax = 1, .planes = 3}, {});
             b.resize(100);
             return b;
         }()},
        {"data ends early", Pcx({.xmax = 1, .ymax = 1, .planes = 3}, {0xC6, 1, 0xC5})},
        {"header only", Pcx({.xmax = 1, .planes = 3}, {})},
        {"30000 x 30000 from 1 KB",
         Pcx({.bits = 1, .xmax = 29999, .ymax = 29999, .bytesPerLine = 3750}, Bytes(1024, 0xFF))},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        EXPECT_FALSE(DecodeMemory(c.file, PXFORMAT_PCX, img));
        EXPECT_STRNE(img.GetLastError(), "");
    }
}

TEST(PcxCodec, RoundTripsThroughTheWriterAndPillow)
{
    const struct {
        const char *name;
        uint32_t bpp, width;
        bool blackAndWhite;
    } cases[] = {
        {"1 bit black and white", 1, 61, true}, {"1 bit two colours", 1, 16, false},
        {"4 bits", 4, 27, false},               {"8 bits, odd width", 8, 127, false},
        {"24 bits, odd width", 24, 33, false},
    };
    std::vector<smallcodecs::Written> written;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img = smallcodecs::Pattern(c.width, 9, c.bpp);
        if (c.blackAndWhite) {
            img.SetPaletteColor(0, PxRGBQuad{});
            img.SetPaletteColor(1, PxRGBQuad{255, 255, 255, 0});
        }
        Bytes bytes;
        PxImage back = smallcodecs::RoundTrip(img, PXFORMAT_PCX, &bytes);
        EXPECT_EQ(back.GetBpp(), c.bpp);
        EXPECT_EQ(ToRgba(back), ToRgba(img));
        // Pillow reads every one-bit file as black and white.
        if (c.bpp > 1 || c.blackAndWhite)
            written.push_back({c.name, bytes, ToRgba(img)});
    }
    smallcodecs::ExpectPillowAgrees(written, "pcx");
}

TEST(PcxCodec, WriterRunsNeverCrossLinesAndEscapeHighBytes)
{
    // Two 8-bit rows of 3 pixels (BytesPerLine 4): 0xC5 alone needs a run of one, the padding
    // byte joins the zeros of its own line only.
    PxImage img;
    ASSERT_TRUE(img.Create(3, 2, 8, 0));
    const uint8_t top[] = {0xC5, 0, 0}, bottom[] = {7, 7, 7};
    std::memcpy(img.GetBits(1), top, 3);
    std::memcpy(img.GetBits(0), bottom, 3);
    const Bytes bytes = EncodeToMemory(img, PXFORMAT_PCX);
    ASSERT_EQ(bytes.size(), 128u + 4 + 3 + 769);
    EXPECT_EQ(Bytes(bytes.begin() + 128, bytes.begin() + 135),
              (Bytes{0xC1, 0xC5, 0xC3, 0x00, 0xC3, 0x07, 0x00}));
}

TEST(PcxCodec, ContentDetectionTellsTheFormatsApart)
{
    PX_REQUIRE_TESTDATA();
    EXPECT_GT(smallcodecs::RefusesOtherFormats({"pcx"}, PXFORMAT_PCX), 700);
    EXPECT_EQ(smallcodecs::DetectedAs({"pcx"}, PXFORMAT_PCX), 11);
}
} // namespace
