// Saving a picture whose kept profile the target format cannot carry: its pixels go out in
// sRGB, and formats that do carry a profile get it unchanged.

#include "imageio/imagefile.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>
#include <lcms2.h>
#include <memory>

namespace {

std::string DisplayP3()
{
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
    const double p[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve *curve = cmsBuildParametricToneCurve(nullptr, 4, p);
    cmsToneCurve *curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::string bytes(size, '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(curve);
    return bytes;
}

PxImage TaggedPicture(const std::string &icc)
{
    PxImage img;
    img.Create(16, 16, 24);
    for (uint32_t y = 0; y < 16; ++y)
        for (uint32_t x = 0; x < 16; ++x) {
            uint8_t *p = img.GetBits(y) + 3 * x;
            p[0] = uint8_t(x * 17), p[1] = uint8_t(y * 17), p[2] = uint8_t(255 - x * 8);
        }
    auto metadata = std::make_shared<PxMetadata>();
    metadata->icc = icc;
    img.SetMetadata(metadata);
    return img;
}

int MaxPixelDiff(const PxImage &a, const PxImage &b)
{
    int most = 0;
    for (uint32_t y = 0; y < a.GetHeight(); ++y)
        for (uint32_t i = 0; i < 3 * a.GetWidth(); ++i)
            most = std::max(most, std::abs(int(a.GetBits(y)[i]) - int(b.GetBits(y)[i])));
    return most;
}

TEST(ColourProfileSave, AFormatWithoutProfilesGetsSrgbPixels)
{
    const std::string p3 = DisplayP3();
    TempFolder temp;
    // The reference: the same picture through a PNG that carries the profile, read back
    // without metadata (and so converted on loading).
    PxImage forPng = TaggedPicture(p3);
    ASSERT_TRUE(SaveImageFile(forPng, temp.File("tagged.png"))) << forPng.GetLastError();
    ASSERT_EQ(forPng.GetMetadata()->icc, p3) << "PNG carries the profile: nothing to convert";
    PxImage converted;
    ASSERT_TRUE(LoadImageFile(converted, temp.File("tagged.png")));

    PxImage forBmp = TaggedPicture(p3);
    ASSERT_TRUE(SaveImageFile(forBmp, temp.File("plain.bmp"))) << forBmp.GetLastError();
    EXPECT_TRUE(forBmp.GetMetadata()->icc.empty());
    PxImage bmp;
    ASSERT_TRUE(LoadImageFile(bmp, temp.File("plain.bmp")));
    EXPECT_LE(MaxPixelDiff(bmp, converted), 1);
    EXPECT_GT(MaxPixelDiff(bmp, TaggedPicture(p3)), 10) << "the pixels were converted";

    // Without conversions asked for, the colours are still brought to sRGB.
    PxImage unconverted = TaggedPicture(p3);
    ASSERT_TRUE(SaveImageFile(unconverted, temp.File("raw.bmp"), -1, false));
    PxImage raw;
    ASSERT_TRUE(LoadImageFile(raw, temp.File("raw.bmp")));
    EXPECT_LE(MaxPixelDiff(raw, converted), 1);
}

} // namespace
