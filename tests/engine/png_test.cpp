// The PNG codec against PngSuite and friends, and its writer against Pillow as the reader.

#include "codecsuite.h"

namespace {
using namespace codectest;

TEST(PngCodec, PublicSuite)
{
    PX_REQUIRE_TESTDATA();
    const std::map<std::string, Allowance> allowances = {
        {"corrupt/pillow/png/unknown_compression_method.png",
         {.reason = "only the ancillary iCCP chunk is damaged; libpng drops it and the pixels "
                    "are intact (ImageMagick and netpbm read it too)",
          .badMayLoad = true}},
        {"pngsuite/tbbn0g04.png",
         {.reason = "Pillow's alpha for tRNS on 4-bit grey is wrong; ImageMagick and netpbm agree",
          .useMagick = true}},
    };
    EXPECT_GT(CheckSuite("png", PXFORMAT_PNG, 0, allowances), 200);
}

// The in-memory form each colour type and depth becomes; PngSuite's file names spell the input.
TEST(PngCodec, DecodedLayout)
{
    PX_REQUIRE_TESTDATA();
    struct Case {
        const char *file;
        uint32_t bpp;
        bool grey, alpha, transIndex;
    } const cases[] = {
        {"basn0g01.png", 1, true, false, false},  {"basn0g02.png", 4, true, false, false},
        {"basn0g04.png", 4, true, false, false},  {"basn0g08.png", 8, true, false, false},
        {"basn0g16.png", 8, true, false, false},  {"basn3p01.png", 1, false, false, false},
        {"basn3p02.png", 4, false, false, false}, {"basn3p04.png", 4, false, false, false},
        {"basn3p08.png", 8, false, false, false}, {"basn2c08.png", 24, false, false, false},
        {"basn2c16.png", 24, false, false, false}, {"basn4a08.png", 8, true, true, false},
        {"basn6a16.png", 24, false, true, false}, {"tbrn2c08.png", 24, false, true, false},
        {"tbbn0g04.png", 8, true, true, false},   {"tm3n3p02.png", 4, false, true, false},
        {"tp1n3p08.png", 8, false, false, true},  {"basi3p02.png", 4, false, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        PxImage img;
        ASSERT_TRUE(DecodeFile(TestDataDir() / "pngsuite" / c.file, PXFORMAT_PNG, img))
            << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), c.bpp);
        EXPECT_EQ(img.IsGrayScale(), c.grey);
        EXPECT_EQ(img.AlphaIsValid(), c.alpha);
        EXPECT_EQ(img.GetTransIndex() >= 0, c.transIndex);
    }
}

struct RoundTrip {
    std::string name;
    PxImage image;
    uint32_t bpp;       // depth after reading the file back
    bool alpha;         // alpha plane after reading back
    int32_t transIndex; // transparent index after reading back
};

// Expected pixels: the source's own pixels, with alpha 0 for a true-colour image's transparent
// colour (the writer turns it into alpha).
std::vector<uint8_t> ExpectedRgba(const PxImage &img)
{
    auto rgba = ToRgba(img);
    if (img.GetBpp() == 24 && img.GetTransIndex() >= 0) {
        const PxRGBQuad t = img.GetTransColor();
        for (size_t i = 0; i < rgba.size(); i += 4)
            if (rgba[i] == t.red && rgba[i + 1] == t.green && rgba[i + 2] == t.blue)
                rgba[i + 3] = 0;
    }
    return rgba;
}

TEST(PngCodec, RoundTripsKeepPixelsAndTransparency)
{
    std::vector<RoundTrip> cases;
    cases.push_back({"1-bit", Noise(1, 37, 11), 1, false, -1});
    cases.push_back({"4-bit", Noise(4, 37, 11), 4, false, -1});
    cases.push_back({"8-bit", Noise(8, 37, 11), 8, false, -1});
    cases.push_back({"8-bit grey", Noise(8, 37, 11, true), 8, false, -1});
    cases.push_back({"24-bit", Noise(24, 37, 11), 24, false, -1});
    {
        PxImage img = Noise(8, 37, 11);
        img.SetTransIndex(5); // moves to entry 0 in the file
        cases.push_back({"8-bit, transparent index 5", std::move(img), 8, false, 0});
    }
    {
        PxImage img = Noise(4, 37, 11);
        img.SetTransIndex(0);
        cases.push_back({"4-bit, transparent index 0", std::move(img), 4, false, 0});
    }
    {
        PxImage img = Noise(1, 37, 11);
        img.SetTransIndex(1);
        cases.push_back({"1-bit, transparent index 1", std::move(img), 1, false, 0});
    }
    {
        PxImage img = Noise(24, 37, 11);
        img.AlphaCreate();
        for (uint32_t y = 0; y < 11; ++y)
            for (uint32_t x = 0; x < 37; ++x)
                img.AlphaSet(int32_t(x), int32_t(y), uint8_t(x * 7 + y * 13));
        cases.push_back({"24-bit with alpha", std::move(img), 24, true, -1});
    }
    {
        PxImage img = Noise(24, 37, 11);
        const uint8_t *p = img.GetBits(3) + 3 * 4; // make one pixel's colour the key
        img.SetBkColor({p[0], p[1], p[2], 0});
        img.SetTransIndex(0);
        cases.push_back({"24-bit with transparent colour", std::move(img), 24, true, -1});
    }
    {
        // Alpha that follows the palette entry: the file stays a palette PNG with tRNS.
        PxImage img = Noise(8, 37, 11);
        img.AlphaCreate();
        for (uint32_t y = 0; y < 11; ++y)
            for (uint32_t x = 0; x < 37; ++x)
                img.AlphaSet(int32_t(x), int32_t(y), uint8_t(255 - IndexAt(img, x, y)));
        cases.push_back({"8-bit with alpha per entry", std::move(img), 8, true, -1});
    }
    {
        // Alpha that does not: the file becomes RGBA.
        PxImage img = Noise(4, 37, 11);
        img.AlphaCreate();
        for (uint32_t y = 0; y < 11; ++y)
            for (uint32_t x = 0; x < 37; ++x)
                img.AlphaSet(int32_t(x), int32_t(y), uint8_t(x * 7));
        cases.push_back({"4-bit with free alpha", std::move(img), 24, true, -1});
    }

    TempFolder temp;
    std::vector<PillowFile> files;
    std::vector<std::vector<uint8_t>> expected;
    for (size_t i = 0; i < cases.size(); ++i) {
        RoundTrip &c = cases[i];
        SCOPED_TRACE(c.name);
        const PxImage before(c.image);
        const auto bytes = EncodeToMemory(c.image, PXFORMAT_PNG);
        // The writer works on copies: the caller's image is as it was.
        EXPECT_EQ(ToRgba(c.image), ToRgba(before));
        EXPECT_EQ(c.image.GetTransIndex(), before.GetTransIndex());

        PxImage back;
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_PNG, back)) << back.GetLastError();
        expected.push_back(ExpectedRgba(c.image));
        EXPECT_EQ(back.GetBpp(), c.bpp);
        EXPECT_EQ(back.AlphaIsValid(), c.alpha);
        EXPECT_EQ(back.GetTransIndex(), c.transIndex);
        EXPECT_EQ(ToRgba(back), expected.back());
        files.push_back({temp.Fs("rt" + std::to_string(i) + ".png")});
        WriteFileBytes(files.back().path, bytes);
    }
    // And an independent reader sees the same pictures in the files.
    auto pillow = PillowRgba(files);
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name + " read by Pillow");
        const auto &got = pillow[files[i].path.string()];
        ASSERT_TRUE(got);
        EXPECT_EQ(MaxDiff(*got, expected[i]), 0);
    }
}

TEST(PngCodec, WriterChunksAsPillowSeesThem)
{
    struct Case {
        const char *name;
        PxImage image;
        std::string expected; // mode, interlace, dpi, background colour
    };
    std::vector<Case> cases;
    {
        PxImage img = Noise(24, 8, 8);
        img.SetXDPI(300);
        img.SetYDPI(150);
        cases.push_back({"true colour at 300 x 150 dpi", std::move(img), "RGB 0 300x150 (255, 255, 255)"});
    }
    {
        PxImage img = Noise(8, 8, 8, true);
        cases.push_back({"grey palette stays a palette", std::move(img), "P 0 96x96 (255, 255, 255)"});
    }
    {
        PxImage img = Noise(8, 8, 8);
        img.SetPaletteColor(9, 10, 20, 30);
        img.SetBkColor({30, 20, 10, 0}); // blue, green, red
        img.SetTransIndex(4);
        cases.push_back({"transparent index: background is the image's", std::move(img),
                         "P 0 96x96 (10, 20, 30)"});
    }
    TempFolder temp;
    std::vector<std::string> files;
    for (size_t i = 0; i < cases.size(); ++i) {
        files.push_back(temp.Fs("c" + std::to_string(i) + ".png").string());
        WriteFileBytes(files.back(), EncodeToMemory(cases[i].image, PXFORMAT_PNG));
    }
    // Pillow gives the colour mode; the chunks are read by hand (Pillow ignores bKGD).
    const std::string out =
        Python("from PIL import Image\n"
               "import struct, sys\n"
               "for p in sys.argv[1:]:\n"
               "    data = open(p, 'rb').read()\n"
               "    pos, chunks = 8, {}\n"
               "    while pos + 8 <= len(data):\n"
               "        n, kind = struct.unpack('>I4s', data[pos:pos + 8])\n"
               "        chunks[kind] = data[pos + 8:pos + 8 + n]\n"
               "        pos += 12 + n\n"
               "    interlace = chunks[b'IHDR'][12]\n"
               "    x, y, unit = struct.unpack('>IIB', chunks[b'pHYs'])\n"
               "    bg = chunks[b'bKGD']\n"
               "    if len(bg) == 1:\n"
               "        bg = tuple(chunks[b'PLTE'][3 * bg[0]:3 * bg[0] + 3])\n"
               "    else:\n"
               "        bg = struct.unpack('>HHH', bg)\n"
               "    print('%s %d %dx%d %s' % (Image.open(p).mode, interlace, round(x * 0.0254), "
               "round(y * 0.0254), bg))\n",
               files);
    std::istringstream lines(out);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string line;
        std::getline(lines, line);
        EXPECT_EQ(line, c.expected);
    }
}

TEST(PngCodec, ResolutionSurvivesRoundTrip)
{
    PxImage img = Noise(8, 8, 8);
    img.SetXDPI(300);
    img.SetYDPI(72);
    PxImage back;
    ASSERT_TRUE(DecodeMemory(EncodeToMemory(img, PXFORMAT_PNG), PXFORMAT_PNG, back));
    EXPECT_EQ(back.GetXDPI(), 300);
    EXPECT_EQ(back.GetYDPI(), 72);
}

TEST(PngCodec, BrokenStreamsFailWithAReason)
{
    PxImage src = Noise(24, 64, 64);
    const auto good = EncodeToMemory(src, PXFORMAT_PNG);
    std::vector<uint8_t> badCrc = good;
    badCrc[29] ^= 0x55; // inside the IHDR CRC
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
    } const cases[] = {
        {"empty", {}},
        {"signature only", {good.begin(), good.begin() + 8}},
        {"cut in the image data", {good.begin(), good.begin() + good.size() / 2}},
        {"cut before IEND", {good.begin(), good.end() - 12}},
        {"header CRC wrong", badCrc},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        EXPECT_FALSE(DecodeMemory(c.bytes, PXFORMAT_PNG, img));
        EXPECT_STRNE(img.GetLastError(), "");
    }
}

} // namespace
