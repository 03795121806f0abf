#include "imageio/octreequantizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

PxRGBQuad Rgb(uint8_t r, uint8_t g, uint8_t b)
{
    return PxRGBQuad{b, g, r, 0};
}

using Colour = std::tuple<int, int, int>;

Colour Key(const PxRGBQuad &c)
{
    return {c.red, c.green, c.blue};
}

std::set<Colour> UsedPalette(const PxImage &img)
{
    std::set<Colour> out;
    const uint32_t n = img.GetHeader().clrImportant ? img.GetHeader().clrImportant : img.GetNumColors();
    for (uint32_t i = 0; i < n; ++i)
        out.insert(Key(img.GetPaletteColor(static_cast<uint8_t>(i))));
    return out;
}

// A 24-bit image holding the given colours, one per pixel in order, bottom row first.
PxImage ImageOf(const std::vector<PxRGBQuad> &pixels, uint32_t width)
{
    PxImage img;
    const uint32_t height = static_cast<uint32_t>((pixels.size() + width - 1) / width);
    EXPECT_TRUE(img.Create(width, height, 24));
    for (size_t i = 0; i < pixels.size(); ++i)
        img.SetPixelColor(static_cast<int>(i % width), static_cast<int>(i / width), pixels[i]);
    return img;
}

TEST(OctreeQuantizer, FewColoursComeOutExactly)
{
    const std::vector<PxRGBQuad> colours = {Rgb(255, 0, 0), Rgb(0, 255, 0), Rgb(0, 0, 255),
                                            Rgb(17, 34, 51), Rgb(250, 250, 250)};
    std::vector<PxRGBQuad> pixels;
    for (int i = 0; i < 20 * 20; ++i)
        pixels.push_back(colours[(i * 7 + i / 20) % colours.size()]);
    PxImage img = ImageOf(pixels, 20);
    const PxImage original(img);

    ASSERT_TRUE(QuantizeToPalette(img, 8));
    EXPECT_EQ(img.GetBpp(), 8u);
    EXPECT_EQ(img.GetNumColors(), 256u);
    EXPECT_EQ(img.GetHeader().clrImportant, 5u);
    std::set<Colour> expected;
    for (const auto &c : colours)
        expected.insert(Key(c));
    EXPECT_EQ(UsedPalette(img), expected);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            ASSERT_LT(img.GetPixelIndex(x, y), 5);
            ASSERT_EQ(img.GetPixelColor(x, y), original.GetPixelColor(x, y)) << x << "," << y;
        }
    // The entries the octree did not fill have a definite value.
    for (int i = 5; i < 256; ++i)
        EXPECT_EQ(img.GetPaletteColor(static_cast<uint8_t>(i)), PxRGBQuad{});
}

TEST(OctreeQuantizer, UnusedEntriesAreNeverChosen)
{
    // Black is far from every colour of the picture but equal to the unfilled entries.
    PxImage img = ImageOf({Rgb(200, 200, 200), Rgb(250, 10, 10), Rgb(10, 250, 10)}, 3);
    ASSERT_TRUE(QuantizeToPalette(img, 8));
    img.SetPixelColor(0, 0, Rgb(0, 0, 0));
    EXPECT_LT(img.GetPixelIndex(0, 0), 3);
    EXPECT_LT(img.GetNearestIndex(Rgb(1, 1, 1)), 3);
}

TEST(OctreeQuantizer, PaletteFollowsTheTreeDepthFirst)
{
    // At the root the child index is red bit * 4 + green bit * 2 + blue bit: blue goes to
    // child 1, green to 2, red to 4, whatever order the pixels come in.
    PxImage img = ImageOf({Rgb(255, 0, 0), Rgb(0, 255, 0), Rgb(0, 0, 255)}, 3);
    ASSERT_TRUE(QuantizeToPalette(img, 8));
    EXPECT_EQ(img.GetPaletteColor(0), Rgb(0, 0, 255));
    EXPECT_EQ(img.GetPaletteColor(1), Rgb(0, 255, 0));
    EXPECT_EQ(img.GetPaletteColor(2), Rgb(255, 0, 0));
    EXPECT_EQ(img.GetPixelIndex(0, 0), 2);
}

TEST(OctreeQuantizer, LeafColourIsTheIntegerMeanOfItsPixels)
{
    // A two-level tree puts every colour whose channels are all below 64 in one leaf.
    OctreeQuantizer q(256, 2);
    q.AddColour(0, 0, 0);
    q.AddColour(10, 20, 30);
    q.AddColour(10, 20, 30);
    q.AddColour(63, 63, 63);
    q.AddColour(200, 200, 200);
    ASSERT_EQ(q.GetColourCount(), 2u);
    PxRGBQuad pal[2];
    ASSERT_EQ(q.GetPalette(pal, 2), 2u);
    // (0 + 10 + 10 + 63) / 4 = 20.75, (0 + 40 + 63) / 4 = 25.75, (0 + 60 + 63) / 4 = 30.75.
    EXPECT_EQ(pal[0], Rgb(20, 25, 30));
    EXPECT_EQ(pal[1], Rgb(200, 200, 200));
}

TEST(OctreeQuantizer, OneColourTooManyFoldsTheNewestDeepestNode)
{
    // Two pairs of colours that differ only in the lowest bit of each channel, one pair first
    // and one last, with 253 colours between them whose top seven bits all differ. The 257th
    // leaf forces one reduction, which takes the most recently made level-7 node: the last
    // pair's parent, whose colour is ((100 + 101) / 2, (120 + 121) / 2, (140 + 141) / 2) in
    // integers. The first pair keeps both its colours.
    std::vector<PxRGBQuad> pixels = {Rgb(10, 20, 30), Rgb(11, 21, 31)};
    for (int i = 0; i < 253; ++i)
        pixels.push_back(Rgb(2 * (i % 128), 2 * (i / 128), 200));
    pixels.push_back(Rgb(100, 120, 140));
    pixels.push_back(Rgb(101, 121, 141));
    PxImage img = ImageOf(pixels, 257);

    ASSERT_TRUE(QuantizeToPalette(img, 8));
    EXPECT_EQ(img.GetHeader().clrImportant, 256u);
    const std::set<Colour> palette = UsedPalette(img);
    EXPECT_EQ(palette.size(), 256u);
    EXPECT_TRUE(palette.count({10, 20, 30}));
    EXPECT_TRUE(palette.count({11, 21, 31}));
    EXPECT_TRUE(palette.count({100, 120, 140}));
    EXPECT_FALSE(palette.count({101, 121, 141}));
    for (int i = 0; i < 255; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(img.GetPixelColor(i, 0), pixels[i]);
    }
    EXPECT_EQ(img.GetPixelColor(255, 0), Rgb(100, 120, 140));
    EXPECT_EQ(img.GetPixelColor(256, 0), Rgb(100, 120, 140));
}

TEST(OctreeQuantizer, PhotoLikeImageFitsThePaletteAndStaysClose)
{
    // Smooth gradients with noise: far more than 256 distinct colours.
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 6.0);
    PxImage img;
    const int w = 160, h = 120;
    ASSERT_TRUE(img.Create(w, h, 24));
    auto clampByte = [](double v) { return static_cast<uint8_t>(std::lround(std::fmin(255, std::fmax(0, v)))); };
    std::set<Colour> distinct;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const PxRGBQuad c = Rgb(clampByte(x * 255.0 / w + noise(rng)),
                                    clampByte(y * 255.0 / h + noise(rng)),
                                    clampByte(128 + 100 * std::sin(x * 0.05 + y * 0.03) + noise(rng)));
            img.SetPixelColor(x, y, c);
            distinct.insert(Key(c));
        }
    ASSERT_GT(distinct.size(), 5000u);
    const PxImage original(img);

    ASSERT_TRUE(QuantizeToPalette(img, 8));
    EXPECT_EQ(img.GetBpp(), 8u);
    const uint32_t used = img.GetHeader().clrImportant;
    EXPECT_GT(used, 128u);
    EXPECT_LE(used, 256u);
    double error = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            ASSERT_LT(img.GetPixelIndex(x, y), used);
            const PxRGBQuad a = original.GetPixelColor(x, y), b = img.GetPixelColor(x, y);
            error += std::abs(a.red - b.red) + std::abs(a.green - b.green) + std::abs(a.blue - b.blue);
        }
    // Mean error per channel: 256 colours over this gamut stay within a few levels.
    EXPECT_LT(error / (3.0 * w * h), 12.0);
}

TEST(OctreeQuantizer, SmallPalettesAndPaletteSources)
{
    std::vector<PxRGBQuad> octants;
    for (int i = 0; i < 8; ++i)
        octants.push_back(Rgb((i & 4) ? 230 : 20, (i & 2) ? 230 : 20, (i & 1) ? 230 : 20));
    for (uint32_t bits : {4u, 1u}) {
        SCOPED_TRACE(bits);
        PxImage img = ImageOf(octants, 8);
        ASSERT_TRUE(QuantizeToPalette(img, bits));
        EXPECT_EQ(img.GetBpp(), bits);
        const uint32_t used = img.GetHeader().clrImportant;
        EXPECT_GE(used, 1u);
        EXPECT_LE(used, 1u << bits);
        for (int x = 0; x < 8; ++x)
            EXPECT_LT(img.GetPixelIndex(x, 0), used);
    }

    // A palette image is read through its palette.
    PxImage pal;
    ASSERT_TRUE(pal.Create(4, 1, 8));
    pal.SetPaletteColor(40, 1, 2, 3);
    pal.SetPaletteColor(90, 4, 5, 6);
    pal.SetPixelIndex(0, 0, 40);
    pal.SetPixelIndex(1, 0, 90);
    pal.SetPixelIndex(2, 0, 90);
    pal.SetPixelIndex(3, 0, 40);
    ASSERT_TRUE(QuantizeToPalette(pal, 8));
    EXPECT_EQ(UsedPalette(pal), (std::set<Colour>{{1, 2, 3}, {4, 5, 6}}));
    EXPECT_EQ(pal.GetPixelColor(1, 0), Rgb(4, 5, 6));
    EXPECT_EQ(pal.GetPixelColor(3, 0), Rgb(1, 2, 3));

    PxImage empty;
    EXPECT_FALSE(QuantizeToPalette(empty, 8));
    PxImage rgb = ImageOf(octants, 8);
    EXPECT_FALSE(QuantizeToPalette(rgb, 2));
    EXPECT_EQ(rgb.GetBpp(), 24u);
}

} // namespace
