// The GIF codec against independent references: a small GIF parser and LZW decoder written
// here (string table, no shared code with the engine), bytes worked out by hand, Pillow as an
// outside decoder, and the reference hashes of the public GIF suites.

#include "engine/pxcodecs_p.h"
#include "engine/pxfile.h"
#include "engine/pximage.h"
#include "engine/gif/pximagegif.h"
#include "engine/gif/pximagegif_p.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// --- an independent reader of the byte stream --------------------------------------------------

struct ParsedImage {
    uint32_t left = 0, top = 0, width = 0, height = 0;
    uint8_t flags = 0;
    Bytes localTable;
    int minCodeSize = 0;
    std::vector<size_t> blockSizes;
    Bytes data;
};

struct ParsedExtension {
    uint8_t label = 0;
    std::vector<Bytes> blocks;
};

struct ParsedGif {
    bool ok = false;
    std::string error;
    std::string signature;
    uint32_t width = 0, height = 0;
    uint8_t flags = 0, background = 0, aspect = 0;
    Bytes globalTable;
    std::vector<ParsedExtension> extensions;
    std::vector<ParsedImage> images;
    bool trailerLast = false;
};

ParsedGif ParseGif(const Bytes &f)
{
    ParsedGif g;
    size_t p = 0;
    auto need = [&](size_t n) { return p + n <= f.size(); };
    auto word = [&](size_t at) { return static_cast<uint32_t>(f[at] | (f[at + 1] << 8)); };
    auto fail = [&](const std::string &why) {
        g.error = why + " at byte " + std::to_string(p);
        return g;
    };
    auto blocks = [&](std::vector<Bytes> &out) {
        for (;;) {
            if (!need(1))
                return false;
            const size_t n = f[p++];
            if (n == 0)
                return true;
            if (!need(n))
                return false;
            out.emplace_back(f.begin() + p, f.begin() + p + n);
            p += n;
        }
    };
    if (!need(13))
        return fail("short header");
    g.signature.assign(f.begin(), f.begin() + 6);
    g.width = word(6);
    g.height = word(8);
    g.flags = f[10];
    g.background = f[11];
    g.aspect = f[12];
    p = 13;
    if (g.flags & 0x80) {
        const size_t n = 3u * (2u << (g.flags & 7));
        if (!need(n))
            return fail("short global table");
        g.globalTable.assign(f.begin() + p, f.begin() + p + n);
        p += n;
    }
    for (;;) {
        if (!need(1))
            return fail("no trailer");
        const uint8_t b = f[p++];
        if (b == 0x3B) {
            g.trailerLast = p == f.size();
            g.ok = true;
            return g;
        }
        if (b == 0x21) {
            if (!need(1))
                return fail("short extension");
            ParsedExtension e;
            e.label = f[p++];
            if (!blocks(e.blocks))
                return fail("short extension data");
            g.extensions.push_back(std::move(e));
        } else if (b == 0x2C) {
            if (!need(10))
                return fail("short descriptor");
            ParsedImage im;
            im.left = word(p);
            im.top = word(p + 2);
            im.width = word(p + 4);
            im.height = word(p + 6);
            im.flags = f[p + 8];
            p += 9;
            if (im.flags & 0x80) {
                const size_t n = 3u * (2u << (im.flags & 7));
                if (!need(n))
                    return fail("short local table");
                im.localTable.assign(f.begin() + p, f.begin() + p + n);
                p += n;
            }
            if (!need(1))
                return fail("no code size");
            im.minCodeSize = f[p++];
            std::vector<Bytes> data;
            if (!blocks(data))
                return fail("short image data");
            for (const auto &d : data) {
                im.blockSizes.push_back(d.size());
                im.data.insert(im.data.end(), d.begin(), d.end());
            }
            g.images.push_back(std::move(im));
        } else {
            return fail("unknown block");
        }
    }
}

struct Code {
    int value;
    int width;
};

struct LzwTrace {
    bool ok = false;
    std::string error;
    std::vector<Code> codes;
    Bytes pixels;
};

// A deliberately plain decoder: the table holds whole strings.
LzwTrace TraceLzw(const Bytes &data, int minCodeSize)
{
    LzwTrace t;
    const int clear = 1 << minCodeSize, end = clear + 1;
    std::vector<Bytes> table;
    int width = minCodeSize + 1;
    auto reset = [&] {
        table.clear();
        for (int i = 0; i < clear + 2; ++i)
            table.push_back(i < clear ? Bytes{static_cast<uint8_t>(i)} : Bytes{});
        width = minCodeSize + 1;
    };
    reset();
    size_t bitPos = 0;
    int previous = -1;
    for (;;) {
        if (bitPos + width > data.size() * 8) {
            t.error = "data ended before the end code";
            return t;
        }
        int code = 0;
        for (int i = 0; i < width; ++i, ++bitPos)
            code |= ((data[bitPos / 8] >> (bitPos % 8)) & 1) << i;
        t.codes.push_back({code, width});
        if (code == clear) {
            reset();
            previous = -1;
            continue;
        }
        if (code == end) {
            t.ok = true;
            return t;
        }
        Bytes entry;
        if (code < static_cast<int>(table.size()) && (code < clear || code > end)) {
            entry = table[code];
        } else if (code == static_cast<int>(table.size()) && previous >= 0) {
            entry = table[previous];
            entry.push_back(table[previous][0]);
        } else {
            t.error = "code " + std::to_string(code) + " undefined (table " +
                      std::to_string(table.size()) + ")";
            return t;
        }
        if (previous >= 0 && table.size() < 4096) {
            Bytes added = table[previous];
            added.push_back(entry[0]);
            table.push_back(std::move(added));
            if (static_cast<int>(table.size()) == (1 << width) && width < 12)
                ++width;
        }
        t.pixels.insert(t.pixels.end(), entry.begin(), entry.end());
        previous = code;
    }
}

// --- images made for the tests -----------------------------------------------------------------

// x counts from the left, y from the top of the picture.
using IndexFn = std::function<uint8_t(uint32_t x, uint32_t y)>;

void PutIndex(PxImage &img, uint32_t x, uint32_t yTop, uint8_t v)
{
    uint8_t *row = img.GetBits(img.GetHeight() - 1 - yTop);
    switch (img.GetBpp()) {
    case 8: row[x] = v; break;
    case 4:
        row[x / 2] = (x & 1) ? static_cast<uint8_t>((row[x / 2] & 0xF0) | (v & 15))
                             : static_cast<uint8_t>((row[x / 2] & 0x0F) | (v << 4));
        break;
    default:
        if (v & 1)
            row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        else
            row[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
    }
}

uint8_t TakeIndex(const PxImage &img, uint32_t x, uint32_t yTop)
{
    const uint8_t *row = img.GetBits(img.GetHeight() - 1 - yTop);
    switch (img.GetBpp()) {
    case 8: return row[x];
    case 4: return (x & 1) ? row[x / 2] & 15 : row[x / 2] >> 4;
    default: return (row[x / 8] >> (7 - x % 8)) & 1;
    }
}

PxRGBQuad TestColour(uint32_t i)
{
    return PxRGBQuad{static_cast<uint8_t>(i * 151 + 7), static_cast<uint8_t>(i * 91 + 3),
                     static_cast<uint8_t>(i * 37 + 11), 0};
}

void MakeIndexed(PxImage &img, uint32_t w, uint32_t h, uint32_t bpp, const IndexFn &fn)
{
    ASSERT_NE(img.Create(w, h, bpp, 0), nullptr);
    for (uint32_t i = 0; i < img.GetNumColors(); ++i)
        img.GetPalette()[i] = TestColour(i);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            PutIndex(img, x, y, fn(x, y));
}

Bytes IndicesTopDown(const PxImage &img)
{
    Bytes out;
    out.reserve(static_cast<size_t>(img.GetWidth()) * img.GetHeight());
    for (uint32_t y = 0; y < img.GetHeight(); ++y)
        for (uint32_t x = 0; x < img.GetWidth(); ++x)
            out.push_back(TakeIndex(img, x, y));
    return out;
}

// RGBA rows top first, as the reference hashes are made; the transparent index gets alpha 0.
Bytes ToRgba(const PxImage &img)
{
    Bytes out;
    const uint32_t w = img.GetWidth(), h = img.GetHeight();
    out.reserve(static_cast<size_t>(w) * h * 4);
    const int32_t trans = img.GetTransIndex();
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            if (img.GetBpp() == 24) {
                const uint8_t *p = img.GetBits(h - 1 - y) + x * 3;
                const PxRGBQuad tc = img.GetTransColor();
                const bool clear =
                    trans >= 0 && p[0] == tc.blue && p[1] == tc.green && p[2] == tc.red;
                out.insert(out.end(), {p[2], p[1], p[0], static_cast<uint8_t>(clear ? 0 : 255)});
            } else {
                const uint8_t i = TakeIndex(img, x, y);
                const PxRGBQuad c = img.GetPalette()[i];
                out.insert(out.end(),
                           {c.red, c.green, c.blue, static_cast<uint8_t>(i == trans ? 0 : 255)});
            }
        }
    }
    return out;
}

// Fully transparent pixels compare equal whatever colour a decoder leaves under them.
Bytes Visible(Bytes rgba)
{
    for (size_t i = 0; i + 3 < rgba.size(); i += 4)
        if (rgba[i + 3] == 0)
            rgba[i] = rgba[i + 1] = rgba[i + 2] = 0;
    return rgba;
}

Bytes EncodeGif(PxImage &img, uint32_t codecOption = 0)
{
    img.SetCodecOption(codecOption);
    PxMemFile out;
    EXPECT_TRUE(img.Encode(out, PXFORMAT_GIF)) << img.GetLastError();
    return out.Buffer();
}

std::vector<size_t> ClearGaps(const std::vector<Code> &codes, int clear, int end)
{
    // Codes between consecutive clear codes (and from the last clear to the end code).
    std::vector<size_t> gaps;
    size_t run = 0;
    bool started = false;
    for (const Code &c : codes) {
        if (c.value == clear || c.value == end) {
            if (started)
                gaps.push_back(run);
            started = true;
            run = 0;
        } else {
            ++run;
        }
    }
    return gaps;
}

std::string Hex(const Bytes &b)
{
    std::string s;
    char t[4];
    for (uint8_t v : b) {
        std::snprintf(t, sizeof t, "%02x ", v);
        s += t;
    }
    return s;
}

// --- byte layout -----------------------------------------------------------------------------

TEST(GifWriter, HeaderTableAndBlocksFollowTheDepth)
{
    struct Row {
        uint32_t bpp;
        uint8_t packed;
        size_t tableBytes;
        int minCodeSize;
    };
    // Packed byte: table flag, colour resolution and size field bpp - 1; the table is exactly
    // 2^bpp entries, never padded to 256.
    const Row rows[] = {{1, 0x80, 6, 2}, {4, 0xE3, 48, 4}, {8, 0xE7, 768, 8}};
    for (const Row &r : rows) {
        SCOPED_TRACE("bpp " + std::to_string(r.bpp));
        PxImage img;
        ASSERT_NO_FATAL_FAILURE(MakeIndexed(img, 5, 3, r.bpp, [](uint32_t x, uint32_t y) { return uint8_t((x + y) & 1); }));
        const Bytes f = EncodeGif(img);
        ASSERT_GE(f.size(), 13u + r.tableBytes);
        EXPECT_EQ(std::string(f.begin(), f.begin() + 6), "GIF89a");
        EXPECT_EQ(Bytes(f.begin() + 6, f.begin() + 13), (Bytes{5, 0, 3, 0, r.packed, 0, 0}));
        for (size_t i = 0; i < r.tableBytes / 3; ++i) {
            const PxRGBQuad c = TestColour(static_cast<uint32_t>(i));
            ASSERT_EQ(Bytes(f.begin() + 13 + i * 3, f.begin() + 16 + i * 3),
                      (Bytes{c.red, c.green, c.blue}))
                << "entry " << i;
        }
        size_t p = 13 + r.tableBytes;
        // Graphic control extension without transparency; the index byte is the low byte of -1.
        EXPECT_EQ(Bytes(f.begin() + p, f.begin() + p + 8),
                  (Bytes{0x21, 0xF9, 4, 0, 0, 0, 0xFF, 0}));
        p += 8;
        EXPECT_EQ(Bytes(f.begin() + p, f.begin() + p + 11),
                  (Bytes{0x2C, 0, 0, 0, 0, 5, 0, 3, 0, 0, static_cast<uint8_t>(r.minCodeSize)}));
        EXPECT_EQ(f.back(), 0x3B);

        const ParsedGif g = ParseGif(f);
        ASSERT_TRUE(g.ok) << g.error;
        EXPECT_TRUE(g.trailerLast);
        ASSERT_EQ(g.images.size(), 1u);
        const LzwTrace t = TraceLzw(g.images[0].data, g.images[0].minCodeSize);
        ASSERT_TRUE(t.ok) << t.error;
        // Codes start one bit wider than the minimum code size.
        EXPECT_EQ(t.codes[0].width, r.minCodeSize + 1);
        EXPECT_EQ(t.pixels, IndicesTopDown(img));
    }
}

TEST(GifWriter, ControlExtensionAndCommentCarryTheImageFields)
{
    struct Row {
        int32_t trans;
        uint32_t delay;
        int32_t disposal;
        std::string comment;
        Bytes control;
    };
    const Row rows[] = {
        {3, 25, 0, "", {0x21, 0xF9, 4, 0x01, 25, 0, 3, 0}},
        {-1, 0x1234, 2, "", {0x21, 0xF9, 4, 0x08, 0x34, 0x12, 0xFF, 0}},
        {255, 7, 7, "hi", {0x21, 0xF9, 4, 0x1D, 7, 0, 255, 0}},
        // The 16-bit field keeps the longest delay it can rather than a wrapped one.
        {-1, 70000, 0, "", {0x21, 0xF9, 4, 0x00, 0xFF, 0xFF, 0xFF, 0}},
        // An index beyond the palette marks nothing transparent.
        {300, 0, 0, "", {0x21, 0xF9, 4, 0x00, 0, 0, 44, 0}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(Hex(r.control));
        PxImageGIF gif;
        ASSERT_NO_FATAL_FAILURE(MakeIndexed(gif, 2, 2, 8, [](uint32_t, uint32_t) { return uint8_t(3); }));
        gif.SetTransIndex(r.trans);
        gif.SetFrameDelay(r.delay);
        gif.SetDisposalMethod(r.disposal);
        gif.SetComment(r.comment);
        PxMemFile out;
        ASSERT_TRUE(gif.Encode(out));
        const Bytes &f = out.Buffer();
        const size_t p = 13 + 768;
        EXPECT_EQ(Bytes(f.begin() + p, f.begin() + p + 8), r.control);
        Bytes next(f.begin() + p + 8, f.begin() + p + 9);
        if (r.comment.empty()) {
            EXPECT_EQ(next, Bytes{0x2C});
        } else {
            Bytes expected{0x21, 0xFE, static_cast<uint8_t>(r.comment.size())};
            expected.insert(expected.end(), r.comment.begin(), r.comment.end());
            expected.push_back(0);
            expected.push_back(0x2C);
            EXPECT_EQ(Bytes(f.begin() + p + 8, f.begin() + p + 8 + expected.size()), expected);
        }
    }
}

TEST(GifWriter, OneBitImageMatchesHandWorkedBytes)
{
    // 4 x 1 black pixels, minimum code size 2 (clear 4, end 5, base code 6). The run of 4 goes
    // out as 0 (one pixel), 6 (two), 0 (the last one); after three codes the decoder's next
    // entry is 8, so the end code takes 4 bits. LSB first: 100 000 011 000 1010 -> 84 51.
    PxImage img;
    ASSERT_NE(img.Create(4, 1, 1, 0), nullptr);
    img.SetPaletteColor(0, 0, 0, 0);
    img.SetPaletteColor(1, 255, 255, 255);
    std::memset(img.GetBits(0), 0, img.GetEffWidth());
    const Bytes expected = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 1, 0, 0x80, 0, 0,
                            0, 0, 0, 255, 255, 255,
                            0x21, 0xF9, 4, 0, 0, 0, 0xFF, 0,
                            0x2C, 0, 0, 0, 0, 4, 0, 1, 0, 0,
                            2, 2, 0x84, 0x51, 0,
                            0x3B};
    EXPECT_EQ(Hex(EncodeGif(img)), Hex(expected));
}

TEST(GifWriter, ShortPaletteIsPaddedToItsSizeField)
{
    // A palette shorter than the size field announces would leave decoders reading pixel codes
    // as colours; the missing entries are written black instead.
    PxRGBQuad pal[5];
    for (int i = 0; i < 5; ++i)
        pal[i] = TestColour(static_cast<uint32_t>(i));
    struct Row {
        uint32_t used, declared;
    };
    for (const Row r : {Row{5, 256}, Row{2, 2}, Row{5, 16}, Row{0, 4}}) {
        SCOPED_TRACE(std::to_string(r.used) + " of " + std::to_string(r.declared));
        PxMemFile out;
        pxgif::WriteColorTable(out, pal, r.used, r.declared);
        const Bytes &t = out.Buffer();
        ASSERT_EQ(t.size(), r.declared * 3);
        for (uint32_t i = 0; i < r.declared; ++i) {
            const PxRGBQuad c = i < r.used ? pal[i] : PxRGBQuad{};
            EXPECT_EQ(Bytes(t.begin() + i * 3, t.begin() + i * 3 + 3),
                      (Bytes{c.red, c.green, c.blue}))
                << "entry " << i;
        }
    }
}

TEST(GifWriter, RefusesWhatGifCannotHold)
{
    struct Row {
        uint32_t w, h;
    };
    for (const Row r : {Row{0, 5}, Row{5, 0}, Row{65536, 1}, Row{1, 70000}}) {
        SCOPED_TRACE(std::to_string(r.w) + "x" + std::to_string(r.h));
        PxImage img;
        ASSERT_NE(img.Create(r.w, r.h, 1, 0), nullptr);
        PxMemFile out;
        EXPECT_FALSE(img.Encode(out, PXFORMAT_GIF));
        EXPECT_TRUE(out.Buffer().empty());
        EXPECT_NE(std::string(img.GetLastError()).find("GIF can't hold"), std::string::npos);
    }
    PxImage empty;
    PxMemFile out;
    EXPECT_FALSE(empty.Encode(out, PXFORMAT_GIF));
    EXPECT_TRUE(out.Buffer().empty());
}

// --- the run-length coder ----------------------------------------------------------------------

TEST(GifRunLength, SingleColourGoesOutAsGrowingRunCodes)
{
    struct Row {
        uint32_t w, h, bpp;
        uint8_t colour;
    };
    const Row rows[] = {{64, 64, 8, 7}, {100, 37, 4, 9}, {333, 3, 1, 1}, {1, 1, 8, 200}};
    for (const Row &r : rows) {
        SCOPED_TRACE(std::to_string(r.w) + "x" + std::to_string(r.h) + " bpp " +
                     std::to_string(r.bpp));
        PxImage img;
        ASSERT_NO_FATAL_FAILURE(MakeIndexed(img, r.w, r.h, r.bpp, [&](uint32_t, uint32_t) { return r.colour; }));
        const ParsedGif g = ParseGif(EncodeGif(img));
        ASSERT_TRUE(g.ok) << g.error;
        const int m = g.images[0].minCodeSize;
        const int clear = 1 << m, base = clear + 2;
        // After the clear: one pixel, then codes for runs of 2, 3, 4, ... while they fit, and
        // the remainder as one code.
        std::vector<int> expected{clear};
        int64_t left = int64_t(r.w) * r.h;
        for (int64_t k = 1; left > 0; ++k) {
            if (k == 1) {
                expected.push_back(r.colour);
                left -= 1;
            } else if (left >= k) {
                expected.push_back(base + int(k) - 2);
                left -= k;
            } else {
                expected.push_back(left == 1 ? r.colour : base + int(left) - 2);
                left = 0;
            }
        }
        // Back outside the run the clear limit is the initial one again, which the run's codes
        // may already have passed.
        const size_t initialLimit = m == 2 ? 9 : size_t(clear) - 2;
        if (expected.size() - 1 >= initialLimit)
            expected.push_back(clear);
        expected.push_back(clear + 1);
        const LzwTrace t = TraceLzw(g.images[0].data, m);
        ASSERT_TRUE(t.ok) << t.error;
        std::vector<int> got;
        for (const Code &c : t.codes)
            got.push_back(c.value);
        EXPECT_EQ(got, expected);
        EXPECT_EQ(t.pixels, IndicesTopDown(img));
    }
}

TEST(GifRunLength, ClearCodesComeAtTheInitialLimitWithoutRuns)
{
    // No two neighbouring pixels are equal, so every code is a plain pixel and the coder clears
    // before the decoder would widen its codes: every c - 2 codes, every 9 for 1-bit images.
    struct Row {
        uint32_t bpp;
        size_t limit;
    };
    for (const Row r : {Row{1, 9}, Row{4, 14}, Row{8, 254}}) {
        SCOPED_TRACE("bpp " + std::to_string(r.bpp));
        PxImage img;
        const uint32_t w = 37, h = 40, n = 1u << r.bpp;
        ASSERT_NO_FATAL_FAILURE(MakeIndexed(img, w, h, r.bpp,
                    [&](uint32_t x, uint32_t y) { return uint8_t((y * w + x) % n); }));
        const ParsedGif g = ParseGif(EncodeGif(img));
        ASSERT_TRUE(g.ok) << g.error;
        const int m = g.images[0].minCodeSize, clear = 1 << m;
        const LzwTrace t = TraceLzw(g.images[0].data, m);
        ASSERT_TRUE(t.ok) << t.error;
        EXPECT_EQ(t.pixels, IndicesTopDown(img));
        const auto gaps = ClearGaps(t.codes, clear, clear + 1);
        ASSERT_GT(gaps.size(), 2u);
        for (size_t i = 0; i + 1 < gaps.size(); ++i)
            ASSERT_EQ(gaps[i], r.limit) << "gap " << i;
        EXPECT_LE(gaps.back(), r.limit);
        for (const Code &c : t.codes)
            EXPECT_LT(c.value, clear + 2);
    }
}

TEST(GifRunLength, LongRunClearsAtTheMaximumCodeCount)
{
    // One run longer than 1 + 2 + ... + (4093 - c) pixels: the table is cleared once exactly
    // 4093 - c codes went out, and the run goes on from a fresh table.
    struct Row {
        uint32_t w, h, bpp;
    };
    for (const Row r : {Row{2800, 2700, 8}, Row{2900, 2900, 1}}) {
        SCOPED_TRACE("bpp " + std::to_string(r.bpp));
        PxImage img;
        ASSERT_NE(img.Create(r.w, r.h, r.bpp, 0), nullptr);
        img.SetPaletteColor(0, 10, 20, 30);
        img.SetPaletteColor(1, 40, 50, 60);
        std::memset(img.GetBits(0), r.bpp == 8 ? 1 : 0xFF,
                    static_cast<size_t>(img.GetEffWidth()) * r.h);
        const ParsedGif g = ParseGif(EncodeGif(img));
        ASSERT_TRUE(g.ok) << g.error;
        const int m = g.images[0].minCodeSize, clear = 1 << m;
        const LzwTrace t = TraceLzw(g.images[0].data, m);
        ASSERT_TRUE(t.ok) << t.error;
        const auto gaps = ClearGaps(t.codes, clear, clear + 1);
        ASSERT_GE(gaps.size(), 2u);
        EXPECT_EQ(gaps[0], static_cast<size_t>(4093 - clear));
        const int64_t covered = int64_t(4093 - clear) * (4094 - clear) / 2;
        EXPECT_LT(covered, int64_t(r.w) * r.h);
        ASSERT_EQ(t.pixels.size(), size_t(r.w) * r.h);
        EXPECT_EQ(std::count(t.pixels.begin(), t.pixels.end(), 1),
                  static_cast<long>(t.pixels.size()));
        int widest = 0;
        for (const Code &c : t.codes)
            widest = std::max(widest, c.width);
        EXPECT_EQ(widest, 12);
    }
}

TEST(GifRunLength, MixedRunsDecodeExactly)
{
    // Runs of random lengths over a few colours reach every branch of the coder: table reuse,
    // clear-or-repeat, and leftovers after a clear.
    for (uint32_t bpp : {1u, 4u, 8u}) {
        for (uint32_t seed = 1; seed <= 6; ++seed) {
            SCOPED_TRACE("bpp " + std::to_string(bpp) + " seed " + std::to_string(seed));
            std::mt19937 rng(seed * 7919 + bpp);
            const uint32_t colours = std::min(1u << bpp, seed % 2 ? 3u : 2u);
            const uint32_t maxRun = seed <= 2 ? 6 : seed <= 4 ? 300 : 20000;
            const uint32_t w = 211, h = 157;
            Bytes pixels;
            while (pixels.size() < size_t(w) * h) {
                const uint8_t v = static_cast<uint8_t>(rng() % colours * ((1u << bpp) - 1) / 2);
                const uint32_t n = 1 + rng() % maxRun;
                pixels.insert(pixels.end(), n, v);
            }
            PxImage img;
            ASSERT_NO_FATAL_FAILURE(MakeIndexed(img, w, h, bpp, [&](uint32_t x, uint32_t y) { return pixels[y * w + x]; }));
            const ParsedGif g = ParseGif(EncodeGif(img));
            ASSERT_TRUE(g.ok) << g.error;
            const LzwTrace t = TraceLzw(g.images[0].data, g.images[0].minCodeSize);
            ASSERT_TRUE(t.ok) << t.error;
            EXPECT_EQ(t.pixels, IndicesTopDown(img));
            for (size_t s : g.images[0].blockSizes)
                EXPECT_LE(s, 255u);
        }
    }
}

// --- plain and LZW codes ----------------------------------------------------------------------

TEST(GifPlainCodes, EveryPixelIsItsOwnCode)
{
    // The decoder's table grows by one entry per code; the coder clears once 4094 - c codes
    // went out, before the table overflows.
    for (uint32_t bpp : {1u, 4u, 8u}) {
        SCOPED_TRACE("bpp " + std::to_string(bpp));
        PxImage img;
        ASSERT_NO_FATAL_FAILURE(MakeIndexed(img, 100, 100, bpp,
                    [](uint32_t x, uint32_t y) { return uint8_t(x / 40 + y / 50); }));
        const ParsedGif g = ParseGif(EncodeGif(img, 1));
        ASSERT_TRUE(g.ok) << g.error;
        const int m = g.images[0].minCodeSize, clear = 1 << m;
        const LzwTrace t = TraceLzw(g.images[0].data, m);
        ASSERT_TRUE(t.ok) << t.error;
        EXPECT_EQ(t.pixels, IndicesTopDown(img));
        size_t literals = 0;
        for (const Code &c : t.codes) {
            ASSERT_TRUE(c.value < clear || c.value == clear || c.value == clear + 1) << c.value;
            literals += c.value < clear;
        }
        EXPECT_EQ(literals, 10000u);
        const auto gaps = ClearGaps(t.codes, clear, clear + 1);
        ASSERT_EQ(gaps.size(), 10000 / (4094 - clear) + 1);
        for (size_t i = 0; i + 1 < gaps.size(); ++i)
            EXPECT_EQ(gaps[i], static_cast<size_t>(4094 - clear));
        for (size_t s : g.images[0].blockSizes)
            EXPECT_LE(s, 254u);
    }
}

TEST(GifPlainCodes, UncompressedTiffIsWrittenWithPlainCodes)
{
    TempFolder dir;
    PxImage source;
    ASSERT_NO_FATAL_FAILURE(MakeIndexed(source, 40, 30, 8, [](uint32_t x, uint32_t y) { return uint8_t(x / 10 + y / 10); }));
    source.SetCodecOption(1); // no compression
    const auto tif = dir.Fs("plain.tif");
    ASSERT_TRUE(source.Save(tif, PXFORMAT_TIF)) << source.GetLastError();
    PxImage loaded;
    ASSERT_TRUE(loaded.Load(tif, PXFORMAT_TIF)) << loaded.GetLastError();
    ASSERT_EQ(loaded.GetCodecOption(), 1u);
    PxMemFile out;
    ASSERT_TRUE(loaded.Encode(out, PXFORMAT_GIF));
    const ParsedGif g = ParseGif(out.Buffer());
    ASSERT_TRUE(g.ok) << g.error;
    const int m = g.images[0].minCodeSize, clear = 1 << m;
    const LzwTrace t = TraceLzw(g.images[0].data, m);
    ASSERT_TRUE(t.ok) << t.error;
    EXPECT_EQ(t.pixels, IndicesTopDown(source));
    size_t literals = 0;
    for (const Code &c : t.codes)
        literals += c.value < clear;
    EXPECT_EQ(literals, 1200u);
}

TEST(GifLzw, DecodesAndClearsWhenTheTableFills)
{
    struct Row {
        uint32_t w, h, bpp;
        bool noise;
    };
    const Row rows[] = {{300, 300, 8, true}, {300, 200, 4, true}, {1024, 200, 1, true},
                        {640, 480, 8, false}};
    for (const Row &r : rows) {
        SCOPED_TRACE(std::to_string(r.w) + "x" + std::to_string(r.h) + " bpp " +
                     std::to_string(r.bpp));
        std::mt19937 rng(r.w);
        PxImage img;
        ASSERT_NO_FATAL_FAILURE(MakeIndexed(img, r.w, r.h, r.bpp, [&](uint32_t x, uint32_t y) {
            return r.noise ? uint8_t(rng() & ((1u << r.bpp) - 1)) : uint8_t((x / 8 + y / 3) & 0xFF);
        }));
        const Bytes lzw = EncodeGif(img, 2);
        const ParsedGif g = ParseGif(lzw);
        ASSERT_TRUE(g.ok) << g.error;
        const int m = g.images[0].minCodeSize, clear = 1 << m;
        const LzwTrace t = TraceLzw(g.images[0].data, m);
        ASSERT_TRUE(t.ok) << t.error;
        EXPECT_EQ(t.pixels, IndicesTopDown(img));
        for (size_t s : g.images[0].blockSizes)
            EXPECT_LE(s, 254u);
        size_t clears = 0;
        for (const Code &c : t.codes)
            clears += c.value == clear;
        if (r.noise)
            EXPECT_GT(clears, 1u) << "the table never filled";
        else
            EXPECT_LT(lzw.size(), EncodeGif(img, 1).size() / 4);
    }
}

// A stream that accepts a limited number of bytes, like a full disk.
class FullDisk : public PxMemFile {
public:
    explicit FullDisk(size_t room) : m_room(room) {}
    size_t Write(const void *b, size_t size, size_t count) override
    {
        if (m_failed || size * count > m_room) {
            m_failed = true;
            return 0;
        }
        m_room -= size * count;
        return PxMemFile::Write(b, size, count);
    }
    bool PutC(uint8_t c) override { return Write(&c, 1, 1) == 1; }
    bool Error() override { return m_failed; }

private:
    size_t m_room;
    bool m_failed = false;
};

TEST(GifWriter, WriteErrorsAreReported)
{
    for (uint32_t option : {0u, 1u, 2u}) {
        SCOPED_TRACE("codec option " + std::to_string(option));
        PxImageGIF gif;
        ASSERT_NO_FATAL_FAILURE(MakeIndexed(gif, 64, 64, 8, [](uint32_t x, uint32_t y) { return uint8_t(x * y); }));
        gif.SetCodecOption(option);
        FullDisk disk(900);
        gif.Encode(disk);
        if (option != 0) {
            EXPECT_STREQ(gif.GetLastError(), "Write Error in GIF file");
        }
        // Through the image's entry point a short write is a failure for every coder.
        PxImage img;
        ASSERT_NO_FATAL_FAILURE(MakeIndexed(img, 64, 64, 8, [](uint32_t x, uint32_t y) { return uint8_t(x * y); }));
        img.SetCodecOption(option);
        FullDisk disk2(900);
        EXPECT_FALSE(img.Encode(disk2, PXFORMAT_GIF));
    }
}

// --- the true-colour path ----------------------------------------------------------------------

TEST(GifTrueColour, TilesCarryTheirOwnColours)
{
    PxImage img;
    const uint32_t w = 40, h = 33;
    ASSERT_NE(img.Create(w, h, 24, 0), nullptr);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t *p = img.GetBits(h - 1 - y) + x * 3;
            p[0] = uint8_t(x * 6);
            p[1] = uint8_t(y * 7);
            p[2] = uint8_t((x * y) % 5 == 0 ? 0 : 200);
        }
    const ParsedGif g = ParseGif(EncodeGif(img));
    ASSERT_TRUE(g.ok) << g.error;
    EXPECT_EQ(g.flags, 0x11);
    EXPECT_TRUE(g.globalTable.empty());
    // 3 tile columns (17, 17, 6) by 3 tile rows (15, 15, 3), left to right, top to bottom.
    ASSERT_EQ(g.images.size(), 9u);
    ASSERT_EQ(g.extensions.size(), 9u);
    Bytes canvas(size_t(w) * h * 3, 0);
    for (size_t i = 0; i < g.images.size(); ++i) {
        SCOPED_TRACE("tile " + std::to_string(i));
        const ParsedImage &t = g.images[i];
        EXPECT_EQ(t.left, (i % 3) * 17);
        EXPECT_EQ(t.top, (i / 3) * 15);
        EXPECT_EQ(t.width, i % 3 == 2 ? 6u : 17u);
        EXPECT_EQ(t.height, i / 3 == 2 ? 3u : 15u);
        EXPECT_EQ(t.flags, 0x87);
        ASSERT_EQ(t.localTable.size(), 768u);
        EXPECT_EQ(g.extensions[i].blocks[0], (Bytes{0, 0, 0, 0xFF}));
        const LzwTrace tr = TraceLzw(t.data, t.minCodeSize);
        ASSERT_TRUE(tr.ok) << tr.error;
        ASSERT_EQ(tr.pixels.size(), size_t(t.width) * t.height);
        for (uint32_t y = 0; y < t.height; ++y)
            for (uint32_t x = 0; x < t.width; ++x) {
                const uint8_t idx = tr.pixels[y * t.width + x];
                for (int c = 0; c < 3; ++c)
                    canvas[((t.top + y) * w + t.left + x) * 3 + c] = t.localTable[idx * 3 + c];
            }
    }
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t *p = img.GetBits(h - 1 - y) + x * 3;
            const uint8_t *q = &canvas[(y * w + x) * 3];
            ASSERT_EQ((Bytes{q[0], q[1], q[2]}), (Bytes{p[2], p[1], p[0]})) << x << "," << y;
        }
}

// --- Pillow as an outside decoder --------------------------------------------------------------

std::string PythonWithPillow()
{
    for (const char *py : {"/usr/bin/python3", "python3"}) {
        const std::string cmd = std::string(py) + " -c 'import PIL' >/dev/null 2>&1";
        if (std::system(cmd.c_str()) == 0)
            return py;
    }
    return {};
}

// Writes NAME.rgba beside every GIF: the last frame composited over the earlier ones (the
// whole picture for the tiled true-colour files, the only frame otherwise), RGBA, rows top first.
bool DecodeWithPillow(const std::vector<std::filesystem::path> &gifs, std::string &why)
{
    const std::string python = PythonWithPillow();
    if (python.empty()) {
        why = "python3 with PIL is not installed";
        return false;
    }
    const auto script = gifs.front().parent_path() / "pillow_decode.py";
    std::ofstream(script) << "import sys\n"
                             "from PIL import Image\n"
                             "for p in sys.argv[1:]:\n"
                             "    im = Image.open(p)\n"
                             "    for i in range(getattr(im, 'n_frames', 1)):\n"
                             "        im.seek(i)\n"
                             "    open(p + '.rgba', 'wb').write(im.convert('RGBA').tobytes())\n";
    std::string cmd = python + " '" + script.string() + "'";
    for (const auto &g : gifs)
        cmd += " '" + g.string() + "'";
    if (std::system(cmd.c_str()) != 0) {
        why = "Pillow failed to decode";
        return false;
    }
    return true;
}

TEST(GifWriter, PillowReadsEveryCoderAndDepth)
{
    TempFolder dir;
    struct Case {
        std::string name;
        std::unique_ptr<PxImage> image;
    };
    std::vector<Case> cases;
    std::mt19937 rng(42);
    const std::vector<std::pair<std::string, IndexFn>> patterns = {
        {"noise", [&](uint32_t, uint32_t) { return uint8_t(rng()); }},
        {"bands", [](uint32_t x, uint32_t y) { return uint8_t(x / 7 + (y / 5) * 3); }},
        {"flat", [](uint32_t, uint32_t) { return uint8_t(1); }},
        {"runs", [](uint32_t x, uint32_t y) { return uint8_t(((x * x + y * 31) / 97) % 3); }},
    };
    for (uint32_t bpp : {1u, 4u, 8u})
        for (const auto &[pname, fn] : patterns)
            for (uint32_t option : {0u, 1u, 2u}) {
                auto img = std::make_unique<PxImage>();
                const uint32_t mask = (1u << bpp) - 1;
                ASSERT_NO_FATAL_FAILURE(MakeIndexed(*img, 123, 77, bpp,
                            [&](uint32_t x, uint32_t y) { return uint8_t(fn(x, y) & mask); }));
                img->SetCodecOption(option);
                if (pname == "bands")
                    img->SetTransIndex(1);
                cases.push_back({pname + "_" + std::to_string(bpp) + "_" + std::to_string(option),
                                 std::move(img)});
            }
    for (uint32_t option : {0u, 1u, 2u})
        for (bool trans : {false, true}) {
            auto img = std::make_unique<PxImage>();
            ASSERT_NE(img->Create(50, 36, 24, 0), nullptr);
            for (uint32_t y = 0; y < 36; ++y)
                for (uint32_t x = 0; x < 50; ++x) {
                    uint8_t *p = img->GetBits(35 - y) + x * 3;
                    const bool hole = trans && (x / 5 + y / 4) % 3 == 0;
                    p[0] = hole ? 1 : uint8_t(x * 5);
                    p[1] = hole ? 2 : uint8_t(y * 7);
                    p[2] = hole ? 3 : uint8_t(x ^ y);
                }
            img->SetCodecOption(option);
            if (trans) {
                img->SetTransIndex(0);
                img->SetBkColor(PxRGBQuad{1, 2, 3, 0});
            }
            cases.push_back(
                {"rgb_" + std::to_string(option) + (trans ? "_t" : ""), std::move(img)});
        }

    std::vector<std::filesystem::path> files;
    for (auto &c : cases) {
        const auto path = dir.Fs(c.name + ".gif");
        ASSERT_TRUE(c.image->Save(path, PXFORMAT_GIF)) << c.name << ": " << c.image->GetLastError();
        files.push_back(path);
    }
    // Pillow is installed with the project: a GIF it cannot read is our fault.
    std::string why;
    ASSERT_TRUE(DecodeWithPillow(files, why)) << why;
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const Bytes got = ReadFileBytes(files[i].string() + ".rgba");
        const Bytes want = ToRgba(*cases[i].image);
        ASSERT_EQ(got.size(), want.size());
        EXPECT_TRUE(Visible(got) == Visible(want));
    }
}

// --- reading -----------------------------------------------------------------------------------

// Builds GIF files for the reader tests; image data is written with plain codes, clearing often
// enough that the code width never grows.
struct GifBuilder {
    Bytes f;
    void Header(uint32_t w, uint32_t h, const std::vector<PxRGBQuad> &global, uint8_t bg = 0)
    {
        f = {'G', 'I', 'F', '8', '9', 'a'};
        Word(w);
        Word(h);
        f.push_back(global.empty() ? 0 : uint8_t(0x80 | SizeField(global.size())));
        f.push_back(bg);
        f.push_back(0);
        Table(global);
    }
    void Control(int trans, uint32_t delay)
    {
        f.insert(f.end(), {0x21, 0xF9, 4, uint8_t(trans >= 0 ? 1 : 0)});
        Word(delay);
        f.insert(f.end(), {uint8_t(trans >= 0 ? trans : 0), 0});
    }
    void Image(uint32_t left, uint32_t top, uint32_t w, uint32_t h, const Bytes &pixels,
               const std::vector<PxRGBQuad> &local = {}, bool interlaced = false, int m = 8,
               size_t keepBytes = SIZE_MAX)
    {
        f.push_back(0x2C);
        Word(left);
        Word(top);
        Word(w);
        Word(h);
        f.push_back(uint8_t((local.empty() ? 0 : 0x80 | SizeField(local.size())) |
                            (interlaced ? 0x40 : 0)));
        Table(local);
        f.push_back(uint8_t(m));
        Bytes data = PlainCodes(pixels, m);
        if (keepBytes < data.size())
            data.resize(keepBytes);
        Blocks(data, keepBytes == SIZE_MAX);
    }
    void Trailer() { f.push_back(0x3B); }

    static int SizeField(size_t entries)
    {
        int s = 0;
        while ((2u << s) < entries)
            ++s;
        return s;
    }
    void Word(uint32_t v)
    {
        f.push_back(uint8_t(v));
        f.push_back(uint8_t(v >> 8));
    }
    void Table(const std::vector<PxRGBQuad> &t)
    {
        if (t.empty())
            return;
        const size_t n = 2u << SizeField(t.size());
        for (size_t i = 0; i < n; ++i) {
            const PxRGBQuad c = i < t.size() ? t[i] : PxRGBQuad{};
            f.insert(f.end(), {c.red, c.green, c.blue});
        }
    }
    void Blocks(const Bytes &data, bool terminate)
    {
        for (size_t i = 0; i < data.size(); i += 255) {
            const size_t n = std::min<size_t>(255, data.size() - i);
            f.push_back(uint8_t(n));
            f.insert(f.end(), data.begin() + i, data.begin() + i + n);
        }
        if (terminate)
            f.push_back(0);
    }
    static Bytes PlainCodes(const Bytes &pixels, int m)
    {
        const int clear = 1 << m, width = m + 1;
        Bytes out;
        uint32_t acc = 0;
        int bits = 0;
        auto put = [&](int code) {
            acc |= uint32_t(code) << bits;
            bits += width;
            while (bits >= 8) {
                out.push_back(uint8_t(acc));
                acc >>= 8;
                bits -= 8;
            }
        };
        // The decoder widens once its table reaches 2^(m+1) entries; clear well before.
        const size_t perClear = size_t(clear) - 2;
        for (size_t i = 0; i < pixels.size(); ++i) {
            if (i % perClear == 0)
                put(clear);
            put(pixels[i]);
        }
        put(clear + 1);
        if (bits > 0)
            out.push_back(uint8_t(acc));
        return out;
    }
};

std::vector<PxRGBQuad> Palette(size_t n)
{
    std::vector<PxRGBQuad> p;
    for (size_t i = 0; i < n; ++i)
        p.push_back(TestColour(uint32_t(i)));
    return p;
}

bool DecodeBytes(PxImage &img, const Bytes &f)
{
    return img.Decode(f.data(), f.size(), PXFORMAT_GIF);
}

TEST(GifReader, DepthFollowsTheColourTable)
{
    struct Row {
        size_t globalEntries, localEntries;
        uint32_t bpp;
    };
    const Row rows[] = {{2, 0, 1}, {4, 0, 4}, {16, 0, 4}, {32, 0, 8}, {256, 0, 8},
                        {256, 2, 1}, {2, 16, 4}, {0, 8, 4}, {0, 0, 8}};
    for (const Row &r : rows) {
        SCOPED_TRACE(std::to_string(r.globalEntries) + "/" + std::to_string(r.localEntries));
        const size_t colours = r.localEntries    ? r.localEntries
                               : r.globalEntries ? r.globalEntries
                                                 : 256;
        Bytes pixels;
        for (uint32_t i = 0; i < 7 * 5; ++i)
            pixels.push_back(uint8_t((i * 5) % colours));
        GifBuilder b;
        std::vector<PxRGBQuad> global = Palette(r.globalEntries);
        std::reverse(global.begin(), global.end()); // must not be confused with the local table
        b.Header(7, 5, global);
        b.Image(0, 0, 7, 5, pixels, Palette(r.localEntries), false, r.bpp == 1 ? 2 : 8);
        b.Trailer();
        PxImage img;
        ASSERT_TRUE(DecodeBytes(img, b.f)) << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), r.bpp);
        EXPECT_EQ(img.GetType(), PXFORMAT_GIF);
        EXPECT_EQ(IndicesTopDown(img), pixels);
        for (size_t i = 0; i < std::min<size_t>(colours, img.GetNumColors()); ++i) {
            PxRGBQuad want = r.localEntries ? TestColour(uint32_t(i))
                             : r.globalEntries ? global[i]
                                               : PxRGBQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
            EXPECT_EQ(img.GetPalette()[i], want) << "entry " << i;
        }
        EXPECT_EQ(img.GetNumFrames(), 1);
    }
}

TEST(GifReader, InterlacedRowsArePutInPictureOrder)
{
    for (uint32_t h : {1u, 2u, 3u, 5u, 8u, 9u, 17u, 30u}) {
        SCOPED_TRACE("height " + std::to_string(h));
        // Stream order of the rows: every 8th from 0, every 8th from 4, every 4th from 2, odd.
        std::vector<uint32_t> order;
        for (uint32_t y = 0; y < h; y += 8) order.push_back(y);
        for (uint32_t y = 4; y < h; y += 8) order.push_back(y);
        for (uint32_t y = 2; y < h; y += 4) order.push_back(y);
        for (uint32_t y = 1; y < h; y += 2) order.push_back(y);
        const uint32_t w = 3;
        Bytes stream;
        for (uint32_t y : order)
            for (uint32_t x = 0; x < w; ++x)
                stream.push_back(uint8_t(y * 4 + x));
        GifBuilder b;
        b.Header(w, h, Palette(256));
        b.Image(0, 0, w, h, stream, {}, true);
        b.Trailer();
        PxImage img;
        ASSERT_TRUE(DecodeBytes(img, b.f)) << img.GetLastError();
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                ASSERT_EQ(TakeIndex(img, x, y), y * 4 + x) << x << "," << y;
    }
}

TEST(GifReader, FirstFrameIsPlacedOnTheLogicalScreen)
{
    struct Row {
        uint32_t left, top, w, h;
        int trans;
    };
    // Inside, touching the edges, sticking out right and bottom (clipped), outside. The rest of
    // the screen is the background (index 9), or transparent when the frame has a transparent
    // index, as reference decoders render the first frame.
    const Row rows[] = {{2, 1, 3, 2, -1}, {0, 0, 8, 6, -1}, {6, 4, 5, 4, -1},
                        {20, 20, 2, 2, -1}, {2, 1, 3, 2, 4}, {6, 4, 5, 4, 4}};
    for (const Row &r : rows) {
        SCOPED_TRACE(std::to_string(r.left) + "," + std::to_string(r.top) + " trans " +
                     std::to_string(r.trans));
        Bytes pixels;
        for (uint32_t i = 0; i < r.w * r.h; ++i)
            pixels.push_back(uint8_t(10 + i));
        GifBuilder b;
        b.Header(8, 6, Palette(256), 9);
        b.Control(r.trans, 33);
        b.Image(r.left, r.top, r.w, r.h, pixels);
        b.Trailer();
        PxImage img;
        ASSERT_TRUE(DecodeBytes(img, b.f)) << img.GetLastError();
        ASSERT_EQ(img.GetWidth(), 8u);
        ASSERT_EQ(img.GetHeight(), 6u);
        EXPECT_EQ(img.GetFrameDelay(), 33u);
        EXPECT_EQ(img.GetTransIndex(), r.trans);
        // The composed screen already holds the frame where it belongs.
        EXPECT_EQ(img.GetXOffset(), 0);
        EXPECT_EQ(img.GetYOffset(), 0);
        const uint8_t outside = r.trans >= 0 ? uint8_t(r.trans) : 9;
        for (uint32_t y = 0; y < 6; ++y)
            for (uint32_t x = 0; x < 8; ++x) {
                const bool inside =
                    x >= r.left && x < r.left + r.w && y >= r.top && y < r.top + r.h;
                const uint8_t want =
                    inside ? uint8_t(10 + (y - r.top) * r.w + (x - r.left)) : outside;
                ASSERT_EQ(TakeIndex(img, x, y), want) << x << "," << y;
            }
    }
}

TEST(GifReader, TransparencyDelayAndFrameCount)
{
    GifBuilder b;
    b.Header(4, 4, Palette(16));
    b.Control(5, 12);
    b.Image(0, 0, 4, 4, Bytes(16, 5), {}, false, 4);
    for (int i = 0; i < 3; ++i) {
        b.Control(-1, 50);
        b.f.insert(b.f.end(), {0x21, 0xFE, 3, 'a', 'b', 'c', 0});
        b.Image(1, 1, 2, 2, Bytes(4, 1), Palette(4), false, 4);
    }
    b.Trailer();
    PxImage img;
    ASSERT_TRUE(DecodeBytes(img, b.f)) << img.GetLastError();
    EXPECT_EQ(img.GetTransIndex(), 5);
    EXPECT_EQ(img.GetFrameDelay(), 12u);
    EXPECT_EQ(img.GetNumFrames(), 4);
    EXPECT_EQ(IndicesTopDown(img), Bytes(16, 5));
}

TEST(GifReader, ShortImageDataKeepsWhatWasDecoded)
{
    // Rows that the data never reached show the background, as browsers show them.
    Bytes pixels;
    for (uint32_t i = 0; i < 20 * 10; ++i)
        pixels.push_back(uint8_t(100 + i % 50));
    const Bytes full = GifBuilder::PlainCodes(pixels, 8);
    for (size_t keep : {size_t(3), size_t(40), full.size() / 2, full.size() - 2}) {
        SCOPED_TRACE("keep " + std::to_string(keep));
        GifBuilder b;
        b.Header(20, 10, Palette(256), 7);
        b.Image(0, 0, 20, 10, pixels, {}, false, 8, keep);
        PxImage img;
        ASSERT_TRUE(DecodeBytes(img, b.f)) << img.GetLastError();
        // 9-bit codes, a clear before every 254 pixels.
        const size_t codes = keep * 8 / 9;
        const size_t decoded = codes - (codes + 254) / 255;
        const Bytes got = IndicesTopDown(img);
        size_t k = 0;
        while (k < got.size() && got[k] == pixels[k])
            ++k;
        EXPECT_GE(k + 1, decoded);
        for (size_t i = k; i < got.size(); ++i)
            ASSERT_EQ(got[i], 7) << i;
    }
}

TEST(GifReader, BrokenFilesFailWithAReason)
{
    struct Row {
        std::string name;
        Bytes file;
        std::string error;
    };
    std::vector<Row> rows;
    auto make = [](const std::function<void(GifBuilder &)> &fn) {
        GifBuilder b;
        fn(b);
        return b.f;
    };
    rows.push_back({"empty", {}, "Not a GIF file"});
    rows.push_back(
        {"other magic", {'G', 'I', 'F', '9', '0', 'a', 1, 0, 1, 0, 0, 0, 0}, "Not a GIF file"});
    rows.push_back({"short header", {'G', 'I', 'F', '8', '9', 'a', 1, 0}, "truncated"});
    rows.push_back({"no image", make([](GifBuilder &b) {
                        b.Header(4, 4, Palette(4));
                        b.Trailer();
                    }),
                    "no image"});
    rows.push_back({"only extensions", make([](GifBuilder &b) {
                        b.Header(4, 4, Palette(4));
                        for (int i = 0; i < 100000; ++i)
                            b.f.insert(b.f.end(), {0x21, 0xFE, 1, 'x', 0});
                    }),
                    "no image"});
    rows.push_back({"unterminated extension", make([](GifBuilder &b) {
                        b.Header(4, 4, Palette(4));
                        b.f.insert(b.f.end(), {0x21, 0x01});
                        for (int i = 0; i < 1000; ++i)
                            b.f.insert(b.f.end(), {3, 1, 2, 3});
                    }),
                    "no image"});
    rows.push_back({"zero width", make([](GifBuilder &b) {
                        b.Header(4, 4, Palette(4));
                        b.Image(0, 0, 0, 4, {}, {}, false, 2);
                    }),
                    "no pixels"});
    rows.push_back({"zero screen", make([](GifBuilder &b) {
                        b.Header(0, 0, Palette(4));
                        b.Image(0, 0, 2, 2, Bytes(4, 1), {}, false, 2);
                    }),
                    "no pixels"});
    rows.push_back({"huge screen", make([](GifBuilder &b) {
                        b.Header(65535, 65535, Palette(256));
                        b.Image(0, 0, 2, 2, Bytes(4, 1));
                    }),
                    "screen of 65535 x 65535"});
    rows.push_back({"huge frame", make([](GifBuilder &b) {
                        b.Header(20, 20, Palette(256));
                        b.Image(0, 0, 20000, 20000, Bytes(4, 1));
                    }),
                    "frame of 20000 x 20000"});
    rows.push_back({"code size 12", make([](GifBuilder &b) {
                        b.Header(4, 4, Palette(4));
                        b.f.insert(b.f.end(), {0x2C, 0, 0, 0, 0, 4, 0, 4, 0, 0, 12, 1, 0, 0, 0x3B});
                    }),
                    "minimum code size 12"});
    rows.push_back({"no data", make([](GifBuilder &b) {
                        b.Header(4, 4, Palette(4));
                        b.Image(0, 0, 4, 4, Bytes(16, 1), {}, false, 2, 0);
                    }),
                    "missing"});
    // Clear (4) then code 7 while the next free code is 6.
    rows.push_back({"undefined first code", make([](GifBuilder &b) {
                        b.Header(4, 4, Palette(4));
                        b.f.insert(b.f.end(),
                                   {0x2C, 0, 0, 0, 0, 4, 0, 4, 0, 0, 2, 2, 0x3C, 0, 0, 0x3B});
                    }),
                    "beyond the table"});
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        PxImage img;
        EXPECT_FALSE(DecodeBytes(img, r.file));
        EXPECT_FALSE(img.IsValid());
        EXPECT_NE(std::string(img.GetLastError()).find(r.error), std::string::npos)
            << img.GetLastError();
    }
}

TEST(GifReader, BadCodeAfterSomePixelsKeepsThem)
{
    // 3-bit codes of a 1-bit picture: clear (4), pixel 1, then 7 while the next free code is 6.
    // LSB first: 001 100 111 -> 0xCC 0x01.
    GifBuilder b;
    b.Header(4, 1, Palette(2), 0);
    b.f.insert(b.f.end(), {0x2C, 0, 0, 0, 0, 4, 0, 1, 0, 0, 2, 2, 0xCC, 0x01, 0, 0x3B});
    PxImage img;
    ASSERT_TRUE(DecodeBytes(img, b.f)) << img.GetLastError();
    EXPECT_EQ(IndicesTopDown(img), (Bytes{1, 0, 0, 0}));
}

TEST(GifReader, MutatedFilesNeverCrash)
{
    // Sanitizer builds turn any stray read or write into a failure here.
    PxImage src;
    ASSERT_NO_FATAL_FAILURE(MakeIndexed(src, 37, 23, 8, [](uint32_t x, uint32_t y) { return uint8_t((x / 3) * (y / 4)); }));
    src.SetCodecOption(2);
    PxMemFile out;
    ASSERT_TRUE(src.Encode(out, PXFORMAT_GIF));
    const Bytes base = out.Buffer();
    std::mt19937 rng(7);
    int decoded = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes f = base;
        const int edits = 1 + rng() % 8;
        for (int e = 0; e < edits; ++e)
            f[rng() % f.size()] = uint8_t(rng());
        if (round % 5 == 0)
            f.resize(rng() % f.size());
        PxImage img;
        if (DecodeBytes(img, f)) {
            ++decoded;
            ASSERT_GT(img.GetWidth(), 0u);
        }
    }
    EXPECT_GT(decoded, 0);
}

// --- the public suites -------------------------------------------------------------------------

TEST(GifReader, PublicSuites)
{
    PX_REQUIRE_TESTDATA();
    int good = 0, compared = 0;
    for (const TestImageRef &ref : LoadTestImageRefs()) {
        if (ref.format != "gif")
            continue;
        SCOPED_TRACE(ref.path + " (" + ref.expect + ")");
        const Bytes f = ReadFileBytes(TestDataDir() / ref.path);
        PxImage img;
        const bool ok = DecodeBytes(img, f);
        if (ref.expect == "bad") {
            EXPECT_FALSE(ok);
            if (!ok) {
                EXPECT_NE(img.GetLastError()[0], '\0');
            }
            continue;
        }
        if (ref.expect != "good")
            continue;
        ++good;
        ASSERT_TRUE(ok) << img.GetLastError();
        EXPECT_EQ(int(img.GetWidth()), ref.width);
        EXPECT_EQ(int(img.GetHeight()), ref.height);
        const Bytes rgba = ToRgba(img);
        if (img.GetTransIndex() >= 0 && !ref.visibleSha256.empty()) {
            EXPECT_EQ(Sha256Hex(Visible(rgba).data(), rgba.size()), ref.visibleSha256);
            ++compared;
        } else if (!ref.rgbaSha256.empty()) {
            EXPECT_EQ(Sha256Hex(rgba.data(), rgba.size()), ref.rgbaSha256);
            ++compared;
        }
    }
    EXPECT_GT(good, 50);
    EXPECT_GT(compared, 40);
}

} // namespace
