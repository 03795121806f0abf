// Reading side of PxImageGIF: the first image of a file, composed on its logical screen.
// Every length, index and code comes from a possibly hostile file: sizes are checked before
// anything is allocated, LZW codes are checked against the table, writes outside the screen are
// dropped, and every loop ends with the file.

#include "pximagegif.h"

#include "engine/pxcodecs_p.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int kMaxCodeBits = 12;
constexpr int kTableSize = 1 << kMaxCodeBits;
// Blocks looked at while counting the frames after the first; a file with more is simply
// reported with this many frames' worth of blocks counted.
constexpr uint32_t kMaxCountedBlocks = 1u << 20;
// A GIF describes a screen or frame of up to 65535 x 65535 pixels in a few bytes, and a short
// file decodes partly; larger claims than this are taken as decompression bombs.
constexpr uint64_t kMaxPixels = 1ull << 28;

struct GraphicControl {
    bool present = false;
    int32_t disposal = 0;
    uint32_t delay = 0;
    int32_t transIndex = -1;
};

class GifInput {
public:
    explicit GifInput(PxFile &file) : m_file(file) {}

    int Byte() { return m_file.GetC(); }
    bool Read(void *buffer, size_t n) { return n == 0 || m_file.Read(buffer, 1, n) == n; }
    bool Word(uint32_t &value)
    {
        uint8_t b[2];
        if (!Read(b, 2))
            return false;
        value = b[0] | (b[1] << 8);
        return true;
    }
    // Skips data sub-blocks up to and including the empty one that ends them.
    bool SkipSubBlocks()
    {
        uint8_t scratch[255];
        for (;;) {
            const int n = Byte();
            if (n < 0)
                return false;
            if (n == 0)
                return true;
            if (!Read(scratch, static_cast<size_t>(n)))
                return false;
        }
    }

private:
    PxFile &m_file;
};

// The bytes of an image's data sub-blocks as one stream.
class SubBlockStream {
public:
    explicit SubBlockStream(GifInput &in) : m_in(in) {}

    // -1 when the data ends: at the empty terminating block, or early when the file ends.
    int Next()
    {
        if (m_pos == m_length) {
            if (m_finished)
                return -1;
            const int n = m_in.Byte();
            if (n <= 0 || !m_in.Read(m_block, static_cast<size_t>(n))) {
                m_finished = true;
                m_terminated = n == 0;
                return -1;
            }
            m_length = n;
            m_pos = 0;
        }
        return m_block[m_pos++];
    }
    // Reads past whatever data the decoder left unread, up to the terminating block.
    void SkipRest()
    {
        if (!m_finished) {
            m_finished = true;
            m_pos = m_length;
            m_terminated = m_in.SkipSubBlocks();
        }
    }
    bool Terminated() const { return m_terminated; }

private:
    GifInput &m_in;
    uint8_t m_block[255] = {};
    int m_length = 0;
    int m_pos = 0;
    bool m_finished = false;
    bool m_terminated = false;
};

// Puts the decoded pixels of one frame, in stream order, onto the screen image.
class FrameWriter {
public:
    FrameWriter(PxImage &screen, uint32_t left, uint32_t top, uint32_t width, uint32_t height,
                bool interlaced)
        : m_screen(screen), m_left(left), m_top(top), m_width(width), m_height(height),
          m_interlaced(interlaced), m_row(width)
    {
        m_maxIndex = static_cast<uint8_t>((1u << screen.GetBpp()) - 1);
    }

    bool Done() const { return m_rowsDone >= m_height; }
    uint64_t PixelsWritten() const { return m_pixels; }

    // Takes pixels until the frame is complete; returns how many it took.
    size_t Put(const uint8_t *pixels, size_t count)
    {
        size_t taken = 0;
        while (taken < count && !Done()) {
            const size_t n = std::min<size_t>(count - taken, m_width - m_x);
            std::memcpy(m_row.data() + m_x, pixels + taken, n);
            m_x += static_cast<uint32_t>(n);
            taken += n;
            m_pixels += n;
            if (m_x == m_width)
                EndRow();
        }
        return taken;
    }

    // Places a partly decoded last row; the rest of it keeps the background.
    void Finish()
    {
        if (m_x > 0 && !Done())
            StoreRow(m_x);
        m_x = 0;
    }

private:
    uint32_t PictureRow(uint32_t n) const
    {
        if (!m_interlaced)
            return n;
        // Interlaced rows come in four passes: every 8th row from 0, every 8th from 4, every
        // 4th from 2, every 2nd from 1.
        static constexpr uint32_t kStart[4] = {0, 4, 2, 1};
        static constexpr uint32_t kStep[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass) {
            const uint32_t rows = m_height > kStart[pass]
                                      ? (m_height - kStart[pass] + kStep[pass] - 1) / kStep[pass]
                                      : 0;
            if (n < rows)
                return kStart[pass] + n * kStep[pass];
            n -= rows;
        }
        return m_height; // not reached: n < m_height
    }

    void StoreRow(uint32_t count)
    {
        const uint64_t y = static_cast<uint64_t>(m_top) + PictureRow(m_rowsDone);
        const uint32_t screenWidth = m_screen.GetWidth();
        if (y >= m_screen.GetHeight() || m_left >= screenWidth)
            return;
        const uint32_t n = std::min<uint32_t>(count, screenWidth - m_left);
        uint8_t *dst = m_screen.GetBits(m_screen.GetHeight() - 1 - static_cast<uint32_t>(y));
        const uint8_t *src = m_row.data();
        switch (m_screen.GetBpp()) {
        case 8:
            std::memcpy(dst + m_left, src, n);
            break;
        case 4:
            for (uint32_t i = 0; i < n; ++i) {
                const uint32_t x = m_left + i;
                const uint8_t v = std::min(src[i], m_maxIndex);
                uint8_t &b = dst[x >> 1];
                b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | v)
                            : static_cast<uint8_t>((b & 0x0F) | (v << 4));
            }
            break;
        default:
            for (uint32_t i = 0; i < n; ++i) {
                const uint32_t x = m_left + i;
                const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
                uint8_t &b = dst[x >> 3];
                b = std::min(src[i], m_maxIndex) ? (b | bit) : (b & ~bit);
            }
            break;
        }
    }

    void EndRow()
    {
        StoreRow(m_width);
        m_x = 0;
        ++m_rowsDone;
    }

    PxImage &m_screen;
    uint32_t m_left, m_top, m_width, m_height;
    bool m_interlaced;
    std::vector<uint8_t> m_row;
    uint8_t m_maxIndex = 255;
    uint32_t m_x = 0;
    uint32_t m_rowsDone = 0;
    uint64_t m_pixels = 0;
};

enum class LzwEnd { EndCode, DataEnded, FrameComplete, BadCode };

struct LzwResult {
    LzwEnd end = LzwEnd::DataEnded;
    int badCode = 0;
    int nextCode = 0;
};

// GIF's variable-width LZW: the table is checked on every code, so a hostile stream can only end
// the decoding early.
LzwResult DecodeLzw(SubBlockStream &data, int minCodeSize, FrameWriter &out)
{
    std::vector<uint16_t> prefix(kTableSize);
    std::vector<uint8_t> suffix(kTableSize);
    std::vector<uint8_t> first(kTableSize);
    std::vector<uint8_t> stack(kTableSize);

    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    for (int i = 0; i < clearCode; ++i) {
        suffix[i] = static_cast<uint8_t>(std::min(i, 255));
        first[i] = suffix[i];
    }
    int codeSize = minCodeSize + 1;
    int nextCode = clearCode + 2;
    int oldCode = -1;
    uint32_t bits = 0;
    int bitCount = 0;

    LzwResult result;
    for (;;) {
        if (out.Done()) {
            result.end = LzwEnd::FrameComplete;
            return result;
        }
        while (bitCount < codeSize) {
            const int b = data.Next();
            if (b < 0) {
                result.end = LzwEnd::DataEnded;
                return result;
            }
            bits |= static_cast<uint32_t>(b) << bitCount;
            bitCount += 8;
        }
        const int code = static_cast<int>(bits & ((1u << codeSize) - 1));
        bits >>= codeSize;
        bitCount -= codeSize;

        if (code == clearCode) {
            codeSize = minCodeSize + 1;
            nextCode = clearCode + 2;
            oldCode = -1;
            continue;
        }
        if (code == endCode) {
            result.end = LzwEnd::EndCode;
            return result;
        }
        if (oldCode < 0) {
            if (code >= clearCode) {
                result = {LzwEnd::BadCode, code, nextCode};
                return result;
            }
            const uint8_t pixel = suffix[code];
            out.Put(&pixel, 1);
            oldCode = code;
            continue;
        }
        if (code > nextCode || (code == nextCode && nextCode >= kTableSize)) {
            result = {LzwEnd::BadCode, code, nextCode};
            return result;
        }
        // The entry a code adds is the previous string plus the first pixel of this one; for
        // the code being defined right now that first pixel is the previous string's own.
        if (nextCode < kTableSize) {
            prefix[nextCode] = static_cast<uint16_t>(oldCode);
            first[nextCode] = first[oldCode];
            suffix[nextCode] = code == nextCode ? first[oldCode] : first[code];
            ++nextCode;
            if (nextCode == (1 << codeSize) && codeSize < kMaxCodeBits)
                ++codeSize;
        }
        int top = kTableSize;
        for (int c = code;; c = prefix[c]) {
            stack[--top] = suffix[c];
            if (c < clearCode)
                break;
        }
        out.Put(stack.data() + top, static_cast<size_t>(kTableSize - top));
        oldCode = code;
    }
}

// Skips an image descriptor, its local table and its data; false when the file ends first.
bool SkipImage(GifInput &in)
{
    uint8_t descriptor[9];
    if (!in.Read(descriptor, sizeof descriptor))
        return false;
    if (descriptor[8] & 0x80) {
        std::vector<uint8_t> table(3u * (2u << (descriptor[8] & 7)));
        if (!in.Read(table.data(), table.size()))
            return false;
    }
    if (in.Byte() < 0)
        return false;
    return in.SkipSubBlocks();
}

// Counts the images after the first: the file is walked block by block without decoding.
int32_t CountFurtherImages(GifInput &in)
{
    int32_t images = 0;
    for (uint32_t blocks = 0; blocks < kMaxCountedBlocks; ++blocks) {
        const int b = in.Byte();
        if (b == 0x21) {
            if (in.Byte() < 0 || !in.SkipSubBlocks())
                break;
        } else if (b == 0x2C) {
            if (!SkipImage(in))
                break;
            ++images;
        } else {
            break; // trailer, end of file or garbage
        }
    }
    return images;
}

void ToQuads(const uint8_t *rgb, uint32_t entries, PxRGBQuad *palette)
{
    for (uint32_t i = 0; i < entries; ++i)
        palette[i] = PxRGBQuad{rgb[i * 3 + 2], rgb[i * 3 + 1], rgb[i * 3], 0};
}

} // namespace

bool PxImageGIF::Decode(PxFile &file, PxHeaderInfo *headerOnly)
{
    return PxGuard(*this, [&]() -> bool {
        GifInput in(file);
        uint8_t header[13];
        if (!in.Read(header, 6) ||
            (std::memcmp(header, "GIF87a", 6) != 0 && std::memcmp(header, "GIF89a", 6) != 0))
            PxThrow("Not a GIF file");
        if (!in.Read(header + 6, 7))
            PxThrow("GIF header is truncated");
        const uint32_t screenWidth = header[6] | (header[7] << 8);
        const uint32_t screenHeight = header[8] | (header[9] << 8);
        const uint8_t screenFlags = header[10];
        const uint32_t background = header[11];

        uint8_t globalTable[768];
        uint32_t globalEntries = 0;
        if (screenFlags & 0x80) {
            globalEntries = 2u << (screenFlags & 7);
            if (!in.Read(globalTable, globalEntries * 3))
                PxThrow("GIF global colour table of %u entries is truncated", globalEntries);
        }

        GraphicControl control;
        std::string comment;
        for (;;) {
            const int b = in.Byte();
            if (b == 0x2C)
                break;
            if (b < 0 || b == 0x3B)
                PxThrow("GIF file has no image");
            if (b != 0x21)
                PxThrow("GIF file has an unknown block 0x%02X before its first image", b);
            const int label = in.Byte();
            if (label == 0xF9) {
                uint8_t block[256];
                const int n = in.Byte();
                if (n < 0 || !in.Read(block, static_cast<size_t>(n)))
                    PxThrow("GIF file has no image");
                if (n >= 4) {
                    control.present = true;
                    control.disposal = (block[0] >> 2) & 7;
                    control.delay = block[1] | (block[2] << 8);
                    control.transIndex = (block[0] & 1) ? block[3] : -1;
                }
                if (n == 0)
                    continue; // the empty block was the terminator
            } else if (label == 0xFE && comment.empty()) {
                uint8_t block[255];
                int n;
                while ((n = in.Byte()) > 0) {
                    if (!in.Read(block, static_cast<size_t>(n)))
                        PxThrow("GIF file has no image");
                    comment.append(
                        reinterpret_cast<const char *>(block),
                        std::min<size_t>(n, 255 - std::min<size_t>(comment.size(), 255)));
                }
                if (n < 0)
                    PxThrow("GIF file has no image");
                continue;
            } else if (label < 0) {
                PxThrow("GIF file has no image");
            }
            if (!in.SkipSubBlocks())
                PxThrow("GIF file has no image");
        }

        uint8_t descriptor[9];
        if (!in.Read(descriptor, sizeof descriptor))
            PxThrow("GIF image descriptor is truncated");
        const uint32_t left = descriptor[0] | (descriptor[1] << 8);
        const uint32_t top = descriptor[2] | (descriptor[3] << 8);
        const uint32_t frameWidth = descriptor[4] | (descriptor[5] << 8);
        const uint32_t frameHeight = descriptor[6] | (descriptor[7] << 8);
        const uint8_t frameFlags = descriptor[8];
        if (frameWidth == 0 || frameHeight == 0)
            PxThrow("GIF image has no pixels (%u x %u)", frameWidth, frameHeight);

        uint8_t localTable[768];
        uint32_t localEntries = 0;
        if (frameFlags & 0x80) {
            localEntries = 2u << (frameFlags & 7);
            if (!in.Read(localTable, localEntries * 3))
                PxThrow("GIF local colour table of %u entries is truncated", localEntries);
        }
        const int minCodeSize = in.Byte();
        if (minCodeSize < 0)
            PxThrow("GIF image data is missing");
        // Up to 11 still fits 12-bit codes; indices beyond 255 cannot be stored and are clamped.
        if (minCodeSize < 1 || minCodeSize > 11)
            PxThrow("GIF LZW minimum code size %d is out of range", minCodeSize);

        const uint8_t *table = localEntries ? localTable : globalEntries ? globalTable : nullptr;
        const uint32_t entries = localEntries ? localEntries : globalEntries;
        const uint32_t bpp = !table ? 8 : entries <= 2 ? 1 : entries <= 16 ? 4 : 8;

        if (uint64_t(screenWidth) * screenHeight > kMaxPixels)
            PxThrow("GIF screen of %u x %u pixels is larger than the reader accepts", screenWidth,
                    screenHeight);
        if (uint64_t(frameWidth) * frameHeight > kMaxPixels)
            PxThrow("GIF frame of %u x %u pixels is larger than the reader accepts", frameWidth,
                    frameHeight);
        PxCheckDimensions("GIF", screenWidth, screenHeight, bpp);
        if (headerOnly) {
            headerOnly->width = screenWidth;
            headerOnly->height = screenHeight;
            return true;
        }
        if (!Create(screenWidth, screenHeight, bpp, PXFORMAT_GIF))
            PxThrow("%s", GetLastError());
        if (table) {
            ToQuads(table, entries, GetPalette());
        } else {
            // Without any colour table the indices are taken as grey levels.
            SetGrayPalette();
        }

        const uint32_t maxIndex = (1u << bpp) - 1;
        const bool transparent =
            control.transIndex >= 0 && static_cast<uint32_t>(control.transIndex) <= maxIndex;
        // What the first frame leaves uncovered shows the background, or nothing at all when
        // the frame has a transparent colour.
        const uint8_t fill = static_cast<uint8_t>(
            transparent ? uint32_t(control.transIndex) : std::min(background, maxIndex));
        uint8_t fillByte = fill;
        if (bpp == 4)
            fillByte = static_cast<uint8_t>(fill | (fill << 4));
        else if (bpp == 1)
            fillByte = fill ? 0xFF : 0x00;
        std::memset(GetBits(0), fillByte, static_cast<size_t>(GetEffWidth()) * GetHeight());

        SubBlockStream data(in);
        FrameWriter writer(*this, left, top, frameWidth, frameHeight, (frameFlags & 0x40) != 0);
        const LzwResult lzw = DecodeLzw(data, minCodeSize, writer);
        writer.Finish();
        if (writer.PixelsWritten() == 0) {
            if (lzw.end == LzwEnd::BadCode)
                PxThrow("GIF LZW code %d is beyond the table (next free code %d)", lzw.badCode,
                        lzw.nextCode);
            PxThrow("GIF image data is missing or broken");
        }

        if (transparent)
            SetTransIndex(control.transIndex);
        SetFrameDelay(control.delay);
        m_disposal = control.disposal;
        m_comment = comment;

        int32_t frames = 1;
        if (lzw.end != LzwEnd::BadCode) {
            data.SkipRest();
            if (data.Terminated())
                frames += CountFurtherImages(in);
        }
        SetNumFrames(frames);
        return true;
    });
}

namespace pxcodec {
bool DecodeGIF(PxFile &f, PxImage &out)
{
    PxImageGIF gif;
    if (!gif.Decode(f)) {
        out.SetLastError(gif.GetLastError());
        return false;
    }
    out.Transfer(gif);
    return true;
}

bool HeaderGIF(PxFile &f, PxImage &out, PxHeaderInfo &info)
{
    PxImageGIF gif;
    if (!gif.Decode(f, &info)) {
        out.SetLastError(gif.GetLastError());
        return false;
    }
    return true;
}
} // namespace pxcodec
