// The engine's ICO and CUR codec. The reader decodes one image of the directory (the image's
// frame number, 0 unless the caller asked for another): a device-independent bitmap of 1, 4,
// 8, 24 or 32 bits followed by its AND mask, or a PNG stream. The AND mask becomes the
// transparency: an alpha plane for true colour, a transparent index for palette images. The
// writer emits a single-image icon.

#include "pxcodecs_p.h"
#include "pxbits_p.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kDirHeaderSize = 6;
constexpr uint32_t kDirEntrySize = 16;
constexpr uint32_t kTypeIcon = 1;
constexpr uint32_t kTypeCursor = 2;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kLargestInfoHeader = 124;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint8_t IndexAt(const uint8_t *row, uint32_t bpp, uint32_t x)
{
    switch (bpp) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
    default: return row[x];
    }
}

void PutIndex(uint8_t *row, uint32_t bpp, uint32_t x, uint8_t index)
{
    switch (bpp) {
    case 1: {
        const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
        uint8_t &b = row[x >> 3];
        b = static_cast<uint8_t>((index & 1) ? (b | bit) : (b & ~bit));
        break;
    }
    case 4: {
        uint8_t &b = row[x >> 1];
        b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (index & 0x0F))
                    : static_cast<uint8_t>((b & 0x0F) | (index << 4));
        break;
    }
    default: row[x] = index; break;
    }
}

struct DirEntry {
    uint32_t size = 0;
    uint32_t offset = 0;
};

void ReadAt(PxFile &f, int64_t position, void *buffer, size_t size, const char *what)
{
    if (!f.Seek(position, SEEK_SET) || f.Read(buffer, 1, size) != size)
        PxThrow("corrupted ICO: file ends in the %s", what);
}

// The pixels of a bitmap entry as stored: XOR rows and AND rows, bottom row first.
struct Bitmap {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bpp = 0;
    std::vector<PxRGBQuad> palette;
    std::vector<uint8_t> xorRows;
    std::vector<uint8_t> andRows; // empty when the file leaves the mask out
    size_t xorStride = 0;
    size_t andStride = 0;

    bool Transparent(uint32_t x, uint32_t y) const
    {
        return !andRows.empty() && IndexAt(andRows.data() + y * andStride, 1, x);
    }
    const uint8_t *Row(uint32_t y) const { return xorRows.data() + y * xorStride; }
};

// With headerOnly, the sizes are checked but no pixels are read.
Bitmap ReadBitmap(PxFile &f, int64_t at, int64_t end, bool headerOnly)
{
    uint8_t info[kInfoHeaderSize];
    ReadAt(f, at, info, sizeof info, "image header");
    const uint32_t headerSize = U32(info);
    const int32_t width = static_cast<int32_t>(U32(info + 4));
    const int32_t doubleHeight = static_cast<int32_t>(U32(info + 8));
    const uint32_t planes = U16(info + 12), bpp = U16(info + 14);
    const uint32_t compression = U32(info + 16), clrUsed = U32(info + 32);
    if (headerSize < kInfoHeaderSize || headerSize > kLargestInfoHeader)
        PxThrow("corrupted ICO: image header size %u", headerSize);
    // The height counts the XOR rows and the AND rows together.
    if (width <= 0 || doubleHeight < 2)
        PxThrow("corrupted ICO: image size %d x %d", width, doubleHeight);
    if (planes > 1)
        PxThrow("corrupted ICO: %u planes", planes);
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        PxThrow("ICO image of %u bits per pixel is not supported", bpp);
    if (compression != 0)
        PxThrow("ICO image compression %u is not supported", compression);

    Bitmap b;
    b.width = static_cast<uint32_t>(width);
    b.height = static_cast<uint32_t>(doubleHeight / 2);
    b.bpp = bpp;
    PxCheckDimensions("ICO", b.width, b.height, bpp);
    const uint32_t maxColours = bpp <= 8 ? 1u << bpp : 0;
    if (clrUsed > maxColours && bpp <= 8)
        PxThrow("corrupted ICO: %u palette entries for %u bits per pixel", clrUsed, bpp);
    const uint32_t colours = clrUsed ? clrUsed : maxColours;

    b.xorStride = PxRowBytes(b.width, bpp, 4);
    b.andStride = PxRowBytes(b.width, 1, 4);
    const uint64_t xorBytes = b.xorStride * static_cast<uint64_t>(b.height);
    const uint64_t andBytes = b.andStride * static_cast<uint64_t>(b.height);
    const int64_t pixelsAt = at + headerSize + 4 * static_cast<int64_t>(colours);
    PxCheckFileHolds("ICO", 4ull * colours + xorBytes, end - at - headerSize);
    if (headerOnly)
        return b;

    // A true-colour bitmap may still carry a colour table (a display hint); the pixels follow
    // it, and only a palette image keeps it.
    b.palette.resize(maxColours);
    const uint32_t kept = std::min(colours, maxColours);
    std::vector<uint8_t> raw(4ull * kept);
    if (kept)
        ReadAt(f, at + headerSize, raw.data(), raw.size(), "palette");
    for (uint32_t i = 0; i < kept; ++i)
        b.palette[i] = PxRGBQuad{raw[4 * i], raw[4 * i + 1], raw[4 * i + 2], 0};

    b.xorRows.resize(xorBytes);
    ReadAt(f, pixelsAt, b.xorRows.data(), b.xorRows.size(), "pixels");
    // Some writers leave the mask out of 32-bit images; the picture is then simply opaque.
    if (static_cast<uint64_t>(end - pixelsAt) - xorBytes >= andBytes) {
        b.andRows.resize(andBytes);
        ReadAt(f, pixelsAt + static_cast<int64_t>(xorBytes), b.andRows.data(), andBytes, "mask");
    }
    return b;
}

void Create(PxImage &out, const Bitmap &b, uint32_t bpp)
{
    if (!out.Create(b.width, b.height, bpp, PXFORMAT_ICO))
        PxThrow("%s", out.GetLastError());
}

void MaskToAlpha(PxImage &out, const Bitmap &b)
{
    bool any = false;
    for (uint32_t y = 0; y < b.height && !any; ++y)
        for (uint32_t x = 0; x < b.width && !any; ++x)
            any = b.Transparent(x, y);
    if (!any)
        return;
    if (!out.AlphaCreate())
        PxThrow("PxImage::Create can't allocate memory");
    for (uint32_t y = 0; y < b.height; ++y) {
        uint8_t *alpha = out.AlphaGetPointer(0, static_cast<int32_t>(y));
        for (uint32_t x = 0; x < b.width; ++x)
            alpha[x] = b.Transparent(x, y) ? 0 : 255;
    }
}

void StoreTrueColour(PxImage &out, const Bitmap &b)
{
    Create(out, b, 24);
    const size_t rowBytes = 3 * static_cast<size_t>(b.width);
    bool anyAlpha = false;
    if (b.bpp == 32 && !out.AlphaCreate())
        PxThrow("PxImage::Create can't allocate memory");
    for (uint32_t y = 0; y < b.height; ++y) {
        uint8_t *dst = out.GetBits(y);
        const uint8_t *src = b.Row(y);
        std::memset(dst + rowBytes, 0, out.GetEffWidth() - rowBytes);
        if (b.bpp == 24) {
            std::memcpy(dst, src, rowBytes);
            continue;
        }
        uint8_t *alpha = out.AlphaGetPointer(0, static_cast<int32_t>(y));
        for (uint32_t x = 0; x < b.width; ++x) {
            std::memcpy(dst + 3 * x, src + 4 * x, 3);
            alpha[x] = src[4 * x + 3];
            anyAlpha |= alpha[x] != 0;
        }
    }
    // Icons from before alpha channels carry zeros there and keep their shape in the mask.
    if (!anyAlpha) {
        out.AlphaDelete();
        MaskToAlpha(out, b);
    }
}

// Palette images keep their palette where they can: masked pixels get an index that no
// visible pixel uses, the image grows to the next depth when every index is taken, and only a
// full 8-bit palette forces true colour with an alpha plane.
void StoreIndexed(PxImage &out, const Bitmap &b)
{
    bool used[256] = {};
    bool anyMasked = false, oneMaskedIndex = true;
    uint8_t maskedIndex = 0;
    for (uint32_t y = 0; y < b.height; ++y)
        for (uint32_t x = 0; x < b.width; ++x) {
            const uint8_t index = IndexAt(b.Row(y), b.bpp, x);
            if (!b.Transparent(x, y)) {
                used[index] = true;
            } else if (!anyMasked) {
                anyMasked = true;
                maskedIndex = index;
            } else if (index != maskedIndex) {
                oneMaskedIndex = false;
            }
        }

    uint32_t outBpp = b.bpp;
    int32_t slot = -1;
    if (anyMasked) {
        const uint32_t slots = 1u << b.bpp;
        if (oneMaskedIndex && !used[maskedIndex]) {
            slot = maskedIndex;
        } else {
            for (uint32_t i = 0; i < slots && slot < 0; ++i)
                if (!used[i])
                    slot = static_cast<int32_t>(i);
        }
        if (slot < 0 && b.bpp < 8) {
            outBpp = b.bpp == 1 ? 4 : 8;
            slot = static_cast<int32_t>(slots);
        }
        if (slot < 0) {
            Create(out, b, 24);
            if (!out.AlphaCreate())
                PxThrow("PxImage::Create can't allocate memory");
            for (uint32_t y = 0; y < b.height; ++y) {
                uint8_t *dst = out.GetBits(y);
                uint8_t *alpha = out.AlphaGetPointer(0, static_cast<int32_t>(y));
                std::memset(dst, 0, out.GetEffWidth());
                for (uint32_t x = 0; x < b.width; ++x) {
                    const PxRGBQuad c = b.palette[IndexAt(b.Row(y), b.bpp, x)];
                    dst[3 * x] = c.blue;
                    dst[3 * x + 1] = c.green;
                    dst[3 * x + 2] = c.red;
                    alpha[x] = b.Transparent(x, y) ? 0 : 255;
                }
            }
            return;
        }
    }

    Create(out, b, outBpp);
    out.SetPalette(b.palette.data(), static_cast<uint32_t>(b.palette.size()));
    for (uint32_t y = 0; y < b.height; ++y) {
        uint8_t *dst = out.GetBits(y);
        if (outBpp == b.bpp && slot < 0) {
            std::memcpy(dst, b.Row(y), out.GetEffWidth());
            continue;
        }
        std::memset(dst, 0, out.GetEffWidth());
        for (uint32_t x = 0; x < b.width; ++x) {
            const uint8_t index = IndexAt(b.Row(y), b.bpp, x);
            PutIndex(dst, outBpp, x, b.Transparent(x, y) ? static_cast<uint8_t>(slot) : index);
        }
    }
    if (slot >= 0)
        out.SetTransIndex(slot);
}

bool Decode(PxFile &f, PxImage &out, PxHeaderInfo *header)
{
    int64_t start = f.Tell();
    if (start < 0)
        start = 0;
    const int64_t fileSize = f.Size();
    if (fileSize < 0)
        PxThrow("ICO reader needs a stream of known size");
    const int64_t available = fileSize - start;

    uint8_t head[kDirHeaderSize];
    if (f.Read(head, 1, sizeof head) != sizeof head)
        PxThrow("not an ICO file");
    const uint32_t type = U16(head + 2), count = U16(head + 4);
    if (U16(head) != 0 || (type != kTypeIcon && type != kTypeCursor) || count == 0)
        PxThrow("not an ICO file");
    const int64_t directoryEnd = kDirHeaderSize + static_cast<int64_t>(count) * kDirEntrySize;
    if (directoryEnd > available)
        PxThrow("corrupted ICO: directory of %u images needs %lld bytes, file has %lld", count,
                static_cast<long long>(directoryEnd), static_cast<long long>(available));

    std::vector<uint8_t> raw(static_cast<size_t>(count) * kDirEntrySize);
    ReadAt(f, start + kDirHeaderSize, raw.data(), raw.size(), "directory");
    std::vector<DirEntry> entries(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t *e = raw.data() + static_cast<size_t>(i) * kDirEntrySize;
        entries[i].size = U32(e + 8);
        entries[i].offset = U32(e + 12);
        // The sizes in the directory are often too small (the cursor writers that store only
        // the mask's size); a size that reaches past the file is a broken file.
        if (entries[i].offset < directoryEnd ||
            entries[i].offset + static_cast<int64_t>(entries[i].size) > available)
            PxThrow("corrupted ICO: image %u claims %u bytes at offset %u, file has %lld", i,
                    entries[i].size, entries[i].offset, static_cast<long long>(available));
    }

    const int32_t frame = out.GetFrame();
    if (frame < 0 || static_cast<uint32_t>(frame) >= count)
        PxThrow("ICO file has %u images, image %d was asked for", count, frame);
    const DirEntry &entry = entries[static_cast<size_t>(frame)];
    const int64_t at = start + entry.offset;

    uint8_t signature[sizeof kPngSignature] = {};
    ReadAt(f, at, signature, sizeof signature, "image");
    if (std::memcmp(signature, kPngSignature, sizeof signature) == 0) {
        // The PNG's own chunks say where it ends; the directory's size is not trusted.
        std::vector<uint8_t> png(static_cast<size_t>(available - entry.offset));
        ReadAt(f, at, png.data(), png.size(), "PNG image");
        PxMemFile mem(png.data(), png.size());
        PxImage image(PXFORMAT_PNG);
        if (header) {
            if (!pxcodec::HeaderPNG(mem, image, *header))
                PxThrow("corrupted ICO: PNG image: %s", image.GetLastError());
            return true;
        }
        if (!pxcodec::DecodePNG(mem, image) || !image.IsValid())
            PxThrow("corrupted ICO: PNG image: %s", image.GetLastError());
        out.Transfer(image);
    } else {
        const Bitmap b = ReadBitmap(f, at, start + available, header != nullptr);
        if (header) {
            header->width = b.width;
            header->height = b.height;
            return true;
        }
        if (b.bpp > 8)
            StoreTrueColour(out, b);
        else
            StoreIndexed(out, b);
    }
    out.SetType(PXFORMAT_ICO);
    out.SetFrame(frame);
    out.SetNumFrames(static_cast<int32_t>(count));
    return true;
}

// --- writer ----------------------------------------------------------------------------------

bool Encode(PxFile &f, PxImage &img)
{
    const uint32_t width = img.GetWidth(), height = img.GetHeight();
    if (height > INT32_MAX / 2)
        PxThrow("ICO can't hold an image %u pixels high", height);
    const bool alpha = img.AlphaIsValid();
    const bool indexed = img.IsIndexed() && !alpha;
    const uint32_t bpp = indexed ? img.GetBpp() : alpha ? 32 : 24;
    const uint32_t colours = indexed ? img.GetNumColors() : 0;
    const int32_t trans = indexed ? img.GetTransIndex() : -1;

    const uint64_t xorStride = PxRowBytes(width, bpp, 4), andStride = PxRowBytes(width, 1, 4);
    const uint64_t imageBytes = (xorStride + andStride) * height;
    const uint64_t entryBytes = kInfoHeaderSize + 4ull * colours + imageBytes;
    if (entryBytes > UINT32_MAX - kDirHeaderSize - kDirEntrySize)
        PxThrow("ICO can't hold an image of %u x %u pixels", width, height);

    std::vector<uint8_t> out(kDirHeaderSize + kDirEntrySize + kInfoHeaderSize, 0);
    PutU16(out.data() + 2, kTypeIcon);
    PutU16(out.data() + 4, 1);
    uint8_t *e = out.data() + kDirHeaderSize;
    // A side of 256 or more is stored as 0; the bitmap header keeps the true size.
    e[0] = static_cast<uint8_t>(width < 256 ? width : 0);
    e[1] = static_cast<uint8_t>(height < 256 ? height : 0);
    e[2] = static_cast<uint8_t>(colours < 256 ? colours : 0);
    PutU16(e + 4, 1);
    PutU16(e + 6, bpp);
    PutU32(e + 8, static_cast<uint32_t>(entryBytes));
    PutU32(e + 12, kDirHeaderSize + kDirEntrySize);
    uint8_t *info = e + kDirEntrySize;
    PutU32(info, kInfoHeaderSize);
    PutU32(info + 4, width);
    PutU32(info + 8, 2 * height);
    PutU16(info + 12, 1);
    PutU16(info + 14, bpp);
    PutU32(info + 20, static_cast<uint32_t>(imageBytes));

    for (uint32_t i = 0; i < colours; ++i) {
        // A masked pixel shows the screen XOR its colour, so the transparent entry is black.
        const PxRGBQuad c = static_cast<int32_t>(i) == trans
                                ? PxRGBQuad{}
                                : img.GetPaletteColor(static_cast<uint8_t>(i));
        out.insert(out.end(), {c.blue, c.green, c.red, 0});
    }

    const size_t xorAt = out.size();
    out.resize(xorAt + imageBytes, 0);
    uint8_t *andRows = out.data() + xorAt + xorStride * height;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t *src = img.GetBits(y);
        uint8_t *dst = out.data() + xorAt + y * xorStride;
        uint8_t *mask = andRows + y * andStride;
        const uint8_t *a = alpha ? img.AlphaGetPointer(0, static_cast<int32_t>(y)) : nullptr;
        if (bpp != 32)
            std::memcpy(dst, src, std::min<uint64_t>(xorStride, img.GetEffWidth()));
        for (uint32_t x = 0; x < width; ++x) {
            bool masked = false;
            if (a) {
                const PxRGBQuad c = img.GetPixelColor(static_cast<int32_t>(x),
                                                      static_cast<int32_t>(y), false);
                dst[4 * x] = c.blue;
                dst[4 * x + 1] = c.green;
                dst[4 * x + 2] = c.red;
                dst[4 * x + 3] = a[x];
                masked = a[x] < 128;
            } else if (trans >= 0) {
                masked = IndexAt(src, bpp, x) == trans;
            }
            if (masked)
                mask[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        }
    }
    if (f.Write(out.data(), 1, out.size()) != out.size())
        PxThrow("ICO writer: write error");
    return true;
}

} // namespace

namespace pxcodec {

bool DecodeICO(PxFile &f, PxImage &out)
{
    return PxGuard(out, [&] { return Decode(f, out, nullptr); });
}

bool HeaderICO(PxFile &f, PxImage &out, PxHeaderInfo &info)
{
    return PxGuard(out, [&] { return Decode(f, out, &info); });
}

bool EncodeICO(PxFile &f, PxImage &img)
{
    return PxGuard(img, [&] {
        if (!img.IsValid())
            PxThrow("null image!!!");
        return Encode(f, img);
    });
}

} // namespace pxcodec
