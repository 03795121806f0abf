#include "engine/pximage.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string Block(const PxImage &img)
{
    return std::string(static_cast<const char *>(img.GetDIB()), img.GetSize());
}

std::string Sz(uint32_t w, uint32_t h)
{
    return std::to_string(w) + "x" + std::to_string(h);
}

PxImage RandomImage(uint32_t w, uint32_t h, uint32_t bpp, uint32_t seed)
{
    PxImage img;
    img.Create(w, h, bpp);
    std::mt19937 rng(seed);
    uint8_t *bits = img.GetBits();
    for (uint32_t i = 0; i < img.GetHeader().sizeImage; ++i)
        bits[i] = static_cast<uint8_t>(rng());
    for (uint32_t i = 0; i < img.GetNumColors(); ++i)
        img.SetPaletteColor(static_cast<uint8_t>(i), static_cast<uint8_t>(rng()),
                            static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()));
    return img;
}

void FillAlpha(PxImage &img, uint32_t seed)
{
    img.AlphaCreate();
    std::mt19937 rng(seed);
    for (uint32_t y = 0; y < img.GetHeight(); ++y)
        for (uint32_t x = 0; x < img.GetWidth(); ++x)
            img.AlphaSet(x, y, static_cast<uint8_t>(rng()));
}

// Pixel by pixel with alpha, so the padding bits of packed rows do not count.
void ExpectSamePixels(const PxImage &a, const PxImage &b)
{
    ASSERT_EQ(a.GetWidth(), b.GetWidth());
    ASSERT_EQ(a.GetHeight(), b.GetHeight());
    for (uint32_t y = 0; y < a.GetHeight(); ++y)
        for (uint32_t x = 0; x < a.GetWidth(); ++x)
            ASSERT_EQ(a.GetPixelColor(x, y), b.GetPixelColor(x, y)) << x << "," << y;
}

uint8_t Blue(const PxImage &img, int x, int y)
{
    return img.GetPixelColor(x, y).blue;
}

// The box filter walked the plain way, pixel by pixel: each source pixel splits into
// up to four parts added into two rows of sums, and a target pixel is written when the pixel
// that closes both its column and its row has been added.
PxImage ReferenceBox(const PxImage &src, int nx, int ny)
{
    const int W = static_cast<int>(src.GetWidth()), H = static_cast<int>(src.GetHeight());
    const float sx = static_cast<float>(W) / nx, sy = static_cast<float>(H) / ny;
    const auto divisor = static_cast<long long>(sx * sy * 1000.0f);
    PxImage out;
    out.Create(nx, ny, 24);
    using Sums = std::vector<std::array<long long, 3>>;
    Sums cur(nx + 2), next(nx + 2);
    auto write = [&](int k, int r, const std::array<long long, 3> &s) {
        out.SetPixelColor(k, r, PxRGBQuad{static_cast<uint8_t>(s[0] / divisor),
                                          static_cast<uint8_t>(s[1] / divisor),
                                          static_cast<uint8_t>(s[2] / divisor), 0});
    };
    float by = sy;
    int r = 0;
    for (int y = 0; y < H; ++y) {
        int rowCur = 1000, rowNext = 0;
        const bool rowClosed = static_cast<float>(y + 1) >= by;
        if (rowClosed) {
            rowNext = static_cast<int>((static_cast<float>(y + 1) - by) * 1000.0f);
            rowCur = 1000 - rowNext;
        }
        float bx = sx;
        int k = 0;
        for (int x = 0; x < W && k < nx; ++x) {
            int colCur = 1000, colNext = 0;
            const bool colClosed = static_cast<float>(x + 1) >= bx;
            if (colClosed) {
                colNext = static_cast<int>((static_cast<float>(x + 1) - bx) * 1000.0f);
                colCur = 1000 - colNext;
            }
            const PxRGBQuad p = src.GetPixelColor(x, y);
            const int v[3] = {p.blue, p.green, p.red};
            for (int c = 0; c < 3; ++c) {
                cur[k][c] += rowCur * colCur / 1000 * v[c];
                cur[k + 1][c] += rowCur * colNext / 1000 * v[c];
                next[k][c] += rowNext * colCur / 1000 * v[c];
                next[k + 1][c] += rowNext * colNext / 1000 * v[c];
            }
            if (colClosed) {
                if (rowClosed)
                    write(k, r, cur[k]);
                ++k;
                bx += sx;
            }
        }
        if (rowClosed) {
            if (k < nx)
                write(k, r, cur[k]);
            std::swap(cur, next);
            std::fill(next.begin(), next.end(), std::array<long long, 3>{});
            ++r;
            by += sy;
        }
    }
    for (int k = 0; r < ny && k < nx; ++k)
        write(k, r, cur[k]);
    return out;
}

TEST(ResampleBox, MatchesThePlainPixelByPixelWalk)
{
    const struct {
        uint32_t w, h, nx, ny;
    } cases[] = {{101, 51, 50, 25}, {37, 23, 10, 7},   {13, 11, 5, 4},   {50, 40, 49, 39},
                 {640, 480, 333, 211}, {9, 300, 4, 17}, {200, 3, 7, 2},
                 {7001, 3, 2999, 2}, // wide enough for the boundaries to drift
                 {102, 50, 51, 25},  {99, 66, 33, 22}}; // whole factors take a shortcut
    for (const auto &c : cases) {
        SCOPED_TRACE(Sz(c.w, c.h) + " to " + Sz(c.nx, c.ny));
        const PxImage src = RandomImage(c.w, c.h, 24, c.w * 31 + c.h);
        PxImage out;
        ASSERT_TRUE(src.IsValid());
        PxImage copy(src);
        ASSERT_TRUE(copy.Resample(c.nx, c.ny, 0, &out));
        ASSERT_EQ(out.GetWidth(), c.nx);
        ASSERT_EQ(out.GetHeight(), c.ny);
        const PxImage expected = ReferenceBox(src, c.nx, c.ny);
        for (uint32_t y = 0; y < c.ny; ++y)
            ASSERT_EQ(std::memcmp(out.GetBits(y), expected.GetBits(y), 3 * c.nx), 0)
                << "row " << y;
    }
}

TEST(ResampleBox, IntegerFactorsGiveTheBlockAverage)
{
    for (uint32_t fx : {2u, 3u, 4u}) {
        for (uint32_t fy : {2u, 3u, 4u}) {
            SCOPED_TRACE("factors " + Sz(fx, fy));
            const uint32_t nx = 7, ny = 5;
            PxImage img = RandomImage(nx * fx, ny * fy, 24, fx * 10 + fy);
            const PxImage src(img);
            ASSERT_TRUE(img.Resample(nx, ny, 0));
            ASSERT_EQ(img.GetWidth(), nx);
            ASSERT_EQ(img.GetHeight(), ny);
            for (uint32_t y = 0; y < ny; ++y) {
                for (uint32_t x = 0; x < nx; ++x) {
                    int sum[3] = {0, 0, 0};
                    for (uint32_t j = 0; j < fy; ++j)
                        for (uint32_t i = 0; i < fx; ++i) {
                            const PxRGBQuad p = src.GetPixelColor(x * fx + i, y * fy + j);
                            sum[0] += p.blue;
                            sum[1] += p.green;
                            sum[2] += p.red;
                        }
                    const int n = static_cast<int>(fx * fy);
                    const PxRGBQuad got = img.GetPixelColor(x, y);
                    ASSERT_EQ(got.blue, sum[0] / n) << x << "," << y;
                    ASSERT_EQ(got.green, sum[1] / n) << x << "," << y;
                    ASSERT_EQ(got.red, sum[2] / n) << x << "," << y;
                }
            }
        }
    }
}

TEST(ResampleBox, HalvingAveragesTwoByTwoBlocks)
{
    PxImage img;
    ASSERT_TRUE(img.Create(100, 50, 24));
    std::memset(img.GetBits(), 0, img.GetHeader().sizeImage);
    const uint8_t block[2][2] = {{10, 20}, {30, 40}};
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x)
            img.SetPixelColor(x, y, PxRGBQuad{block[y & 1][x & 1], 7, 200, 0});
    ASSERT_TRUE(img.Resample(50, 25, 0));
    EXPECT_EQ(img.GetPixelColor(0, 0, false), (PxRGBQuad{25, 7, 200, 0}));
    EXPECT_EQ(img.GetPixelColor(49, 24, false), (PxRGBQuad{25, 7, 200, 0}));

    PxImage odd = RandomImage(101, 51, 24, 5);
    ASSERT_TRUE(odd.Resample(50, 25, 0));
    EXPECT_EQ(odd.GetWidth(), 50u);
    EXPECT_EQ(odd.GetHeight(), 25u);
}

TEST(ResampleBox, TallBlocksOfWhiteStayWhite)
{
    // Hundreds of source rows per target row: sums far beyond 16 bits per channel.
    for (uint32_t h : {257u, 258u, 1200u}) {
        SCOPED_TRACE("height " + std::to_string(h));
        PxImage img;
        ASSERT_TRUE(img.Create(3, h, 24));
        std::memset(img.GetBits(), 255, img.GetHeader().sizeImage);
        ASSERT_TRUE(img.Resample(2, 1, 0));
        EXPECT_EQ(img.GetPixelColor(0, 0, false), (PxRGBQuad{255, 255, 255, 0}));
        EXPECT_EQ(img.GetPixelColor(1, 0, false), (PxRGBQuad{255, 255, 255, 0}));
    }
}

TEST(ResampleBox, SplitsPixelsCutByBoundaries)
{
    // 3x3 to 2x2: the middle column and row are cut in halves (500 each), the centre pixel in
    // quarters (250); the divisor is 1.5 * 1.5 * 1000 = 2250. Worked by hand:
    // (0,0): 90*1000 + 180*500 + 0*500 + 45*250 = 191250 -> 85
    // (1,0): 180*500 + 30*1000 + 45*250 + 60*500 = 161250 -> 71
    // (0,1): 0*500 + 45*250 + 120*1000 + 15*500 = 138750 -> 61
    // (1,1): 45*250 + 60*500 + 15*500 + 240*1000 = 288750 -> 128
    const uint8_t v[3][3] = {{90, 180, 30}, {0, 45, 60}, {120, 15, 240}};
    PxImage img;
    ASSERT_TRUE(img.Create(3, 3, 24));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            img.SetPixelColor(x, y, PxRGBQuad{v[y][x], 0, 0, 0});
    ASSERT_TRUE(img.Resample(2, 2, 0));
    EXPECT_EQ(Blue(img, 0, 0), 85);
    EXPECT_EQ(Blue(img, 1, 0), 71);
    EXPECT_EQ(Blue(img, 0, 1), 61);
    EXPECT_EQ(Blue(img, 1, 1), 128);
}

TEST(ResampleBilinear, EnlargingInterpolatesAndRepeatsTheLastColumnAndRow)
{
    // Source (x, y): (0,0)=0, (1,0)=100, (0,1)=50, (1,1)=200; scale 0.5 both ways. Hand-worked
    // rows: y=0 at fy 0, y=1 halfway (87.5 truncates to 87), y=2 and 3 on the last row.
    const uint8_t expected[4][4] = {
        {0, 50, 100, 100}, {25, 87, 150, 150}, {50, 125, 200, 200}, {50, 125, 200, 200}};
    for (uint32_t bpp : {24u, 8u}) {
        SCOPED_TRACE(std::to_string(bpp) + " bits");
        PxImage img;
        ASSERT_TRUE(img.Create(2, 2, bpp));
        img.SetGrayPalette();
        const uint8_t v[2][2] = {{0, 100}, {50, 200}};
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                img.SetPixelColor(x, y, PxRGBQuad{v[y][x], v[y][x], v[y][x], 0});
        ASSERT_TRUE(img.Resample(4, 4, 0));
        ASSERT_EQ(img.GetBpp(), bpp);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(img.GetPixelColor(x, y).red, expected[y][x]) << x << "," << y;
    }
}

TEST(Resample, NearestPicksTruncatedSourcePositions)
{
    PxImage img = RandomImage(7, 5, 24, 9);
    const PxImage src(img);
    ASSERT_TRUE(img.Resample(3, 11, 1));
    // sx = 7/3, sy = 5/11: columns 0, 2, 4; rows trunc(y * 0.4545...)
    const int xs[3] = {0, 2, 4};
    const int ys[11] = {0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4};
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(img.GetPixelColor(x, y), src.GetPixelColor(xs[x], ys[y])) << x << "," << y;
}

TEST(Resample, SameSizeLeavesPixelsAndGivesDestinationACopy)
{
    PxImage img = RandomImage(9, 4, 24, 3);
    const std::string before = Block(img);
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        ASSERT_TRUE(img.Resample(9, 4, mode));
        EXPECT_EQ(Block(img), before);
        PxImage dest;
        ASSERT_TRUE(img.Resample(9, 4, mode, &dest));
        EXPECT_EQ(Block(dest), before);
    }
}

TEST(Resample, AlphaPlaneFollowsTheNearestPixel)
{
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        PxImage img = RandomImage(8, 6, 24, 4);
        FillAlpha(img, 11);
        const PxImage src(img);
        ASSERT_TRUE(img.Resample(4, 3, mode));
        ASSERT_TRUE(img.AlphaIsValid());
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(img.AlphaGet(x, y), src.AlphaGet(2 * x, 2 * y)) << x << "," << y;
    }
}

TEST(Resample, DuplicatedTransparentEntryKeepsItsIndex)
{
    // Entry 5 is transparent and as black as entry 0: a uniform transparent area must stay
    // entry 5, not become the first black entry.
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        PxImage img;
        ASSERT_TRUE(img.Create(6, 6, 8));
        img.SetPaletteColor(0, 0, 0, 0);
        img.SetPaletteColor(5, 0, 0, 0);
        img.SetPaletteColor(7, 255, 255, 255);
        img.SetTransIndex(5);
        std::memset(img.GetBits(), 5, img.GetHeader().sizeImage);
        ASSERT_TRUE(img.Resample(9, 4, mode));
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 9; ++x)
                ASSERT_EQ(img.GetPixelIndex(x, y), 5) << x << "," << y;
    }
}

TEST(Resample, RefusesWhatCannotBeMade)
{
    PxImage img = RandomImage(10, 10, 24, 2);
    const std::string before = Block(img);
    EXPECT_FALSE(img.Resample(100000, 100000, 0));
    EXPECT_STREQ(img.GetLastError(), "PXIMAGE_MAX_MEMORY exceeded");
    EXPECT_FALSE(img.Resample(0, 5, 0));
    EXPECT_FALSE(img.Resample(5, -1, 1));
    EXPECT_EQ(Block(img), before);
}

TEST(ResampleToFit, ScalesIntoTheBoxKeepingTheAspect)
{
    const struct {
        uint32_t w, h, bw, bh, nw, nh;
    } cases[] = {
        {400, 300, 200, 200, 200, 150}, {100, 50, 400, 400, 400, 200},
        {400, 300, 0, 200, 400, 300},   {400, 300, 200, 0, 400, 300},
        {300, 400, 300, 400, 300, 400}, {1000, 2, 10, 10, 10, 1}, // a side never drops to 0
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(Sz(c.w, c.h) + " into " + Sz(c.bw, c.bh));
        PxImage img = RandomImage(c.w, c.h, 24, 1);
        ASSERT_TRUE(img.ResampleToFit(c.bw, c.bh, 1));
        EXPECT_EQ(img.GetWidth(), c.nw);
        EXPECT_EQ(img.GetHeight(), c.nh);
    }
}

// Labels each pixel of a 24-bit image with its own coordinates.
PxImage Labelled(uint32_t w, uint32_t h)
{
    PxImage img;
    img.Create(w, h, 24);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            img.SetPixelColor(x, y,
                              PxRGBQuad{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 99, 0});
    return img;
}

TEST(Rotate90, TurnsAsSeenOnScreen)
{
    // On screen (top row first, rows stored bottom-up): A B C over D E F, where A = (0,1) and
    // D = (0,0). Turned left: C F / B E / A D. Turned right: D A / E B / F C.
    using Turn = bool (PxImage::*)(PxImage *);
    const struct {
        const char *name;
        Turn turn;
        int from[3][2][2]; // [target y][target x] -> source (x, y)
    } cases[] = {
        {"left", &PxImage::RotateLeft, {{{0, 1}, {0, 0}}, {{1, 1}, {1, 0}}, {{2, 1}, {2, 0}}}},
        {"right", &PxImage::RotateRight, {{{2, 0}, {2, 1}}, {{1, 0}, {1, 1}}, {{0, 0}, {0, 1}}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img = Labelled(3, 2);
        ASSERT_TRUE((img.*c.turn)(nullptr));
        ASSERT_EQ(img.GetWidth(), 2u);
        ASSERT_EQ(img.GetHeight(), 3u);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 2; ++x) {
                const PxRGBQuad p = img.GetPixelColor(x, y);
                EXPECT_EQ(p.blue, c.from[y][x][0]) << x << "," << y;
                EXPECT_EQ(p.green, c.from[y][x][1]) << x << "," << y;
            }
    }
}

TEST(Rotate90, FourTurnsAndBackAgainAreIdentity)
{
    // Odd sizes that cross the tiles and the packed bytes; the alpha plane turns along.
    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
        for (auto [w, h] : {std::pair{37u, 23u}, std::pair{131u, 77u}, std::pair{1u, 9u}}) {
            SCOPED_TRACE(std::to_string(bpp) + " bits " + Sz(w, h));
            PxImage img = RandomImage(w, h, bpp, w + bpp);
            FillAlpha(img, h);
            const PxImage src(img);
            ASSERT_TRUE(img.RotateLeft());
            ASSERT_EQ(img.GetBpp(), bpp);
            ASSERT_EQ(img.GetWidth(), h);
            ASSERT_EQ(img.GetHeight(), w);
            // Every pixel against the mapping, through the public pixel access.
            for (uint32_t y = 0; y < w; ++y)
                for (uint32_t x = 0; x < h; ++x) {
                    ASSERT_EQ(img.GetPixelColor(x, y), src.GetPixelColor(y, h - 1 - x))
                        << x << "," << y;
                }
            ASSERT_TRUE(img.RotateLeft());
            ASSERT_TRUE(img.RotateLeft());
            ASSERT_TRUE(img.RotateLeft());
            ASSERT_NO_FATAL_FAILURE(ExpectSamePixels(img, src));

            PxImage right;
            ASSERT_TRUE(img.RotateRight(&right));
            ASSERT_TRUE(right.RotateLeft());
            ASSERT_NO_FATAL_FAILURE(ExpectSamePixels(right, src));
        }
    }
}

TEST(RotateAngle, QuarterTurnHasATwoPixelMarginOfOutsideValue)
{
    // 3x2 turned by 90: (H + 2) x (W + 2) = 4 x 5. Worked by hand from the mapping with
    // c = a hair above 0 and s = -1: target row j takes source column {2, 1, 0, 0, out}[j],
    // target column i takes source row {0, 0, 1, out}[i].
    const int u[5] = {2, 1, 0, 0, -1};
    const int v[4] = {0, 0, 1, -1};
    const PxRGBQuad bk{1, 2, 3, 0};
    const struct {
        const char *name;
        int32_t transIndex;
        PxRGBQuad outside;
    } cases[] = {{"no transparent index: pixel (0,0)", -1, PxRGBQuad{0, 0, 99, 0}},
                 {"transparent index: background colour", 0, bk}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img = Labelled(3, 2);
        img.SetTransIndex(c.transIndex);
        img.SetBkColor(bk);
        ASSERT_TRUE(img.Rotate(90));
        ASSERT_EQ(img.GetWidth(), 4u);
        ASSERT_EQ(img.GetHeight(), 5u);
        for (int j = 0; j < 5; ++j)
            for (int i = 0; i < 4; ++i) {
                const PxRGBQuad want = (u[j] < 0 || v[i] < 0)
                                           ? c.outside
                                           : PxRGBQuad{static_cast<uint8_t>(u[j]),
                                                       static_cast<uint8_t>(v[i]), 99, 0};
                EXPECT_EQ(img.GetPixelColor(i, j, false), want) << i << "," << j;
            }
    }

    PxImage indexed = RandomImage(3, 2, 8, 6);
    indexed.SetTransIndex(200);
    ASSERT_TRUE(indexed.Rotate(90));
    EXPECT_EQ(indexed.GetPixelIndex(3, 0), 200);
    EXPECT_EQ(indexed.GetPixelIndex(0, 4), 200);
}

TEST(RotateAngle, UncoveredAlphaIsTransparent)
{
    PxImage img = RandomImage(20, 10, 24, 8);
    img.AlphaCreate();
    ASSERT_TRUE(img.Rotate(30));
    ASSERT_TRUE(img.AlphaIsValid());
    // The corners of the box lie outside the turned picture.
    EXPECT_EQ(img.AlphaGet(0, 0), 0);
    EXPECT_EQ(img.AlphaGet(img.GetWidth() - 1, img.GetHeight() - 1), 0);
    EXPECT_EQ(img.AlphaGet(img.GetWidth() / 2, img.GetHeight() / 2), 255);
}

struct Operation {
    const char *name;
    std::function<bool(PxImage &, PxImage *)> run;
};

const Operation kOperations[] = {
    {"shrink mode 0", [](PxImage &i, PxImage *d) { return i.Resample(5, 4, 0, d); }},
    {"enlarge mode 0", [](PxImage &i, PxImage *d) { return i.Resample(19, 15, 0, d); }},
    {"mode 1", [](PxImage &i, PxImage *d) { return i.Resample(19, 4, 1, d); }},
    {"mode 2", [](PxImage &i, PxImage *d) { return i.Resample(5, 15, 2, d); }},
    {"RotateLeft", [](PxImage &i, PxImage *d) { return i.RotateLeft(d); }},
    {"RotateRight", [](PxImage &i, PxImage *d) { return i.RotateRight(d); }},
    {"Rotate(30)", [](PxImage &i, PxImage *d) { return i.Rotate(30, d); }},
};

TEST(Geometry, IndexedImagesKeepTheirDepthAndPalette)
{
    for (uint32_t bpp : {1u, 4u, 8u}) {
        for (const Operation &op : kOperations) {
            SCOPED_TRACE(std::to_string(bpp) + " bits, " + op.name);
            PxImage img = RandomImage(11, 9, bpp, bpp);
            const PxRGBQuad *first = img.GetPalette();
            const std::vector<PxRGBQuad> pal(first, first + img.GetNumColors());
            ASSERT_TRUE(op.run(img, nullptr));
            EXPECT_EQ(img.GetBpp(), bpp);
            ASSERT_EQ(img.GetNumColors(), pal.size());
            EXPECT_EQ(std::memcmp(img.GetPalette(), pal.data(), pal.size() * 4), 0);
        }
    }
}

TEST(Geometry, DestinationReceivesTheResultAndTheSourceStays)
{
    for (const Operation &op : kOperations) {
        SCOPED_TRACE(op.name);
        PxImage img = RandomImage(11, 9, 24, 3);
        img.SetJpegQuality(42);
        const std::string before = Block(img);
        PxImage dest;
        ASSERT_TRUE(op.run(img, &dest));
        EXPECT_EQ(Block(img), before);
        EXPECT_TRUE(dest.IsValid());
        EXPECT_EQ(dest.GetJpegQuality(), 42);
    }
}

TEST(Geometry, EscapeStopsEarlyAndChangesNothing)
{
    for (const Operation &op : kOperations) {
        SCOPED_TRACE(op.name);
        PxImage img = RandomImage(11, 9, 24, 3);
        const std::string before = Block(img);
        // 255 is no percentage, so any report shows.
        img.SetProgress(255);
        img.SetEscape(1);
        EXPECT_FALSE(op.run(img, nullptr));
        EXPECT_EQ(Block(img), before);
        EXPECT_EQ(img.GetProgress(), 255u) << "stopped before the first row";

        img.SetEscape(0);
        PxImage dest;
        ASSERT_TRUE(op.run(img, &dest));
        EXPECT_LT(img.GetProgress(), 100u);
    }
}

TEST(Geometry, EmptyImageFailsEverywhere)
{
    for (const Operation &op : kOperations) {
        SCOPED_TRACE(op.name);
        PxImage img;
        EXPECT_FALSE(op.run(img, nullptr));
        EXPECT_FALSE(img.IsValid());
    }
    PxImage img;
    EXPECT_FALSE(img.ResampleToFit(10, 10, 0));
}

} // namespace
