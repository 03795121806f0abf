#include "engine/pximage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

struct LayoutCase {
    uint32_t width, height, askedBpp;
    uint32_t bpp, effWidth, sizeImage, paletteEntries;
};

TEST(PxImageCreate, LayoutFollowsNormalisedDepth)
{
    // Row bytes are ((width * bpp + 31) / 32) * 4, worked out by hand for each row.
    const LayoutCase cases[] = {
        {3, 2, 24, 24, 12, 24, 0},  {3, 2, 1, 1, 4, 8, 2},      {3, 2, 16, 24, 12, 24, 0},
        {3, 2, 32, 24, 12, 24, 0},  {3, 2, 2, 4, 4, 8, 16},     {3, 2, 3, 4, 4, 8, 16},
        {5, 1, 0, 1, 4, 4, 2},      {9, 3, 8, 8, 12, 36, 256},  {7, 2, 5, 8, 8, 16, 256},
        {33, 1, 1, 1, 8, 8, 2},     {9, 2, 4, 4, 8, 16, 16},    {0, 5, 24, 24, 0, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + "x" +
                     std::to_string(c.askedBpp));
        PxImage img;
        ASSERT_NE(img.Create(c.width, c.height, c.askedBpp, 0), nullptr);
        EXPECT_EQ(img.GetBpp(), c.bpp);
        EXPECT_EQ(img.GetEffWidth(), c.effWidth);
        EXPECT_EQ(img.GetHeader().sizeImage, c.sizeImage);
        EXPECT_EQ(img.GetNumColors(), c.paletteEntries);
        EXPECT_EQ(img.IsIndexed(), c.paletteEntries != 0);
        EXPECT_EQ(img.GetSize(), 40 + 4 * c.paletteEntries + c.sizeImage);
        // The block starts with the same header the object reports.
        EXPECT_EQ(std::memcmp(img.GetDIB(), &img.GetHeader(), 40), 0);
        const PxRGBQuad *pal = img.GetPalette();
        for (uint32_t i = 0; i < c.paletteEntries; ++i)
            EXPECT_EQ(pal[i], PxRGBQuad{}) << "entry " << i;
        // Rows start zeroed, padding included, so no stale memory reaches a written file.
        const uint8_t *bits = img.GetBits();
        EXPECT_EQ(std::count(bits, bits + c.sizeImage, 0), static_cast<long>(c.sizeImage));
        if (c.height > 1) {
            const auto *rows = static_cast<uint8_t *>(img.GetDIB()) + 40 + 4 * c.paletteEntries;
            EXPECT_EQ(img.GetBits(0), rows);
            EXPECT_EQ(img.GetBits(1), rows + c.effWidth);
        }
        EXPECT_EQ(img.GetBits(c.height + 1), nullptr);
    }
}

TEST(PxImageCreate, NewImageDefaults)
{
    PxImage img(PXFORMAT_GIF);
    EXPECT_FALSE(img.IsValid());
    EXPECT_EQ(img.GetWidth(), 0u);
    EXPECT_EQ(img.GetType(), PXFORMAT_GIF);
    EXPECT_EQ(img.GetJpegQuality(), 90);
    EXPECT_EQ(img.GetXDPI(), 96);
    EXPECT_EQ(img.GetYDPI(), 96);
    EXPECT_EQ(img.GetHeader().xPelsPerMeter, 3780);
    EXPECT_EQ(img.GetHeader().yPelsPerMeter, 3780);
    EXPECT_EQ(img.GetTransIndex(), -1);
    EXPECT_STREQ(img.GetLastError(), "");
    EXPECT_EQ(img.GetSize(), 0u);
    EXPECT_EQ(img.GetBits(), nullptr);

    ASSERT_TRUE(img.Create(4, 4, 24, PXFORMAT_PNG));
    EXPECT_EQ(img.GetType(), PXFORMAT_PNG);
    const auto *head = static_cast<const PxBitmapInfoHeader *>(img.GetDIB());
    EXPECT_EQ(head->size, 40u);
    EXPECT_EQ(head->planes, 1);
    EXPECT_EQ(head->compression, 0u);
    EXPECT_EQ(head->xPelsPerMeter, 3780);
}

TEST(PxImageCreate, ResolutionInPixelsPerMetre)
{
    // dpi * 39.37007874 to the nearest integer: 72 -> 2834.65, 300 -> 11811.02, 1 -> 39.37.
    const struct {
        int32_t dpi, ppm;
    } cases[] = {{96, 3780}, {72, 2835}, {300, 11811}, {1, 39}, {150, 5906}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.dpi);
        PxImage img;
        ASSERT_TRUE(img.Create(2, 2, 8));
        img.SetXDPI(c.dpi);
        img.SetYDPI(c.dpi);
        EXPECT_EQ(img.GetXDPI(), c.dpi);
        EXPECT_EQ(img.GetHeader().xPelsPerMeter, c.ppm);
        EXPECT_EQ(img.GetHeader().yPelsPerMeter, c.ppm);
        const auto *head = static_cast<const PxBitmapInfoHeader *>(img.GetDIB());
        EXPECT_EQ(head->xPelsPerMeter, c.ppm);
        EXPECT_EQ(head->yPelsPerMeter, c.ppm);
        // A later Create keeps the resolution.
        ASSERT_TRUE(img.Create(3, 3, 24));
        EXPECT_EQ(img.GetHeader().xPelsPerMeter, c.ppm);
    }
}

TEST(PxImageCreate, RefusesImagesBeyondTheCap)
{
    const struct {
        const char *what;
        uint32_t w, h, bpp;
    } cases[] = {
        // 100000 * 100000 * 24 / 256 = 937,500,000 > 256,000,000 (30 GB if it were allocated).
        {"over the memory cap", 100000, 100000, 24},
        // The bit count overflows 64 bits.
        {"width times height overflows", 0xFFFFFFFFu, 0xFFFFFFFFu, 24},
        // Under the cap (234,375,000) but 7.5 GB of rows cannot be described by the 32-bit header.
        {"rows beyond the 32-bit header", 50000, 50000, 24},
        // Fits the cap and the image size, but the header's width is signed.
        {"width beyond a signed 32-bit side", 0x80000000u, 1, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        PxImage img;
        ASSERT_TRUE(img.Create(8, 8, 24));
        img.AlphaCreate();
        EXPECT_EQ(img.Create(c.w, c.h, c.bpp), nullptr);
        EXPECT_STREQ(img.GetLastError(), "PXIMAGE_MAX_MEMORY exceeded");
        EXPECT_FALSE(img.IsValid());
        EXPECT_FALSE(img.AlphaIsValid());
        EXPECT_EQ(img.GetWidth(), 0u);
        EXPECT_EQ(img.GetHeight(), 0u);
        EXPECT_EQ(img.GetSize(), 0u);
    }
}

// An address-space limit breaks AddressSanitizer's own reservations, so sanitized builds leave
// this check out.
#if !defined(__SANITIZE_ADDRESS__)
// Runs in a child process: exits 0 when Create fails cleanly under a 512 MB address space.
[[noreturn]] void CreateUnderAddressLimit()
{
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = 512u << 20;
    setrlimit(RLIMIT_AS, &limit);
    PxImage img;
    const bool failed = img.Create(20000, 20000, 24) == nullptr && !img.IsValid() &&
                        std::strcmp(img.GetLastError(), "PxImage::Create can't allocate memory") == 0;
    _exit(failed ? 0 : 1);
}

TEST(PxImageCreate, ReportsAllocationFailure)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // 20000 x 20000 x 24 bits is 1.2 GB: within the cap, beyond the child's address space.
    EXPECT_EXIT(CreateUnderAddressLimit(), ::testing::ExitedWithCode(0), "");
}
#endif

void Fill(PxImage &img, uint8_t seed)
{
    const uint32_t n = img.GetHeader().sizeImage;
    uint8_t *bits = img.GetBits();
    for (uint32_t i = 0; i < n; ++i)
        bits[i] = static_cast<uint8_t>(seed + i * 7);
}

// A worker reuses the blocks of earlier images: what a producer does not write (row padding,
// palette) must still be zero, and an image made with Create must still be all zeros.
TEST(PxImageCreate, ReusedBlocksNeverShowEarlierPixelsWhereNothingIsWritten)
{
    const PxKeepBlocksOnThisThread keep;
    auto dirty = [] {
        PxImage a;
        ASSERT_NE(a.Create(2000, 1000, 24), nullptr); // large enough for a block of its own
        std::memset(a.GetBits(), 0xAB, a.GetHeader().sizeImage);
    };
    ASSERT_NO_FATAL_FAILURE(dirty());
    PxImage b;
    ASSERT_NE(b.CreateForOverwrite(1999, 1001, 24), nullptr); // rows of 5997 + 3 padding bytes
    bool reused = false;
    for (uint32_t y = 0; y < b.GetHeight(); ++y) {
        const uint8_t *row = b.GetBits(y);
        reused = reused || row[0] == 0xAB;
        ASSERT_EQ(row[5997] | row[5998] | row[5999], 0) << "padding of row " << y;
    }
#if !defined(__SANITIZE_ADDRESS__) // under AddressSanitizer every block is a fresh heap block
    EXPECT_TRUE(reused) << "the earlier block was taken over";
#endif

    b.Destroy();
    ASSERT_NO_FATAL_FAILURE(dirty());
    PxImage c;
    ASSERT_NE(c.Create(2000, 1000, 24), nullptr);
    const uint8_t *bits = c.GetBits();
    EXPECT_TRUE(std::all_of(bits, bits + c.GetHeader().sizeImage, [](uint8_t v) { return v == 0; }));
}

TEST(PxImageCopy, CopiesBlockInformationAndPlanes)
{
    PxImage src(PXFORMAT_GIF);
    ASSERT_TRUE(src.Create(5, 3, 8, PXFORMAT_GIF));
    Fill(src, 3);
    src.SetPaletteColor(7, 1, 2, 3);
    src.SetJpegQuality(55);
    src.SetTransIndex(7);
    src.SetXDPI(300);
    src.SetCodecOption(5);
    ASSERT_TRUE(src.AlphaCreate());
    src.AlphaSet(4, 2, 17);
    ASSERT_TRUE(src.SelectionCreate());
    *src.SelectionGetPointer(1, 1) = 1;

    PxImage copy(src);
    ASSERT_TRUE(copy.IsValid());
    EXPECT_NE(copy.GetDIB(), src.GetDIB());
    EXPECT_EQ(copy.GetSize(), src.GetSize());
    EXPECT_EQ(std::memcmp(copy.GetDIB(), src.GetDIB(), src.GetSize()), 0);
    EXPECT_EQ(copy.GetType(), PXFORMAT_GIF);
    EXPECT_EQ(copy.GetJpegQuality(), 55);
    EXPECT_EQ(copy.GetTransIndex(), 7);
    EXPECT_EQ(copy.GetXDPI(), 300);
    EXPECT_EQ(copy.GetCodecOption(), 5u);
    EXPECT_EQ(copy.AlphaGet(4, 2), 17);
    EXPECT_TRUE(copy.SelectionIsInside(1, 1));
    EXPECT_FALSE(copy.SelectionIsInside(0, 0));

    // Deep copy: changing the copy leaves the source alone.
    copy.GetBits()[0] ^= 0xFF;
    copy.AlphaSet(4, 2, 99);
    EXPECT_NE(copy.GetBits()[0], src.GetBits()[0]);
    EXPECT_EQ(src.AlphaGet(4, 2), 17);

    PxImage bare(src, true, false, false);
    EXPECT_FALSE(bare.AlphaIsValid());
    EXPECT_FALSE(bare.SelectionIsValid());

    PxImage paletteOnly(src, false);
    EXPECT_EQ(paletteOnly.GetWidth(), 5u);
    EXPECT_EQ(paletteOnly.GetBpp(), 8u);
    EXPECT_EQ(paletteOnly.GetPaletteColor(7), (PxRGBQuad{3, 2, 1, 0}));
}

TEST(PxImageCopy, CopyOfEmptyImageIsEmpty)
{
    PxImage empty;
    empty.SetJpegQuality(40);
    PxImage target;
    ASSERT_TRUE(target.Create(4, 4, 24));
    target = empty;
    EXPECT_FALSE(target.IsValid());
    EXPECT_EQ(target.GetWidth(), 0u);
    EXPECT_EQ(target.GetJpegQuality(), 40);
}

TEST(PxImageCopy, SelfAssignmentKeepsEverything)
{
    PxImage img;
    ASSERT_TRUE(img.Create(4, 3, 24));
    Fill(img, 11);
    const std::string before(static_cast<const char *>(img.GetDIB()), img.GetSize());
    void *block = img.GetDIB();
    PxImage &alias = img;
    img = alias;
    EXPECT_EQ(img.GetDIB(), block);
    ASSERT_TRUE(img.IsValid());
    EXPECT_EQ(std::string(static_cast<const char *>(img.GetDIB()), img.GetSize()), before);
}

TEST(PxImageTransfer, MovesEverythingAndEmptiesTheSource)
{
    PxImage a;
    ASSERT_TRUE(a.Create(2, 2, 24));
    PxImage b(PXFORMAT_TIF);
    ASSERT_TRUE(b.Create(6, 5, 4, PXFORMAT_TIF));
    b.SetJpegQuality(20);
    b.SetTransIndex(3);
    ASSERT_TRUE(b.AlphaCreate());
    void *block = b.GetDIB();

    EXPECT_TRUE(a.Transfer(b));
    EXPECT_EQ(a.GetDIB(), block);
    EXPECT_EQ(a.GetWidth(), 6u);
    EXPECT_EQ(a.GetBpp(), 4u);
    EXPECT_EQ(a.GetType(), PXFORMAT_TIF);
    EXPECT_EQ(a.GetJpegQuality(), 20);
    EXPECT_EQ(a.GetTransIndex(), 3);
    EXPECT_TRUE(a.AlphaIsValid());

    EXPECT_FALSE(b.IsValid());
    EXPECT_EQ(b.GetWidth(), 0u);
    EXPECT_EQ(b.GetHeight(), 0u);
    EXPECT_EQ(b.GetBpp(), 0u);
    EXPECT_FALSE(b.AlphaIsValid());
    // A reused source must not keep a zero quality or name entry 0 transparent.
    EXPECT_EQ(b.GetJpegQuality(), 90);
    EXPECT_EQ(b.GetTransIndex(), -1);

    EXPECT_FALSE(a.Transfer(a));
    EXPECT_EQ(a.GetDIB(), block);
}

TEST(PxImageGhost, AliasNeverFreesTheBlock)
{
    PxImage owner;
    ASSERT_TRUE(owner.Create(3, 3, 8));
    Fill(owner, 1);
    {
        PxImage ghost;
        ghost.Ghost(owner);
        EXPECT_TRUE(ghost.IsGhost());
        EXPECT_EQ(ghost.GetDIB(), owner.GetDIB());
        EXPECT_EQ(ghost.GetPixelIndex(1, 1), owner.GetPixelIndex(1, 1));
        EXPECT_FALSE(ghost.Destroy());
        EXPECT_EQ(ghost.GetDIB(), owner.GetDIB());
    }
    ASSERT_TRUE(owner.IsValid());
    EXPECT_EQ(owner.GetBits()[0], 1);

    PxImage ghost;
    ghost.Ghost(owner);
    ASSERT_TRUE(ghost.Create(2, 2, 24));
    EXPECT_FALSE(ghost.IsGhost());
    EXPECT_NE(ghost.GetDIB(), owner.GetDIB());
    EXPECT_TRUE(owner.IsValid());
    EXPECT_TRUE(ghost.Destroy());
}

TEST(PxImageInfo, LastErrorIsCutTo255Characters)
{
    PxImage img;
    img.SetLastError(std::string(400, 'x').c_str());
    EXPECT_EQ(std::string(img.GetLastError()), std::string(255, 'x'));
    img.SetLastError("short");
    EXPECT_STREQ(img.GetLastError(), "short");
    img.SetLastError(nullptr);
    EXPECT_STREQ(img.GetLastError(), "");
}

TEST(PxImageInfo, GrayScaleMeansTheGreyRampOfTheDepth)
{
    PxImage grey8;
    ASSERT_TRUE(grey8.Create(2, 2, 8));
    EXPECT_FALSE(grey8.IsGrayScale()); // all entries black
    grey8.SetGrayPalette();
    EXPECT_TRUE(grey8.IsGrayScale());
    EXPECT_EQ(grey8.GetPaletteColor(200), (PxRGBQuad{200, 200, 200, 0}));
    grey8.SetPaletteColor(200, 200, 200, 201);
    EXPECT_FALSE(grey8.IsGrayScale());

    PxImage grey1;
    ASSERT_TRUE(grey1.Create(2, 2, 1));
    grey1.SetGrayPalette();
    EXPECT_EQ(grey1.GetPaletteColor(1), (PxRGBQuad{255, 255, 255, 0}));
    EXPECT_TRUE(grey1.IsGrayScale());

    PxImage rgb;
    ASSERT_TRUE(rgb.Create(2, 2, 24));
    EXPECT_FALSE(rgb.IsGrayScale());
}

TEST(PxImageInfo, PaletteReadsStayInsideThePalette)
{
    PxImage img;
    ASSERT_TRUE(img.Create(2, 2, 1));
    img.SetPaletteColor(1, 9, 8, 7);
    EXPECT_EQ(img.GetPaletteColor(200), (PxRGBQuad{7, 8, 9, 0}));
    uint8_t r = 0, g = 0, b = 0;
    EXPECT_FALSE(img.GetPaletteColor(2, &r, &g, &b));
    EXPECT_TRUE(img.GetPaletteColor(1, &r, &g, &b));
    EXPECT_EQ(r, 9);
    img.SetPaletteColor(5, 1, 1, 1); // beyond the palette: ignored
    EXPECT_EQ(img.GetPaletteColor(0), PxRGBQuad{});

    img.SetTransIndex(1);
    EXPECT_EQ(img.GetTransColor(), (PxRGBQuad{7, 8, 9, 0}));
    PxImage rgb;
    ASSERT_TRUE(rgb.Create(1, 1, 24));
    rgb.SetBkColor(PxRGBQuad{1, 2, 3, 0});
    rgb.SetTransIndex(0);
    EXPECT_EQ(rgb.GetTransColor(), (PxRGBQuad{1, 2, 3, 0}));
}

TEST(PxImagePlanes, AlphaAndSelectionLifecycle)
{
    PxImage img;
    EXPECT_FALSE(img.AlphaCreate());
    EXPECT_FALSE(img.SelectionCreate());
    ASSERT_TRUE(img.Create(4, 3, 24));
    ASSERT_TRUE(img.AlphaCreate());
    EXPECT_EQ(img.AlphaGet(3, 2), 255);
    img.AlphaSet(3, 2, 10);
    EXPECT_EQ(img.AlphaGet(3, 2), 10);
    EXPECT_EQ(*img.AlphaGetPointer(3, 2), 10);
    EXPECT_EQ(img.AlphaGetPointer(4, 0), nullptr);
    img.AlphaSet(-1, 0, 1); // dropped
    EXPECT_EQ(img.AlphaGet(-1, 0), 0);

    EXPECT_TRUE(img.SelectionIsInside(0, 0)); // no plane: everything selected
    ASSERT_TRUE(img.SelectionCreate());
    EXPECT_FALSE(img.SelectionIsInside(0, 0));
    EXPECT_FALSE(img.SelectionIsInside(9, 9));

    // A new Create drops both planes.
    ASSERT_TRUE(img.Create(2, 2, 8));
    EXPECT_FALSE(img.AlphaIsValid());
    EXPECT_FALSE(img.SelectionIsValid());
    ASSERT_TRUE(img.AlphaCreate());
    img.AlphaDelete();
    EXPECT_FALSE(img.AlphaIsValid());
}

} // namespace
