#include "engine/pximage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

PxRGBQuad Rgb(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 0)
{
    return PxRGBQuad{b, g, r, a};
}

std::string Block(const PxImage &img)
{
    return std::string(static_cast<const char *>(img.GetDIB()), img.GetSize());
}

// Brute-force nearest entry: smallest squared distance, lowest index among equals.
uint8_t ReferenceNearest(const std::vector<PxRGBQuad> &pal, uint32_t count, PxRGBQuad c)
{
    long best = -1;
    uint8_t found = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const long dr = pal[i].red - c.red, dg = pal[i].green - c.green, db = pal[i].blue - c.blue;
        const long d = dr * dr + dg * dg + db * db;
        if (best < 0 || d < best) {
            best = d;
            found = static_cast<uint8_t>(i);
        }
    }
    return found;
}

TEST(Light, MapsChannelValuesAsDesigned)
{
    // Hand-computed: trunc(brightness + 128 + k * (x - 128)) with k a hair below
    // (contrast + 100) / 100, clamped to 0..255.
    const struct {
        int brightness, contrast, in, out;
    } cases[] = {
        {20, 0, 100, 120}, {20, 0, 128, 148}, {20, 0, 129, 148}, {20, 0, 240, 255},
        {0, 0, 129, 128},  {0, 0, 255, 254},  {0, 0, 128, 128},  {0, 0, 0, 0},
        {0, -100, 0, 128}, {0, -100, 255, 128}, {0, 100, 100, 72}, {0, 100, 200, 255},
        {0, 100, 20, 0},   {-50, 0, 30, 0},   {-50, 0, 200, 149}, {10, 50, 28, 0},
        {10, 50, 138, 152},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("Light(" + std::to_string(c.brightness) + "," + std::to_string(c.contrast) +
                     ") of " + std::to_string(c.in));
        PxImage rgb;
        ASSERT_TRUE(rgb.Create(1, 1, 24));
        rgb.SetPixelColor(0, 0, Rgb(c.in, c.in, c.in));
        ASSERT_TRUE(rgb.Light(c.brightness, c.contrast));
        EXPECT_EQ(rgb.GetPixelColor(0, 0), Rgb(c.out, c.out, c.out));

        // Palette images change their palette and keep their indexes.
        PxImage pal;
        ASSERT_TRUE(pal.Create(1, 1, 8));
        pal.SetPaletteColor(5, c.in, c.in, c.in);
        pal.SetPixelIndex(0, 0, 5);
        ASSERT_TRUE(pal.Light(c.brightness, c.contrast));
        EXPECT_EQ(pal.GetPixelIndex(0, 0), 5);
        EXPECT_EQ(pal.GetPaletteColor(5), Rgb(c.out, c.out, c.out));
    }
}

TEST(Light, ZeroContrastShiftsLowValuesExactlyAndHighOnesOneLower)
{
    PxImage img;
    ASSERT_TRUE(img.Create(256, 1, 24));
    for (int x = 0; x < 256; ++x)
        img.SetPixelColor(x, 0, Rgb(x, x, x));
    ASSERT_TRUE(img.Light(0, 0));
    for (int x = 0; x < 256; ++x) {
        const int expected = x <= 128 ? x : x - 1;
        EXPECT_EQ(img.GetPixelColor(x, 0).green, expected) << "value " << x;
    }
}

TEST(Light, EmptyImageFails)
{
    PxImage img;
    EXPECT_FALSE(img.Light(10, 10));
    const uint8_t table[256] = {};
    EXPECT_FALSE(img.Lut(table));
}

TEST(Lut, ReplacesEveryChannelOfEveryPixel)
{
    uint8_t invert[256];
    for (int i = 0; i < 256; ++i)
        invert[i] = static_cast<uint8_t>(255 - i);
    PxImage img;
    ASSERT_TRUE(img.Create(3, 2, 24));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            img.SetPixelColor(x, y, Rgb(x * 10, y * 20, 200));
    ASSERT_TRUE(img.Lut(invert));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(img.GetPixelColor(x, y), Rgb(255 - x * 10, 255 - y * 20, 55));
}

TEST(Lut, SelectionLimitsTheChange)
{
    uint8_t zero[256] = {};
    PxImage img;
    ASSERT_TRUE(img.Create(2, 1, 24));
    img.SetPixelColor(0, 0, Rgb(50, 60, 70));
    img.SetPixelColor(1, 0, Rgb(50, 60, 70));
    ASSERT_TRUE(img.SelectionCreate());
    *img.SelectionGetPointer(1, 0) = 255;
    ASSERT_TRUE(img.Lut(zero));
    EXPECT_EQ(img.GetPixelColor(0, 0), Rgb(50, 60, 70));
    EXPECT_EQ(img.GetPixelColor(1, 0), Rgb(0, 0, 0));
}

TEST(GrayScale, TrueColourUsesWeights306_601_117)
{
    // (r * 306 + g * 601 + b * 117) >> 10 by hand.
    const struct {
        uint8_t r, g, b, grey;
    } cases[] = {
        {255, 0, 0, 76}, {255, 255, 255, 255}, {0, 255, 0, 149},
        {0, 0, 255, 29}, {10, 20, 30, 18},     {0, 0, 0, 0},
    };
    PxImage img;
    ASSERT_TRUE(img.Create(std::size(cases), 2, 24));
    for (size_t i = 0; i < std::size(cases); ++i) {
        img.SetPixelColor(static_cast<int>(i), 0, Rgb(cases[i].r, cases[i].g, cases[i].b));
        img.SetPixelColor(static_cast<int>(i), 1, Rgb(cases[i].r, cases[i].g, cases[i].b));
    }
    ASSERT_TRUE(img.AlphaCreate());
    img.AlphaSet(1, 1, 33);
    img.SetJpegQuality(70);
    ASSERT_TRUE(img.GrayScale());
    EXPECT_EQ(img.GetBpp(), 8u);
    EXPECT_TRUE(img.IsGrayScale());
    EXPECT_EQ(img.GetJpegQuality(), 70);
    EXPECT_EQ(img.AlphaGet(1, 1), 33);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(img.GetPixelIndex(static_cast<int>(i), 0), cases[i].grey);
        EXPECT_EQ(img.GetPixelIndex(static_cast<int>(i), 1), cases[i].grey);
    }
}

TEST(GrayScale, PaletteImagesBecomeEightBitGrey)
{
    for (uint32_t bpp : {1u, 4u, 8u}) {
        SCOPED_TRACE(bpp);
        PxImage img;
        ASSERT_TRUE(img.Create(2, 1, bpp));
        img.SetPaletteColor(0, 255, 0, 0);     // grey 76
        img.SetPaletteColor(1, 255, 255, 255); // grey 255
        img.SetPixelIndex(0, 0, 1);
        img.SetPixelIndex(1, 0, 0);
        img.SetTransIndex(0);
        ASSERT_TRUE(img.GrayScale());
        EXPECT_EQ(img.GetBpp(), 8u);
        EXPECT_TRUE(img.IsGrayScale());
        EXPECT_EQ(img.GetPixelIndex(0, 0), 255);
        EXPECT_EQ(img.GetPixelIndex(1, 0), 76);
        EXPECT_EQ(img.GetTransIndex(), 76);
    }
}

TEST(NearestIndex, SmallestDistanceLowestIndexOnTies)
{
    PxImage grey;
    ASSERT_TRUE(grey.Create(1, 1, 8));
    grey.SetGrayPalette();
    // Distance 1 to entry 10 against 2 to entry 11.
    grey.SetPixelColor(0, 0, Rgb(10, 10, 11));
    EXPECT_EQ(grey.GetPixelIndex(0, 0), 10);

    PxImage img;
    ASSERT_TRUE(img.Create(1, 1, 4));
    const PxRGBQuad pal[16] = {Rgb(10, 0, 0), Rgb(0, 0, 0), Rgb(2, 0, 0), Rgb(9, 9, 9),
                               Rgb(9, 9, 9), Rgb(200, 0, 0), Rgb(0, 200, 0)};
    img.SetPalette(pal, 16);
    const struct {
        PxRGBQuad colour;
        uint8_t index;
    } cases[] = {
        {Rgb(1, 0, 0), 1},      // entries 1 and 2 both at distance 1
        {Rgb(9, 9, 9), 3},      // exact duplicate entries: the first
        {Rgb(6, 0, 0), 0},      // 16 to entry 0 against 16 to entry 2: entry 0
        {Rgb(120, 120, 0), 5},  // 200-apart colours: entries 5 and 6 tie
        {Rgb(0, 0, 1), 1},      // black entries 1 and 7..15 tie: the lowest
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.colour.red) + "," + std::to_string(c.colour.green) + "," +
                     std::to_string(c.colour.blue));
        EXPECT_EQ(img.GetNearestIndex(c.colour), c.index);
    }
}

TEST(NearestIndex, CacheRemembersOneColourUntilThePaletteChanges)
{
    PxImage img;
    ASSERT_TRUE(img.Create(1, 1, 8));
    img.SetGrayPalette();
    EXPECT_EQ(img.GetNearestIndex(Rgb(100, 100, 100)), 100);

    // Edit the palette behind the image's back: a cached answer does not see it.
    img.GetPalette()[7] = Rgb(100, 100, 100);
    EXPECT_EQ(img.GetNearestIndex(Rgb(100, 100, 100)), 100);
    // Any other colour is searched afresh.
    EXPECT_EQ(img.GetNearestIndex(Rgb(100, 100, 101)), 7);

    const struct {
        const char *how;
        void (*change)(PxImage &);
    } changes[] = {
        {"SetPaletteColor", [](PxImage &i) { i.SetPaletteColor(3, 50, 50, 50); }},
        {"SetPaletteColor rgb", [](PxImage &i) { i.SetPaletteColor(3, Rgb(50, 50, 50)); }},
        {"SetPalette",
         [](PxImage &i) {
             std::vector<PxRGBQuad> p(i.GetPalette(), i.GetPalette() + 256);
             p[3] = Rgb(50, 50, 50);
             i.SetPalette(p.data(), 256);
         }},
        {"Light", [](PxImage &i) { i.Light(0, 0); }},
    };
    for (const auto &c : changes) {
        SCOPED_TRACE(c.how);
        img.SetGrayPalette();
        ASSERT_EQ(img.GetNearestIndex(Rgb(50, 50, 50)), 50);
        img.GetPalette()[3] = Rgb(50, 50, 50); // unseen by the cache...
        c.change(img);                         // ...until the palette is changed properly
        EXPECT_EQ(img.GetNearestIndex(Rgb(50, 50, 50)), 3);
    }
}

TEST(PixelAccess, OutsideTheImage)
{
    PxImage rgb;
    ASSERT_TRUE(rgb.Create(3, 2, 24));
    rgb.SetPixelColor(0, 0, Rgb(1, 2, 3));
    rgb.SetPixelColor(2, 1, Rgb(9, 9, 9));
    rgb.SetBkColor(Rgb(7, 8, 9));
    for (auto [x, y] : {std::pair{-1, 0}, {3, 0}, {0, 2}, {0, -1}, {-5, -5}}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        EXPECT_EQ(rgb.GetPixelColor(x, y), Rgb(1, 2, 3));
        EXPECT_EQ(rgb.GetPixelIndex(x, y), 0);
    }
    rgb.SetTransIndex(0);
    EXPECT_EQ(rgb.GetPixelColor(-1, 0), Rgb(7, 8, 9));

    PxImage pal;
    ASSERT_TRUE(pal.Create(3, 2, 4));
    pal.SetPaletteColor(2, 40, 50, 60);
    pal.SetPaletteColor(3, 1, 1, 1);
    pal.SetPixelIndex(0, 0, 3);
    pal.SetPixelIndex(1, 0, 10);
    // No transparent index: the first pixel's index and colour, not the raw byte 0x3A.
    EXPECT_EQ(pal.GetPixelIndex(5, 5), 3);
    EXPECT_EQ(pal.GetPixelColor(5, 5), Rgb(1, 1, 1));
    pal.SetTransIndex(2);
    EXPECT_EQ(pal.GetPixelIndex(-1, 0), 2);
    EXPECT_EQ(pal.GetPixelColor(-1, 0), Rgb(40, 50, 60));

    // Writes outside are dropped.
    const std::string before = Block(pal);
    pal.SetPixelIndex(3, 0, 1);
    pal.SetPixelIndex(0, -1, 1);
    pal.SetPixelColor(-1, 1, Rgb(40, 50, 60));
    pal.SetPixelColor(0, 2, 0x00FFFFFFu);
    EXPECT_EQ(Block(pal), before);
    const std::string rgbBefore = Block(rgb);
    rgb.SetPixelIndex(0, 0, 5); // true colour: no index to set
    rgb.SetPixelColor(3, 1, Rgb(0, 0, 0));
    EXPECT_EQ(Block(rgb), rgbBefore);

    PxImage empty;
    EXPECT_EQ(empty.GetPixelColor(0, 0), PxRGBQuad{});
    EXPECT_EQ(empty.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(empty.GetNearestIndex(Rgb(1, 1, 1)), 0);
}

TEST(PixelAccess, AlphaAndTheFourthByte)
{
    PxImage img;
    ASSERT_TRUE(img.Create(2, 1, 24));
    img.SetBkColor(Rgb(0, 0, 0, 77));
    img.SetPixelColor(0, 0, Rgb(1, 2, 3, 200));
    EXPECT_EQ(img.GetPixelColor(0, 0), Rgb(1, 2, 3, 77));
    ASSERT_TRUE(img.AlphaCreate());
    EXPECT_EQ(img.GetPixelColor(0, 0), Rgb(1, 2, 3, 255));
    img.SetPixelColor(0, 0, Rgb(1, 2, 3, 40), true);
    EXPECT_EQ(img.GetPixelColor(0, 0), Rgb(1, 2, 3, 40));
    EXPECT_EQ(img.GetPixelColor(0, 0, false), Rgb(1, 2, 3, 77));
    // The packed form swaps red and blue into place and leaves alpha alone.
    img.SetPixelColor(1, 0, 0x00112233u);
    EXPECT_EQ(img.GetPixelColor(1, 0), Rgb(0x33, 0x22, 0x11, 255));
    const uint8_t *p = img.GetBits(0) + 3;
    EXPECT_EQ(p[0], 0x11);
    EXPECT_EQ(p[2], 0x33);
}

TEST(PixelAccess, PackingIsMostSignificantBitsFirstAndRowsBottomUp)
{
    const struct {
        uint32_t bpp;
        int x, y;
        uint8_t index;
        size_t byteOffset; // from the start of the pixel rows
        uint8_t byte;
    } cases[] = {
        {1, 0, 0, 1, 0, 0x80},  {1, 7, 0, 1, 0, 0x01},  {1, 9, 0, 1, 1, 0x40},
        {1, 0, 1, 1, 4, 0x80},  {4, 0, 0, 0xA, 0, 0xA0}, {4, 1, 0, 0x5, 0, 0x05},
        {4, 3, 1, 0xF, 9, 0x0F}, {8, 2, 1, 200, 14, 200},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.bpp) + " bpp at " + std::to_string(c.x) + "," +
                     std::to_string(c.y));
        PxImage img;
        ASSERT_TRUE(img.Create(12, 2, c.bpp));
        std::memset(img.GetBits(), 0, img.GetHeader().sizeImage);
        img.SetPixelIndex(c.x, c.y, c.index);
        EXPECT_EQ(img.GetBits()[c.byteOffset], c.byte);
        EXPECT_EQ(img.GetPixelIndex(c.x, c.y), c.index);
        // Neighbours sharing the byte stay untouched.
        EXPECT_EQ(img.GetPixelIndex(c.x + 1, c.y), 0);
        // Only the low bits of an index are kept.
        img.SetPixelIndex(c.x, c.y, 0xFF);
        EXPECT_EQ(img.GetPixelIndex(c.x, c.y), (1u << c.bpp) - 1);
    }
}

TEST(IncreaseBpp, RefusalsAndNoOps)
{
    const struct {
        uint32_t from, to;
        bool ok;
    } cases[] = {
        {24, 24, true}, {24, 8, false}, {8, 4, false}, {4, 4, true},
        {1, 16, false}, {1, 2, false},  {8, 8, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " -> " + std::to_string(c.to));
        PxImage img;
        ASSERT_TRUE(img.Create(3, 3, c.from));
        std::memset(img.GetBits(), 0x5A, img.GetHeader().sizeImage);
        const std::string before = Block(img);
        EXPECT_EQ(img.IncreaseBpp(c.to), c.ok);
        EXPECT_EQ(Block(img), before);
    }
    PxImage empty;
    EXPECT_FALSE(empty.IncreaseBpp(24));
}

TEST(IncreaseBpp, KeepsIndexesOrColours)
{
    PxImage one;
    ASSERT_TRUE(one.Create(10, 2, 1));
    one.SetPaletteColor(0, 10, 20, 30);
    one.SetPaletteColor(1, 200, 210, 220);
    for (int x = 0; x < 10; ++x)
        one.SetPixelIndex(x, x % 2, 1);
    one.SetTransIndex(1);

    for (uint32_t to : {4u, 8u, 24u}) {
        SCOPED_TRACE(to);
        PxImage img(one);
        ASSERT_TRUE(img.IncreaseBpp(to));
        EXPECT_EQ(img.GetBpp(), to);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 10; ++x) {
                const bool set = x % 2 == y;
                if (to != 24) {
                    EXPECT_EQ(img.GetPixelIndex(x, y), set ? 1 : 0);
                }
                EXPECT_EQ(img.GetPixelColor(x, y, false),
                          set ? Rgb(200, 210, 220) : Rgb(10, 20, 30));
            }
        if (to == 24) {
            // The transparent entry's colour becomes the background (transparent) colour.
            EXPECT_EQ(img.GetBkColor(), Rgb(200, 210, 220));
        } else {
            EXPECT_EQ(img.GetTransIndex(), 1);
            // The padding entries of the larger palette are never picked for a colour.
            EXPECT_EQ(img.GetNearestIndex(Rgb(0, 0, 0)), 0);
        }
    }
}

TEST(IncreaseBpp, PaletteAlphaBecomesAnAlphaPlane)
{
    PxImage img;
    ASSERT_TRUE(img.Create(2, 1, 8));
    img.SetPaletteColor(1, 5, 5, 5, 128);
    img.SetPixelIndex(0, 0, 1);
    img.SetPixelIndex(1, 0, 0);
    img.AlphaPaletteEnable();
    ASSERT_TRUE(img.IncreaseBpp(24));
    ASSERT_TRUE(img.AlphaIsValid());
    EXPECT_EQ(img.AlphaGet(0, 0), 128);
    EXPECT_EQ(img.AlphaGet(1, 0), 0);
}

TEST(DecreaseBpp, RefusalsAndNoOps)
{
    PxImage four;
    ASSERT_TRUE(four.Create(3, 3, 4));
    EXPECT_FALSE(four.DecreaseBpp(8, false));
    EXPECT_FALSE(four.DecreaseBpp(24, false));
    EXPECT_FALSE(four.DecreaseBpp(2, false));
    EXPECT_EQ(four.GetBpp(), 4u);

    PxImage eight;
    ASSERT_TRUE(eight.Create(3, 3, 8));
    void *block = eight.GetDIB();
    EXPECT_TRUE(eight.DecreaseBpp(8, false));
    EXPECT_EQ(eight.GetDIB(), block);

    PxImage empty;
    EXPECT_FALSE(empty.DecreaseBpp(8, false));
}

TEST(DecreaseBpp, EveryPixelGetsTheNearestAllowedEntry)
{
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> mid(112, 143);

    // Coarse entries with duplicates (ties and index order matter), entries crowded into one
    // corner of colour space, and a spread of distinct entries.
    std::vector<std::vector<PxRGBQuad>> palettes(3, std::vector<PxRGBQuad>(256));
    for (auto &e : palettes[0])
        e = Rgb(byte(rng) & 0xE0, byte(rng) & 0xE0, byte(rng) & 0xC0);
    for (auto &e : palettes[1])
        e = Rgb(mid(rng), mid(rng), mid(rng));
    for (auto &e : palettes[2])
        e = Rgb(byte(rng), byte(rng), byte(rng));

    const int w = 96, h = 64;
    PxImage src;
    ASSERT_TRUE(src.Create(w, h, 24));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            src.SetPixelColor(x, y, (x + y) % 5 == 0 ? Rgb(x * 2, y * 4, 120 + x % 16)
                                                     : Rgb(byte(rng), byte(rng), byte(rng)));

    const struct {
        uint32_t bits, important;
    } cases[] = {{8, 0}, {8, 10}, {8, 1}, {4, 0}, {4, 3}, {1, 0}};
    for (size_t p = 0; p < palettes.size(); ++p)
        for (const auto &c : cases) {
            SCOPED_TRACE("palette " + std::to_string(p) + ", " + std::to_string(c.bits) +
                         " bits, " + std::to_string(c.important) + " important");
            const std::vector<PxRGBQuad> &palette = palettes[p];
            PxImage img(src);
            ASSERT_TRUE(img.DecreaseBpp(c.bits, false, palette.data(), c.important));
            EXPECT_EQ(img.GetBpp(), c.bits);
            const uint32_t entries = 1u << c.bits;
            const uint32_t searched = c.important ? c.important : entries;
            EXPECT_EQ(img.GetHeader().clrImportant, c.important);
            for (uint32_t i = 0; i < entries; ++i)
                ASSERT_EQ(img.GetPaletteColor(static_cast<uint8_t>(i)), palette[i]);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const uint8_t expected =
                        ReferenceNearest(palette, searched, src.GetPixelColor(x, y));
                    ASSERT_EQ(img.GetPixelIndex(x, y), expected) << "at " << x << "," << y;
                }
            // Later writes honour the same limit.
            PxImage probe(img);
            probe.SetPixelColor(0, 0, Rgb(250, 250, 250));
            EXPECT_EQ(probe.GetPixelIndex(0, 0),
                      ReferenceNearest(palette, searched, Rgb(250, 250, 250)));
        }
}

TEST(DecreaseBpp, TiesGoToTheLowestIndex)
{
    // Each colour is equally far from two entries; the lower index must win however the
    // entries lie around it.
    const struct {
        std::vector<PxRGBQuad> palette;
        PxRGBQuad colour;
        uint8_t index;
    } cases[] = {
        {{Rgb(0, 10, 0), Rgb(0, 0, 10), Rgb(10, 0, 0)}, Rgb(0, 0, 0), 0},
        {{Rgb(0, 10, 0), Rgb(0, 0, 10), Rgb(10, 0, 0)}, Rgb(5, 5, 0), 0},
        {{Rgb(0, 10, 0), Rgb(0, 0, 10), Rgb(10, 0, 0)}, Rgb(5, 0, 5), 1},
        {{Rgb(0, 10, 0), Rgb(0, 20, 0)}, Rgb(0, 15, 0), 0},
        {{Rgb(0, 20, 0), Rgb(0, 10, 0)}, Rgb(0, 15, 0), 0},
        {{Rgb(0, 0, 10), Rgb(0, 0, 30)}, Rgb(0, 0, 20), 0},
        // 147 = 3 * 7 * 7 both ways, the colour sitting on a corner of a block of 8 levels.
        {{Rgb(14, 14, 14), Rgb(0, 0, 0)}, Rgb(7, 7, 7), 0},
        {{Rgb(1, 1, 1), Rgb(15, 15, 15)}, Rgb(8, 8, 8), 0},
        {{Rgb(15, 15, 15), Rgb(1, 1, 1)}, Rgb(8, 8, 8), 0},
        {{Rgb(200, 0, 0), Rgb(0, 200, 0), Rgb(0, 0, 200)}, Rgb(100, 100, 100), 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.colour.red) + "," + std::to_string(c.colour.green) + "," +
                     std::to_string(c.colour.blue));
        std::vector<PxRGBQuad> palette = c.palette;
        palette.resize(256);
        PxImage img;
        ASSERT_TRUE(img.Create(1, 1, 24));
        img.SetPixelColor(0, 0, c.colour);
        ASSERT_TRUE(img.DecreaseBpp(8, false, palette.data(), static_cast<uint32_t>(c.palette.size())));
        EXPECT_EQ(img.GetPixelIndex(0, 0), c.index);
        // The pixel-by-pixel search agrees.
        EXPECT_EQ(img.GetNearestIndex(c.colour), c.index);
    }
}

TEST(DecreaseBpp, RoundTripThroughTrueColourKeepsIndexes)
{
    PxImage img;
    ASSERT_TRUE(img.Create(16, 16, 8));
    std::vector<PxRGBQuad> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[i] = Rgb(i, 255 - i, (i * 7) & 255);
    img.SetPalette(palette.data(), 256);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            img.SetPixelIndex(x, y, static_cast<uint8_t>(y * 16 + x));
    img.SetTransIndex(42);
    const std::string rows(reinterpret_cast<const char *>(img.GetBits()), img.GetHeader().sizeImage);

    ASSERT_TRUE(img.IncreaseBpp(24));
    ASSERT_TRUE(img.DecreaseBpp(8, false, palette.data()));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(img.GetBits()), img.GetHeader().sizeImage),
              rows);
    // The transparent colour finds its way back to its entry.
    EXPECT_EQ(img.GetTransIndex(), 42);

    // Palette to smaller palette: indexes follow the colours.
    PxImage four(img);
    std::vector<PxRGBQuad> small(16);
    for (int i = 0; i < 16; ++i)
        small[i] = palette[i * 17];
    ASSERT_TRUE(four.DecreaseBpp(4, false, small.data()));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(four.GetPixelIndex((i * 17) % 16, (i * 17) / 16), i);
}

TEST(DecreaseBpp, WithoutPaletteUsesBlackAndWhiteForOneBit)
{
    PxImage img;
    ASSERT_TRUE(img.Create(2, 1, 24));
    img.SetPixelColor(0, 0, Rgb(30, 30, 30));
    img.SetPixelColor(1, 0, Rgb(220, 200, 240));
    ASSERT_TRUE(img.DecreaseBpp(1, false));
    EXPECT_EQ(img.GetPaletteColor(0), Rgb(0, 0, 0));
    EXPECT_EQ(img.GetPaletteColor(1), Rgb(255, 255, 255));
    EXPECT_EQ(img.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 1);
}

} // namespace
