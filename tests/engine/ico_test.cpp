#include "smallcodecs.h"

#include <fstream>
#include <sstream>

namespace {
using namespace codectest;
using Bytes = std::vector<uint8_t>;

void Put16(Bytes &b, uint32_t v)
{
    b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
}

void Put32(Bytes &b, uint32_t v)
{
    b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}

struct Dib {
    int32_t width = 1, height = 1; // of the picture; the header doubles the height
    uint16_t bpp = 24;
    Bytes palette = {};            // BGRA entries
    Bytes xorRows = {};            // bottom row first, padded to 4 bytes
    Bytes andRows = {};
    uint32_t headerSize = 40, compression = 0, clrUsed = 0;
    int32_t storedHeight = 0;      // overrides 2 * height when set
};

Bytes DibBytes(const Dib &d)
{
    Bytes b;
    Put32(b, d.headerSize);
    Put32(b, uint32_t(d.width));
    Put32(b, uint32_t(d.storedHeight ? d.storedHeight : 2 * d.height));
    Put16(b, 1);
    Put16(b, d.bpp);
    Put32(b, d.compression);
    for (int i = 0; i < 3; ++i)
        Put32(b, 0);
    Put32(b, d.clrUsed);
    Put32(b, 0);
    b.insert(b.end(), d.palette.begin(), d.palette.end());
    b.insert(b.end(), d.xorRows.begin(), d.xorRows.end());
    b.insert(b.end(), d.andRows.begin(), d.andRows.end());
    return b;
}

// A directory of the given images, stored one after the other behind it.
Bytes Ico(const std::vector<Bytes> &images, uint16_t type = 1)
{
    Bytes b;
    Put16(b, 0);
    Put16(b, type);
    Put16(b, uint16_t(images.size()));
    uint32_t offset = 6 + 16 * uint32_t(images.size());
    for (const Bytes &image : images) {
        b.insert(b.end(), {0, 0, 0, 0});
        Put16(b, 1);
        Put16(b, 32);
        Put32(b, uint32_t(image.size()));
        Put32(b, offset);
        offset += uint32_t(image.size());
    }
    for (const Bytes &image : images)
        b.insert(b.end(), image.begin(), image.end());
    return b;
}

Bytes Palette(uint32_t entries)
{
    Bytes p;
    for (uint32_t i = 0; i < entries; ++i)
        p.insert(p.end(), {uint8_t(i * 3), uint8_t(i * 5 + 1), uint8_t(255 - i), 0});
    return p;
}

// The reference decoders pick the largest entry; its number is in reference.tsv's note.
std::map<std::string, int> LargestEntries()
{
    std::map<std::string, int> out;
    std::ifstream in(TestDataDir() / "reference.tsv");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        const std::string path = line.substr(0, line.find('\t'));
        const auto at = line.find("icon entry ");
        if (at != std::string::npos)
            out[path] = std::stoi(line.substr(at + 11));
    }
    return out;
}

TEST(IcoCodec, PublicSuite)
{
    PX_REQUIRE_TESTDATA();
    const auto largest = LargestEntries();
    // Masked pixels of the two cursors: the bottom two of four (see the XOR and AND rows).
    const Bytes cursorMask = {0, 0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::map<std::string, Bytes> handChecked = {{"pillow/cur/mask_1.cur", cursorMask},
                                                      {"pillow/cur/mask_L.cur", cursorMask}};
    int good = 0;
    for (const TestImageRef &ref : LoadTestImageRefs()) {
        if (ref.format != "ico" && ref.format != "cur")
            continue;
        SCOPED_TRACE(ref.path + " (" + ref.expect + ")");
        PxImage img;
        const auto it = largest.find(ref.path);
        img.SetFrame(it == largest.end() ? 0 : it->second);
        const bool ok = DecodeFile(TestDataDir() / ref.path, PXFORMAT_ICO, img);
        if (ref.expect == "bad") {
            EXPECT_FALSE(ok) << "a broken file was accepted";
            EXPECT_STRNE(img.GetLastError(), "");
            continue;
        }
        if (ref.expect != "good")
            continue;
        ++good;
        ASSERT_TRUE(ok) << img.GetLastError();
        EXPECT_EQ(img.GetWidth(), uint32_t(ref.width));
        EXPECT_EQ(img.GetHeight(), uint32_t(ref.height));
        const Bytes rgba = ToRgba(img), visible = Visible(rgba);
        if (const auto hand = handChecked.find(ref.path); hand != handChecked.end()) {
            EXPECT_EQ(visible, hand->second);
            continue;
        }
        ASSERT_FALSE(ref.rgbaSha256.empty());
        if (Sha256Hex(rgba.data(), rgba.size()) != ref.rgbaSha256) {
            EXPECT_EQ(Sha256Hex(visible.data(), visible.size()), ref.visibleSha256);
        }
    }
    EXPECT_EQ(good, 28);
}

TEST(IcoCodec, EntryNumberComesFromTheFrame)
{
    PX_REQUIRE_TESTDATA();
    const int sides[] = {16, 32, 48};
    for (int frame = 0; frame < 3; ++frame) {
        SCOPED_TRACE(frame);
        PxImage img;
        img.SetFrame(frame);
        ASSERT_TRUE(DecodeFile(TestDataDir() / "pillow/ico/python.ico", PXFORMAT_ICO, img));
        EXPECT_EQ(img.GetWidth(), uint32_t(sides[frame]));
        EXPECT_EQ(img.GetNumFrames(), 3);
        EXPECT_EQ(img.GetType(), uint32_t(PXFORMAT_ICO));
    }
    PxImage img;
    img.SetFrame(3);
    EXPECT_FALSE(DecodeFile(TestDataDir() / "pillow/ico/python.ico", PXFORMAT_ICO, img));
}

TEST(IcoCodec, MaskedPalettePixelsKeepTheirColours)
{
    // Palette entry i is (red 255 - i, green 5i + 1, blue 3i).
    auto colour = [](int i) {
        return Bytes{uint8_t(255 - i), uint8_t(i * 5 + 1), uint8_t(i * 3), 255};
    };
    const Bytes clear = {0, 0, 0, 0};
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes &p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    Bytes full8 = Palette(256), xor8, and8(4 * 17, 0);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 16; ++x)
            xor8.push_back(uint8_t(y * 16 + x));
    and8[4 * 16] = 0x80; // top row, first pixel (index 0, also used by an opaque pixel)
    Bytes rgba8;
    for (int y = 16; y >= 0; --y)
        for (int x = 0; x < 16; ++x)
            rgba8 = join({rgba8, y == 16 && x == 0 ? clear : colour((y * 16 + x) % 256)});

    const struct {
        const char *name;
        Dib dib;
        Bytes visible; // top row first
        uint32_t bpp;
        int32_t transIndex;
    } cases[] = {
        // Both indices are visible somewhere: the image grows to 4 bits for a third index.
        {"1 bit, both indices taken",
         {.width = 2, .height = 2, .bpp = 1, .palette = Palette(2),
          .xorRows = {0x40, 0, 0, 0, 0x80, 0, 0, 0}, .andRows = {0, 0, 0, 0, 0x40, 0, 0, 0}},
         join({colour(1), clear, colour(0), colour(1)}), 4, 2},
        {"4 bits, masked index also visible",
         {.width = 2, .bpp = 4, .palette = Palette(16), .xorRows = {0x33, 0, 0, 0},
          .andRows = {0x40, 0, 0, 0}},
         join({colour(3), clear}), 4, 0},
        {"4 bits, masked index unused",
         {.width = 2, .bpp = 4, .palette = Palette(16), .xorRows = {0x35, 0, 0, 0},
          .andRows = {0x40, 0, 0, 0}},
         join({colour(3), clear}), 4, 5},
        {"8 bits, every index visible",
         {.width = 16, .height = 17, .bpp = 8, .palette = full8, .xorRows = xor8, .andRows = and8},
         rgba8, 24, -1},
        {"8 bits, no mask in the file",
         {.width = 2, .bpp = 8, .palette = Palette(256), .xorRows = {4, 9, 0, 0}},
         join({colour(4), colour(9)}), 8, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        ASSERT_TRUE(DecodeMemory(Ico({DibBytes(c.dib)}), PXFORMAT_ICO, img)) << img.GetLastError();
        EXPECT_EQ(Visible(ToRgba(img)), c.visible);
        EXPECT_EQ(img.GetBpp(), c.bpp);
        EXPECT_EQ(img.GetTransIndex(), c.transIndex);
    }
}

TEST(IcoCodec, TrueColourTransparency)
{
    const struct {
        const char *name;
        Dib dib;
        Bytes rgba; // top row first
        bool alphaPlane;
    } cases[] = {
        {"24 bits with mask",
         {.width = 2, .bpp = 24, .xorRows = {1, 2, 3, 4, 5, 6, 0, 0}, .andRows = {0x80, 0, 0, 0}},
         {3, 2, 1, 0, 6, 5, 4, 255}, true},
        {"24 bits, mask all clear",
         {.width = 2, .bpp = 24, .xorRows = {1, 2, 3, 4, 5, 6, 0, 0}, .andRows = {0, 0, 0, 0}},
         {3, 2, 1, 255, 6, 5, 4, 255}, false},
        {"32 bits: alpha wins over the mask",
         {.width = 2, .bpp = 32, .xorRows = {1, 2, 3, 9, 4, 5, 6, 200}, .andRows = {0xC0, 0, 0, 0}},
         {3, 2, 1, 9, 6, 5, 4, 200}, true},
        // The table is skipped, never stored: a 32-bit image has no palette to hold it.
        {"32 bits behind a colour table",
         {.width = 2, .bpp = 32, .palette = Palette(128), .xorRows = {1, 2, 3, 9, 4, 5, 6, 200},
          .andRows = {0, 0, 0, 0}, .clrUsed = 128},
         {3, 2, 1, 9, 6, 5, 4, 200}, true},
        {"32 bits, alpha all zero: the mask decides",
         {.width = 2, .bpp = 32, .xorRows = {1, 2, 3, 0, 4, 5, 6, 0}, .andRows = {0x40, 0, 0, 0}},
         {3, 2, 1, 255, 6, 5, 4, 0}, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        ASSERT_TRUE(DecodeMemory(Ico({DibBytes(c.dib)}, 2), PXFORMAT_ICO, img))
            << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), 24u);
        EXPECT_EQ(ToRgba(img), c.rgba);
        EXPECT_EQ(img.AlphaIsValid(), c.alphaPlane);
    }
}

TEST(IcoCodec, RefusesBrokenDirectoriesAndBitmaps)
{
    const Dib ok = {.width = 2, .bpp = 24, .xorRows = {1, 2, 3, 4, 5, 6, 0, 0},
                    .andRows = {0, 0, 0, 0}};
    auto with = [&](auto change) {
        Dib d = ok;
        change(d);
        return Ico({DibBytes(d)});
    };
    auto patched = [&](size_t at, uint8_t value) {
        Bytes b = Ico({DibBytes(ok)});
        b[at] = value;
        return b;
    };
    const struct {
        const char *name;
        Bytes file;
    } cases[] = {
        {"empty", {}},
        {"reserved field set", patched(0, 1)},
        {"type 3", patched(2, 3)},
        {"no images", patched(4, 0)},
        {"directory beyond the file", patched(4, 200)},
        {"offset inside the directory", patched(18, 6)},
        {"offset beyond the file", patched(19, 0x10)},
        {"size beyond the file", patched(17, 0x7F)},
        {"core header", with([](Dib &d) { d.headerSize = 12; })},
        {"16 bits", with([](Dib &d) { d.bpp = 16; })},
        {"65535 bits", with([](Dib &d) { d.bpp = 65535; })},
        {"run-length compression", with([](Dib &d) { d.compression = 1; })},
        {"height of one row", with([](Dib &d) { d.storedHeight = 1; })},
        {"negative width", with([](Dib &d) { d.width = -2; })},
        {"65535 x 65535 pixels in a few bytes", with([](Dib &d) { d.width = d.height = 65535; })},
        {"pixels cut short", with([](Dib &d) { d.xorRows.resize(5); d.andRows.clear(); })},
        {"300 palette entries at 8 bits", with([](Dib &d) {
             d.bpp = 8;
             d.clrUsed = 300;
             d.palette = Palette(300);
         })},
        {"broken PNG entry", Ico({Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0}})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        EXPECT_FALSE(DecodeMemory(c.file, PXFORMAT_ICO, img));
        EXPECT_STRNE(img.GetLastError(), "");
    }
}

TEST(IcoCodec, RoundTripsThroughTheWriterAndPillow)
{
    const struct {
        const char *name;
        uint32_t bpp, width;
        bool alpha;
        int32_t trans;
    } cases[] = {
        {"1 bit", 1, 32, false, -1},
        {"4 bits", 4, 21, false, -1},
        {"8 bits", 8, 48, false, -1},
        {"8 bits, transparent index", 8, 33, false, 7},
        {"1 bit, transparent index", 1, 16, false, 1},
        {"24 bits", 24, 19, false, -1},
        {"24 bits with alpha", 24, 32, true, -1},
        {"4 bits with alpha", 4, 16, true, -1},
        {"wider than a directory byte", 24, 300, false, -1},
    };
    std::vector<smallcodecs::Written> written;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img = smallcodecs::Pattern(c.width, 23, c.bpp);
        if (c.alpha)
            smallcodecs::AddAlpha(img);
        img.SetTransIndex(c.trans);
        Bytes bytes;
        PxImage back = smallcodecs::RoundTrip(img, PXFORMAT_ICO, &bytes);
        EXPECT_EQ(back.GetWidth(), c.width);
        EXPECT_EQ(Visible(ToRgba(back)), Visible(ToRgba(img)));
        EXPECT_EQ(back.GetTransIndex(), c.trans);
        if (c.trans < 0) {
            EXPECT_EQ(ToRgba(back), ToRgba(img));
        }
        if (!c.alpha) {
            EXPECT_EQ(back.GetBpp(), c.bpp);
        }
        written.push_back({c.name, bytes, ToRgba(img)});
    }
    smallcodecs::ExpectPillowAgrees(written, "ico");
}

TEST(IcoCodec, ContentDetectionTellsTheFormatsApart)
{
    PX_REQUIRE_TESTDATA();
    EXPECT_GT(smallcodecs::RefusesOtherFormats({"ico", "cur"}, PXFORMAT_ICO), 700);
    EXPECT_EQ(smallcodecs::DetectedAs({"ico", "cur"}, PXFORMAT_ICO), 28);
}
} // namespace
