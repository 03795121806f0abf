// The JPEG codec against the public suites, Pillow as the second decoder, and hand-built EXIF
// blocks. Every JPEG of the suites with a reference hash matches it exactly (same IDCT as the
// reference decoders); pil_sample_cmyk.jpg has none, because the reference decoders round CMYK
// to RGB differently by 1, so it is held against Pillow with a tolerance of 1.

#include "codecsuite.h"

namespace {
using namespace codectest;

std::vector<uint8_t> Encode(PxImage img)
{
    return EncodeToMemory(img, PXFORMAT_JPG);
}

TEST(JpegCodec, PublicSuite)
{
    PX_REQUIRE_TESTDATA();
    EXPECT_GT(CheckSuite("jpeg", PXFORMAT_JPG, 1, {}), 20);
}

TEST(JpegCodec, ReadsLayoutAndResolutionOfRealFiles)
{
    PX_REQUIRE_TESTDATA();
    struct Case {
        const char *path;
        uint32_t bpp;
        int32_t dpi;
    } const cases[] = {
        {"pillow/jpeg/hopper.jpg", 24, 96},
        {"pillow/jpeg/hopper_gray.jpg", 8, 96},
        {"pillow/jpeg/pil_sample_cmyk.jpg", 24, 72},
        {"pillow/jpeg/photoshop-200dpi.jpg", 24, 200},
        // JFIF says 72, the camera's EXIF block 180: the EXIF value wins.
        {"pillow/jpeg/flower.jpg", 24, 180},
        // EXIF in pixels per centimetre: 37.79 x 2.54 = 96.
        {"pillow/jpeg/hopper_bad_exif.jpg", 8, 96},
        // EXIF resolution 2^32-1 is nonsense and is ignored; JFIF gives no unit either.
        {"pillow/jpeg/exif_gps.jpg", 24, 96},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        PxImage img;
        ASSERT_TRUE(DecodeFile(TestDataDir() / c.path, PXFORMAT_JPG, img)) << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), c.bpp);
        EXPECT_EQ(img.GetXDPI(), c.dpi);
        EXPECT_EQ(img.GetYDPI(), c.dpi);
        if (c.bpp == 8) {
            EXPECT_TRUE(img.IsGrayScale());
        }
        EXPECT_EQ(img.GetType(), uint32_t(PXFORMAT_JPG));
    }
}

TEST(JpegCodec, ProgressiveFileMatchesPillow)
{
    PX_REQUIRE_TESTDATA();
    TempFolder temp;
    const auto file = temp.Fs("progressive.jpg");
    Python("from PIL import Image\n"
           "import sys\n"
           "Image.open(sys.argv[1]).save(sys.argv[2], progressive=True, quality=80)\n",
           {(TestDataDir() / "pillow/jpeg/hopper.jpg").string(), file.string()});
    PxImage img;
    ASSERT_TRUE(DecodeFile(file, PXFORMAT_JPG, img)) << img.GetLastError();
    const auto expected = PillowRgba(file);
    ASSERT_TRUE(expected);
    EXPECT_LE(MaxDiff(ToRgba(img), *expected), 1);
}

TEST(JpegCodec, Quality90RoundTripStaysClose)
{
    PxImage src = Gradient(67, 45); // sides that are not multiples of the 8- and 16-pixel MCU
    const auto bytes = Encode(src);
    PxImage back;
    ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_JPG, back)) << back.GetLastError();
    ASSERT_EQ(back.GetBpp(), 24u);
    const auto a = ToRgba(src), b = ToRgba(back);
    EXPECT_LT(MeanDiff(a, b), 1.5);
    EXPECT_LE(MaxDiff(a, b), 12);
}

// What the files say about themselves, read by Pillow: colour space, density, and the first
// luminance quantiser, which libjpeg scales from 16 by the quality (IJG formula).
TEST(JpegCodec, WriterSettingsAsPillowSeesThem)
{
    struct Case {
        const char *name;
        PxImage image;
        uint32_t option;
        int quality;
        int32_t xdpi, ydpi;
        std::string expected; // mode, dpi, first quantiser, largest quantiser > 255
    };
    std::vector<Case> cases;
    cases.push_back({"colour q90", Gradient(40, 30), 0, 90, 96, 96, "RGB 96x96 q0=3 wide=0"});
    cases.push_back({"colour q50", Gradient(40, 30), 0, 50, 96, 96, "RGB 96x96 q0=16 wide=0"});
    cases.push_back({"q100", Gradient(40, 30), 0, 100, 96, 96, "RGB 96x96 q0=1 wide=0"});
    cases.push_back({"dpi", Gradient(40, 30), 0, 90, 300, 150, "RGB 300x150 q0=3 wide=0"});
    cases.push_back({"grey palette", Noise(8, 40, 30, true), 0, 90, 96, 96, "L 96x96 q0=3 wide=0"});
    cases.push_back({"4-bit grey", Noise(4, 40, 30, true), 0, 90, 96, 96, "L 96x96 q0=3 wide=0"});
    cases.push_back({"option 4: greyscale", Gradient(40, 30), 4, 90, 96, 96, "L 96x96 q0=3 wide=0"});
    // Quality 5 scales the quantisers past 8 bits unless option 1 forces baseline tables.
    cases.push_back({"q5", Gradient(40, 30), 0, 5, 96, 96, "RGB 96x96 q0=160 wide=1"});
    cases.push_back({"q5 option 1: baseline", Gradient(40, 30), 1, 5, 96, 96,
                     "RGB 96x96 q0=160 wide=0"});
    TempFolder temp;
    std::vector<std::string> files;
    for (size_t i = 0; i < cases.size(); ++i) {
        Case &c = cases[i];
        c.image.SetCodecOption(c.option);
        c.image.SetJpegQuality(uint8_t(c.quality));
        c.image.SetXDPI(c.xdpi);
        c.image.SetYDPI(c.ydpi);
        files.push_back(temp.Fs("w" + std::to_string(i) + ".jpg").string());
        WriteFileBytes(files.back(), Encode(c.image));
    }
    const std::string out = Python("from PIL import Image\n"
                                   "import sys\n"
                                   "for p in sys.argv[1:]:\n"
                                   "    im = Image.open(p)\n"
                                   "    x, y = im.info.get('dpi', (0, 0))\n"
                                   "    q = im.quantization[0]\n"
                                   "    print('%s %dx%d q0=%d wide=%d' % (im.mode, round(x), "
                                   "round(y), q[0], max(q) > 255))\n",
                                   files);
    std::istringstream lines(out);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string line;
        std::getline(lines, line);
        EXPECT_EQ(line, c.expected);
    }
}

TEST(JpegCodec, RefusesColourPalette)
{
    PxImage img = Noise(8, 10, 10, false);
    PxMemFile mem;
    EXPECT_FALSE(img.Encode(mem, PXFORMAT_JPG));
    EXPECT_STREQ(img.GetLastError(), "JPEG can save only RGB or GreyScale images");
}

TEST(JpegCodec, BrokenStreamsFailWithAReason)
{
    const auto good = Encode(Gradient(64, 64));
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
    } const cases[] = {
        {"empty", {}},
        {"start and end markers only", {0xFF, 0xD8, 0xFF, 0xD9}},
        {"not a JPEG", {'G', 'I', 'F', '8', '9', 'a', 0, 0}},
        {"cut in the headers", {good.begin(), good.begin() + 100}},
        {"cut in the scan", {good.begin(), good.begin() + good.size() / 2}},
        {"cut before the end marker", {good.begin(), good.end() - 40}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        EXPECT_FALSE(DecodeMemory(c.bytes, PXFORMAT_JPG, img));
        EXPECT_STRNE(img.GetLastError(), "");
    }
}

// An APP1 "Exif" segment with IFD0 holding Orientation, XResolution, YResolution and
// ResolutionUnit, in either byte order.
std::vector<uint8_t> ExifSegment(bool bigEndian, uint16_t orientation, uint32_t xNum, uint32_t xDen,
                                 uint32_t yNum, uint32_t yDen, uint16_t unit,
                                 uint32_t ifdOffset = 8)
{
    std::vector<uint8_t> t = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    auto u16 = [&](uint32_t v) {
        if (bigEndian)
            t.insert(t.end(), {uint8_t(v >> 8), uint8_t(v)});
        else
            t.insert(t.end(), {uint8_t(v), uint8_t(v >> 8)});
    };
    auto u32 = [&](uint32_t v) {
        if (bigEndian) {
            u16(v >> 16), u16(v & 0xFFFF);
        } else {
            u16(v & 0xFFFF), u16(v >> 16);
        }
    };
    const uint8_t order = bigEndian ? 'M' : 'I';
    t.push_back(order);
    t.push_back(order);
    u16(42);
    u32(ifdOffset);
    const uint32_t data = 8 + 2 + 4 * 12 + 4; // rationals after the IFD
    u16(4);
    u16(0x0112), u16(3), u32(1), u16(orientation), u16(0);
    u16(0x011A), u16(5), u32(1), u32(data);
    u16(0x011B), u16(5), u32(1), u32(data + 8);
    u16(0x0128), u16(3), u32(1), u16(unit), u16(0);
    u32(0);
    u32(xNum), u32(xDen), u32(yNum), u32(yDen);
    t[2] = uint8_t((t.size() - 2) >> 8);
    t[3] = uint8_t(t.size() - 2);
    return t;
}

TEST(JpegCodec, ExifGivesResolutionAndOrientationButTheRowsStayAsStored)
{
    PxImage src = Gradient(40, 24); // wider than tall: a turn by 90 degrees would show
    src.SetXDPI(72);
    src.SetYDPI(72);
    const auto plain = Encode(src);
    PxImage reference;
    ASSERT_TRUE(DecodeMemory(plain, PXFORMAT_JPG, reference));
    const auto storedPixels = ToRgba(reference);

    struct Case {
        const char *name;
        std::vector<uint8_t> segment;
        int32_t xdpi, ydpi;
        uint32_t orientation;
    } const cases[] = {
        {"Intel order, inches", ExifSegment(false, 6, 300, 1, 200, 1, 2), 300, 200, 6},
        {"Motorola order, centimetres", ExifSegment(true, 8, 118, 1, 59, 1, 3), 300, 150, 8},
        {"fractional", ExifSegment(true, 3, 7201, 10, 3600, 10, 2), 720, 360, 3},
        {"zero denominator keeps JFIF", ExifSegment(false, 6, 300, 0, 300, 0, 2), 72, 72, 6},
        {"unit none keeps JFIF", ExifSegment(false, 9, 300, 1, 300, 1, 1), 72, 72, 0},
        {"IFD outside the block keeps JFIF", ExifSegment(true, 6, 300, 1, 300, 1, 2, 5000), 72,
         72, 0},
    };
    // After SOI and the JFIF APP0 segment, where cameras put theirs.
    const size_t insertAt = 4 + (size_t(plain[4]) << 8 | plain[5]);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes(plain.begin(), plain.begin() + insertAt);
        bytes.insert(bytes.end(), c.segment.begin(), c.segment.end());
        bytes.insert(bytes.end(), plain.begin() + insertAt, plain.end());
        PxImage img;
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_JPG, img)) << img.GetLastError();
        EXPECT_EQ(img.GetWidth(), 40u);
        EXPECT_EQ(img.GetHeight(), 24u);
        EXPECT_EQ(ToRgba(img), storedPixels);
        EXPECT_EQ(img.GetXDPI(), c.xdpi);
        EXPECT_EQ(img.GetYDPI(), c.ydpi);
        EXPECT_EQ(img.GetExifOrientation(), c.orientation);
        EXPECT_EQ(img.GetMetadata(), nullptr) << "kept only when asked for";
    }
}

// Kept on request: the EXIF block without its thumbnail and a profile spread over two APP2
// markers come back out of the writer; orientation 1 is written once the picture was turned.
TEST(JpegCodec, KeptMetadataTravelsWithThePicture)
{
    PxImage src = Gradient(40, 24);
    const auto plain = Encode(src);
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "Motorola order" : "Intel order");
        TestExif fields;
        fields.bigEndian = bigEndian;
        fields.orientation = 6;
        fields.pixelWidth = 40;
        fields.pixelHeight = 24;
        const std::string exif = MakeExifBlock(fields);
        std::string icc(70000, '\0');
        for (size_t i = 0; i < icc.size(); ++i)
            icc[i] = static_cast<char>(i * 7 + i / 251);
        const std::string iccHead = std::string("ICC_PROFILE\0", 12);
        auto bytes = InsertJpegSegment(plain, 0xE2, iccHead + '\2' + '\2' + icc.substr(60000));
        bytes = InsertJpegSegment(bytes, 0xE2, iccHead + '\1' + '\2' + icc.substr(0, 60000));
        bytes = InsertJpegSegment(bytes, 0xE1, exif);

        PxImage img;
        img.SetKeepMetadata(true);
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_JPG, img)) << img.GetLastError();
        ASSERT_NE(img.GetMetadata(), nullptr);
        // Everything before the thumbnail's directory stays where it was; only the link to it
        // (after IFD0's four entries) is cleared.
        std::string expected = exif.substr(0, exif.size() - fields.thumbnail.size() - 30);
        expected.replace(6 + 8 + 2 + 4 * 12, 4, std::string(4, '\0'));
        const std::string kept = img.GetMetadata()->exif;
        EXPECT_EQ(kept, expected);
        EXPECT_EQ(img.GetMetadata()->icc, icc);

        ASSERT_TRUE(img.Resample(20, 12));
        ASSERT_TRUE(img.AutoOrient());
        EXPECT_EQ(img.GetWidth(), 12u);
        EXPECT_EQ(img.GetExifOrientation(), 1u);
        TempFolder temp;
        const auto file = temp.Fs("turned.jpg");
        WriteFileBytes(file, Encode(img));
        PxImage back;
        back.SetKeepMetadata(true);
        ASSERT_TRUE(DecodeFile(file, PXFORMAT_JPG, back)) << back.GetLastError();
        ASSERT_NE(back.GetMetadata(), nullptr);
        EXPECT_EQ(back.GetExifOrientation(), 1u);
        EXPECT_EQ(back.GetMetadata()->icc, icc);
        EXPECT_EQ(back.GetMetadata()->exif.size(), kept.size());
        // Pillow as the second reader: orientation, the pixel size of the EXIF directory, the
        // date and camera, the profile, and no second directory (the thumbnail's).
        EXPECT_EQ(Python("import sys\n"
                         "from PIL import Image\n"
                         "im = Image.open(sys.argv[1])\n"
                         "e = im.getexif(); sub = e.get_ifd(0x8769)\n"
                         "print(e[0x112], sub[0xA002], sub[0xA003], sub[0x9003], e[0x10F],\n"
                         "      len(im.info['icc_profile']), e.get_ifd(-1) == {})\n",
                         {file.string()}),
                  "1 12 20 " + fields.date + " " + fields.make + " 70000 True\n");
    }
}

struct PixelSizeField {
    uint32_t type = 0, value = 0;
};

// PixelXDimension or PixelYDimension of a kept EXIF block ("Exif\0\0" on), read the way a
// TIFF reader does; type 0 when the field cannot be found.
PixelSizeField FindPixelSize(const std::string &exif, uint16_t tag)
{
    const auto *t = reinterpret_cast<const uint8_t *>(exif.data()) + 6;
    const size_t size = exif.size() - 6;
    const bool big = t[0] == 'M';
    auto u16 = [&](size_t at) -> uint32_t {
        return at + 2 > size ? 0 : big ? (t[at] << 8 | t[at + 1]) : (t[at + 1] << 8 | t[at]);
    };
    auto u32 = [&](size_t at) -> uint32_t {
        return big ? (u16(at) << 16 | u16(at + 2)) : (u16(at + 2) << 16 | u16(at));
    };
    auto find = [&](size_t ifd, uint16_t wanted) -> size_t {
        for (uint32_t i = 0, n = u16(ifd); i < n; ++i)
            if (u16(ifd + 2 + i * 12) == wanted)
                return ifd + 2 + i * 12;
        return 0;
    };
    const size_t sub = find(u32(4), 0x8769); // the link to the EXIF directory
    const size_t entry = sub ? find(u32(sub + 8), tag) : 0;
    if (!entry)
        return {};
    const uint32_t type = u16(entry + 2);
    return {type, type == 3 || type == 8 ? u16(entry + 8) : u32(entry + 8)};
}

// --keep-metadata: the pixel size the EXIF directory states is the written picture's, in the
// type the camera chose where the size fits it.
TEST(JpegCodec, KeptMetadataStatesTheNewPixelSizeInItsOwnType)
{
    const struct {
        uint16_t type;
        uint32_t width;
        uint16_t writtenType;
    } cases[] = {
        {3, 20, 3},
        {4, 20, 4},
        {8, 20, 8},
        {9, 20, 9},
        {3, 40000, 3},
        {8, 40000, 4}, // a width beyond SSHORT
    };
    const auto plain = Encode(Gradient(40, 24));
    for (const auto &c : cases) {
        for (bool bigEndian : {false, true}) {
            SCOPED_TRACE(testing::Message() << "type " << c.type << " width " << c.width
                                            << (bigEndian ? " Motorola" : " Intel"));
            TestExif fields;
            fields.bigEndian = bigEndian;
            fields.pixelType = c.type;
            fields.pixelWidth = 40;
            fields.pixelHeight = 24;
            PxImage img;
            img.SetKeepMetadata(true);
            ASSERT_TRUE(DecodeMemory(InsertJpegSegment(plain, 0xE1, MakeExifBlock(fields)),
                                     PXFORMAT_JPG, img))
                << img.GetLastError();
            ASSERT_TRUE(img.Resample(c.width, 2));
            PxImage back;
            back.SetKeepMetadata(true);
            ASSERT_TRUE(DecodeMemory(Encode(img), PXFORMAT_JPG, back)) << back.GetLastError();
            ASSERT_NE(back.GetMetadata(), nullptr);
            const std::string &exif = back.GetMetadata()->exif;
            const PixelSizeField x = FindPixelSize(exif, 0xA002), y = FindPixelSize(exif, 0xA003);
            EXPECT_EQ(x.type, c.writtenType);
            EXPECT_EQ(x.value, c.width);
            EXPECT_EQ(y.type, c.type) << "a height of 2 fits every type";
            EXPECT_EQ(y.value, 2u);
        }
    }
}

TEST(JpegCodec, ScaledDecodingCoversTheFitAndStaysFaithful)
{
    PxImage src = Gradient(640, 480);
    const auto bytes = Encode(src);
    struct Case {
        const char *name;
        uint32_t boxWidth, boxHeight;
        uint8_t scale;
        uint32_t width, height;
    } const cases[] = {
        {"full size by default", 0, 0, 0, 640, 480},
        {"scale 2", 0, 0, 2, 320, 240},
        {"scale 8", 0, 0, 8, 80, 60},
        {"scale beyond 8 stops at 1/8", 0, 0, 16, 80, 60},
        {"thumbnail cell: 2/8 is the least that covers 92 x 69", 92, 92, 0, 160, 120},
        {"tall box: the height side fits", 1000, 60, 0, 80, 60},
        {"the box wins over the scale", 400, 400, 8, 400, 300},
        {"a box larger than the picture decodes it whole", 1000, 1000, 0, 640, 480},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        img.SetDecodeFitBox(c.boxWidth, c.boxHeight);
        img.SetJpegScale(c.scale);
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_JPG, img)) << img.GetLastError();
        EXPECT_EQ(img.GetWidth(), c.width);
        EXPECT_EQ(img.GetHeight(), c.height);
    }
    // The reduced decode shows the same picture as the full one shrunk to its size.
    PxImage full, small;
    ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_JPG, full));
    ASSERT_TRUE(full.Resample(160, 120, 0));
    small.SetDecodeFitBox(92, 92);
    ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_JPG, small));
    EXPECT_LT(MeanDiff(ToRgba(full), ToRgba(small)), 2.0);
}

} // namespace
