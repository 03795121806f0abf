#include "engine/pxfile.h"
#include "engine/pximage.h"
#include "tests/support/testsupport.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <sstream>

namespace {

// --- helpers -------------------------------------------------------------------------------

// RGBA rows top first, alpha 255 without an alpha plane: the layout reference.tsv hashes.
// Written from the stored layout, not through the engine's pixel accessors.
std::vector<uint8_t> ToRgba(const PxImage &img)
{
    const uint32_t w = img.GetWidth(), h = img.GetHeight(), bpp = img.GetBpp();
    const PxRGBQuad *pal = img.GetPalette();
    std::vector<uint8_t> out;
    out.reserve(size_t(w) * h * 4);
    for (uint32_t top = 0; top < h; ++top) {
        const uint32_t y = h - 1 - top;
        const uint8_t *row = img.GetBits(y);
        for (uint32_t x = 0; x < w; ++x) {
            PxRGBQuad c;
            if (bpp == 24) {
                c.blue = row[3 * x], c.green = row[3 * x + 1], c.red = row[3 * x + 2];
            } else {
                uint32_t index = 0;
                if (bpp == 8)
                    index = row[x];
                else if (bpp == 4)
                    index = (row[x / 2] >> ((x & 1) ? 0 : 4)) & 15;
                else
                    index = (row[x / 8] >> (7 - (x & 7))) & 1;
                c = index < img.GetNumColors() ? pal[index] : PxRGBQuad{};
            }
            const uint8_t a = img.AlphaIsValid() ? *img.AlphaGetPointer(int32_t(x), int32_t(y)) : 255;
            out.insert(out.end(), {c.red, c.green, c.blue, a});
        }
    }
    return out;
}

std::vector<uint8_t> Visible(std::vector<uint8_t> rgba)
{
    for (size_t i = 0; i + 3 < rgba.size(); i += 4)
        if (rgba[i + 3] == 0)
            rgba[i] = rgba[i + 1] = rgba[i + 2] = 0;
    return rgba;
}

uint32_t IndexAt(const PxImage &img, uint32_t x, uint32_t y)
{
    const uint8_t *row = img.GetBits(y);
    switch (img.GetBpp()) {
    case 8: return row[x];
    case 4: return (row[x / 2] >> ((x & 1) ? 0 : 4)) & 15;
    default: return (row[x / 8] >> (7 - (x & 7))) & 1;
    }
}

void Put16(std::vector<uint8_t> &v, uint32_t x)
{
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}

void Put32(std::vector<uint8_t> &v, uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v.push_back(uint8_t(x >> (8 * i)));
}

// A hand-built BMP file. Masks go after a 40-byte header, inside a larger one.
struct BmpLayout {
    uint32_t headerSize = 40;
    int32_t width = 1;
    int32_t height = 1;
    uint16_t planes = 1;
    uint16_t bpp = 24;
    uint32_t compression = 0;
    uint32_t clrUsed = 0;
    int32_t ppm = 0;
    std::vector<uint32_t> masks;
    std::vector<PxRGBQuad> palette;
    std::vector<uint8_t> pixels;
    int64_t offBitsOverride = -1;
};

std::vector<uint8_t> BuildBmp(const BmpLayout &s)
{
    std::vector<uint8_t> info;
    Put32(info, s.headerSize);
    if (s.headerSize == 12) {
        Put16(info, uint32_t(s.width));
        Put16(info, uint32_t(s.height));
        Put16(info, s.planes);
        Put16(info, s.bpp);
    } else {
        Put32(info, uint32_t(s.width));
        Put32(info, uint32_t(s.height));
        Put16(info, s.planes);
        Put16(info, s.bpp);
        Put32(info, s.compression);
        Put32(info, uint32_t(s.pixels.size()));
        Put32(info, uint32_t(s.ppm));
        Put32(info, uint32_t(s.ppm));
        Put32(info, s.clrUsed);
        Put32(info, 0);
        if (s.headerSize > 40)
            for (uint32_t m : s.masks)
                Put32(info, m);
        info.resize(s.headerSize);
    }
    if (s.headerSize == 40)
        for (uint32_t m : s.masks)
            Put32(info, m);
    for (const auto &c : s.palette) {
        info.insert(info.end(), {c.blue, c.green, c.red});
        if (s.headerSize != 12)
            info.push_back(0);
    }
    std::vector<uint8_t> file = {'B', 'M'};
    const uint32_t offBits = 14 + uint32_t(info.size());
    Put32(file, uint32_t(14 + info.size() + s.pixels.size()));
    Put32(file, 0);
    Put32(file, s.offBitsOverride >= 0 ? uint32_t(s.offBitsOverride) : offBits);
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), s.pixels.begin(), s.pixels.end());
    return file;
}

bool DecodeBytes(PxImage &img, const std::vector<uint8_t> &bytes)
{
    return img.Decode(bytes.data(), bytes.size(), PXFORMAT_BMP);
}

std::vector<uint8_t> EncodeBmp(PxImage &img)
{
    PxMemFile f;
    EXPECT_TRUE(img.Encode(f, PXFORMAT_BMP)) << img.GetLastError();
    return f.Buffer();
}

// Hashes that count as right for a file the reference decoders disagree on: each decoder's
// own result and the suite's own expected rendering.
std::map<std::string, std::vector<std::string>> AcceptableHashes()
{
    auto split = [](const std::string &l, char sep) {
        std::vector<std::string> cells;
        std::stringstream ss(l);
        std::string cell;
        while (std::getline(ss, cell, sep))
            cells.push_back(cell);
        return cells;
    };
    std::ifstream in(TestDataDir() / "reference.tsv");
    std::string line;
    if (!std::getline(in, line))
        return {};
    const auto header = split(line, '\t');
    auto column = [&](const char *name) {
        const auto it = std::find(header.begin(), header.end(), name);
        return it == header.end() ? -1 : int(it - header.begin());
    };
    const int rgba = column("rgba_sha256"), rendering = column("expected_rendering");
    const int own[] = {column("pillow_rgba_sha256"), column("magick_rgba_sha256"),
                       column("other_rgba_sha256")};
    std::map<std::string, std::vector<std::string>> rows;
    while (std::getline(in, line)) {
        auto cells = split(line, '\t');
        cells.resize(header.size());
        rows[cells[0]] = cells;
    }
    std::map<std::string, std::vector<std::string>> result;
    for (const auto &[path, cells] : rows) {
        auto &hashes = result[path];
        for (int c : own)
            if (c >= 0 && !cells[c].empty())
                hashes.push_back(cells[c]);
        if (rendering < 0)
            continue;
        for (std::string r : split(cells[rendering], '|')) {
            r.erase(0, r.find_first_not_of(' '));
            r.erase(r.find_last_not_of(' ') + 1);
            const auto it = rows.find(r);
            if (it != rows.end() && !it->second[rgba].empty())
                hashes.push_back(it->second[rgba]);
        }
    }
    return result;
}

// --- writer --------------------------------------------------------------------------------

TEST(BmpWriterTest, FileHeaderAndBlockBytes)
{
    const struct {
        uint32_t bpp;
        std::vector<uint8_t> head; // file header and information header, hand-computed
    } cases[] = {
        {24, {'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,        // file header
              40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0,       // size, w, h, planes, bpp
              0, 0, 0, 0, 24, 0, 0, 0, 0xC4, 0x0E, 0, 0, 0xC4, 0x0E, 0, 0, // 3780 ppm
              0, 0, 0, 0, 0, 0, 0, 0}},
        {1, {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0,
             40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 1, 0,
             0, 0, 0, 0, 8, 0, 0, 0, 0xC4, 0x0E, 0, 0, 0xC4, 0x0E, 0, 0,
             2, 0, 0, 0, 0, 0, 0, 0}},
        {8, {'B', 'M', 0x3E, 0x04, 0, 0, 0, 0, 0, 0, 0x36, 0x04, 0, 0, // 1086 and 1078
             40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 8, 0,
             0, 0, 0, 0, 8, 0, 0, 0, 0xC4, 0x0E, 0, 0, 0xC4, 0x0E, 0, 0,
             0, 1, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bpp);
        PxImage img;
        ASSERT_NE(img.Create(3, 2, c.bpp), nullptr);
        for (uint32_t y = 0; y < 2; ++y)
            std::memset(img.GetBits(y), int(0x11 * (y + 1)), img.GetEffWidth());
        const auto bytes = EncodeBmp(img);
        ASSERT_EQ(bytes.size(), c.head.size() - 54 + 14 + img.GetSize());
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 54), c.head);
        // After the headers: the palette and the rows exactly as the block holds them.
        EXPECT_EQ(0, std::memcmp(bytes.data() + 54, static_cast<uint8_t *>(img.GetDIB()) + 40,
                                 img.GetSize() - 40));
    }
}

TEST(BmpRoundTripTest, EveryDepthComesBackByteForByte)
{
    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
        SCOPED_TRACE(bpp);
        PxImage img;
        ASSERT_NE(img.Create(13, 7, bpp), nullptr);
        for (uint32_t i = 0; i < img.GetNumColors(); ++i)
            img.SetPaletteColor(uint8_t(i), uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 7));
        for (uint32_t y = 0; y < 7; ++y)
            for (uint32_t b = 0; b < img.GetEffWidth(); ++b)
                img.GetBits(y)[b] = uint8_t(y * 37 + b * 11 + 5);
        const auto bytes = EncodeBmp(img);
        PxImage back;
        ASSERT_TRUE(DecodeBytes(back, bytes)) << back.GetLastError();
        ASSERT_EQ(back.GetBpp(), bpp);
        ASSERT_EQ(back.GetSize(), img.GetSize());
        EXPECT_EQ(0, std::memcmp(back.GetDIB(), img.GetDIB(), img.GetSize()));
        EXPECT_EQ(back.GetXDPI(), 96);
    }
}

// --- reader on hand-built files --------------------------------------------------------------

TEST(BmpReaderTest, Rle8RunsAbsoluteDeltaAndOverrun)
{
    BmpLayout s;
    s.width = 4, s.height = 3, s.bpp = 8, s.compression = 1;
    s.palette.resize(16);
    s.pixels = {3, 5,                // run of three 5s on the bottom row
                0, 0,                // end of line
                0, 3, 1, 2, 3, 0,    // absolute 1 2 3, padded to a word
                0, 0,                // end of line
                0, 2, 1, 0,          // delta one to the right
                2, 7,                // 7 7
                6, 9,                // one 9 fits, five fall off the row
                0, 1};               // end of bitmap
    PxImage img;
    ASSERT_TRUE(DecodeBytes(img, BuildBmp(s))) << img.GetLastError();
    ASSERT_EQ(img.GetBpp(), 8u);
    const uint32_t expected[3][4] = {{5, 5, 5, 0}, {1, 2, 3, 0}, {0, 7, 7, 9}};
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 4; ++x)
            EXPECT_EQ(IndexAt(img, x, y), expected[y][x]) << x << "," << y;
}

TEST(BmpReaderTest, Rle4AlternatesNibbles)
{
    BmpLayout s;
    s.width = 5, s.height = 2, s.bpp = 4, s.compression = 2;
    s.palette.resize(16);
    s.pixels = {5, 0x12,          // 1 2 1 2 1
                0, 0,             // end of line
                0, 3, 0x34, 0x50, // absolute 3 4 5 (two bytes, already a word)
                4, 0xF0,          // F 0, then two dropped past the row end
                0, 1};
    PxImage img;
    ASSERT_TRUE(DecodeBytes(img, BuildBmp(s))) << img.GetLastError();
    const uint32_t expected[2][5] = {{1, 2, 1, 2, 1}, {3, 4, 5, 15, 0}};
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(IndexAt(img, x, y), expected[y][x]) << x << "," << y;
}

TEST(BmpReaderTest, RleWritesOutsideTheImageAreDropped)
{
    BmpLayout s;
    s.width = 2, s.height = 2, s.bpp = 8, s.compression = 1;
    s.palette.resize(4);
    s.pixels = {1, 3,          // (0,0) = 3
                0, 2, 255, 0,  // far past the right edge
                9, 3,          // dropped
                0, 0,          // next row
                2, 1,          // (0,1) (1,1) = 1
                0, 2, 0, 255,  // far above the top
                5, 2,          // dropped
                0, 1};
    PxImage img;
    ASSERT_TRUE(DecodeBytes(img, BuildBmp(s))) << img.GetLastError();
    const uint32_t expected[2][2] = {{3, 0}, {1, 1}};
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 2; ++x)
            EXPECT_EQ(IndexAt(img, x, y), expected[y][x]) << x << "," << y;
}

TEST(BmpReaderTest, TopDownRowsAreStoredBottomUp)
{
    BmpLayout s;
    s.width = 1, s.height = -2, s.bpp = 24;
    s.pixels = {1, 2, 3, 0, 4, 5, 6, 0}; // top row first
    PxImage img;
    ASSERT_TRUE(DecodeBytes(img, BuildBmp(s))) << img.GetLastError();
    EXPECT_EQ(img.GetHeight(), 2u);
    EXPECT_EQ(img.GetBits(1)[0], 1);
    EXPECT_EQ(img.GetBits(0)[0], 4);
}

TEST(BmpReaderTest, SixteenAndThirtyTwoBitPixels)
{
    // Expected channels: value x 255 / max, rounded (5 bits: 16 -> 131.6 -> 132).
    struct Case {
        const char *name;
        BmpLayout layout;
        std::vector<uint8_t> rgba; // two pixels
    };
    std::vector<Case> cases;
    {
        BmpLayout s; // 5-5-5 without bit fields; the top bit is unused
        s.width = 2, s.bpp = 16;
        s.pixels = {0x00, 0xFC, 0x10, 0x00}; // 0xFC00: red 31 + top bit, 0x0010: blue 16
        cases.push_back({"555", s, {255, 0, 0, 255, 0, 0, 132, 255}});
    }
    {
        BmpLayout s;
        s.width = 2, s.bpp = 16, s.compression = 3, s.masks = {0xF800, 0x07E0, 0x001F};
        s.pixels = {0xE0, 0x07, 0x00, 0x84}; // green 63; red 16 + green 32
        cases.push_back({"565", s, {0, 255, 0, 255, 132, 130, 0, 255}});
    }
    {
        BmpLayout s; // plain 32-bit: the fourth byte is no alpha
        s.width = 2, s.bpp = 32;
        s.pixels = {10, 20, 30, 0x80, 40, 50, 60, 0};
        cases.push_back({"bgrx", s, {30, 20, 10, 255, 60, 50, 40, 255}});
    }
    {
        BmpLayout s; // bit fields with an alpha mask: alpha as given, zero included
        s.headerSize = 124, s.width = 2, s.bpp = 32, s.compression = 3;
        s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
        s.pixels = {10, 20, 30, 0x80, 40, 50, 60, 0};
        cases.push_back({"v5 bit fields alpha", s, {30, 20, 10, 128, 60, 50, 40, 0}});
        s.pixels = {10, 20, 30, 0, 40, 50, 60, 0};
        cases.push_back({"v5 bit fields zero alpha", s, {30, 20, 10, 0, 60, 50, 40, 0}});
    }
    {
        BmpLayout s; // plain rows, but the V5 header names the fourth byte alpha
        s.headerSize = 124, s.width = 2, s.bpp = 32, s.compression = 0;
        s.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
        s.pixels = {10, 20, 30, 0x80, 40, 50, 60, 0};
        cases.push_back({"v5 plain alpha", s, {30, 20, 10, 128, 60, 50, 40, 0}});
        // ... zero everywhere: a writer that never filled it in, not an invisible picture
        s.pixels = {10, 20, 30, 0, 40, 50, 60, 0};
        cases.push_back({"v5 plain zero alpha", s, {30, 20, 10, 255, 60, 50, 40, 255}});
    }
    {
        BmpLayout s; // alpha bit fields after a 40-byte header, 4-4-4-4
        s.width = 2, s.bpp = 16, s.compression = 6, s.masks = {0x0F00, 0x00F0, 0x000F, 0xF000};
        s.pixels = {0x00, 0xFF, 0x5A, 0x00}; // opaque red; transparent with green 5, blue 10
        s.pixels.resize(8);
        cases.push_back({"alpha bit fields", s, {255, 0, 0, 255, 0, 85, 170, 0}});
    }
    {
        BmpLayout s; // 10-bit channels scale down
        s.headerSize = 56, s.width = 2, s.bpp = 32, s.compression = 3;
        s.masks = {0x3FF00000, 0x000FFC00, 0x000003FF, 0};
        s.pixels = {0xFF, 0x03, 0, 0, 0, 0, 0xF0, 0x3F}; // blue 1023; red 1023
        cases.push_back({"10-bit", s, {0, 0, 255, 255, 255, 0, 0, 255}});
    }
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        ASSERT_TRUE(DecodeBytes(img, BuildBmp(c.layout))) << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), 24u);
        EXPECT_EQ(ToRgba(img), c.rgba);
    }
}

TEST(BmpReaderTest, Os2CoreHeaderWithThreeBytePalette)
{
    BmpLayout s;
    s.headerSize = 12, s.width = 2, s.height = 1, s.bpp = 1;
    s.palette = {PxRGBQuad{1, 2, 3, 0}, PxRGBQuad{4, 5, 6, 0}};
    s.pixels = {0x40, 0, 0, 0};
    PxImage img;
    ASSERT_TRUE(DecodeBytes(img, BuildBmp(s))) << img.GetLastError();
    EXPECT_EQ(ToRgba(img), (std::vector<uint8_t>{3, 2, 1, 255, 6, 5, 4, 255}));
}

TEST(BmpReaderTest, PaletteAndDepthRules)
{
    {
        // Two-bit pixels become a four-bit image with the same colours.
        BmpLayout s;
        s.width = 4, s.bpp = 2, s.clrUsed = 4;
        s.palette = {{0, 0, 0, 0}, {0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}};
        s.pixels = {0x1B, 0, 0, 0}; // 0 1 2 3
        PxImage img;
        ASSERT_TRUE(DecodeBytes(img, BuildBmp(s))) << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), 4u);
        EXPECT_EQ(ToRgba(img), (std::vector<uint8_t>{0, 0, 0, 255, 255, 0, 0, 255, 0, 255, 0,
                                                     255, 0, 0, 255, 255}));
    }
    {
        // A colour count larger than the depth allows is clamped, not trusted.
        BmpLayout s;
        s.width = 1, s.bpp = 1, s.clrUsed = 305402420;
        s.palette = {{9, 9, 9, 0}, {7, 7, 7, 0}};
        s.pixels = {0x80, 0, 0, 0};
        PxImage img;
        ASSERT_TRUE(DecodeBytes(img, BuildBmp(s))) << img.GetLastError();
        EXPECT_EQ(ToRgba(img), (std::vector<uint8_t>{7, 7, 7, 255}));
    }
    {
        // Pixels per metre become dots per inch: 2835 -> 72.
        BmpLayout s;
        s.width = 1, s.ppm = 2835;
        s.pixels = {0, 0, 0, 0};
        PxImage img;
        ASSERT_TRUE(DecodeBytes(img, BuildBmp(s)));
        EXPECT_EQ(img.GetXDPI(), 72);
        EXPECT_EQ(img.GetYDPI(), 72);
    }
}

TEST(BmpReaderTest, HostileHeadersFailWithTheirNumbers)
{
    struct Case {
        const char *name;
        BmpLayout layout;
        const char *text;
    };
    std::vector<Case> cases;
    BmpLayout base;
    base.width = 10, base.height = 10, base.bpp = 24;
    base.pixels.resize(320);
    auto with = [&](auto change) {
        BmpLayout s = base;
        change(s);
        return s;
    };
    cases.push_back({"width 0", with([](BmpLayout &s) { s.width = 0; }), "BMP width 0 is invalid"});
    cases.push_back({"negative width", with([](BmpLayout &s) { s.width = -127; }),
                     "BMP width -127 is invalid"});
    cases.push_back({"height 0", with([](BmpLayout &s) { s.height = 0; }), "BMP height 0 is invalid"});
    cases.push_back({"planes", with([](BmpLayout &s) { s.planes = 3; }),
                     "BMP planes field is 3, must be 1"});
    cases.push_back({"bit count", with([](BmpLayout &s) { s.bpp = 30000; }),
                     "BMP bit count 30000 is not supported"});
    cases.push_back({"header size", with([](BmpLayout &s) { s.headerSize = 66; }),
                     "BMP information header size 66 is not supported"});
    cases.push_back({"jpeg inside", with([](BmpLayout &s) { s.compression = 4; }),
                     "BMP with an embedded JPEG or PNG stream is not supported"});
    cases.push_back({"rle8 at 4 bits", with([](BmpLayout &s) { s.compression = 1, s.bpp = 4; }),
                     "BMP RLE8 needs 8 bits per pixel, header says 4"});
    cases.push_back({"rle top-down",
                     with([](BmpLayout &s) { s.compression = 1, s.bpp = 8, s.height = -10; }),
                     "BMP RLE image can't be top-down"});
    cases.push_back({"huge", with([](BmpLayout &s) { s.width = 3000000, s.height = 2000000; }),
                     "PXIMAGE_MAX_MEMORY exceeded: BMP image of 3000000 x 2000000 pixels at 24 bpp"});
    cases.push_back({"short pixels", with([](BmpLayout &s) { s.height = 1000; }),
                     "BMP header claims 32000 bytes of pixels, file has 320"});
    cases.push_back({"offset past the end", with([](BmpLayout &s) { s.offBitsOverride = 100000; }),
                     "BMP pixel data offset 100000 is beyond the end of the file (374 bytes)"});
    cases.push_back({"rle bomb",
                     with([](BmpLayout &s) {
                         s.compression = 1, s.bpp = 8, s.width = 20000, s.height = 20000;
                         s.pixels = {0, 1};
                     }),
                     "BMP RLE data of 2 bytes can't describe 20000 x 20000 pixels"});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        EXPECT_FALSE(DecodeBytes(img, BuildBmp(c.layout)));
        EXPECT_STREQ(img.GetLastError(), c.text);
        EXPECT_FALSE(img.IsValid());
    }
}

TEST(BmpReaderTest, MissingPaddingOfTheLastRowIsTolerated)
{
    BmpLayout s;
    s.width = 1, s.height = 2, s.bpp = 24;
    s.pixels = {1, 2, 3, 0, 4, 5, 6}; // last row's padding byte is missing
    PxImage img;
    ASSERT_TRUE(DecodeBytes(img, BuildBmp(s))) << img.GetLastError();
    EXPECT_EQ(img.GetBits(1)[2], 6);
    s.pixels.pop_back(); // now a pixel byte is missing too
    EXPECT_FALSE(DecodeBytes(img, BuildBmp(s)));
}

TEST(BmpReaderTest, EveryTruncationAndCorruptionFailsCleanly)
{
    // Bytes cut off or flipped anywhere must never crash, hang or read out of bounds; the
    // sanitizer build checks the last part.
    std::vector<std::vector<uint8_t>> samples;
    {
        BmpLayout s;
        s.width = 5, s.height = 4, s.bpp = 8, s.clrUsed = 3;
        s.palette.resize(3);
        s.pixels.resize(32, 2);
        samples.push_back(BuildBmp(s));
        s.compression = 1;
        s.pixels = {3, 1, 0, 0, 0, 4, 1, 2, 0, 1, 0, 0, 0, 2, 2, 1, 5, 2, 0, 1};
        samples.push_back(BuildBmp(s));
        s.compression = 2, s.bpp = 4;
        samples.push_back(BuildBmp(s));
    }
    {
        BmpLayout s;
        s.headerSize = 124, s.width = 3, s.height = 3, s.bpp = 32, s.compression = 3;
        s.masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
        s.pixels.resize(36, 0x55);
        samples.push_back(BuildBmp(s));
    }
    std::mt19937 rng(20240521);
    for (size_t n = 0; n < samples.size(); ++n) {
        SCOPED_TRACE(n);
        const auto &full = samples[n];
        for (size_t len = 0; len < full.size(); ++len) {
            std::vector<uint8_t> cut(full.begin(), full.begin() + len);
            PxImage img;
            const bool ok = DecodeBytes(img, cut);
            if (len < 54) {
                EXPECT_FALSE(ok) << len;
            }
        }
        for (int round = 0; round < 400; ++round) {
            auto bad = full;
            const int flips = 1 + int(rng() % 4);
            for (int i = 0; i < flips; ++i)
                bad[rng() % bad.size()] = uint8_t(rng());
            PxImage img;
            if (DecodeBytes(img, bad)) {
                EXPECT_TRUE(img.IsValid());
            }
        }
    }
}

// --- the public suites ---------------------------------------------------------------------

TEST(BmpSuiteTest, EveryBmpOfTheTestDataBehaves)
{
    PX_REQUIRE_TESTDATA();
    const auto refs = LoadTestImageRefs();
    const auto acceptable = AcceptableHashes();
    int good = 0, questionableRead = 0, questionable = 0, badRead = 0, bad = 0;
    for (const auto &ref : refs) {
        if (ref.format != "bmp")
            continue;
        SCOPED_TRACE(ref.path);
        PxImage img;
        const bool ok = img.Load(TestDataDir() / ref.path, PXFORMAT_BMP);
        if (ref.expect == "bad") {
            ++bad;
            badRead += ok;
            EXPECT_TRUE(ok || std::strlen(img.GetLastError()) > 0);
            continue;
        }
        if (ref.expect == "questionable") {
            ++questionable;
            questionableRead += ok;
            continue;
        }
        ASSERT_EQ(ref.expect, "good");
        ++good;
        ASSERT_TRUE(ok) << img.GetLastError();
        EXPECT_EQ(int(img.GetWidth()), ref.width);
        EXPECT_EQ(int(img.GetHeight()), ref.height);
        const auto rgba = ToRgba(img);
        const std::string hash = Sha256Hex(rgba.data(), rgba.size());
        if (!ref.rgbaSha256.empty()) {
            if (ref.visibleSha256 != ref.rgbaSha256) {
                const auto vis = Visible(rgba);
                EXPECT_EQ(Sha256Hex(vis.data(), vis.size()), ref.visibleSha256);
            } else {
                EXPECT_EQ(hash, ref.rgbaSha256);
            }
        } else {
            // The reference decoders disagree: match one of them or the suite's rendering.
            const auto it = acceptable.find(ref.path);
            ASSERT_NE(it, acceptable.end());
            EXPECT_NE(std::find(it->second.begin(), it->second.end(), hash), it->second.end())
                << "hash " << hash;
        }
        const uint32_t bpp = img.GetBpp();
        EXPECT_TRUE(bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24);
    }
    EXPECT_GT(good, 30);
    std::printf("BMP suite: %d good read, %d of %d questionable read, %d of %d bad read\n", good,
                questionableRead, questionable, badRead, bad);
}

TEST(BmpSuiteTest, IndexedFilesStayIndexed)
{
    PX_REQUIRE_TESTDATA();
    const struct {
        const char *file;
        uint32_t bpp;
        bool alpha;
    } cases[] = {
        {"bmpsuite/g/pal1.bmp", 1, false},       {"bmpsuite/g/pal4.bmp", 4, false},
        {"bmpsuite/g/pal4rle.bmp", 4, false},    {"bmpsuite/g/pal8.bmp", 8, false},
        {"bmpsuite/g/pal8rle.bmp", 8, false},    {"bmpsuite/g/pal8os2.bmp", 8, false},
        {"bmpsuite/g/rgb16.bmp", 24, false},     {"bmpsuite/g/rgb32.bmp", 24, false},
        {"bmpsuite/q/rgb32fakealpha.bmp", 24, false},
        {"pillow/bmp/rgb32bf-rgba.bmp", 24, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        PxImage img;
        ASSERT_TRUE(img.Load(TestDataDir() / c.file, PXFORMAT_BMP)) << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), c.bpp);
        EXPECT_EQ(img.AlphaIsValid(), c.alpha);
        EXPECT_EQ(img.GetType(), PXFORMAT_BMP);
    }
}

TEST(BmpSuiteTest, HostileSuiteFilesNameTheirNumbers)
{
    PX_REQUIRE_TESTDATA();
    const struct {
        const char *file;
        const char *text;
    } cases[] = {
        {"bmpsuite/b/reallybig.bmp",
         "PXIMAGE_MAX_MEMORY exceeded: BMP image of 3000000 x 2000000 pixels at 24 bpp"},
        {"corrupt/pillow/bmp/l2rgb_read.bmp", "BMP planes field is 12336, must be 1"},
        {"bmpsuite/b/badbitcount.bmp", "BMP bit count 30000 is not supported"},
        {"bmpsuite/b/shortfile.bmp", "BMP header claims"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        PxImage img;
        EXPECT_FALSE(img.Load(TestDataDir() / c.file, PXFORMAT_BMP));
        EXPECT_EQ(std::string(img.GetLastError()).rfind(c.text, 0), 0u) << img.GetLastError();
    }
}

} // namespace
