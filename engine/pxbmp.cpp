// The engine's own BMP codec. The writer puts a file header in front of the image's
// device-independent-bitmap block; the reader takes the Windows 3.x, V4 and V5 headers, the
// OS/2 1.x and 2.x headers, bit fields, and RLE4/RLE8, treating every header field as hostile.

#include "pxcodecs_p.h"
#include "pxbits_p.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiJpeg = 4;
constexpr uint32_t kBiPng = 5;
constexpr uint32_t kBiAlphaBitfields = 6;

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kOs2CoreHeaderSize = 12;

// Above this many bytes of pixels an RLE stream must bring at least one byte per
// kMaxRleExpansion output bytes: a few bytes of "end of bitmap" must not make the engine
// allocate and clear gigabytes.
constexpr uint64_t kRlePlausibilityFloor = 4ull << 20;
constexpr uint64_t kMaxRleExpansion = 4096;

void ReadExact(PxFile &f, void *buffer, size_t size, const char *what)
{
    if (size > 0 && f.Read(buffer, 1, size) != size)
        PxThrow("BMP file is truncated in the %s", what);
}

// One channel described by a bit mask, scaled to 8 bits with rounding.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;

    explicit Channel(uint32_t m = 0) : mask(m)
    {
        if (m) {
            shift = __builtin_ctz(m);
            max = m >> shift;
        }
    }
    uint8_t Get(uint32_t pixel) const
    {
        if (!max)
            return 0;
        const uint64_t v = (pixel & mask) >> shift;
        return static_cast<uint8_t>((v * 255 + max / 2) / max);
    }
};

struct BmpHeader {
    uint32_t headerSize = 0;
    bool os2Core = false; // 12-byte header, 3-byte palette entries
    bool os2v2 = false;   // 16..64-byte header whose compression codes differ from Windows'
    int64_t width = 0;
    int64_t height = 0; // always positive here; topDown holds the sign
    bool topDown = false;
    uint32_t planes = 1;
    uint32_t bpp = 0;
    uint32_t compression = kBiRgb;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    uint32_t masks[4] = {}; // red, green, blue, alpha as found in the header
    bool headerHasMasks = false;
};

bool KnownHeaderSize(uint32_t size)
{
    return size == kOs2CoreHeaderSize || (size >= 16 && size <= 64) || size == 108 || size == 124;
}

BmpHeader ReadInfoHeader(PxFile &f)
{
    uint8_t raw[124] = {};
    ReadExact(f, raw, 4, "information header");
    BmpHeader h;
    h.headerSize = U32(raw);
    if (!KnownHeaderSize(h.headerSize))
        PxThrow("BMP information header size %u is not supported", h.headerSize);
    ReadExact(f, raw + 4, h.headerSize - 4, "information header");

    if (h.headerSize == kOs2CoreHeaderSize) {
        h.os2Core = true;
        h.width = U16(raw + 4);
        h.height = U16(raw + 6);
        h.planes = U16(raw + 8);
        h.bpp = U16(raw + 10);
        return h;
    }
    // Header sizes of OS/2 2.x: 64, or the short forms that stop after any field from 16 on.
    // 40, 52 and 56 are taken as Windows headers, which OS/2 2.x files of those sizes match.
    h.os2v2 = h.headerSize == 64 || h.headerSize < 40;
    const int32_t width = static_cast<int32_t>(U32(raw + 4));
    const int32_t height = static_cast<int32_t>(U32(raw + 8));
    if (width <= 0)
        PxThrow("BMP width %d is invalid", width);
    if (height == 0 || height == std::numeric_limits<int32_t>::min())
        PxThrow("BMP height %d is invalid", height);
    h.width = width;
    h.topDown = height < 0;
    h.height = h.topDown ? -static_cast<int64_t>(height) : height;
    h.planes = U16(raw + 12);
    h.bpp = U16(raw + 14);
    if (h.headerSize >= 20)
        h.compression = U32(raw + 16);
    if (h.headerSize >= 24)
        h.sizeImage = U32(raw + 20);
    if (h.headerSize >= 28)
        h.xPelsPerMeter = static_cast<int32_t>(U32(raw + 24));
    if (h.headerSize >= 32)
        h.yPelsPerMeter = static_cast<int32_t>(U32(raw + 28));
    if (h.headerSize >= 36)
        h.clrUsed = U32(raw + 32);
    if (!h.os2v2 && h.headerSize >= 52) {
        h.headerHasMasks = true;
        for (int i = 0; i < 3; ++i)
            h.masks[i] = U32(raw + 40 + 4 * i);
        if (h.headerSize >= 56)
            h.masks[3] = U32(raw + 52);
    }
    return h;
}

void Validate(const BmpHeader &h)
{
    if (h.os2Core && (h.width == 0 || h.height == 0))
        PxThrow("BMP image has no pixels (%lld x %lld)", static_cast<long long>(h.width),
                static_cast<long long>(h.height));
    if (h.planes != 1)
        PxThrow("BMP planes field is %u, must be 1", h.planes);
    switch (h.bpp) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32: break;
    default: PxThrow("BMP bit count %u is not supported", h.bpp);
    }
    if (h.os2v2 && (h.compression == 3 || h.compression == 4))
        PxThrow("OS/2 BMP compression %u (Huffman 1D or RLE24) is not supported", h.compression);
    switch (h.compression) {
    case kBiRgb: break;
    case kBiRle8:
        if (h.bpp != 8)
            PxThrow("BMP RLE8 needs 8 bits per pixel, header says %u", h.bpp);
        break;
    case kBiRle4:
        if (h.bpp != 4)
            PxThrow("BMP RLE4 needs 4 bits per pixel, header says %u", h.bpp);
        break;
    case kBiBitfields:
    case kBiAlphaBitfields:
        if (h.bpp != 16 && h.bpp != 32)
            PxThrow("BMP bit fields need 16 or 32 bits per pixel, header says %u", h.bpp);
        break;
    case kBiJpeg:
    case kBiPng: PxThrow("BMP with an embedded JPEG or PNG stream is not supported");
    default: PxThrow("BMP compression %u is not supported", h.compression);
    }
    // RLE rows run bottom-up by definition; a negative height there is a broken file.
    if (h.topDown && (h.compression == kBiRle8 || h.compression == kBiRle4))
        PxThrow("BMP RLE image can't be top-down");
}

int32_t DpiFromPelsPerMeter(int32_t ppm)
{
    const double dpi = std::floor(ppm * 0.0254 + 0.5);
    return ppm > 0 && dpi >= 1 && dpi <= 100000 ? static_cast<int32_t>(dpi) : 0;
}

// Index writers for the three stored depths; x and y are already inside the image.
void PutIndex(uint8_t *row, uint32_t bpp, uint64_t x, uint8_t index)
{
    switch (bpp) {
    case 8: row[x] = index; break;
    case 4: {
        uint8_t &b = row[x >> 1];
        b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (index & 0x0F))
                    : static_cast<uint8_t>((b & 0x0F) | (index << 4));
        break;
    }
    default: {
        uint8_t &b = row[x >> 3];
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
        b = static_cast<uint8_t>((index & 1) ? (b | bit) : (b & ~bit));
        break;
    }
    }
}

void DecodeRle(const std::vector<uint8_t> &data, bool rle4, PxImage &img)
{
    const uint64_t width = img.GetWidth(), height = img.GetHeight();
    const uint32_t bpp = img.GetBpp();
    uint64_t x = 0, y = 0;
    size_t pos = 0;
    const size_t n = data.size();

    auto put = [&](uint8_t index) {
        if (x < width && y < height)
            PutIndex(img.GetBits(static_cast<uint32_t>(y)), bpp, x, index);
        ++x;
    };

    while (pos + 1 < n && y < height) {
        const uint8_t count = data[pos], value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            // Pixels past the row end are dropped, not wrapped.
            const uint64_t visible = x < width ? std::min<uint64_t>(count, width - x) : 0;
            for (uint64_t i = 0; i < visible; ++i)
                put(rle4 ? ((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
            x += count - visible;
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            return;
        case 2: // delta
            if (pos + 1 >= n)
                return;
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
            break;
        default: { // absolute run of `value` pixels, padded to a 16-bit boundary
            const size_t bytes = rle4 ? (value + 1u) / 2 : value;
            const size_t avail = std::min(bytes, n - pos);
            for (size_t i = 0; i < value; ++i) {
                const size_t b = rle4 ? i / 2 : i;
                if (b >= avail)
                    break;
                put(rle4 ? ((i & 1) ? (data[pos + b] & 0x0F) : (data[pos + b] >> 4))
                         : data[pos + b]);
            }
            pos += bytes + (bytes & 1);
            break;
        }
        }
    }
}

// With header set, stops before the pixels are read and reports the size there instead.
bool DecodeBmpAt(PxFile &f, PxImage &out, int64_t start, bool insideArray, PxHeaderInfo *header)
{
    int64_t fileSize = f.Size();
    if (fileSize < 0)
        fileSize = std::numeric_limits<int64_t>::max();
    const int64_t available = fileSize > start ? fileSize - start : 0;

    uint8_t fileHeader[kFileHeaderSize];
    if (!f.Seek(start, SEEK_SET) || f.Read(fileHeader, 1, sizeof fileHeader) != sizeof fileHeader)
        PxThrow("not a BMP file");
    if (fileHeader[0] == 'B' && fileHeader[1] == 'A' && !insideArray) {
        // An OS/2 bitmap array: the first bitmap follows the 14-byte array header, and its
        // offsets count from its own file header.
        return DecodeBmpAt(f, out, start + kFileHeaderSize, true, header);
    }
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M')
        PxThrow("not a BMP file");
    const uint64_t offBits = U32(fileHeader + 10);

    BmpHeader h = ReadInfoHeader(f);
    Validate(h);

    uint64_t position = kFileHeaderSize + h.headerSize;
    if ((h.compression == kBiBitfields || h.compression == kBiAlphaBitfields) &&
        !h.headerHasMasks) {
        uint8_t raw[16] = {};
        const size_t count = h.compression == kBiAlphaBitfields ? 4 : 3;
        ReadExact(f, raw, 4 * count, "bit masks");
        for (size_t i = 0; i < count; ++i)
            h.masks[i] = U32(raw + 4 * i);
        position += 4 * count;
    }

    // Palette: clamped to what the depth can index and to the room before the pixels.
    const uint32_t entrySize = h.os2Core ? 3 : 4;
    std::vector<PxRGBQuad> palette;
    uint64_t dataOffset = offBits;
    if (h.bpp <= 8) {
        const uint32_t maxEntries = 1u << h.bpp;
        uint64_t entries = (h.clrUsed == 0 || h.clrUsed > maxEntries) ? maxEntries : h.clrUsed;
        if (dataOffset < position) {
            // The offset points into the headers: take the pixels as following the palette.
            dataOffset = position + entries * entrySize;
        } else {
            entries = std::min<uint64_t>(entries, (dataOffset - position) / entrySize);
        }
        if (position + entries * entrySize > static_cast<uint64_t>(available))
            PxThrow("BMP palette of %llu entries does not fit into the file (%lld bytes)",
                    static_cast<unsigned long long>(entries), static_cast<long long>(available));
        std::vector<uint8_t> raw(entries * entrySize);
        ReadExact(f, raw.data(), raw.size(), "palette");
        palette.resize(entries);
        for (size_t i = 0; i < entries; ++i) {
            palette[i].blue = raw[i * entrySize];
            palette[i].green = raw[i * entrySize + 1];
            palette[i].red = raw[i * entrySize + 2];
        }
    } else if (dataOffset < position) {
        dataOffset = position;
    }
    if (dataOffset > static_cast<uint64_t>(available))
        PxThrow("BMP pixel data offset %llu is beyond the end of the file (%lld bytes)",
                static_cast<unsigned long long>(dataOffset), static_cast<long long>(available));
    const uint64_t remaining = static_cast<uint64_t>(available) - dataOffset;

    const uint32_t outBpp = h.bpp == 2 ? 4 : h.bpp <= 8 ? h.bpp : 24;
    const uint64_t width = static_cast<uint64_t>(h.width), height = static_cast<uint64_t>(h.height);
    PxCheckDimensions("BMP", width, height, outBpp);

    const bool rle = h.compression == kBiRle8 || h.compression == kBiRle4;
    const uint64_t stride = PxRowBytes(width, h.bpp, 4);
    std::vector<uint8_t> rleData;
    if (rle) {
        uint64_t size = remaining;
        if (h.sizeImage > 0 && h.sizeImage < size)
            size = h.sizeImage;
        const uint64_t outBytes = PxRowBytes(width, outBpp, 4) * height;
        if (outBytes > kRlePlausibilityFloor && size < outBytes / kMaxRleExpansion)
            PxThrow("BMP RLE data of %llu bytes can't describe %llu x %llu pixels",
                    static_cast<unsigned long long>(size), static_cast<unsigned long long>(width),
                    static_cast<unsigned long long>(height));
        if (!header) {
            f.Seek(start + static_cast<int64_t>(dataOffset), SEEK_SET);
            rleData.resize(size);
            rleData.resize(f.Read(rleData.data(), 1, rleData.size()));
        }
    } else {
        uint64_t claimed = 0;
        if (stride == 0 || PxMulOverflows(stride, height, &claimed))
            PxThrow("BMP pixel size overflows (%llu x %llu at %u bpp)",
                    static_cast<unsigned long long>(width), static_cast<unsigned long long>(height),
                    h.bpp);
        // Writers commonly drop the padding of the last row; accept exactly that much less.
        const uint64_t lastRowPadding = stride - PxRowBytes(width, h.bpp, 1);
        if (claimed > remaining + lastRowPadding)
            PxCheckFileHolds("BMP", claimed, static_cast<int64_t>(remaining));
    }
    if (header) {
        header->width = static_cast<uint32_t>(width);
        header->height = static_cast<uint32_t>(height);
        return true;
    }

    if (!out.Create(static_cast<uint32_t>(width), static_cast<uint32_t>(height), outBpp,
                    PXFORMAT_BMP))
        return false;

    if (outBpp <= 8) {
        std::vector<PxRGBQuad> full(1u << outBpp);
        std::copy(palette.begin(), palette.end(), full.begin());
        out.SetPalette(full.data(), static_cast<uint32_t>(full.size()));
    }
    if (const int32_t dpi = DpiFromPelsPerMeter(h.xPelsPerMeter))
        out.SetXDPI(dpi);
    if (const int32_t dpi = DpiFromPelsPerMeter(h.yPelsPerMeter))
        out.SetYDPI(dpi);

    const uint32_t outStride = out.GetEffWidth();
    if (rle) {
        for (uint32_t y = 0; y < height; ++y)
            std::memset(out.GetBits(y), 0, outStride);
        DecodeRle(rleData, h.compression == kBiRle4, out);
        return true;
    }

    // Masks for 16 and 32 bits; without bit fields the fixed 5-5-5 and 8-8-8 layouts apply.
    uint32_t masks[4] = {};
    // An alpha mask given with bit fields is taken at its word, even when every pixel is
    // fully transparent. Plain 32-bit rows carry an unused fourth byte; a V4/V5 header that
    // names it as alpha makes it one, unless it is zero everywhere: that is what writers which
    // fill in the header but never the alpha produce, and no one saves an invisible picture.
    bool zeroAlphaMeansOpaque = false;
    const bool bitfields = h.compression == kBiBitfields || h.compression == kBiAlphaBitfields;
    if (bitfields && (h.masks[0] | h.masks[1] | h.masks[2]) != 0) {
        std::copy(h.masks, h.masks + 4, masks);
    } else if (h.bpp == 16) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else if (h.bpp == 32) {
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
        if (h.headerHasMasks && h.masks[3] == 0xFF000000u) {
            masks[3] = h.masks[3];
            zeroAlphaMeansOpaque = true;
        }
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]), alpha(masks[3]);
    const bool hasAlpha = (h.bpp == 16 || h.bpp == 32) && alpha.max != 0;
    if (hasAlpha && !out.AlphaCreate())
        PxThrow("PxImage::Create can't allocate memory");
    bool anyAlpha = false;

    f.Seek(start + static_cast<int64_t>(dataOffset), SEEK_SET);
    std::vector<uint8_t> row(stride);
    for (uint64_t fileRow = 0; fileRow < height; ++fileRow) {
        const size_t got = f.Read(row.data(), 1, stride);
        if (got < stride)
            std::memset(row.data() + got, 0, stride - got);
        const uint32_t y = static_cast<uint32_t>(h.topDown ? height - 1 - fileRow : fileRow);
        uint8_t *dst = out.GetBits(y);
        const uint8_t *src = row.data();
        switch (h.bpp) {
        case 1: case 4: case 8: std::memcpy(dst, src, std::min<uint64_t>(stride, outStride)); break;
        case 2:
            for (uint64_t x = 0; x < width; ++x)
                PutIndex(dst, 4, x, (src[x >> 2] >> (6 - 2 * (x & 3))) & 3);
            break;
        case 24: std::memcpy(dst, src, std::min<uint64_t>(stride, outStride)); break;
        case 16:
        case 32: {
            uint8_t *a = hasAlpha ? out.AlphaGetPointer(0, static_cast<int32_t>(y)) : nullptr;
            for (uint64_t x = 0; x < width; ++x) {
                const uint32_t pixel = h.bpp == 16 ? U16(src + 2 * x) : U32(src + 4 * x);
                dst[3 * x] = blue.Get(pixel);
                dst[3 * x + 1] = green.Get(pixel);
                dst[3 * x + 2] = red.Get(pixel);
                if (a) {
                    a[x] = alpha.Get(pixel);
                    anyAlpha |= a[x] != 0;
                }
            }
            break;
        }
        }
    }
    if (hasAlpha && !anyAlpha && zeroAlphaMeansOpaque)
        out.AlphaDelete();
    return true;
}

} // namespace

namespace pxcodec {

bool DecodeBMP(PxFile &f, PxImage &out)
{
    return PxGuard(out, [&] {
        const int64_t start = f.Tell();
        return DecodeBmpAt(f, out, start < 0 ? 0 : start, false, nullptr);
    });
}

bool HeaderBMP(PxFile &f, PxImage &out, PxHeaderInfo &info)
{
    return PxGuard(out, [&] {
        const int64_t start = f.Tell();
        return DecodeBmpAt(f, out, start < 0 ? 0 : start, false, &info);
    });
}

bool EncodeBMP(PxFile &f, PxImage &img)
{
    return PxGuard(img, [&] {
        if (!img.IsValid())
            PxThrow("null image!!!");
        const uint32_t blockSize = img.GetSize();
        const uint32_t paletteEntries = img.GetNumColors();
        const PxBitmapInfoHeader &head = img.GetHeader();
        if (blockSize < sizeof(PxBitmapInfoHeader))
            PxThrow("BMP writer: image block of %u bytes is too small", blockSize);

        uint8_t header[kFileHeaderSize + 40] = {};
        header[0] = 'B';
        header[1] = 'M';
        PutU32(header + 2, blockSize + kFileHeaderSize);
        PutU32(header + 10, kFileHeaderSize + 40 + 4 * paletteEntries);
        // The information header is written field by field, little-endian as the format
        // demands, from the object's own copy of it.
        uint8_t *info = header + kFileHeaderSize;
        PutU32(info, 40);
        PutU32(info + 4, static_cast<uint32_t>(head.width));
        PutU32(info + 8, static_cast<uint32_t>(head.height));
        PutU16(info + 12, head.planes);
        PutU16(info + 14, head.bitCount);
        PutU32(info + 16, head.compression);
        PutU32(info + 20, head.sizeImage);
        PutU32(info + 24, static_cast<uint32_t>(head.xPelsPerMeter));
        PutU32(info + 28, static_cast<uint32_t>(head.yPelsPerMeter));
        PutU32(info + 32, head.clrUsed);
        PutU32(info + 36, head.clrImportant);
        if (f.Write(header, 1, sizeof header) != sizeof header)
            PxThrow("BMP writer: write error");
        const auto *block = static_cast<const uint8_t *>(img.GetDIB());
        const size_t rest = blockSize - 40;
        if (f.Write(block + 40, 1, rest) != rest)
            PxThrow("BMP writer: write error");
        return true;
    });
}

} // namespace pxcodec
