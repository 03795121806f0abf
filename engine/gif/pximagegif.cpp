#include "pximagegif.h"

#include "engine/pxcodecs_p.h"
#include "pximagegif_p.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kGraphicControlLabel = 0xF9;
constexpr uint8_t kCommentLabel = 0xFE;
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kTrailer = 0x3B;
constexpr uint32_t kMaxSide = 65535;

// The true-colour path gives every pixel of a tile its own palette entry: 17 x 15 = 255, plus
// entry 0 for the transparent colour.
constexpr uint32_t kTileColumns = 17;
constexpr uint32_t kTileRows = 15;

// Palette indices of an image, one row at a time from the top of the picture (the image keeps
// its rows bottom-up).
class IndexRows {
public:
    explicit IndexRows(const PxImage &image)
        : m_image(image), m_width(image.GetWidth()), m_height(image.GetHeight()),
          m_bpp(image.GetBpp())
    {
        if (m_bpp != 8)
            m_unpacked.resize(m_width);
    }
    uint32_t Width() const { return m_width; }
    uint32_t Height() const { return m_height; }

    const uint8_t *Row(uint32_t y)
    {
        const uint8_t *src = m_image.GetBits(m_height - 1 - y);
        if (m_bpp == 8)
            return src;
        uint8_t *dst = m_unpacked.data();
        if (m_bpp == 4) {
            for (uint32_t x = 0; x < m_width; ++x)
                dst[x] = (x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4);
        } else {
            for (uint32_t x = 0; x < m_width; ++x)
                dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
        }
        return dst;
    }

private:
    const PxImage &m_image;
    uint32_t m_width;
    uint32_t m_height;
    uint32_t m_bpp;
    std::vector<uint8_t> m_unpacked;
};

// The pixels in coding order, one at a time; -1 after the last.
class PixelStream {
public:
    explicit PixelStream(const PxImage &image) : m_rows(image), m_x(m_rows.Width()) {}
    int Next()
    {
        if (m_x == m_rows.Width()) {
            if (m_y == m_rows.Height())
                return -1;
            m_row = m_rows.Row(m_y++);
            m_x = 0;
        }
        return m_row[m_x++];
    }

private:
    IndexRows m_rows;
    const uint8_t *m_row = nullptr;
    uint32_t m_x;
    uint32_t m_y = 0;
};

uint16_t Clamp16(int64_t v)
{
    return static_cast<uint16_t>(std::clamp<int64_t>(v, 0, 0xFFFF));
}

// --- run-length coder -------------------------------------------------------------------------
//
// Produces a code stream that any GIF decoder reads, without LZW string matching: a run of one
// pixel value is sent as codes that make the decoder build entries for runs of 1, 2, 3, ...
// copies of that value, and later runs of the same value reuse them. Run counts are 64-bit:
// a run can cover every pixel of a 65535 x 65535 image.

struct tag_RLE {
    int32_t runPixel = 0;
    int32_t baseCode = 0;
    int64_t runCount = 0;
    int32_t tablePixel = 0;
    int32_t tableMax = 0;
    int32_t justCleared = 0;
    int32_t outBits = 0;
    int32_t outBitsInit = 0;
    int32_t outCount = 0;
    int32_t outBump = 0;
    int32_t outBumpInit = 0;
    int32_t outClear = 0;
    int32_t outClearInit = 0;
    int32_t maxOutCodes = 0;
    int32_t clearCode = 0;
    int32_t eofCode = 0;
    uint32_t bitBuffer = 0;
    int32_t bitCount = 0;
    uint8_t block[255] = {};
    int32_t blockLength = 0;
};

void rle_block_out(uint8_t c, tag_RLE &rle, PxFile &file)
{
    rle.block[rle.blockLength++] = c;
    if (rle.blockLength >= 255) {
        file.PutC(static_cast<uint8_t>(rle.blockLength));
        file.Write(rle.block, 1, static_cast<size_t>(rle.blockLength));
        rle.blockLength = 0;
    }
}

void rle_output(int32_t code, tag_RLE &rle, PxFile &file)
{
    rle.bitBuffer |= static_cast<uint32_t>(code) << rle.bitCount;
    rle.bitCount += rle.outBits;
    while (rle.bitCount >= 8) {
        rle_block_out(static_cast<uint8_t>(rle.bitBuffer & 0xFF), rle, file);
        rle.bitBuffer >>= 8;
        rle.bitCount -= 8;
    }
}

void rle_output_flush(tag_RLE &rle, PxFile &file)
{
    if (rle.bitCount > 0)
        rle_block_out(static_cast<uint8_t>(rle.bitBuffer & 0xFF), rle, file);
    rle.bitBuffer = 0;
    rle.bitCount = 0;
    if (rle.blockLength > 0) {
        file.PutC(static_cast<uint8_t>(rle.blockLength));
        file.Write(rle.block, 1, static_cast<size_t>(rle.blockLength));
        rle.blockLength = 0;
    }
}

void rle_clear(tag_RLE &rle)
{
    rle.outBits = rle.outBitsInit;
    rle.outBump = rle.outBumpInit;
    rle.outClear = rle.outClearInit;
    rle.outCount = 0;
    rle.tableMax = 0;
    rle.justCleared = 1;
}

void rle_output_plain(int32_t code, tag_RLE &rle, PxFile &file)
{
    rle.justCleared = 0;
    rle_output(code, rle, file);
    rle.outCount++;
    if (rle.outCount >= rle.outBump) {
        rle.outBits++;
        rle.outBump += 1 << (rle.outBits - 1);
    }
    if (rle.outCount >= rle.outClear) {
        rle_output(rle.clearCode, rle, file);
        rle_clear(rle);
    }
}

uint32_t rle_isqrt(uint32_t x)
{
    if (x < 2)
        return x;
    uint32_t r = 1;
    for (uint32_t v = x; v; v >>= 2)
        r <<= 1;
    for (;;) {
        const uint32_t next = (x / r + r) / 2;
        if (next == r || next == r + 1)
            return r;
        r = next;
    }
}

// Codes needed to send a run of `count` from a fresh table when at most `maxCodes` run codes can
// be built before the table must be cleared.
int64_t rle_compute_triangle_count(int64_t count, int64_t maxCodes)
{
    const int64_t perRepeat = maxCodes * (maxCodes + 1) / 2;
    int64_t cost = 0;
    while (count >= perRepeat) {
        cost += maxCodes;
        count -= perRepeat;
    }
    if (count > 0) {
        int64_t n = rle_isqrt(static_cast<uint32_t>(count));
        while (n * (n + 1) >= 2 * count)
            n--;
        while (n * (n + 1) < 2 * count)
            n++;
        cost += n;
    }
    return cost;
}

void rle_reset_out_clear(tag_RLE &rle, PxFile &file)
{
    rle.outClear = rle.outClearInit;
    if (rle.outCount >= rle.outClear) {
        rle_output(rle.clearCode, rle, file);
        rle_clear(rle);
    }
}

void rle_flush_fromclear(int64_t count, tag_RLE &rle, PxFile &file)
{
    rle.outClear = rle.maxOutCodes;
    rle.tablePixel = rle.runPixel;
    int64_t k = 1;
    while (count > 0) {
        if (k == 1) {
            rle.tableMax = 1;
            rle_output_plain(rle.runPixel, rle, file);
            count--;
        } else if (count >= k) {
            rle.tableMax = static_cast<int32_t>(k);
            rle_output_plain(rle.baseCode + static_cast<int32_t>(k) - 2, rle, file);
            count -= k;
        } else if (count == 1) {
            rle.tableMax++;
            rle_output_plain(rle.runPixel, rle, file);
            count = 0;
        } else {
            rle.tableMax++;
            rle_output_plain(rle.baseCode + static_cast<int32_t>(count) - 2, rle, file);
            count = 0;
        }
        k = rle.outCount == 0 ? 1 : k + 1;
    }
    rle_reset_out_clear(rle, file);
}

void rle_flush_clearorrep(int64_t count, tag_RLE &rle, PxFile &file)
{
    const int64_t withClear = 1 + rle_compute_triangle_count(count, rle.maxOutCodes);
    if (withClear < count) {
        rle_output(rle.clearCode, rle, file);
        rle_clear(rle);
        rle_flush_fromclear(count, rle, file);
        return;
    }
    for (; count > 0; count--)
        rle_output_plain(rle.runPixel, rle, file);
}

void rle_flush_withtable(int64_t count, tag_RLE &rle, PxFile &file)
{
    int64_t repeats = count / rle.tableMax;
    int64_t leftover = count % rle.tableMax;
    int64_t leftoverCost = leftover ? 1 : 0;
    if (rle.outCount + repeats + leftoverCost > rle.maxOutCodes) {
        repeats = rle.maxOutCodes - rle.outCount;
        leftover = count - repeats * rle.tableMax;
        leftoverCost = 1 + rle_compute_triangle_count(leftover, rle.maxOutCodes);
    }
    if (1 + rle_compute_triangle_count(count, rle.maxOutCodes) < repeats + leftoverCost) {
        rle_output(rle.clearCode, rle, file);
        rle_clear(rle);
        rle_flush_fromclear(count, rle, file);
        return;
    }
    rle.outClear = rle.maxOutCodes;
    for (; repeats > 0; repeats--)
        rle_output_plain(rle.baseCode + rle.tableMax - 2, rle, file);
    if (leftover) {
        if (rle.justCleared)
            rle_flush_fromclear(leftover, rle, file);
        else if (leftover == 1)
            rle_output_plain(rle.runPixel, rle, file);
        else
            rle_output_plain(rle.baseCode + static_cast<int32_t>(leftover) - 2, rle, file);
    }
    rle_reset_out_clear(rle, file);
}

void rle_flush(tag_RLE &rle, PxFile &file)
{
    if (rle.runCount == 1)
        rle_output_plain(rle.runPixel, rle, file);
    else if (rle.justCleared)
        rle_flush_fromclear(rle.runCount, rle, file);
    else if (rle.tableMax < 2 || rle.tablePixel != rle.runPixel)
        rle_flush_clearorrep(rle.runCount, rle, file);
    else
        rle_flush_withtable(rle.runCount, rle, file);
    rle.runCount = 0;
}

// --- LZW and plain coders ---------------------------------------------------------------------

// Shared bit packer of the LZW and plain coders: codes go out least significant bit first in
// blocks of at most 254 bytes, and the width follows the decoder's table.
struct LzwState {
    std::vector<int32_t> hashTable;
    std::vector<uint16_t> codeTable;
    int32_t initBits = 0;
    int32_t nBits = 0;
    int32_t maxCode = 0;
    int32_t clearCode = 0;
    int32_t eofCode = 0;
    int32_t freeEntry = 0;
    bool clearFlag = false;
    uint32_t accumulator = 0;
    int32_t accumulatedBits = 0;
    uint8_t block[256] = {};
    int32_t blockLength = 0;

    static int32_t MaxCodeFor(int32_t bits) { return (1 << bits) - 1; }

    void Start(int32_t bits)
    {
        initBits = bits;
        nBits = bits;
        maxCode = MaxCodeFor(bits);
        clearCode = 1 << (bits - 1);
        eofCode = clearCode + 1;
        freeEntry = clearCode + 2;
        clearFlag = false;
        accumulator = 0;
        accumulatedBits = 0;
        blockLength = 0;
    }

    void FlushBlock(PxFile &file)
    {
        if (blockLength > 0) {
            file.PutC(static_cast<uint8_t>(blockLength));
            file.Write(block, 1, static_cast<size_t>(blockLength));
            blockLength = 0;
        }
    }

    void CharOut(uint8_t c, PxFile &file)
    {
        block[blockLength++] = c;
        if (blockLength >= 254)
            FlushBlock(file);
    }

    void Output(int32_t code, PxFile &file)
    {
        accumulator &= (1u << accumulatedBits) - 1;
        accumulator |= static_cast<uint32_t>(code) << accumulatedBits;
        accumulatedBits += nBits;
        while (accumulatedBits >= 8) {
            CharOut(static_cast<uint8_t>(accumulator & 0xFF), file);
            accumulator >>= 8;
            accumulatedBits -= 8;
        }
        // The decoder widens its codes once its next entry no longer fits the current width;
        // after a clear it starts over at the initial width.
        if (freeEntry > maxCode || clearFlag) {
            if (clearFlag) {
                nBits = initBits;
                maxCode = MaxCodeFor(nBits);
                clearFlag = false;
            } else {
                ++nBits;
                maxCode = nBits == 12 ? 4096 : MaxCodeFor(nBits);
            }
        }
        if (code == eofCode) {
            while (accumulatedBits > 0) {
                CharOut(static_cast<uint8_t>(accumulator & 0xFF), file);
                accumulator >>= 8;
                accumulatedBits -= 8;
            }
            accumulatedBits = 0;
            FlushBlock(file);
            file.Flush();
        }
    }
};

constexpr int32_t kHashSize = 5003;
constexpr int32_t kMaxBits = 12;
constexpr int32_t kMaxMaxCode = 1 << kMaxBits;

} // namespace

namespace pxgif {
void WriteColorTable(PxFile &file, const PxRGBQuad *palette, uint32_t used, uint32_t declared)
{
    std::vector<uint8_t> table(static_cast<size_t>(declared) * 3, 0);
    const uint32_t n = palette ? std::min(used, declared) : 0;
    for (uint32_t i = 0; i < n; ++i) {
        table[i * 3] = palette[i].red;
        table[i * 3 + 1] = palette[i].green;
        table[i * 3 + 2] = palette[i].blue;
    }
    if (!table.empty())
        file.Write(table.data(), 1, table.size());
}
} // namespace pxgif

bool PxImageGIF::Encode(PxFile &file)
{
    if (!IsValid()) {
        SetLastError("null image!!!");
        return false;
    }
    // The file keeps both sides in 16 bits, and decoders refuse an image without pixels.
    if (GetWidth() == 0 || GetHeight() == 0 || GetWidth() > kMaxSide || GetHeight() > kMaxSide) {
        char text[96];
        std::snprintf(text, sizeof text, "GIF can't hold an image of %u x %u pixels", GetWidth(),
                      GetHeight());
        SetLastError(text);
        return false;
    }
    if (GetBpp() > 8)
        return EncodeRGB(file);

    EncodeHeader(file);
    EncodeExtension(file);
    EncodeComment(file);
    EncodeBody(file);
    file.PutC(kTrailer);
    return true;
}

void PxImageGIF::EncodeHeader(PxFile &file)
{
    file.Write("GIF89a", 1, 6);
    file.PutWord(Clamp16(GetWidth()));
    file.PutWord(Clamp16(GetHeight()));
    const uint32_t colours = GetNumColors();
    if (colours == 0) {
        file.PutC(0x11);
    } else {
        const uint32_t d = GetBpp() - 1;
        file.PutC(static_cast<uint8_t>(d | (((d | 0xFC) << 5) & 0xFF)));
    }
    file.PutC(0); // background colour index
    file.PutC(0); // pixel aspect ratio
    // The size field announces 2^bpp entries; the table always holds that many.
    if (colours != 0)
        pxgif::WriteColorTable(file, GetPalette(), colours, 1u << GetBpp());
}

void PxImageGIF::EncodeExtension(PxFile &file)
{
    const int32_t trans = GetTransIndex();
    // An index outside the palette marks no pixel as transparent.
    const bool hasTrans =
        trans >= 0 && (!IsIndexed() || static_cast<uint32_t>(trans) < GetNumColors());
    file.PutC(kExtensionIntroducer);
    file.PutC(kGraphicControlLabel);
    file.PutC(4);
    file.PutC(static_cast<uint8_t>(((m_disposal & 7) << 2) | (hasTrans ? 1 : 0)));
    file.PutWord(Clamp16(GetFrameDelay()));
    file.PutC(static_cast<uint8_t>(trans & 0xFF));
    file.PutC(0);
}

void PxImageGIF::EncodeComment(PxFile &file)
{
    if (m_comment.empty())
        return;
    const size_t n = std::min<size_t>(m_comment.size(), 255);
    file.PutC(kExtensionIntroducer);
    file.PutC(kCommentLabel);
    file.PutC(static_cast<uint8_t>(n));
    file.Write(m_comment.data(), 1, n);
    file.PutC(0);
}

void PxImageGIF::EncodeBody(PxFile &file, bool localTable)
{
    const uint32_t bpp = GetBpp();
    file.PutC(kImageSeparator);
    file.PutWord(Clamp16(GetXOffset()));
    file.PutWord(Clamp16(GetYOffset()));
    file.PutWord(Clamp16(GetWidth()));
    file.PutWord(Clamp16(GetHeight()));
    if (localTable) {
        file.PutC(static_cast<uint8_t>(0x80 | (bpp - 1)));
        pxgif::WriteColorTable(file, GetPalette(), GetNumColors(), 1u << bpp);
    } else {
        file.PutC(0);
    }
    const int minCodeSize = std::max<int>(static_cast<int>(bpp), 2);
    file.PutC(static_cast<uint8_t>(minCodeSize));
    switch (GetCodecOption()) {
    case 1: compressNONE(minCodeSize + 1, file); break;
    case 2: compressLZW(minCodeSize + 1, file); break;
    default: compressRLE(minCodeSize + 1, file); break;
    }
    file.PutC(0);
}

void PxImageGIF::compressRLE(int initBits, PxFile &file)
{
    tag_RLE rle;
    const int32_t c = 1 << (initBits - 1);
    rle.clearCode = c;
    rle.eofCode = c + 1;
    rle.baseCode = c + 2;
    rle.outBitsInit = rle.outBits = initBits;
    rle.outBumpInit = rle.outBump = c - 1;
    rle.outClearInit = rle.outClear = initBits <= 3 ? 9 : c - 2;
    rle.maxOutCodes = 4093 - c;
    rle.runCount = 0;
    rle.outCount = 0;
    rle.tableMax = 0;
    rle.justCleared = 1;

    rle_output(rle.clearCode, rle, file);
    IndexRows rows(*this);
    const uint32_t width = rows.Width();
    for (uint32_t y = 0; y < rows.Height(); ++y) {
        const uint8_t *row = rows.Row(y);
        for (uint32_t x = 0; x < width; ++x) {
            const int32_t p = row[x];
            if (rle.runCount > 0 && p != rle.runPixel)
                rle_flush(rle, file);
            if (p == rle.runPixel) {
                rle.runCount++;
            } else {
                rle.runPixel = p;
                rle.runCount = 1;
            }
        }
    }
    if (rle.runCount > 0)
        rle_flush(rle, file);
    rle_output(rle.eofCode, rle, file);
    rle_output_flush(rle, file);
}

void PxImageGIF::compressLZW(int initBits, PxFile &file)
{
    LzwState lzw;
    lzw.hashTable.assign(kHashSize, -1);
    lzw.codeTable.assign(kHashSize, 0);
    lzw.Start(initBits);

    int hashShift = 0;
    for (int32_t fcode = kHashSize; fcode < 65536; fcode *= 2)
        ++hashShift;
    hashShift = 8 - hashShift;

    PixelStream pixels(*this);
    int32_t ent = pixels.Next();
    lzw.Output(lzw.clearCode, file);

    int32_t c;
    while ((c = pixels.Next()) >= 0) {
        const int32_t fcode = (c << kMaxBits) + ent;
        int32_t i = (c << hashShift) ^ ent;
        if (lzw.hashTable[i] == fcode) {
            ent = lzw.codeTable[i];
            continue;
        }
        if (lzw.hashTable[i] >= 0) {
            const int32_t disp = i == 0 ? 1 : kHashSize - i;
            bool found = false;
            do {
                i -= disp;
                if (i < 0)
                    i += kHashSize;
                if (lzw.hashTable[i] == fcode) {
                    found = true;
                    break;
                }
            } while (lzw.hashTable[i] >= 0);
            if (found) {
                ent = lzw.codeTable[i];
                continue;
            }
        }
        lzw.Output(ent, file);
        ent = c;
        if (lzw.freeEntry < kMaxMaxCode) {
            lzw.codeTable[i] = static_cast<uint16_t>(lzw.freeEntry++);
            lzw.hashTable[i] = fcode;
        } else {
            std::fill(lzw.hashTable.begin(), lzw.hashTable.end(), -1);
            lzw.freeEntry = lzw.clearCode + 2;
            lzw.clearFlag = true;
            lzw.Output(lzw.clearCode, file);
        }
    }
    lzw.Output(ent, file);
    lzw.Output(lzw.eofCode, file);
    if (file.Error())
        SetLastError("Write Error in GIF file");
}

void PxImageGIF::compressNONE(int initBits, PxFile &file)
{
    LzwState lzw;
    lzw.Start(initBits);
    lzw.Output(lzw.clearCode, file);
    PixelStream pixels(*this);
    for (int32_t ent = pixels.Next(); ent >= 0; ent = pixels.Next()) {
        lzw.Output(ent, file);
        // Every code still makes the decoder add a table entry; the table is cleared before it
        // would overflow.
        if (++lzw.freeEntry > kMaxMaxCode - 1) {
            lzw.freeEntry = lzw.clearCode + 2;
            lzw.clearFlag = true;
            lzw.Output(lzw.clearCode, file);
        }
    }
    lzw.Output(lzw.eofCode, file);
    if (file.Error())
        SetLastError("Write Error in GIF file");
}

bool PxImageGIF::EncodeRGB(PxFile &file)
{
    EncodeHeader(file);
    EncodeComment(file);

    const bool hasTrans = GetTransIndex() >= 0;
    const PxRGBQuad transColour = GetTransColor();
    const uint32_t width = GetWidth();
    const uint32_t height = GetHeight();

    PxImageGIF tile;
    tile.SetDisposalMethod(m_disposal);
    // Colour -> first palette entry holding it. Every pixel's own colour is in the tile's
    // palette, so the nearest entry is the first exact match.
    constexpr uint32_t kSlots = 512;
    uint32_t slotKey[kSlots] = {};
    uint8_t slotIndex[kSlots];
    bool slotUsed[kSlots];

    for (uint32_t top = 0; top < height; top += kTileRows) {
        const uint32_t tileHeight = std::min(kTileRows, height - top);
        for (uint32_t left = 0; left < width; left += kTileColumns) {
            const uint32_t tileWidth = std::min(kTileColumns, width - left);
            if (!tile.Create(tileWidth, tileHeight, 8, PXFORMAT_GIF)) {
                SetLastError(tile.GetLastError());
                return false;
            }
            tile.SetCodecOption(GetCodecOption());
            tile.SetOffset(static_cast<int32_t>(left), static_cast<int32_t>(top));
            PxRGBQuad *pal = tile.GetPalette();
            if (hasTrans) {
                pal[0] = transColour;
                pal[0].reserved = 0;
                tile.SetTransIndex(0);
            }
            for (uint32_t r = 0; r < tileHeight; ++r) {
                const uint8_t *src = GetBits(height - 1 - (top + r)) + left * 3;
                for (uint32_t c = 0; c < tileWidth; ++c)
                    pal[1 + r * kTileColumns + c] = PxRGBQuad{src[c * 3], src[c * 3 + 1],
                                                              src[c * 3 + 2], 0};
            }
            std::fill(std::begin(slotUsed), std::end(slotUsed), false);
            auto keyOf = [](const PxRGBQuad &q) {
                return (uint32_t(q.red) << 16) | (uint32_t(q.green) << 8) | q.blue;
            };
            for (uint32_t i = 0; i < 256; ++i) {
                const uint32_t key = keyOf(pal[i]);
                uint32_t s = (key * 2654435761u) >> 23;
                while (slotUsed[s] && slotKey[s] != key)
                    s = (s + 1) & (kSlots - 1);
                if (!slotUsed[s]) {
                    slotUsed[s] = true;
                    slotKey[s] = key;
                    slotIndex[s] = static_cast<uint8_t>(i);
                }
            }
            for (uint32_t r = 0; r < tileHeight; ++r) {
                uint8_t *dst = tile.GetBits(tileHeight - 1 - r);
                for (uint32_t c = 0; c < tileWidth; ++c) {
                    const uint32_t key = keyOf(pal[1 + r * kTileColumns + c]);
                    uint32_t s = (key * 2654435761u) >> 23;
                    while (slotKey[s] != key)
                        s = (s + 1) & (kSlots - 1);
                    dst[c] = slotIndex[s];
                }
            }
            tile.EncodeExtension(file);
            tile.EncodeBody(file, true);
            if (tile.GetLastError()[0])
                SetLastError(tile.GetLastError());
        }
    }
    file.PutC(kTrailer);
    return true;
}

namespace pxcodec {
bool EncodeGIF(PxFile &f, PxImage &img)
{
    PxImageGIF gif;
    gif.Ghost(img);
    gif.SetLastError("");
    const bool ok = gif.Encode(f);
    if (gif.GetLastError()[0])
        img.SetLastError(gif.GetLastError());
    return ok;
}
} // namespace pxcodec
