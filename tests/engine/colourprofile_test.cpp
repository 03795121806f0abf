// Colour profiles: a picture described in another space than sRGB is brought to sRGB on
// loading (the way LittleCMS itself converts it) unless its metadata is kept, in which case
// the pixels stay and the profile goes into the file written; sRGB and untagged pictures are
// never touched, and no profile, however broken, takes a load or a save down.

#include "codecsuite.h"
#include "engine/pxcolour_p.h"

#include <lcms2.h>

namespace {
using namespace codectest;

std::string SaveProfile(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    EXPECT_TRUE(cmsSaveProfileToMem(profile, nullptr, &size));
    std::string bytes(size, '\0');
    EXPECT_TRUE(cmsSaveProfileToMem(profile, bytes.data(), &size));
    cmsCloseProfile(profile);
    return bytes;
}

cmsToneCurve *SrgbCurve()
{
    const double p[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return cmsBuildParametricToneCurve(nullptr, 4, p);
}

std::string RgbProfile(const cmsCIExyY &white, const cmsCIExyYTRIPLE &primaries,
                       cmsToneCurve *curve)
{
    cmsToneCurve *curves[3] = {curve, curve, curve};
    std::string bytes = SaveProfile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

const cmsCIExyY kD65{0.3127, 0.3290, 1.0};

std::string DisplayP3()
{
    return RgbProfile(kD65, {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}},
                      SrgbCurve());
}

std::string Srgb()
{
    return SaveProfile(cmsCreate_sRGBProfile());
}

// sRGB as older tools wrote it: the same primaries with a 1024-entry curve table.
std::string TabulatedSrgb()
{
    cmsToneCurve *exact = SrgbCurve();
    std::vector<cmsUInt16Number> table(1024);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<cmsUInt16Number>(
            std::lround(cmsEvalToneCurveFloat(exact, float(i) / 1023.0f) * 65535.0));
    cmsFreeToneCurve(exact);
    return RgbProfile(kD65, {{0.640, 0.330, 1}, {0.300, 0.600, 1}, {0.150, 0.060, 1}},
                      cmsBuildTabulatedToneCurve16(nullptr, 1024, table.data()));
}

std::string GreyProfile()
{
    cmsToneCurve *curve = cmsBuildGamma(nullptr, 2.2);
    std::string bytes = SaveProfile(cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    return bytes;
}

// A colourful picture: saturated colours show a change of primaries clearly.
PxImage Colourful(uint32_t w, uint32_t h)
{
    PxImage img;
    img.Create(w, h, 24, 0);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t *p = img.GetBits(y) + 3 * x;
            p[0] = uint8_t(x * 255 / (w - 1));
            p[1] = uint8_t(y * 255 / (h - 1));
            p[2] = uint8_t(255 - (x + y) * 255 / (w + h - 2));
        }
    return img;
}

void Tag(PxImage &img, const std::string &icc)
{
    auto metadata = std::make_shared<PxMetadata>();
    metadata->icc = icc;
    img.SetMetadata(metadata);
}

// The picture's 24-bit rows, without the padding.
std::vector<uint8_t> Pixels(const PxImage &img)
{
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < img.GetHeight(); ++y)
        out.insert(out.end(), img.GetBits(y), img.GetBits(y) + 3 * img.GetWidth());
    return out;
}

// What LittleCMS makes of blue-green-red bytes in icc, brought to sRGB.
std::vector<uint8_t> LittleCmsToSrgb(const std::string &icc, std::vector<uint8_t> bgr)
{
    cmsHPROFILE in = cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size()));
    cmsHPROFILE out = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(in, TYPE_BGR_8, out, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
    EXPECT_NE(t, nullptr);
    if (t)
        cmsDoTransform(t, bgr.data(), bgr.data(), cmsUInt32Number(bgr.size() / 3));
    cmsDeleteTransform(t);
    cmsCloseProfile(in);
    cmsCloseProfile(out);
    return bgr;
}

// A JPEG of the colourful picture carrying icc, written by the engine's own writer.
std::vector<uint8_t> TaggedJpeg(const std::string &icc)
{
    PxImage src = Colourful(48, 32);
    src.SetJpegQuality(95);
    if (!icc.empty())
        Tag(src, icc);
    return EncodeToMemory(src, PXFORMAT_JPG);
}

PxImage Load(const std::vector<uint8_t> &bytes, uint32_t format, bool keep)
{
    PxImage img;
    img.SetKeepMetadata(keep);
    EXPECT_TRUE(DecodeMemory(bytes, format, img)) << img.GetLastError();
    EXPECT_TRUE(img.GetColourProfile().empty()) << "Decode settles the profile";
    return img;
}

TEST(ColourProfile, DisplayP3IsBroughtToSrgbAsLittleCmsDoes)
{
    const std::string p3 = DisplayP3();
    const auto jpeg = TaggedJpeg(p3);
    // With the metadata kept the pixels are as stored: the reference input.
    const PxImage stored = Load(jpeg, PXFORMAT_JPG, true);
    const PxImage converted = Load(jpeg, PXFORMAT_JPG, false);
    EXPECT_EQ(converted.GetMetadata(), nullptr);
    const auto expected = LittleCmsToSrgb(p3, Pixels(stored));
    EXPECT_LE(MaxDiff(Pixels(converted), expected), 1);
    EXPECT_GT(MaxDiff(Pixels(converted), Pixels(stored)), 10) << "P3 is not sRGB";

    // Written as PNG without the metadata: the sRGB pixels, and no profile claiming otherwise.
    PxImage again = Load(jpeg, PXFORMAT_JPG, false);
    const auto png = EncodeToMemory(again, PXFORMAT_PNG);
    const PxImage back = Load(png, PXFORMAT_PNG, true);
    EXPECT_EQ(Pixels(back), Pixels(converted));
    EXPECT_TRUE(back.GetMetadata() == nullptr || back.GetMetadata()->icc.empty());

    // A picture fitted for a preview goes through the same decode.
    PxImage preview;
    preview.SetDecodeFitBox(12, 8);
    ASSERT_TRUE(DecodeMemory(jpeg, PXFORMAT_JPG, preview));
    PxImage previewStored;
    previewStored.SetKeepMetadata(true);
    previewStored.SetDecodeFitBox(12, 8);
    ASSERT_TRUE(DecodeMemory(jpeg, PXFORMAT_JPG, previewStored));
    EXPECT_LE(MaxDiff(Pixels(preview), LittleCmsToSrgb(p3, Pixels(previewStored))), 1);
}

TEST(ColourProfile, KeptProfileTravelsIntoEveryFormatThatHoldsOne)
{
    const std::string p3 = DisplayP3();
    const auto jpeg = TaggedJpeg(p3);
    const PxImage untagged = Load(TaggedJpeg(""), PXFORMAT_JPG, false);
    const PxImage converted = Load(jpeg, PXFORMAT_JPG, false);
    for (uint32_t format : {PXFORMAT_PNG, PXFORMAT_TIF, PXFORMAT_JPG}) {
        SCOPED_TRACE(format);
        PxImage kept = Load(jpeg, PXFORMAT_JPG, true);
        ASSERT_NE(kept.GetMetadata(), nullptr);
        EXPECT_EQ(kept.GetMetadata()->icc, p3);
        EXPECT_EQ(Pixels(kept), Pixels(untagged)) << "the pixels stay as stored";

        kept.SetCodecOption(format == PXFORMAT_TIF ? 5 : 0); // lossless TIFF
        TempFolder temp;
        const auto file = temp.Fs("out");
        WriteFileBytes(file, EncodeToMemory(kept, format));
        EXPECT_EQ(Python("import sys, hashlib\n"
                         "from PIL import Image\n"
                         "print(hashlib.sha256(Image.open(sys.argv[1]).info['icc_profile'])"
                         ".hexdigest())\n",
                         {file.string()}),
                  Sha256Hex(p3.data(), p3.size()) + "\n");
        const auto written = ReadFileBytes(file);
        const PxImage backKept = Load(written, format, true);
        ASSERT_NE(backKept.GetMetadata(), nullptr);
        EXPECT_EQ(backKept.GetMetadata()->icc, p3);
        if (format != PXFORMAT_JPG) {
            EXPECT_EQ(Pixels(backKept), Pixels(kept));
            // Read without the metadata, the written file gives the converted picture.
            EXPECT_LE(MaxDiff(Pixels(Load(written, format, false)), Pixels(converted)), 1);
        }
    }
}

TEST(ColourProfile, SrgbAndUntaggedPicturesAreLeftAlone)
{
    const PxImage untagged = Load(TaggedJpeg(""), PXFORMAT_JPG, false);
    const std::pair<const char *, std::string> cases[] = {
        {"LittleCMS sRGB", Srgb()},
        {"tabulated sRGB", TabulatedSrgb()},
        {"unreadable", std::string(600, 'x')},
    };
    for (const auto &[name, icc] : cases) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(pxcolour::IsSrgb(icc));
        for (bool keep : {false, true}) {
            const PxImage img = Load(TaggedJpeg(icc), PXFORMAT_JPG, keep);
            EXPECT_EQ(Pixels(img), Pixels(untagged));
        }
        // Asked again, the remembered verdict is the same.
        EXPECT_TRUE(pxcolour::IsSrgb(icc));
    }
    EXPECT_TRUE(pxcolour::IsSrgb(""));
    EXPECT_FALSE(pxcolour::IsSrgb(DisplayP3()));
    EXPECT_FALSE(pxcolour::IsSrgb(RgbProfile(
        kD65, {{0.640, 0.330, 1}, {0.300, 0.600, 1}, {0.150, 0.060, 1}}, cmsBuildGamma(nullptr, 2.2))))
        << "sRGB's primaries with another curve are another space";
    PxImage img = Colourful(8, 8);
    const auto before = Pixels(img);
    EXPECT_TRUE(pxcolour::ConvertToSrgb(img, Srgb()));
    EXPECT_EQ(Pixels(img), before);
}

TEST(ColourProfile, PaletteConvertsItsEntriesAndAlphaStays)
{
    const std::string p3 = DisplayP3();
    PxImage src;
    src.Create(16, 4, 8, 0);
    for (uint32_t i = 0; i < 256; ++i)
        src.SetPaletteColor(uint8_t(i), uint8_t(i), uint8_t(255 - i), uint8_t(i * 7));
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 16; ++x)
            src.SetPixelIndex(int32_t(x), int32_t(y), uint8_t(x * 16 + y));
    Tag(src, p3);
    const PxImage img = Load(EncodeToMemory(src, PXFORMAT_PNG), PXFORMAT_PNG, false);
    ASSERT_TRUE(img.IsIndexed());
    std::vector<uint8_t> entries;
    for (uint32_t i = 0; i < 256; ++i) {
        const PxRGBQuad c = src.GetPaletteColor(uint8_t(i));
        entries.insert(entries.end(), {c.blue, c.green, c.red});
    }
    const auto expected = LittleCmsToSrgb(p3, entries);
    for (uint32_t i = 0; i < 256; ++i) {
        const PxRGBQuad c = img.GetPaletteColor(uint8_t(i));
        EXPECT_LE(MaxDiff({c.blue, c.green, c.red},
                          {expected[3 * i], expected[3 * i + 1], expected[3 * i + 2]}),
                  1)
            << i;
    }

    PxImage rgba = Colourful(16, 8);
    ASSERT_TRUE(rgba.AlphaCreate());
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 16; ++x)
            rgba.AlphaSet(int32_t(x), int32_t(y), uint8_t(x * 16 + y));
    Tag(rgba, p3);
    const PxImage back = Load(EncodeToMemory(rgba, PXFORMAT_PNG), PXFORMAT_PNG, false);
    ASSERT_TRUE(back.AlphaIsValid());
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 16; ++x)
            EXPECT_EQ(back.AlphaGet(int32_t(x), int32_t(y)), uint8_t(x * 16 + y));
    EXPECT_LE(MaxDiff(Pixels(back), LittleCmsToSrgb(p3, Pixels(rgba))), 1);
}

TEST(ColourProfile, ProfilesOfAnotherKindOfPictureAreIgnored)
{
    // A grey profile on a grey picture: the levels stay (the grey ramp must stay one).
    PxImage grey = Noise(8, 12, 6, true);
    Tag(grey, GreyProfile());
    const PxImage greyBack = Load(EncodeToMemory(grey, PXFORMAT_JPG), PXFORMAT_JPG, false);
    EXPECT_TRUE(greyBack.IsGrayScale());
    const PxImage greyStored = Load(EncodeToMemory(grey, PXFORMAT_JPG), PXFORMAT_JPG, true);
    for (uint32_t y = 0; y < 6; ++y)
        EXPECT_EQ(std::vector<uint8_t>(greyBack.GetBits(y), greyBack.GetBits(y) + 12),
                  std::vector<uint8_t>(greyStored.GetBits(y), greyStored.GetBits(y) + 12));

    // A grey profile on colour pixels, and an RGB one on a grey picture: nothing changes, and
    // kept metadata does not carry the mismatched profile on.
    const PxImage untagged = Load(TaggedJpeg(""), PXFORMAT_JPG, false);
    for (bool keep : {false, true}) {
        const PxImage img = Load(TaggedJpeg(GreyProfile()), PXFORMAT_JPG, keep);
        EXPECT_EQ(Pixels(img), Pixels(untagged));
        EXPECT_TRUE(!img.GetMetadata() || img.GetMetadata()->icc.empty());
    }
    PxImage greyP3 = Noise(8, 12, 6, true);
    Tag(greyP3, DisplayP3());
    const PxImage greyP3Back = Load(EncodeToMemory(greyP3, PXFORMAT_JPG), PXFORMAT_JPG, false);
    EXPECT_TRUE(greyP3Back.IsGrayScale());
}

TEST(ColourProfile, NclxDescriptionsBecomeProfiles)
{
    EXPECT_EQ(pxcolour::ProfileFromNclx(1, 13), "") << "sRGB";
    EXPECT_EQ(pxcolour::ProfileFromNclx(2, 2), "") << "unspecified";
    EXPECT_EQ(pxcolour::ProfileFromNclx(1, 2), "");
    EXPECT_EQ(pxcolour::ProfileFromNclx(2, 13), "");
    EXPECT_EQ(pxcolour::ProfileFromNclx(9, 16), "") << "PQ is left alone";
    EXPECT_EQ(pxcolour::ProfileFromNclx(9, 18), "") << "HLG is left alone";
    EXPECT_EQ(pxcolour::ProfileFromNclx(200, 13), "");
    EXPECT_EQ(pxcolour::ProfileFromNclx(12, 200), "");

    // Display P3 (SMPTE EG 432 primaries with the sRGB curve) converts every colour as the
    // profile LittleCMS builds for the same primaries does.
    const std::string built = pxcolour::ProfileFromNclx(12, 13);
    ASSERT_FALSE(built.empty());
    EXPECT_EQ(pxcolour::ProfileFromNclx(12, 13), built) << "the same bytes every time";
    EXPECT_FALSE(pxcolour::IsSrgb(built));
    const auto pixels = Pixels(Colourful(32, 32));
    EXPECT_LE(MaxDiff(LittleCmsToSrgb(built, pixels), LittleCmsToSrgb(DisplayP3(), pixels)), 1);
    PxImage img = Colourful(32, 32);
    EXPECT_TRUE(pxcolour::ConvertToSrgb(img, built));
    EXPECT_LE(MaxDiff(Pixels(img), LittleCmsToSrgb(DisplayP3(), pixels)), 1);

    for (auto [primaries, transfer] : {std::pair{9, 1}, {9, 14}, {11, 13}, {1, 1}, {1, 8},
                                       {5, 6}, {6, 4}, {22, 5}, {2, 8}}) {
        SCOPED_TRACE(std::to_string(primaries) + "/" + std::to_string(transfer));
        const std::string icc = pxcolour::ProfileFromNclx(uint16_t(primaries), uint16_t(transfer));
        ASSERT_FALSE(icc.empty());
        EXPECT_FALSE(pxcolour::IsSrgb(icc));
        EXPECT_TRUE(pxcolour::IsRgbProfile(icc));
    }
    // Linear light: mid-grey of the file is far brighter in sRGB.
    PxImage linear;
    linear.Create(1, 1, 24, 0);
    std::memset(linear.GetBits(0), 0x40, 3);
    EXPECT_TRUE(pxcolour::ConvertToSrgb(linear, pxcolour::ProfileFromNclx(1, 8)));
    EXPECT_NEAR(linear.GetBits(0)[0], 137, 2);
}

// Profiles cut short, with offsets and counts beyond their end, or tags pointing at
// themselves: a load or a save never fails over them, and the pixels are left alone.
TEST(ColourProfile, BrokenProfilesNeverTakeALoadOrSaveDown)
{
    const std::string p3 = DisplayP3();
    std::vector<std::pair<std::string, std::string>> broken;
    for (size_t cut : {size_t(0), size_t(1), size_t(64), size_t(128), size_t(131), size_t(132),
                       size_t(140), p3.size() / 2, p3.size() - 1})
        broken.push_back({"cut to " + std::to_string(cut), p3.substr(0, cut)});
    auto patched = [&](const char *name, size_t at, std::string bytes) {
        std::string icc = p3;
        icc.replace(at, bytes.size(), bytes);
        broken.push_back({name, icc});
    };
    patched("declared size huge", 0, std::string("\x7F\xFF\xFF\xFF", 4));
    patched("tag count huge", 128, std::string("\x0F\xFF\xFF\xFF", 4));
    patched("first tag beyond the end", 136, std::string("\x7F\x00\x00\x00", 4));
    patched("first tag huge", 140, std::string("\xFF\xFF\xFF\xF0", 4));
    patched("first tag on the header", 136, std::string("\x00\x00\x00\x00", 4));
    patched("colour space unknown", 16, "ABCD");
    patched("class unknown", 12, "ABCD");
    std::string loop = p3;
    for (size_t at = 132 + 4; at + 8 <= loop.size() && at < 132 + 4 + 12 * 9; at += 12)
        loop.replace(at, 4, std::string("\x00\x00\x00\x84", 4)); // every tag on the tag table
    broken.push_back({"tags on the tag table", loop});

    const PxImage untagged = Load(TaggedJpeg(""), PXFORMAT_JPG, false);
    for (const auto &[name, icc] : broken) {
        SCOPED_TRACE(name);
        const auto jpeg = TaggedJpeg(icc);
        const PxImage img = Load(jpeg, PXFORMAT_JPG, false);
        if (name == "colour space unknown" || name == "class unknown" || icc.size() < 132)
            EXPECT_EQ(Pixels(img), Pixels(untagged));
        PxImage kept = Load(jpeg, PXFORMAT_JPG, true);
        for (uint32_t format : {PXFORMAT_PNG, PXFORMAT_TIF, PXFORMAT_JPG}) {
            PxMemFile mem;
            EXPECT_TRUE(kept.Encode(mem, format)) << format << ": " << kept.GetLastError();
        }
        PxImage direct = Colourful(8, 8);
        pxcolour::ConvertToSrgb(direct, icc);
        pxcolour::IsSrgb(icc);
        pxcolour::IsRgbProfile(icc);
    }
}

// The kept profile is dropped for a format that cannot hold one, and the pixels are brought to
// sRGB first.
TEST(ColourProfile, BringToSrgbForAFileWithoutProfile)
{
    const std::string p3 = DisplayP3();
    const auto jpeg = TaggedJpeg(p3);
    const PxImage converted = Load(jpeg, PXFORMAT_JPG, false);
    PxImage kept = Load(jpeg, PXFORMAT_JPG, true);
    const auto shared = kept.GetMetadata();
    EXPECT_TRUE(kept.BringToSrgb());
    EXPECT_LE(MaxDiff(Pixels(kept), Pixels(converted)), 1);
    ASSERT_NE(kept.GetMetadata(), nullptr);
    EXPECT_TRUE(kept.GetMetadata()->icc.empty());
    EXPECT_EQ(shared->icc, p3) << "the metadata another image shares is not changed";

    PxImage srgb = Load(TaggedJpeg(Srgb()), PXFORMAT_JPG, true);
    const auto before = Pixels(srgb);
    EXPECT_TRUE(srgb.BringToSrgb());
    EXPECT_EQ(Pixels(srgb), before);

    PxImage unusable = Load(TaggedJpeg(GreyProfile()), PXFORMAT_JPG, false);
    Tag(unusable, GreyProfile());
    EXPECT_FALSE(unusable.BringToSrgb());
    EXPECT_TRUE(unusable.GetMetadata()->icc.empty());
}

} // namespace
