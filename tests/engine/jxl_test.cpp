// The JPEG XL codec against libjxl's own tools: our files read by djxl, cjxl's files read by
// us, the container's metadata boxes taken apart by hand, and broken or hostile files refused.

#include "codecsuite.h"
#include "engine/pximage.h"

#include <cmath>
#include <cstring>

namespace {
using namespace codectest;

std::string Quote(const std::filesystem::path &p)
{
    return "'" + p.string() + "'";
}

// djxl's picture (as a PNG read by the engine's PNG codec) in RGBA rows top first.
std::optional<std::vector<uint8_t>> Djxl(const std::filesystem::path &jxl,
                                         const std::string &options = "")
{
    const auto png = jxl.string() + ".png";
    if (Shell("djxl " + Quote(jxl) + " '" + png + "' " + options) != 0)
        return std::nullopt;
    // Kept, so that the PNG's profile leaves djxl's values as they are.
    PxImage img;
    img.SetKeepMetadata(true);
    if (!DecodeFile(png, PXFORMAT_PNG, img))
        return std::nullopt;
    return ToRgba(img);
}

std::vector<uint8_t> Encode(PxImage &img, uint32_t quality = 0, bool lossless = false)
{
    return EncodeWith(img, PXFORMAT_JXL, quality, lossless);
}

std::string Text(const std::vector<uint8_t> &bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// The boxes of a container file: type and payload.
struct Box {
    std::string type;
    std::string payload;
};

std::vector<Box> Boxes(const std::vector<uint8_t> &file)
{
    std::vector<Box> boxes;
    size_t at = 0;
    while (file.size() - at >= 8) {
        uint64_t size = uint64_t(file[at]) << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        const std::string type(file.begin() + long(at) + 4, file.begin() + long(at) + 8);
        size_t head = 8;
        if (size == 1) {
            size = 0;
            for (int i = 0; i < 8; ++i)
                size = size << 8 | file[at + 8 + size_t(i)];
            head = 16;
        } else if (size == 0) {
            size = file.size() - at;
        }
        if (size < head || size > file.size() - at)
            break;
        boxes.push_back({type, std::string(file.begin() + long(at + head), file.begin() + long(at + size))});
        at += size_t(size);
    }
    return boxes;
}

std::vector<uint8_t> Container(const std::vector<Box> &boxes)
{
    std::vector<uint8_t> out;
    for (const Box &b : boxes) {
        const uint32_t size = uint32_t(b.payload.size() + 8);
        out.insert(out.end(), {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)});
        out.insert(out.end(), b.type.begin(), b.type.end());
        out.insert(out.end(), b.payload.begin(), b.payload.end());
    }
    return out;
}

// A Brotli stream holding `data` in one uncompressed meta-block (RFC 7932, section 9.2).
std::string BrotliStored(const std::string &data)
{
    const uint32_t mlen = uint32_t(data.size()) - 1; // at most 65536 bytes
    // WBITS 0 (16), ISLAST 0, MNIBBLES 0 (four nibbles), MLEN-1, ISUNCOMPRESSED 1.
    const uint32_t bits = 0u | 0u << 1 | 0u << 2 | mlen << 4 | 1u << 20;
    std::string out = {char(bits), char(bits >> 8), char(bits >> 16)};
    out += data;
    out += char(0x03); // ISLAST 1, ISLASTEMPTY 1
    return out;
}

TEST(JxlCodec, LosslessFilesAreExactForDjxlAndForUs)
{
    struct Case {
        const char *name;
        PxImage image;
    } cases[] = {
        {"24-bit, odd size", Noise(24, 37, 23)},
        {"24-bit with alpha", WithAlpha(Noise(24, 19, 7, false, 4))},
        {"8-bit grey", Noise(8, 13, 9, true, 6)},
        {"one pixel", Noise(24, 1, 1, false, 9)},
    };
    TempFolder temp;
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = Encode(c.image, 0, true);
        const auto file = temp.Fs("lossless.jxl");
        WriteFileBytes(file, bytes);
        const auto expected = ToRgba(c.image);
        const auto reference = Djxl(file);
        ASSERT_TRUE(reference);
        EXPECT_EQ(*reference, expected);
        PxImage back;
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_JXL, back)) << back.GetLastError();
        // Written as red-green-blue, whatever the depth, as the format table says.
        EXPECT_EQ(back.GetBpp(), 24u);
        EXPECT_EQ(back.AlphaIsValid(), c.image.AlphaIsValid());
        EXPECT_EQ(ToRgba(back), expected);
        EXPECT_EQ(back.GetType(), uint32_t(PXFORMAT_JXL));
        EXPECT_EQ(back.GetColourProfile(), ""); // sRGB
        // Quality 100 is lossless too, as for cjxl.
        PxImage q100;
        ASSERT_TRUE(DecodeMemory(Encode(c.image, 100), PXFORMAT_JXL, q100));
        EXPECT_EQ(ToRgba(q100), expected);
    }
}

TEST(JxlCodec, LossyFilesMatchDjxlAndStayClose)
{
    struct Case {
        const char *name;
        PxImage image;
        uint32_t quality;
        double minPsnr;
    } cases[] = {
        {"default distance", Gradient(67, 45), 0, 36},
        {"quality 95", Gradient(64, 64), 95, 40},
        {"quality 40 with alpha", WithAlpha(Gradient(50, 30)), 40, 24},
    };
    TempFolder temp;
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = Encode(c.image, c.quality);
        const auto file = temp.Fs("lossy.jxl");
        WriteFileBytes(file, bytes);
        PxImage back;
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_JXL, back)) << back.GetLastError();
        const auto ours = ToRgba(back);
        const auto reference = Djxl(file);
        ASSERT_TRUE(reference);
        EXPECT_LE(MaxDiff(ours, *reference), 1);
        EXPECT_GE(Psnr(ours, ToRgba(c.image)), c.minPsnr);
        EXPECT_EQ(back.AlphaIsValid(), c.image.AlphaIsValid());
    }
}

// cjxl's mapping: quality 90 is the default distance 1.0; lower qualities give smaller files.
TEST(JxlCodec, QualityMapsToDistanceAsCjxlDoes)
{
    TempFolder temp;
    PxImage picture = Gradient(96, 64);
    for (uint32_t y = 0; y < 64; y += 3)
        for (uint32_t x = 0; x < 96; ++x)
            picture.GetBits(y)[3 * x] ^= uint8_t(x * 13);
    WritePng(picture, temp.Fs("source.png"));
    EXPECT_EQ(Encode(picture, 0), Encode(picture, 90));
    for (int quality : {90, 75, 20, 5}) {
        SCOPED_TRACE(quality);
        const auto file = temp.Fs("cjxl.jxl");
        ASSERT_EQ(Shell("cjxl " + Quote(temp.Fs("source.png")) + " " + Quote(file) + " -q " +
                        std::to_string(quality)),
                  0);
        // The same distance; cjxl's header differs by a few bytes (it names the rendering
        // intent of its sRGB assumption).
        const double reference = double(ReadFileBytes(file).size());
        EXPECT_NEAR(double(Encode(picture, uint32_t(quality)).size()), reference, reference * 0.02);
    }
    EXPECT_LT(Encode(picture, 20).size(), Encode(picture, 75).size());
}

TEST(JxlCodec, ReadsCjxlFilesAsDjxlDoes)
{
    TempFolder temp;
    PxImage rgb = Gradient(45, 31);
    PxImage rgba = WithAlpha(Noise(24, 21, 13, false, 5));
    PxImage grey = Noise(8, 17, 11, true, 2);
    WritePng(rgb, temp.Fs("rgb.png"));
    WritePng(rgba, temp.Fs("rgba.png"));
    // A true grey file (the engine's PNG writer stores grey palettes as palettes).
    std::string pgm = "P5\n17 11\n255\n";
    for (uint32_t top = 0; top < 11; ++top)
        pgm.append(reinterpret_cast<const char *>(grey.GetBits(10 - top)), 17);
    WriteFileBytes(temp.Fs("grey.pgm"), std::vector<uint8_t>(pgm.begin(), pgm.end()));
    struct Case {
        const char *name;
        std::string options;
        const char *source;
        uint32_t bpp;
        bool alpha;
        bool exact;
    } const cases[] = {
        {"lossy", "-d 1", "rgb.png", 24, false, false},
        {"lossy, effort 3, progressive", "-d 2 -e 3 -p", "rgb.png", 24, false, false},
        {"lossless", "-d 0", "rgb.png", 24, false, true},
        {"lossy with alpha", "-d 1.5", "rgba.png", 24, true, false},
        {"lossless with alpha", "-d 0", "rgba.png", 24, true, true},
        {"lossless grey", "-d 0", "grey.pgm", 8, false, true},
        {"lossy grey", "-d 1", "grey.pgm", 8, false, false},
        {"in a container", "-d 0 --container=1", "rgb.png", 24, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = temp.Fs("ref.jxl");
        ASSERT_EQ(Shell("cjxl " + Quote(temp.Fs(c.source)) + " " + Quote(file) + " " + c.options), 0);
        PxImage img;
        ASSERT_TRUE(DecodeFile(file, PXFORMAT_JXL, img)) << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), c.bpp);
        EXPECT_EQ(img.AlphaIsValid(), c.alpha);
        const auto reference = Djxl(file);
        ASSERT_TRUE(reference);
        EXPECT_LE(MaxDiff(ToRgba(img), *reference), c.exact ? 0 : 1);
        if (c.exact) {
            PxImage &source = c.alpha ? rgba : c.bpp == 8 ? grey : rgb;
            EXPECT_EQ(ToRgba(img), ToRgba(source));
        }
        PxImage detected;
        EXPECT_TRUE(DecodeFile(file, PXFORMAT_UNKNOWN, detected)) << detected.GetLastError();
        EXPECT_EQ(detected.GetType(), uint32_t(PXFORMAT_JXL));
    }
}

// 16-bit samples of a PPM file (P6, maxval 65535), or empty.
std::vector<uint16_t> Ppm16(const std::filesystem::path &path)
{
    const auto bytes = ReadFileBytes(path);
    std::istringstream head(Text(bytes));
    std::string magic;
    int width = 0, height = 0, max = 0;
    head >> magic >> width >> height >> max;
    const auto start = size_t(head.tellg()) + 1;
    const size_t count = size_t(width) * height * 3;
    if (magic != "P6" || max != 65535 || bytes.size() < start + 2 * count)
        return {};
    std::vector<uint16_t> samples(count);
    for (size_t i = 0; i < count; ++i)
        samples[i] = uint16_t(bytes[start + 2 * i] << 8 | bytes[start + 2 * i + 1]);
    return samples;
}

// A 16-bit source: every sample becomes round(v * 255 / 65535) of what djxl decodes at 16 bits
// (djxl's own 8-bit output of 0.7 is no reference: it writes 16-bit bytes under maxval 255).
TEST(JxlCodec, DeepPicturesAreRoundedToEightBits)
{
    TempFolder temp;
    const uint32_t width = 64, height = 16;
    std::string ppm = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n65535\n";
    std::vector<uint16_t> samples;
    uint32_t state = 7;
    for (uint32_t i = 0; i < width * height * 3; ++i) {
        // Values at and around each rounding edge (k * 257 + 128.5), and random ones.
        const uint32_t level = i % 255;
        uint32_t v;
        switch (i % 4) {
        case 0: v = level * 257 + 129; break; // rounds up to level + 1
        case 1: v = level * 257 + 128; break; // rounds down to level
        case 2: v = level * 257; break;       // exactly level
        default: state = state * 1103515245u + 12345u; v = state >> 16; break;
        }
        samples.push_back(uint16_t(v));
        ppm += char(v >> 8);
        ppm += char(v & 255);
    }
    WriteFileBytes(temp.Fs("deep.ppm"), std::vector<uint8_t>(ppm.begin(), ppm.end()));
    const auto file = temp.Fs("deep.jxl");
    ASSERT_EQ(Shell("cjxl " + Quote(temp.Fs("deep.ppm")) + " " + Quote(file) + " -d 0"), 0);
    ASSERT_EQ(Shell("djxl " + Quote(file) + " " + Quote(temp.Fs("djxl.ppm"))), 0);
    const auto reference = Ppm16(temp.Fs("djxl.ppm"));
    ASSERT_EQ(reference, samples); // lossless at 16 bits
    PxImage img;
    ASSERT_TRUE(DecodeFile(file, PXFORMAT_JXL, img)) << img.GetLastError();
    ASSERT_EQ(img.GetBpp(), 24u);
    const auto ours = ToRgba(img);
    int wrong = 0;
    for (uint32_t p = 0; p < width * height; ++p)
        for (uint32_t c = 0; c < 3; ++c) {
            const uint32_t v = reference[p * 3 + c];
            wrong += ours[p * 4 + c] != uint8_t((v * 255 + 32767) / 65535);
        }
    EXPECT_EQ(wrong, 0);
}

std::string P3Profile(const TempFolder &temp)
{
    const auto source = temp.Fs("p3-source.png");
    PxImage tiny = Noise(24, 2, 2);
    WritePng(tiny, source);
    const auto jxl = temp.Fs("p3.jxl"), icc = temp.Fs("p3.icc");
    Shell("cjxl " + Quote(source) + " " + Quote(jxl) + " -d 0 -x color_space=RGB_D65_DCI_Rel_SRG");
    Shell("djxl " + Quote(jxl) + " " + Quote(temp.Fs("p3.png")) + " --icc_out=" + Quote(icc));
    return Text(ReadFileBytes(icc));
}

// The profile reported is the one of the pixels handed out: the file's own space, for lossless
// and lossy files alike, and nothing for sRGB.
TEST(JxlCodec, ReportsTheProfileOfThePixelsItGives)
{
    TempFolder temp;
    PxImage picture = Gradient(40, 24);
    WritePng(picture, temp.Fs("rgb.png"));
    struct Case {
        const char *name;
        std::string options;
        bool p3;
        int tolerance;
    } const cases[] = {
        {"lossless sRGB", "-d 0", false, 0},
        {"lossy sRGB", "-d 1", false, 1},
        {"lossless Display P3", "-d 0 -x color_space=RGB_D65_DCI_Rel_SRG", true, 0},
        {"lossy Display P3", "-d 1 -x color_space=RGB_D65_DCI_Rel_SRG", true, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = temp.Fs("colour.jxl");
        ASSERT_EQ(Shell("cjxl " + Quote(temp.Fs("rgb.png")) + " " + Quote(file) + " " + c.options), 0);
        const auto icc = temp.Fs("colour.icc");
        const auto reference = Djxl(file, "--icc_out=" + Quote(icc));
        ASSERT_TRUE(reference);
        for (bool keep : {false, true}) {
            PxImage img;
            img.SetKeepMetadata(keep);
            ASSERT_TRUE(DecodeFile(file, PXFORMAT_JXL, img)) << img.GetLastError();
            // What the decoder reported has been settled by the decode: kept, or converted.
            EXPECT_EQ(img.GetColourProfile(), "");
            if (!c.p3) {
                EXPECT_LE(MaxDiff(ToRgba(img), *reference), c.tolerance);
                EXPECT_FALSE(img.GetMetadata());
                continue;
            }
            if (keep) {
                // The pixels as djxl gives them, with djxl's profile of them.
                EXPECT_LE(MaxDiff(ToRgba(img), *reference), c.tolerance);
                ASSERT_TRUE(img.GetMetadata());
                EXPECT_EQ(img.GetMetadata()->icc, Text(ReadFileBytes(icc)));
                EXPECT_EQ(img.GetMetadata()->icc.substr(16, 4), "RGB ");
            } else {
                // Brought to sRGB: no longer the stored P3 values.
                EXPECT_GT(MaxDiff(ToRgba(img), *reference), c.tolerance);
                EXPECT_FALSE(img.GetMetadata());
            }
        }
    }
}

// The writer stores the kept profile; lossless keeps it, and its pixels stay untouched.
TEST(JxlCodec, WritesTheKeptProfile)
{
    TempFolder temp;
    const std::string p3 = P3Profile(temp);
    ASSERT_GT(p3.size(), 128u);
    auto metadata = std::make_shared<PxMetadata>();
    metadata->icc = p3;
    PxImage src = Noise(24, 16, 8, false, 3);
    src.SetMetadata(metadata);
    const auto bytes = Encode(src, 0, true);
    PxImage back;
    back.SetKeepMetadata(true);
    ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_JXL, back)) << back.GetLastError();
    EXPECT_EQ(ToRgba(back), ToRgba(src));
    ASSERT_TRUE(back.GetMetadata());
    const std::string &kept = back.GetMetadata()->icc;
    EXPECT_EQ(kept.substr(16, 4), "RGB ");
    const auto file = temp.Fs("written.jxl"), icc = temp.Fs("written.icc");
    WriteFileBytes(file, bytes);
    ASSERT_TRUE(Djxl(file, "--icc_out=" + Quote(icc)));
    EXPECT_EQ(kept, Text(ReadFileBytes(icc)));
}

std::shared_ptr<PxMetadata> CameraMetadata(uint16_t orientation)
{
    TestExif exif;
    exif.orientation = orientation;
    exif.pixelWidth = 999;
    exif.pixelHeight = 999;
    auto metadata = std::make_shared<PxMetadata>();
    metadata->exif = MakeExifBlock(exif);
    metadata->xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>";
    return metadata;
}

TEST(JxlCodec, MetadataTravelsInBoxes)
{
    TestExif camera;
    PxImage src = Gradient(40, 30);
    src.SetMetadata(CameraMetadata(1));
    const auto bytes = Encode(src, 0, true);
    // The boxes as the container holds them: "Exif" with a zero offset before the TIFF header.
    const auto boxes = Boxes(bytes);
    const Box *exifBox = nullptr, *xmlBox = nullptr;
    for (const Box &b : boxes) {
        if (b.type == "Exif")
            exifBox = &b;
        if (b.type == "xml ")
            xmlBox = &b;
    }
    ASSERT_TRUE(exifBox);
    ASSERT_TRUE(xmlBox);
    EXPECT_EQ(exifBox->payload.substr(0, 8), std::string("\0\0\0\0II*\0", 8));
    EXPECT_EQ(xmlBox->payload, src.GetMetadata()->xmp);

    // The same boxes Brotli-compressed ("brob"), and an EXIF block behind a non-zero offset.
    std::vector<Box> packed;
    for (const Box &b : boxes) {
        if (b.type == "Exif")
            packed.push_back({"brob", "Exif" + BrotliStored(std::string("\0\0\0\2\x55\x55", 6) +
                                                            b.payload.substr(4))});
        else if (b.type == "xml ")
            packed.push_back({"brob", "xml " + BrotliStored(b.payload)});
        else
            packed.push_back(b);
    }
    TempFolder temp;
    WriteFileBytes(temp.Fs("packed.jxl"), Container(packed));
    ASSERT_TRUE(Djxl(temp.Fs("packed.jxl"))); // still a valid file for libjxl's own tool

    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
    } const cases[] = {
        {"plain boxes", bytes},
        {"compressed boxes", Container(packed)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage kept;
        kept.SetKeepMetadata(true);
        ASSERT_TRUE(DecodeMemory(c.bytes, PXFORMAT_JXL, kept)) << kept.GetLastError();
        ASSERT_TRUE(kept.GetMetadata());
        const PxMetadata &back = *kept.GetMetadata();
        EXPECT_EQ(back.exif.substr(0, 10), std::string("Exif\0\0II*\0", 10));
        EXPECT_NE(back.exif.find(camera.date), std::string::npos);
        EXPECT_NE(back.exif.find(camera.make), std::string::npos);
        EXPECT_EQ(back.exif.find(camera.thumbnail), std::string::npos);
        // PixelXDimension and PixelYDimension (SHORT) describe the written picture.
        EXPECT_NE(back.exif.find(std::string("\x02\xA0\x03\0\x01\0\0\0\x28\0\0\0", 12)),
                  std::string::npos);
        EXPECT_EQ(back.xmp, src.GetMetadata()->xmp);
        EXPECT_EQ(ToRgba(kept), ToRgba(src));
        // Without keep, nothing is collected.
        PxImage plain;
        ASSERT_TRUE(DecodeMemory(c.bytes, PXFORMAT_JXL, plain));
        EXPECT_FALSE(plain.GetMetadata());
    }
}

// The orientation of the written EXIF block goes into the codestream; libjxl turns the picture
// by it when reading, so it reaches us upright and its EXIF block says so.
TEST(JxlCodec, OrientationIsAppliedOnce)
{
    PxImage src = Noise(24, 6, 4, false, 7);
    src.SetMetadata(CameraMetadata(6));
    const auto bytes = Encode(src, 0, true);
    TempFolder temp;
    const auto file = temp.Fs("oriented.jxl");
    WriteFileBytes(file, bytes);
    const auto reference = Djxl(file);
    ASSERT_TRUE(reference);
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "keep" : "plain");
        PxImage img;
        img.SetKeepMetadata(keep);
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_JXL, img)) << img.GetLastError();
        EXPECT_EQ(img.GetWidth(), 4u);
        EXPECT_EQ(img.GetHeight(), 6u);
        EXPECT_EQ(ToRgba(img), *reference);
        // Orientation 6: the stored top-left pixel stands at the top right.
        EXPECT_EQ(img.GetPixelColor(3, 5, false), src.GetPixelColor(0, 3, false));
        EXPECT_LE(img.GetExifOrientation(), 1u);
        if (keep) {
            ASSERT_TRUE(img.GetMetadata());
            const std::string &exif = img.GetMetadata()->exif;
            // IFD0's Orientation entry (0x0112, SHORT, one value) now holds 1.
            EXPECT_NE(exif.find(std::string("\x12\x01\x03\0\x01\0\0\0\x01\0", 10)),
                      std::string::npos);
        }
        const auto before = ToRgba(img);
        ASSERT_TRUE(img.AutoOrient());
        EXPECT_EQ(ToRgba(img), before);
    }
}

TEST(JxlCodec, AnimationGivesItsFirstFrame)
{
    TempFolder temp;
    const auto gif = temp.Fs("anim.gif");
    Python("from PIL import Image\nimport sys\n"
           "frames = [Image.new('RGB', (12, 9), c) for c in ((255, 0, 0), (0, 255, 0), (0, 0, 255))]\n"
           "frames[0].putpixel((3, 4), (0, 0, 0))\n"
           "frames[0].save(sys.argv[1], save_all=True, append_images=frames[1:], duration=100)\n",
           {gif.string()});
    const auto file = temp.Fs("anim.jxl");
    ASSERT_EQ(Shell("cjxl " + Quote(gif) + " " + Quote(file) + " -d 0"), 0);
    for (bool keep : {false, true}) {
        PxImage img;
        img.SetKeepMetadata(keep);
        ASSERT_TRUE(DecodeFile(file, PXFORMAT_JXL, img)) << img.GetLastError();
        ASSERT_EQ(img.GetWidth(), 12u);
        EXPECT_EQ(img.GetPixelColor(0, 0, false), (PxRGBQuad{0, 0, 255, 0}));
        EXPECT_EQ(img.GetPixelColor(3, 9 - 1 - 4, false), (PxRGBQuad{0, 0, 0, 0}));
    }
}

TEST(JxlCodec, OtherDepthsAreWrittenFromACopy)
{
    struct Case {
        const char *name;
        PxImage image;
        int32_t transIndex;
        uint32_t bpp; // read back
    } cases[] = {
        {"8-bit palette", Noise(8, 31, 9, false, 2), -1, 24},
        {"4-bit palette, transparent entry", Noise(4, 17, 10, false, 3), 5, 24},
        {"1-bit", Noise(1, 40, 3, false, 4), -1, 24},
        {"4-bit grey", Noise(4, 12, 12, true, 5), -1, 24},
        {"8-bit grey", Noise(8, 12, 12, true, 6), -1, 24},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        c.image.SetTransIndex(c.transIndex);
        const auto before = c.image.CopyToHandle();
        const auto bytes = Encode(c.image, 0, true);
        EXPECT_EQ(c.image.CopyToHandle(), before);
        PxImage back;
        ASSERT_TRUE(DecodeMemory(bytes, PXFORMAT_JXL, back)) << back.GetLastError();
        EXPECT_EQ(back.GetBpp(), c.bpp);
        EXPECT_EQ(back.AlphaIsValid(), c.transIndex >= 0);
        EXPECT_EQ(MaxDiff(ToRgba(back), ToRgba(c.image)), 0);
    }
}

// A bare codestream header claiming a size: signature, SizeHeader, all-default ImageMetadata.
std::vector<uint8_t> CodestreamClaiming(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> out = {0xFF, 0x0A};
    uint64_t bits = 0;
    int count = 0;
    auto put = [&](uint64_t value, int n) {
        bits |= value << count;
        count += n;
        while (count >= 8) {
            out.push_back(uint8_t(bits));
            bits >>= 8;
            count -= 8;
        }
    };
    put(0, 1);          // not a multiple of 8
    put(3, 2);          // height: 30 bits follow
    put(height - 1, 30);
    put(0, 3);          // no aspect ratio: the width follows
    put(3, 2);
    put(width - 1, 30);
    put(1, 1);          // all_default metadata
    put(1, 1);          // all_default transform data
    put(0, 7);
    out.resize(out.size() + 32, 0);
    return out;
}

TEST(JxlCodec, HeaderReadsAgreeWithTheDecoder)
{
    PxImage odd = Noise(24, 37, 5);
    const auto lossless = Encode(odd, 0, true);
    PxImage grey = Noise(8, 9, 4, true);
    const auto greyFile = Encode(grey, 0, true);
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        bool ok;
        uint32_t width, height;
        const char *reason;
    } const cases[] = {
        {"lossless", lossless, true, 37, 5, ""},
        {"grey", greyFile, true, 9, 4, ""},
        {"a claimed 3000 x 2000", CodestreamClaiming(3000, 2000), true, 3000, 2000, ""},
        {"a claimed 40000 x 40000", CodestreamClaiming(40000, 40000), false, 0, 0,
         "PXIMAGE_MAX_MEMORY exceeded"},
        // Within the engine's cap, beyond what libjxl's float planes should be allowed.
        {"a claimed 20000 x 20000", CodestreamClaiming(20000, 20000), false, 0, 0, "level 5"},
        {"PNG signature", {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 0}, false, 0, 0,
         "not a JPEG XL file"},
        {"empty", {}, false, 0, 0, "not a JPEG XL file"},
        {"signature only", {0xFF, 0x0A}, false, 0, 0, "cut short"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PxMemFile file(c.bytes.data(), c.bytes.size());
        PxImage probe;
        PxHeaderInfo info;
        EXPECT_EQ(probe.DecodeHeader(file, PXFORMAT_JXL, info), c.ok) << probe.GetLastError();
        if (c.ok) {
            EXPECT_EQ(info.width, c.width);
            EXPECT_EQ(info.height, c.height);
            EXPECT_EQ(info.format, uint32_t(PXFORMAT_JXL));
        } else {
            EXPECT_NE(std::string(probe.GetLastError()).find(c.reason), std::string::npos)
                << probe.GetLastError();
            PxImage img;
            EXPECT_FALSE(DecodeMemory(c.bytes, PXFORMAT_JXL, img));
            EXPECT_STREQ(img.GetLastError(), probe.GetLastError());
        }
    }
}

TEST(JxlCodec, BrokenFilesFailWithAReason)
{
    PxImage picture = WithAlpha(Gradient(64, 48));
    const auto lossy = Encode(picture, 80);
    const auto lossless = Encode(picture, 0, true);
    picture.SetMetadata(CameraMetadata(1));
    const auto boxed = Encode(picture, 80);
    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
        const char *reason;
    } const cases[] = {
        {"lossy cut in half", {lossy.begin(), lossy.begin() + long(lossy.size() / 2)}, "cut short"},
        {"lossy without its last byte", {lossy.begin(), lossy.end() - 1}, "cut short"},
        {"lossless cut in half", {lossless.begin(), lossless.begin() + long(lossless.size() / 2)},
         "cut short"},
        {"container cut in the codestream", {boxed.begin(), boxed.begin() + long(boxed.size() / 2)},
         "cut short"},
        {"a claimed 3000 x 2000 with nothing behind", CodestreamClaiming(3000, 2000), ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (bool keep : {false, true}) {
            PxImage img;
            img.SetKeepMetadata(keep);
            EXPECT_FALSE(DecodeMemory(c.bytes, PXFORMAT_JXL, img));
            EXPECT_STRNE(img.GetLastError(), "");
            EXPECT_NE(std::string(img.GetLastError()).find(c.reason), std::string::npos)
                << img.GetLastError();
        }
    }
    for (size_t at = 2; at < lossless.size(); at += 5) {
        std::vector<uint8_t> bad = lossless;
        bad[at] ^= 0x5A;
        PxImage img;
        if (!DecodeMemory(bad, PXFORMAT_JXL, img)) {
            EXPECT_STRNE(img.GetLastError(), "");
        }
    }
}

} // namespace
