// Cropping, the unsharp mask held against Pillow's, and overlays against a plain alpha blend.
#include "engine/pximage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

// A picture of bpp bits whose every pixel differs from its neighbours, with a random alpha
// plane when asked.
PxImage Numbered(uint32_t w, uint32_t h, uint32_t bpp, bool alpha)
{
    PxImage img;
    EXPECT_TRUE(img.Create(w, h, bpp));
    const uint32_t colours = img.GetNumColors();
    for (uint32_t i = 0; i < colours; ++i)
        img.SetPaletteColor(uint8_t(i), uint8_t(i * 37), uint8_t(i * 91), uint8_t(i * 5), uint8_t(255 - i));
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            if (colours)
                img.SetPixelIndex(int32_t(x), int32_t(y), uint8_t((x * 7 + y * 13) % colours));
            else
                img.SetPixelColor(int32_t(x), int32_t(y),
                                  PxRGBQuad{uint8_t(x * 5), uint8_t(y * 11), uint8_t(x ^ y), 0});
        }
    if (alpha) {
        EXPECT_TRUE(img.AlphaCreate());
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                img.AlphaSet(int32_t(x), int32_t(y), uint8_t(x * 29 + y * 3));
    }
    img.SetXDPI(300);
    return img;
}

// The pixel at (x, y) counted from the top-left corner.
PxRGBQuad At(const PxImage &img, uint32_t x, uint32_t y)
{
    return img.GetPixelColor(int32_t(x), int32_t(img.GetHeight() - 1 - y));
}

TEST(Crop, KeepsExactlyTheRectangleAtEveryDepth)
{
    const struct {
        uint32_t w, h, left, top, width, height;
    } cases[] = {
        {10, 7, 0, 0, 10, 7},  // all of it
        {10, 7, 3, 2, 4, 3},   // inside
        {10, 7, 9, 6, 1, 1},   // the bottom-right pixel
        {10, 7, 0, 0, 1, 7},   // the first column
        {13, 5, 1, 0, 11, 5},  // odd widths across the bytes of packed rows
        {33, 9, 7, 1, 17, 8},  // a bottom edge that is not the picture's
        {1, 1, 0, 0, 1, 1},    // a one-pixel picture
        {1, 9, 0, 4, 1, 5},    // one column
    };
    for (uint32_t bpp : {1u, 4u, 8u, 24u})
        for (bool alpha : {false, true})
            for (const auto &c : cases) {
                SCOPED_TRACE(testing::Message() << bpp << " bits, alpha " << alpha << ", " << c.w
                                                << "x" << c.h << " at " << c.left << "," << c.top
                                                << " " << c.width << "x" << c.height);
                const PxImage source = Numbered(c.w, c.h, bpp, alpha);
                PxImage cropped;
                ASSERT_TRUE(PxImage(source).Crop(c.left, c.top, c.width, c.height, &cropped));
                ASSERT_EQ(cropped.GetWidth(), c.width);
                ASSERT_EQ(cropped.GetHeight(), c.height);
                EXPECT_EQ(cropped.GetBpp(), bpp);
                EXPECT_EQ(cropped.GetXDPI(), 300);
                EXPECT_EQ(cropped.AlphaIsValid(), alpha);
                for (uint32_t i = 0; i < source.GetNumColors(); ++i)
                    EXPECT_EQ(cropped.GetPaletteColor(uint8_t(i)), source.GetPaletteColor(uint8_t(i)));
                for (uint32_t y = 0; y < c.height; ++y)
                    for (uint32_t x = 0; x < c.width; ++x)
                        ASSERT_EQ(At(cropped, x, y), At(source, c.left + x, c.top + y))
                            << x << "," << y;
            }
}

TEST(Crop, RefusesARectangleNotWhollyInside)
{
    const struct {
        uint32_t left, top, width, height;
    } refused[] = {{0, 0, 0, 3},  {0, 0, 3, 0},   {5, 0, 6, 7},          {0, 1, 10, 7},
                   {10, 0, 1, 1}, {0, 7, 1, 1},   {4294967295u, 0, 2, 1}, {0, 3, 1, 4294967295u}};
    for (const auto &r : refused) {
        SCOPED_TRACE(testing::Message() << r.left << "," << r.top << " " << r.width << "x" << r.height);
        PxImage img = Numbered(10, 7, 24, true);
        const PxImage before(img);
        EXPECT_FALSE(img.Crop(r.left, r.top, r.width, r.height));
        EXPECT_EQ(img.GetWidth(), 10u);
        EXPECT_EQ(img.CopyToHandle(), before.CopyToHandle());
    }
    PxImage empty;
    EXPECT_FALSE(empty.Crop(0, 0, 1, 1));
}

// --- the unsharp mask ------------------------------------------------------------------------

std::string SharpenFolder()
{
    return std::string(PIXORTA_SOURCE_DIR) + "/tests/engine/sharpen/";
}

TEST(UnsharpMask, ComesCloseToPillowsOnGeneratedPictures)
{
    // Written by tests/engine/sharpen/make_references.py.
    std::ifstream list(SharpenFolder() + "references.tsv");
    ASSERT_TRUE(list) << "tests/engine/sharpen/references.tsv is missing";
    std::string line;
    int compared = 0;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string source, reference;
        double radius = 0;
        int percent = 0, threshold = 0;
        fields >> source >> radius >> percent >> threshold >> reference;
        SCOPED_TRACE(reference);
        PxImage image, expected;
        ASSERT_TRUE(image.Load(SharpenFolder() + source)) << image.GetLastError();
        ASSERT_TRUE(expected.Load(SharpenFolder() + reference)) << expected.GetLastError();
        ASSERT_TRUE(image.IncreaseBpp(24) && expected.IncreaseBpp(24));
        ASSERT_TRUE(image.UnsharpMask(radius, percent, threshold));
        ASSERT_EQ(image.GetWidth(), expected.GetWidth());
        ASSERT_EQ(image.GetHeight(), expected.GetHeight());
        double total = 0;
        int worst = 0;
        const uint32_t w = image.GetWidth(), h = image.GetHeight();
        for (uint32_t y = 0; y < h; ++y) {
            const uint8_t *a = image.GetBits(y), *b = expected.GetBits(y);
            for (uint32_t i = 0; i < 3 * w; ++i) {
                const int d = std::abs(int(a[i]) - int(b[i]));
                total += d;
                worst = std::max(worst, d);
            }
        }
        const double mean = total / (3.0 * w * h);
        EXPECT_LT(mean, 1.0);
        EXPECT_LE(worst, 8);
        ++compared;
    }
    EXPECT_EQ(compared, 21);
}

TEST(UnsharpMask, LeavesFlatPicturesAndAlphaAloneAndRefusesWhatItCannotDo)
{
    PxImage flat;
    ASSERT_TRUE(flat.Create(40, 30, 24));
    std::memset(flat.GetBits(), 77, flat.GetHeader().sizeImage);
    ASSERT_TRUE(flat.AlphaCreate());
    flat.AlphaSet(3, 4, 9);
    const std::string before = flat.CopyToHandle();
    ASSERT_TRUE(flat.UnsharpMask(2.5, 300, 0));
    EXPECT_EQ(flat.CopyToHandle(), before);
    EXPECT_EQ(flat.AlphaGet(3, 4), 9);

    // A step is steepened on both sides, and a threshold above the step leaves it.
    PxImage step = Numbered(20, 6, 24, false);
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 0; x < 20; ++x)
            step.SetPixelColor(int32_t(x), int32_t(y), PxRGBQuad{uint8_t(x < 10 ? 100 : 140), 0, 0, 0});
    PxImage kept(step);
    ASSERT_TRUE(kept.UnsharpMask(1.0, 100, 40));
    EXPECT_EQ(kept.CopyToHandle(), step.CopyToHandle());
    ASSERT_TRUE(step.UnsharpMask(1.0, 100, 0));
    EXPECT_LT(step.GetPixelColor(9, 3).blue, 100);
    EXPECT_GT(step.GetPixelColor(10, 3).blue, 140);
    EXPECT_EQ(step.GetPixelColor(0, 3).blue, 100);
    EXPECT_EQ(step.GetPixelColor(19, 3).blue, 140);

    // Indexed pictures come out true colour.
    PxImage indexed = Numbered(9, 9, 8, false);
    ASSERT_TRUE(indexed.UnsharpMask(1.0, 50, 0));
    EXPECT_EQ(indexed.GetBpp(), 24u);

    PxImage img = Numbered(8, 8, 24, false);
    for (const auto &[radius, amount, threshold] :
         {std::tuple{0.05, 100, 0}, std::tuple{51.0, 100, 0}, std::tuple{double(NAN), 100, 0},
          std::tuple{1.0, -1, 0}, std::tuple{1.0, 1001, 0}, std::tuple{1.0, 100, 256},
          std::tuple{1.0, 100, -1}})
        EXPECT_FALSE(img.UnsharpMask(radius, amount, threshold)) << radius << " " << amount;
    PxImage empty;
    EXPECT_FALSE(empty.UnsharpMask(1.0, 100, 0));
}

// However a picture's size splits it into edges and interior, a linear ramp comes out as it
// went in wherever the picture's edges are out of the blur's reach.
TEST(UnsharpMask, KeepsARampInsideAPictureOfAnySize)
{
    for (const auto &[w, h] : {std::pair{1u, 1u}, std::pair{1u, 40u}, std::pair{40u, 1u},
                               std::pair{3u, 3u}, std::pair{17u, 9u}, std::pair{64u, 48u},
                               std::pair{97u, 61u}})
        for (double radius : {0.3, 1.0, 2.7, 5.0}) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " radius " << radius);
            PxImage ramp;
            ASSERT_TRUE(ramp.Create(w, h, 24));
            for (uint32_t y = 0; y < h; ++y)
                for (uint32_t x = 0; x < w; ++x)
                    ramp.SetPixelColor(int32_t(x), int32_t(y),
                                       PxRGBQuad{uint8_t(60 + x), uint8_t(90 + y), 128, 0});
            PxImage sharpened(ramp);
            ASSERT_TRUE(sharpened.UnsharpMask(radius, 100, 0));
            // Four standard deviations hold all of the blur that counts.
            const uint32_t reach = uint32_t(std::ceil(4 * radius)) + 1;
            for (uint32_t y = reach; y + reach < h; ++y)
                for (uint32_t x = reach; x + reach < w; ++x)
                    ASSERT_EQ(sharpened.GetPixelColor(int32_t(x), int32_t(y)),
                              ramp.GetPixelColor(int32_t(x), int32_t(y)))
                        << x << "," << y;
            // The flat channel stays flat everywhere, edges included.
            for (uint32_t y = 0; y < h; ++y)
                for (uint32_t x = 0; x < w; ++x)
                    ASSERT_EQ(sharpened.GetPixelColor(int32_t(x), int32_t(y)).red, 128);
        }
}

// --- coverage and overlays -----------------------------------------------------------------

TEST(Coverage, IsWhatDrawingBlends)
{
    // An alpha plane scaled by the alpha maximum.
    PxImage planed = Numbered(4, 3, 24, true);
    planed.AlphaSetMax(127);
    PxImage c;
    ASSERT_TRUE(planed.CoverageCopy(c));
    ASSERT_EQ(c.GetBpp(), 24u);
    ASSERT_TRUE(c.AlphaIsValid());
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 4; ++x) {
            EXPECT_EQ(c.AlphaGet(int32_t(x), int32_t(y)), planed.AlphaGet(int32_t(x), int32_t(y)) * 128 / 256);
            PxRGBQuad p = planed.GetPixelColor(int32_t(x), int32_t(y), false), q = c.GetPixelColor(int32_t(x), int32_t(y), false);
            p.reserved = q.reserved = 0;
            EXPECT_EQ(q, p);
        }

    // A palette with a transparent index and alpha in its reserved bytes.
    PxImage indexed = Numbered(5, 2, 4, false);
    indexed.SetTransIndex(3);
    indexed.AlphaPaletteEnable(true);
    ASSERT_TRUE(indexed.CoverageCopy(c));
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 5; ++x) {
            const uint8_t index = indexed.GetPixelIndex(int32_t(x), int32_t(y));
            const uint32_t expected = index == 3 ? 0 : 255 * (uint32_t(255 - index) + 1) / 256;
            EXPECT_EQ(c.AlphaGet(int32_t(x), int32_t(y)), expected) << int(index);
        }

    // A true-colour picture with a transparent colour; an opaque one is covered everywhere.
    PxImage keyed = Numbered(6, 1, 24, false);
    keyed.SetTransIndex(0);
    keyed.SetBkColor(keyed.GetPixelColor(2, 0, false));
    ASSERT_TRUE(keyed.CoverageCopy(c));
    for (int32_t x = 0; x < 6; ++x)
        EXPECT_EQ(c.AlphaGet(x, 0), x == 2 ? 0 : 255);
}

TEST(Coverage, ResamplingKeepsUncoveredColoursOut)
{
    // Red where covered, a loud green where not: shrunk and enlarged, no green appears.
    PxImage mark;
    ASSERT_TRUE(mark.Create(16, 16, 24));
    ASSERT_TRUE(mark.AlphaCreate());
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x) {
            const bool covered = (x / 2 + y / 2) % 2 == 0;
            mark.SetPixelColor(x, y, covered ? PxRGBQuad{0, 0, 255, 0} : PxRGBQuad{0, 255, 0, 0});
            mark.AlphaSet(x, y, covered ? 255 : 0);
        }
    for (const auto &[w, h, mode] : {std::tuple{5, 7, 0}, std::tuple{6, 6, 0}, std::tuple{40, 33, 0},
                                     std::tuple{23, 9, 2}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h << " mode " << mode);
        PxImage scaled(mark);
        ASSERT_TRUE(scaled.ResampleCovered(w, h, mode));
        ASSERT_EQ(scaled.GetWidth(), uint32_t(w));
        ASSERT_TRUE(scaled.AlphaIsValid());
        int partly = 0;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const PxRGBQuad p = scaled.GetPixelColor(x, y, false);
                const uint8_t a = scaled.AlphaGet(x, y);
                EXPECT_LE(p.green, 1) << x << "," << y;
                if (a > 20) {
                    EXPECT_GE(p.red, 240) << x << "," << y;
                }
                partly += a > 0 && a < 255;
            }
        EXPECT_GT(partly, 0);
    }
}

// out = in + (mark - in) x alpha/255 x opacity/100, in doubles, rounded.
uint8_t Blended(uint8_t in, uint8_t mark, double coverage)
{
    return uint8_t(std::lround(in + (mark - in) * coverage));
}

TEST(Overlay, IsAPlainAlphaBlendWhereverItLands)
{
    PxImage mark;
    ASSERT_TRUE(mark.Create(7, 5, 24));
    ASSERT_TRUE(mark.AlphaCreate());
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 7; ++x) {
            mark.SetPixelColor(x, y, PxRGBQuad{uint8_t(200 - x * 9), uint8_t(y * 50), 250, 0});
            mark.AlphaSet(x, y, uint8_t(x * 40 + y * 3));
        }
    const PxImage base = Numbered(20, 12, 24, false);
    for (uint32_t opacity : {0u, 35u, 100u})
        for (const auto &[left, top] : {std::pair{0, 0}, std::pair{13, 7}, std::pair{-3, -2},
                                        std::pair{17, 10}, std::pair{-7, 0}, std::pair{20, 3}}) {
            SCOPED_TRACE(testing::Message() << "opacity " << opacity << " at " << left << "," << top);
            PxImage out(base);
            ASSERT_TRUE(out.Overlay(mark, left, top, opacity));
            for (uint32_t y = 0; y < 12; ++y)
                for (uint32_t x = 0; x < 20; ++x) {
                    const PxRGBQuad in = At(base, x, y);
                    PxRGBQuad expected = in;
                    const int64_t mx = int64_t(x) - left, my = int64_t(y) - top;
                    if (mx >= 0 && mx < 7 && my >= 0 && my < 5) {
                        const PxRGBQuad m = At(mark, uint32_t(mx), uint32_t(my));
                        const double coverage =
                            mark.AlphaGet(int32_t(mx), int32_t(4 - my)) / 255.0 * opacity / 100.0;
                        expected = {Blended(in.blue, m.blue, coverage),
                                    Blended(in.green, m.green, coverage),
                                    Blended(in.red, m.red, coverage), in.reserved};
                    }
                    const PxRGBQuad got = At(out, x, y);
                    ASSERT_LE(std::abs(got.blue - expected.blue), 1) << x << "," << y;
                    ASSERT_LE(std::abs(got.green - expected.green), 1) << x << "," << y;
                    ASSERT_LE(std::abs(got.red - expected.red), 1) << x << "," << y;
                }
        }
}

TEST(Overlay, CombinesWithThePicturesOwnTransparency)
{
    PxImage base = Numbered(4, 1, 24, true);
    for (int32_t x = 0; x < 4; ++x)
        base.AlphaSet(x, 0, uint8_t(x * 85));
    PxImage mark;
    ASSERT_TRUE(mark.Create(4, 1, 24));
    for (int32_t x = 0; x < 4; ++x)
        mark.SetPixelColor(x, 0, PxRGBQuad{10, 20, 30, 0});
    PxImage out(base);
    ASSERT_TRUE(out.Overlay(mark, 0, 0, 60));
    for (int32_t x = 0; x < 4; ++x) {
        const double over = 0.6, under = x * 85 / 255.0 * (1 - over);
        EXPECT_EQ(out.AlphaGet(x, 0), std::lround((over + under) * 255)) << x;
        const PxRGBQuad in = base.GetPixelColor(x, 0, false), got = out.GetPixelColor(x, 0, false);
        EXPECT_EQ(got.red, std::lround((30 * over + in.red * under) / (over + under))) << x;
    }
    // Where the picture is not there at all, the mark is all that shows.
    EXPECT_EQ(out.GetPixelColor(0, 0, false).red, 30);

    PxImage indexed = Numbered(3, 3, 8, false), refused = Numbered(2, 2, 8, false);
    EXPECT_FALSE(PxImage(indexed).Overlay(refused, 0, 0, 50));
    EXPECT_FALSE(PxImage(indexed).Overlay(mark, 0, 0, 101));
    ASSERT_TRUE(indexed.Overlay(mark, 0, 0, 50));
    EXPECT_EQ(indexed.GetBpp(), 24u);
}

} // namespace
