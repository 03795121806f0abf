// The TIFF codec against the public suites, against small files written here with libtiff
// (expected pixels worked out by hand), and its writer against Pillow as the reader.

#include "codecsuite.h"

#include <cstring>
#include <tiffio.h>

namespace {
using namespace codectest;

TEST(TiffCodec, PublicSuite)
{
    PX_REQUIRE_TESTDATA();
    const Allowance ifdLoop{.reason = "the IFD chain loops, but only the first directory is read "
                                      "and it is intact",
                            .badMayLoad = true};
    const Allowance orientation{.reason = "the Orientation tag is not applied; Pillow applies "
                                          "it to fax files, so its turn is undone",
                                .undoOrientation = true};
    std::map<std::string, Allowance> allowances = {
        {"corrupt/libtiff/test_ifd_loop_subifd.tif", ifdLoop},
        {"corrupt/libtiff/test_ifd_loop_to_first.tif", ifdLoop},
        {"corrupt/libtiff/test_ifd_loop_to_self.tif", ifdLoop},
        {"libtiff/minisblack-2c-8b-alpha.tiff",
         {.reason = "Pillow rejects it and ImageMagick drops the alpha and remaps the grey; "
                    "grey with premultiplied alpha is checked on a hand-made file below",
          .skipPixels = true}},
    };
    for (int o = 2; o <= 8; ++o)
        allowances["pillow/tiff/g4_orientation_" + std::to_string(o) + ".tif"] = orientation;
    EXPECT_GT(CheckSuite("tiff", PXFORMAT_TIF, 0, allowances), 60);
}

TEST(TiffCodec, CompressionCodeBecomesCodecOption)
{
    PX_REQUIRE_TESTDATA();
    const std::pair<const char *, uint32_t> cases[] = {
        {"pillow/tiff/hopper.tif", 1},          {"pillow/tiff/hopper_lzw.tif", 5},
        {"pillow/tiff/hopper_g4.tif", 4},       {"pillow/tiff/hopper_jpg.tif", 7},
        {"pillow/tiff/tiff_adobe_deflate.tif", 8}, {"pillow/tiff/copyleft.tiff", 32773},
        {"pillow/tiff/compression.tif", 2},
    };
    for (const auto &[path, code] : cases) {
        SCOPED_TRACE(path);
        PxImage img;
        ASSERT_TRUE(DecodeFile(TestDataDir() / path, PXFORMAT_TIF, img)) << img.GetLastError();
        EXPECT_EQ(img.GetCodecOption(), code);
    }
}

// A file written with libtiff from raw samples, and what the engine must make of it.
struct HandMade {
    const char *name;
    uint32_t width, height;
    uint16_t bps, spp, photometric;
    std::vector<uint8_t> samples; // scanlines top first; plane after plane when planar
    std::vector<uint8_t> rgba;    // expected, top first
    uint32_t bpp;                 // expected depth
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t extra = 0xFFFF; // the one extra sample's kind; 0xFFFF for none
    std::vector<uint16_t> colourMap = {};
    bool tiled = false;
    float resolution = 0;
    uint16_t unit = RESUNIT_INCH;
    int32_t dpi = 96;
};

void WriteHandMade(const HandMade &m, const std::filesystem::path &path)
{
    TIFF *tif = TIFFOpen(path.c_str(), "w");
    ASSERT_TRUE(tif);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, m.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, m.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, m.bps);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, m.spp);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, m.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, m.planar);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    if (m.extra != 0xFFFF)
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &m.extra);
    if (!m.colourMap.empty()) {
        const size_t n = m.colourMap.size() / 3;
        TIFFSetField(tif, TIFFTAG_COLORMAP, m.colourMap.data(), m.colourMap.data() + n,
                     m.colourMap.data() + 2 * n);
    }
    if (m.resolution > 0) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, m.resolution);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, m.resolution);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, m.unit);
    }
    const uint32_t planes = m.planar == PLANARCONFIG_SEPARATE ? m.spp : 1;
    const size_t planeBytes = m.samples.size() / planes;
    const size_t rowBytes = planeBytes / m.height;
    if (!m.tiled) {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, m.height);
        for (uint32_t p = 0; p < planes; ++p)
            ASSERT_GE(TIFFWriteEncodedStrip(tif, p, (void *)(m.samples.data() + p * planeBytes),
                                            tmsize_t(planeBytes)),
                      0);
    } else {
        // 16 x 16 tiles over a larger picture: partial tiles on the right and at the bottom.
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
        const size_t sampleBytes = m.bps / 8, pixelBytes = sampleBytes * (planes == 1 ? m.spp : 1);
        std::vector<uint8_t> tile(16 * 16 * pixelBytes);
        for (uint32_t p = 0; p < planes; ++p)
            for (uint32_t ty = 0; ty < m.height; ty += 16)
                for (uint32_t tx = 0; tx < m.width; tx += 16) {
                    std::fill(tile.begin(), tile.end(), 0);
                    for (uint32_t y = ty; y < std::min(ty + 16, m.height); ++y)
                        for (uint32_t x = tx; x < std::min(tx + 16, m.width); ++x)
                            std::memcpy(&tile[((y - ty) * 16 + (x - tx)) * pixelBytes],
                                        &m.samples[p * planeBytes + y * rowBytes + x * pixelBytes],
                                        pixelBytes);
                    ASSERT_GE(TIFFWriteTile(tif, tile.data(), tx, ty, 0, uint16_t(p)), 0);
                }
    }
    TIFFClose(tif);
}

std::vector<uint8_t> U16(std::initializer_list<uint16_t> values)
{
    std::vector<uint8_t> out(values.size() * 2);
    std::memcpy(out.data(), std::data(values), out.size()); // libtiff takes host order
    return out;
}

TEST(TiffCodec, HandMadeLayouts)
{
    std::vector<HandMade> cases;
    cases.push_back({"grey + premultiplied alpha in planes", 4, 1, 8, 2, PHOTOMETRIC_MINISBLACK,
                     {100, 0, 255, 50, /* alpha plane */ 200, 0, 255, 100},
                     // 100 * 255 / 200 = 127.5 and 50 * 255 / 100 = 127.5, truncated
                     {127, 127, 127, 200, 0, 0, 0, 0, 255, 255, 255, 255, 127, 127, 127, 100},
                     8, PLANARCONFIG_SEPARATE, EXTRASAMPLE_ASSOCALPHA});
    cases.push_back({"RGBA, straight alpha", 2, 1, 8, 4, PHOTOMETRIC_RGB,
                     {10, 20, 30, 40, 50, 60, 70, 0},
                     {10, 20, 30, 40, 50, 60, 70, 0}, 24, PLANARCONFIG_CONTIG,
                     EXTRASAMPLE_UNASSALPHA});
    cases.push_back({"RGBA, premultiplied alpha", 2, 1, 8, 4, PHOTOMETRIC_RGB,
                     {10, 20, 30, 51, 200, 100, 0, 255},
                     {50, 100, 150, 51, 200, 100, 0, 255}, 24, PLANARCONFIG_CONTIG,
                     EXTRASAMPLE_ASSOCALPHA});
    cases.push_back({"CMYK", 4, 1, 8, 4, PHOTOMETRIC_SEPARATED,
                     {0, 0, 0, 0, 0, 255, 255, 0, 0, 0, 0, 255, 128, 0, 0, 0},
                     {255, 255, 255, 255, 255, 0, 0, 255, 0, 0, 0, 255, 127, 255, 255, 255},
                     24});
    cases.push_back({"2-bit grey, min-is-white", 4, 1, 2, 1, PHOTOMETRIC_MINISWHITE,
                     {0b00011011},
                     {255, 255, 255, 255, 170, 170, 170, 255, 85, 85, 85, 255, 0, 0, 0, 255}, 4});
    // 12-bit samples 0, 4095, 2048, 1 packed big-endian: 000 FFF 800 001.
    cases.push_back({"12-bit grey", 4, 1, 12, 1, PHOTOMETRIC_MINISBLACK,
                     {0x00, 0x0F, 0xFF, 0x80, 0x00, 0x01},
                     {0, 0, 0, 255, 255, 255, 255, 255, 128, 128, 128, 255, 0, 0, 0, 255}, 8});
    cases.push_back({"16-bit grey", 4, 1, 16, 1, PHOTOMETRIC_MINISBLACK,
                     U16({0x1234, 0xFFFF, 0x00FF, 0x8000}),
                     {0x12, 0x12, 0x12, 255, 255, 255, 255, 255, 0, 0, 0, 255, 0x80, 0x80, 0x80, 255},
                     8});
    cases.push_back({"16-bit RGB", 2, 1, 16, 3, PHOTOMETRIC_RGB,
                     U16({0x1000, 0x2000, 0x3000, 0xFFFF, 0x00FF, 0xA0A0}),
                     {0x10, 0x20, 0x30, 255, 255, 0, 0xA0, 255}, 24});
    cases.push_back({"4-bit palette with 8-bit map values", 2, 1, 4, 1, PHOTOMETRIC_PALETTE,
                     {0x1F},
                     {1, 2, 3, 255, 250, 251, 252, 255}, 4, PLANARCONFIG_CONTIG, 0xFFFF,
                     [] {
                         std::vector<uint16_t> map(48, 0);
                         map[1] = 1, map[16 + 1] = 2, map[32 + 1] = 3;
                         map[15] = 250, map[16 + 15] = 251, map[32 + 15] = 252;
                         return map;
                     }()});
    cases.push_back({"8-bit grey at 118.11 dots per cm", 2, 1, 8, 1, PHOTOMETRIC_MINISBLACK, {0, 200},
                     {0, 0, 0, 255, 200, 200, 200, 255}, 8, PLANARCONFIG_CONTIG, 0xFFFF, {}, false,
                     118.11f, RESUNIT_CENTIMETER, 300});
    {
        // Tiled RGB in planes, 20 x 18 pixels over four 16 x 16 tiles.
        HandMade m{"tiled RGB in planes", 20, 18, 8, 3, PHOTOMETRIC_RGB, {}, {}, 24,
                   PLANARCONFIG_SEPARATE};
        m.tiled = true;
        m.samples.resize(20 * 18 * 3);
        m.rgba.resize(20 * 18 * 4);
        for (uint32_t i = 0; i < 20 * 18; ++i) {
            for (uint32_t c = 0; c < 3; ++c) {
                const auto v = uint8_t(i * (c + 3) + c * 50);
                m.samples[c * 20 * 18 + i] = v;
                m.rgba[4 * i + c] = v;
            }
            m.rgba[4 * i + 3] = 255;
        }
        cases.push_back(std::move(m));
    }

    TempFolder temp;
    for (size_t i = 0; i < cases.size(); ++i) {
        const HandMade &m = cases[i];
        SCOPED_TRACE(m.name);
        const auto path = temp.Fs("h" + std::to_string(i) + ".tif");
        ASSERT_NO_FATAL_FAILURE(WriteHandMade(m, path));
        PxImage img;
        ASSERT_TRUE(DecodeFile(path, PXFORMAT_TIF, img)) << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), m.bpp);
        EXPECT_EQ(ToRgba(img), m.rgba);
        EXPECT_EQ(img.GetXDPI(), m.dpi);
    }
}

struct Written {
    std::string name;
    PxImage image;
    uint32_t option;       // codec option when saving
    uint32_t compression;  // what the file must use (and the reloaded codec option)
    std::string tags;      // compression, photometric, predictor [, rows per strip % 16]
    int tolerance = 0;
};

// Pixels come back as they went, both through the engine and through Pillow; the tags are read
// by Pillow.
TEST(TiffCodec, WriterRoundTrips)
{
    std::vector<Written> cases;
    for (uint32_t code : {1u, 5u, 8u, 32946u, 32773u})
        cases.push_back({"24-bit, compression " + std::to_string(code), Noise(24, 37, 19), code,
                         code, std::to_string(code) + " 2 " + (code == 5 ? "2" : "1")});
    cases.push_back({"1-bit grey: G4, white is zero", Noise(1, 37, 19, true), 0, 4, "4 0 1"});
    cases.push_back({"1-bit colours: G4 with a palette", Noise(1, 37, 19), 0, 4, "4 3 1"});
    cases.push_back({"4-bit colours: none", Noise(4, 37, 19), 0, 1, "1 3 1"});
    cases.push_back({"4-bit grey: none", Noise(4, 37, 19, true), 0, 1, "1 1 1"});
    cases.push_back({"8-bit colours: PackBits", Noise(8, 37, 19), 0, 32773, "32773 3 1"});
    cases.push_back({"8-bit grey: PackBits", Noise(8, 37, 19, true), 0, 32773, "32773 1 1"});
    cases.push_back({"8-bit grey, LZW: predictor", Noise(8, 37, 19, true), 5, 5, "5 1 2"});
    cases.push_back({"24-bit: JPEG in whole MCU rows", Gradient(37, 19), 0, 7, "7 6 1 0", 12});
    {
        PxImage img = Noise(24, 37, 19);
        img.AlphaCreate();
        for (uint32_t y = 0; y < 19; ++y)
            for (uint32_t x = 0; x < 37; ++x)
                img.AlphaSet(int32_t(x), int32_t(y), uint8_t(x * 7 + y));
        cases.push_back({"24-bit with alpha: LZW", std::move(img), 0, 5, "5 2 2"});
    }
    // A codec option the picture cannot take falls back to what its depth calls for.
    cases.push_back({"24-bit asking for G4", Gradient(37, 19), 4, 7, "7 6 1 0", 12});
    cases.push_back({"24-bit asking for old-style JPEG", Gradient(37, 19), 6, 7, "7 6 1 0", 12});
    cases.push_back({"4-bit asking for JPEG", Noise(4, 37, 19), 7, 1, "1 3 1"});
    cases.push_back({"8-bit colours asking for JPEG", Noise(8, 37, 19), 7, 32773, "32773 3 1"});
    cases.push_back({"1-bit asking for PackBits", Noise(1, 37, 19, true), 32773, 32773,
                     "32773 1 1"});

    TempFolder temp;
    std::vector<PillowFile> files;
    std::vector<std::string> paths;
    for (size_t i = 0; i < cases.size(); ++i) {
        Written &c = cases[i];
        SCOPED_TRACE(c.name);
        c.image.SetCodecOption(c.option);
        const auto bytes = EncodeToMemory(c.image, PXFORMAT_TIF);
        PxImage back;
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_TIF, back)) << back.GetLastError();
        EXPECT_EQ(back.GetCodecOption(), c.compression);
        EXPECT_LE(MaxDiff(ToRgba(back), ToRgba(c.image)), c.tolerance);
        if (c.tolerance == 0) {
            EXPECT_EQ(back.GetBpp(), c.image.GetBpp());
        }
        files.push_back({temp.Fs("w" + std::to_string(i) + ".tif")});
        paths.push_back(files.back().path.string());
        WriteFileBytes(files.back().path, bytes);
    }
    auto pillow = PillowRgba(files);
    const std::string tags =
        Python("from PIL import Image\n"
               "import sys\n"
               "for p in sys.argv[1:]:\n"
               "    t = Image.open(p).tag_v2\n"
               "    line = '%d %d %d' % (t[259], t[262], t.get(317, 1))\n"
               "    if t[259] == 7:\n"
               "        line += ' %d' % (t[278] % 16)\n"
               "    print(line)\n",
               paths);
    std::istringstream lines(tags);
    for (size_t i = 0; i < cases.size(); ++i) {
        const Written &c = cases[i];
        SCOPED_TRACE(c.name + " read by Pillow");
        std::string line;
        std::getline(lines, line);
        EXPECT_EQ(line, c.tags);
        const auto &got = pillow[paths[i]];
        ASSERT_TRUE(got);
        EXPECT_LE(MaxDiff(*got, ToRgba(c.image)), c.tolerance);
    }
}

TEST(TiffCodec, WriterKeepsResolutionAndQuality)
{
    PxImage img = Gradient(32, 32);
    img.SetXDPI(300);
    img.SetYDPI(200);
    PxImage back;
    ASSERT_TRUE(DecodeMemory(EncodeToMemory(img, PXFORMAT_TIF), PXFORMAT_TIF, back));
    EXPECT_EQ(back.GetXDPI(), 300);
    EXPECT_EQ(back.GetYDPI(), 200);
    // A lower JPEG quality must make a smaller file.
    img.SetJpegQuality(30);
    EXPECT_LT(EncodeToMemory(img, PXFORMAT_TIF).size(),
              EncodeToMemory(back, PXFORMAT_TIF).size());
}

TEST(TiffCodec, BrokenStreamsFailWithAReason)
{
    PxImage src = Noise(24, 64, 64);
    src.SetCodecOption(5);
    const auto good = EncodeToMemory(src, PXFORMAT_TIF);
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
    } const cases[] = {
        {"empty", {}},
        {"header only", {good.begin(), good.begin() + 8}},
        {"directory cut off", {good.begin(), good.end() - 20}},
        {"not a TIFF", {'I', 'I', 0, 42, 0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        EXPECT_FALSE(DecodeMemory(c.bytes, PXFORMAT_TIF, img));
        EXPECT_STRNE(img.GetLastError(), "");
    }
}

} // namespace
