// The engine's TGA codec. The reader takes colour-mapped, true-colour and grey images, raw or
// run-length encoded (image types 1, 2, 3, 9, 10, 11), at 8 (index or grey), 16 (grey plus
// alpha), 15, 16, 24 and 32 bits, with 15/16/24/32-bit colour map entries, any origin corner,
// and skips the image ID. TGA has no signature and comes late in content detection, so every
// header field must hold a defined value and the file must be able to hold the pixels.
//
// The codec option carries the compression: the reader sets kRleOption when the file was
// run-length encoded, and the writer writes run-length packets when it is set (otherwise raw
// pixels), so a file keeps its compression when it is saved again. The value is the bit that
// turns a raw image type into its run-length form.
//
// The writer puts 1-, 4- and 8-bit images into a colour map (a grey ramp becomes a grey
// image), 24-bit images into 24-bit pixels, and an image with an alpha plane or a transparent
// index into 32-bit pixels with alpha: colour maps with an alpha byte are something many
// readers refuse. Rows are written bottom first, which is the engine's own order.

#include "pxbytereader_p.h"
#include "pxbits_p.h"
#include "pxcodecs_p.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kRleOption = 8;
constexpr size_t kHeaderSize = 18;
constexpr uint32_t kMaxPacket = 128;

constexpr uint32_t kColourMapped = 1;
constexpr uint32_t kTrueColour = 2;
constexpr uint32_t kGrey = 3;

// Image descriptor bits.
constexpr uint32_t kAlphaBitsMask = 0x0F;
constexpr uint32_t kRightToLeft = 0x10;
constexpr uint32_t kTopToBottom = 0x20;
constexpr uint32_t kInterleaveMask = 0xC0;

// 5-bit channels are widened by repeating their top bits, so 31 becomes 255.
uint8_t Expand5(uint32_t v)
{
    return static_cast<uint8_t>((v << 3) | (v >> 2));
}

struct TgaHeader {
    uint32_t idLength = 0;
    uint32_t cmapType = 0;
    uint32_t imageType = 0;
    uint32_t cmapFirst = 0;
    uint32_t cmapLength = 0;
    uint32_t cmapBits = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 0;
    uint32_t descriptor = 0;

    uint32_t Kind() const { return imageType & 7; }
    bool Rle() const { return imageType & 8; }
    uint32_t PixelBytes() const { return (depth + 7) / 8; }
    uint32_t CmapEntryBytes() const { return (cmapBits + 7) / 8; }
};

bool IsEntrySize(uint32_t bits)
{
    return bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

TgaHeader ReadHeader(PxFile &f)
{
    uint8_t raw[kHeaderSize];
    if (f.Read(raw, 1, kHeaderSize) != kHeaderSize)
        PxThrow("bad TGA header: file is shorter than a header");
    TgaHeader h;
    h.idLength = raw[0];
    h.cmapType = raw[1];
    h.imageType = raw[2];
    h.cmapFirst = U16(raw + 3);
    h.cmapLength = U16(raw + 5);
    h.cmapBits = raw[7];
    h.width = U16(raw + 12);
    h.height = U16(raw + 14);
    h.depth = raw[16];
    h.descriptor = raw[17];

    switch (h.imageType) {
    case 1: case 2: case 3: case 9: case 10: case 11: break;
    default: PxThrow("bad TGA header: image type %u is not supported", h.imageType);
    }
    if (h.cmapType > 1)
        PxThrow("bad TGA header: colour map type %u is unknown", h.cmapType);
    if (h.cmapType == 1 && !IsEntrySize(h.cmapBits))
        PxThrow("bad TGA header: colour map entries of %u bits", h.cmapBits);
    if (h.descriptor & kInterleaveMask)
        PxThrow("bad TGA header: interleaved rows (descriptor 0x%02X)", h.descriptor);
    if (h.width == 0 || h.height == 0)
        PxThrow("bad TGA header: image has no pixels (%u x %u)", h.width, h.height);
    switch (h.Kind()) {
    case kColourMapped:
        if (h.cmapType != 1 || h.cmapLength == 0)
            PxThrow("bad TGA header: colour-mapped image without a colour map");
        if (h.depth != 8)
            PxThrow("bad TGA header: colour-mapped image with %u-bit indices", h.depth);
        break;
    case kTrueColour:
        if (!IsEntrySize(h.depth))
            PxThrow("bad TGA header: true-colour image with %u bits per pixel", h.depth);
        break;
    default:
        if (h.depth != 8 && h.depth != 16)
            PxThrow("bad TGA header: grey image with %u bits per pixel", h.depth);
        break;
    }
    return h;
}

PxRGBQuad ReadColour(const uint8_t *p, uint32_t bits)
{
    switch (bits) {
    case 15:
    case 16: {
        const uint32_t v = U16(p);
        const uint8_t attribute = bits == 16 && (v & 0x8000) ? 255 : 0;
        return PxRGBQuad{Expand5(v & 0x1F), Expand5((v >> 5) & 0x1F), Expand5((v >> 10) & 0x1F),
                         attribute};
    }
    case 24: return PxRGBQuad{p[0], p[1], p[2], 0};
    default: return PxRGBQuad{p[0], p[1], p[2], p[3]};
    }
}

// Delivers the pixels of the file a row at a time, raw or from run-length packets. A packet
// may run on into the next row; it never writes past the row it fills, and a file that ends
// early stops the decode.
class PixelSource {
public:
    PixelSource(PxFile &f, uint64_t limit, const TgaHeader &h)
        : m_reader(f, limit), m_rle(h.Rle()), m_bytes(h.PixelBytes())
    {
    }

    bool FillRow(uint8_t *row, uint32_t width)
    {
        if (!m_rle)
            return m_reader.Read(row, static_cast<size_t>(width) * m_bytes) ==
                   static_cast<size_t>(width) * m_bytes;
        uint32_t x = 0;
        while (x < width) {
            if (m_left == 0) {
                const int c = m_reader.Get();
                if (c < 0)
                    return false;
                m_run = c & 0x80;
                m_left = (static_cast<uint32_t>(c) & 0x7F) + 1;
                if (m_run && m_reader.Read(m_pixel, m_bytes) != m_bytes)
                    return false;
            }
            const uint32_t n = std::min(m_left, width - x);
            uint8_t *dst = row + static_cast<size_t>(x) * m_bytes;
            if (m_run) {
                for (uint32_t i = 0; i < n; ++i)
                    std::memcpy(dst + static_cast<size_t>(i) * m_bytes, m_pixel, m_bytes);
            } else if (m_reader.Read(dst, static_cast<size_t>(n) * m_bytes) !=
                       static_cast<size_t>(n) * m_bytes) {
                return false;
            }
            x += n;
            m_left -= n;
        }
        return true;
    }

private:
    PxByteReader m_reader;
    bool m_rle;
    uint32_t m_bytes;
    bool m_run = false;
    uint32_t m_left = 0;
    uint8_t m_pixel[4] = {};
};

// Alpha values that say something: all zero is what writers leave when they ignore the
// channel, all opaque needs no plane.
enum class AlphaUse { None, TransIndex, Plane };

bool Decode(PxFile &f, PxImage &out, PxHeaderInfo *header)
{
    int64_t start = f.Tell();
    if (start < 0)
        start = 0;
    const TgaHeader h = ReadHeader(f);
    const uint32_t kind = h.Kind();
    const uint32_t outBpp = kind == kTrueColour ? 24 : 8;
    PxCheckDimensions("TGA", h.width, h.height, outBpp);

    const int64_t fileSize = f.Size();
    const int64_t available = fileSize < 0 ? INT64_MAX : fileSize - start;
    const uint64_t cmapBytes =
        h.cmapType == 1 ? static_cast<uint64_t>(h.cmapLength) * h.CmapEntryBytes() : 0;
    const uint64_t before = kHeaderSize + h.idLength + cmapBytes;
    if (before > static_cast<uint64_t>(available))
        PxThrow("bad TGA header: image ID and colour map need %llu bytes, file has %lld",
                static_cast<unsigned long long>(before), static_cast<long long>(available));
    const uint64_t remaining = static_cast<uint64_t>(available) - before;
    const uint64_t pixels = static_cast<uint64_t>(h.width) * h.height;
    // A run-length packet covers at most 128 pixels, so the file bounds what the header claims.
    const uint64_t claimed = h.Rle() ? (pixels + kMaxPacket - 1) / kMaxPacket * (1 + h.PixelBytes())
                                     : pixels * h.PixelBytes();
    if (claimed > remaining)
        PxThrow("bad TGA header: %u x %u pixels need %llu bytes, file has %llu", h.width,
                h.height, static_cast<unsigned long long>(claimed),
                static_cast<unsigned long long>(remaining));

    if (!f.Seek(start + static_cast<int64_t>(kHeaderSize + h.idLength), SEEK_SET))
        PxThrow("TGA file can't be read past its image ID");
    std::vector<uint8_t> cmap(static_cast<size_t>(cmapBytes));
    if (!cmap.empty() && f.Read(cmap.data(), 1, cmap.size()) != cmap.size())
        PxThrow("TGA file is truncated in the colour map");

    if (header) {
        header->width = h.width;
        header->height = h.height;
        return true;
    }
    if (!out.Create(h.width, h.height, outBpp, PXFORMAT_TGA))
        return false;
    if (h.Rle())
        out.SetCodecOption(kRleOption);

    // Colour-map entries land in the palette slot their pixel value names; entries beyond
    // slot 255 can't be named by an 8-bit index.
    AlphaUse alphaUse = AlphaUse::None;
    uint8_t slotAlpha[256];
    std::fill(std::begin(slotAlpha), std::end(slotAlpha), 255);
    if (kind == kColourMapped) {
        PxRGBQuad pal[256] = {};
        bool anyZero = false, anyPartial = false, anyNonZero = false;
        uint32_t zeroCount = 0, zeroSlot = 0;
        // The attribute bit of 16-bit entries is alpha only when the descriptor says so.
        const bool entryAlpha =
            h.cmapBits == 32 || (h.cmapBits == 16 && (h.descriptor & kAlphaBitsMask) != 0);
        for (uint32_t i = 0; i < h.cmapLength && h.cmapFirst + i < 256; ++i) {
            const uint32_t slot = h.cmapFirst + i;
            pal[slot] = ReadColour(cmap.data() + static_cast<size_t>(i) * h.CmapEntryBytes(),
                                   h.cmapBits);
            if (entryAlpha) {
                const uint8_t a = pal[slot].reserved;
                slotAlpha[slot] = a;
                anyNonZero |= a != 0;
                anyPartial |= a != 0 && a != 255;
                if (a == 0) {
                    anyZero = true;
                    ++zeroCount;
                    zeroSlot = slot;
                }
            }
            pal[slot].reserved = 0;
        }
        out.SetPalette(pal, 256);
        if (entryAlpha && anyNonZero && anyZero)
            alphaUse = zeroCount == 1 && !anyPartial ? AlphaUse::TransIndex : AlphaUse::Plane;
        else if (entryAlpha && anyPartial)
            alphaUse = AlphaUse::Plane;
        if (alphaUse == AlphaUse::TransIndex)
            out.SetTransIndex(static_cast<int32_t>(zeroSlot));
    } else if (kind == kGrey) {
        out.SetGrayPalette();
    }

    const bool pixelAlpha = (kind == kTrueColour && (h.depth == 32 || (h.depth == 16 &&
                                                    (h.descriptor & kAlphaBitsMask) != 0))) ||
                            (kind == kGrey && h.depth == 16);
    if ((pixelAlpha || alphaUse == AlphaUse::Plane) && !out.AlphaCreate())
        PxThrow("PxImage::Create can't allocate memory");
    bool anyAlpha = false;

    PixelSource source(f, remaining, h);
    const uint32_t bytes = h.PixelBytes();
    std::vector<uint8_t> row(static_cast<size_t>(h.width) * bytes);
    const bool topDown = h.descriptor & kTopToBottom;
    const bool mirrored = h.descriptor & kRightToLeft;
    for (uint32_t fileRow = 0; fileRow < h.height; ++fileRow) {
        if (!source.FillRow(row.data(), h.width))
            PxThrow("TGA pixel data ends at row %u of %u", fileRow, h.height);
        const uint32_t y = topDown ? h.height - 1 - fileRow : fileRow;
        uint8_t *dst = out.GetBits(y);
        uint8_t *alpha = out.AlphaIsValid() ? out.AlphaGetPointer(0, static_cast<int32_t>(y))
                                            : nullptr;
        for (uint32_t i = 0; i < h.width; ++i) {
            const uint32_t x = mirrored ? h.width - 1 - i : i;
            const uint8_t *p = row.data() + static_cast<size_t>(i) * bytes;
            uint8_t a = 255;
            if (outBpp == 8) {
                dst[x] = p[0];
                if (kind == kColourMapped)
                    a = slotAlpha[p[0]];
                else if (h.depth == 16)
                    a = p[1];
            } else {
                const PxRGBQuad c = ReadColour(p, h.depth);
                dst[3 * x] = c.blue;
                dst[3 * x + 1] = c.green;
                dst[3 * x + 2] = c.red;
                a = c.reserved;
            }
            if (alpha) {
                alpha[x] = a;
                anyAlpha |= a != 0;
            }
        }
        if (outBpp == 24)
            std::memset(dst + 3 * static_cast<size_t>(h.width), 0,
                        out.GetEffWidth() - 3 * static_cast<size_t>(h.width));
        else
            std::memset(dst + h.width, 0, out.GetEffWidth() - h.width);
    }
    // An alpha channel that is zero everywhere is one the writer never filled in; taking it
    // at its word would make the picture invisible.
    if (out.AlphaIsValid() && !anyAlpha)
        out.AlphaDelete();
    return true;
}

// --- writer ----------------------------------------------------------------------------------

void EncodeRow(std::vector<uint8_t> &out, const uint8_t *row, uint32_t width, uint32_t bytes)
{
    auto same = [&](uint32_t a, uint32_t b) {
        return std::memcmp(row + static_cast<size_t>(a) * bytes,
                           row + static_cast<size_t>(b) * bytes, bytes) == 0;
    };
    uint32_t i = 0;
    while (i < width) {
        uint32_t run = 1;
        while (i + run < width && run < kMaxPacket && same(i, i + run))
            ++run;
        if (run > 1) {
            out.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
            out.insert(out.end(), row + static_cast<size_t>(i) * bytes,
                       row + static_cast<size_t>(i + 1) * bytes);
            i += run;
            continue;
        }
        // A raw packet ends where a run of two begins.
        uint32_t end = i + 1;
        while (end < width && end - i < kMaxPacket && !(end + 1 < width && same(end, end + 1)))
            ++end;
        out.push_back(static_cast<uint8_t>(end - i - 1));
        out.insert(out.end(), row + static_cast<size_t>(i) * bytes,
                   row + static_cast<size_t>(end) * bytes);
        i = end;
    }
}

uint8_t IndexAt(const uint8_t *row, uint32_t bpp, uint32_t x)
{
    switch (bpp) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
    default: return row[x];
    }
}

bool Encode(PxFile &f, PxImage &img)
{
    const uint32_t width = img.GetWidth(), height = img.GetHeight(), bpp = img.GetBpp();
    if (width > 65535 || height > 65535)
        PxThrow("TGA can't hold an image of %u x %u pixels (65535 at most)", width, height);
    const bool rle = img.GetCodecOption() & kRleOption;
    const bool alphaPlane = img.AlphaIsValid();
    const int32_t trans = img.IsIndexed() && !alphaPlane ? img.GetTransIndex() : -1;
    const bool withAlpha =
        alphaPlane || (trans >= 0 && static_cast<uint32_t>(trans) < img.GetNumColors());
    const bool indexed = img.IsIndexed() && !withAlpha;
    const bool grey = indexed && img.GetNumColors() == 256 && img.IsGrayScale();

    uint8_t header[kHeaderSize] = {};
    uint32_t pixelBytes = 1;
    if (grey) {
        header[2] = kGrey;
        header[16] = 8;
    } else if (indexed) {
        header[1] = 1;
        header[2] = kColourMapped;
        PutU16(header + 5, img.GetNumColors());
        header[7] = 24;
        header[16] = 8;
    } else {
        pixelBytes = withAlpha ? 4 : 3;
        header[2] = kTrueColour;
        header[16] = static_cast<uint8_t>(8 * pixelBytes);
        if (withAlpha)
            header[17] = 8;
    }
    if (rle)
        header[2] |= 8;
    PutU16(header + 12, width);
    PutU16(header + 14, height);

    std::vector<uint8_t> out(header, header + kHeaderSize);
    if (indexed && !grey) {
        for (uint32_t i = 0; i < img.GetNumColors(); ++i) {
            const PxRGBQuad c = img.GetPaletteColor(static_cast<uint8_t>(i));
            out.insert(out.end(), {c.blue, c.green, c.red});
        }
    }

    std::vector<uint8_t> row(static_cast<size_t>(width) * pixelBytes);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t *src = img.GetBits(y);
        const uint8_t *alpha =
            alphaPlane ? img.AlphaGetPointer(0, static_cast<int32_t>(y)) : nullptr;
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t *p = row.data() + static_cast<size_t>(x) * pixelBytes;
            if (pixelBytes == 1) {
                p[0] = IndexAt(src, bpp, x);
                continue;
            }
            PxRGBQuad c{};
            if (img.IsIndexed()) {
                const uint8_t index = IndexAt(src, bpp, x);
                c = img.GetPaletteColor(index);
                c.reserved = index == trans ? 0 : 255;
            } else {
                c = PxRGBQuad{src[3 * x], src[3 * x + 1], src[3 * x + 2], 255};
            }
            p[0] = c.blue;
            p[1] = c.green;
            p[2] = c.red;
            if (withAlpha)
                p[3] = alpha ? alpha[x] : c.reserved;
        }
        if (rle)
            EncodeRow(out, row.data(), width, pixelBytes);
        else
            out.insert(out.end(), row.begin(), row.end());
    }
    // The version 2 footer, without extension or developer areas, tells readers that look for
    // it which version of the format this is.
    static const char kFooter[] = "TRUEVISION-XFILE.";
    out.insert(out.end(), 8, 0);
    out.insert(out.end(), kFooter, kFooter + sizeof kFooter);
    if (f.Write(out.data(), 1, out.size()) != out.size())
        PxThrow("TGA writer: write error");
    return true;
}

} // namespace

namespace pxcodec {

bool DecodeTGA(PxFile &f, PxImage &out)
{
    return PxGuard(out, [&] { return Decode(f, out, nullptr); });
}

bool HeaderTGA(PxFile &f, PxImage &out, PxHeaderInfo &info)
{
    return PxGuard(out, [&] { return Decode(f, out, &info); });
}

bool EncodeTGA(PxFile &f, PxImage &img)
{
    return PxGuard(img, [&] {
        if (!img.IsValid())
            PxThrow("null image!!!");
        return Encode(f, img);
    });
}

} // namespace pxcodec
