// The engine's PCX codec. The reader takes 1-bit monochrome, 2 to 4 one-bit planes (EGA),
// 2-bit CGA, packed 4-bit, 8-bit with the trailing VGA palette, and 3 or 4 planes of 8 bits
// (colour, colour plus alpha), run-length encoded or raw. The writer emits version 5 files:
// 1 bit in one plane, 4 bits as four one-bit planes (the form every reader knows), 8 bits with
// the VGA palette, 24 bits as three planes; always run-length encoded. PCX holds no alpha, so
// an alpha plane is not written.

#include "pxbytereader_p.h"
#include "pxbits_p.h"
#include "pxcodecs_p.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kHeaderSize = 128;
constexpr uint8_t kManufacturer = 10;
constexpr uint8_t kVgaMarker = 0x0C;
constexpr int64_t kVgaPaletteSize = 1 + 768; // the marker byte and 256 RGB triples
// A run byte carries its count in the low six bits.
constexpr uint32_t kMaxRun = 63;

// The colours a 16-colour file means when its header carries no palette (version 3, or a
// palette left all zero).
constexpr uint8_t kEgaPalette[16][3] = {
    {0, 0, 0},       {0, 0, 170},     {0, 170, 0},     {0, 170, 170},
    {170, 0, 0},     {170, 0, 170},   {170, 85, 0},    {170, 170, 170},
    {85, 85, 85},    {85, 85, 255},   {85, 255, 85},   {85, 255, 255},
    {255, 85, 85},   {255, 85, 255},  {255, 255, 85},  {255, 255, 255},
};

struct PcxHeader {
    uint32_t version = 0;
    uint32_t encoding = 0;
    uint32_t bits = 0;   // bits per pixel in one plane
    uint32_t planes = 0;
    uint32_t width = 0;  // Xmax - Xmin + 1
    uint32_t height = 0; // Ymax - Ymin + 1
    uint32_t bytesPerLine = 0;
    uint32_t hdpi = 0, vdpi = 0;
    uint8_t colormap[48] = {};
};

PcxHeader ReadHeader(PxFile &f)
{
    uint8_t raw[kHeaderSize];
    if (f.Read(raw, 1, kHeaderSize) != kHeaderSize || raw[0] != kManufacturer)
        PxThrow("not a PCX file");
    PcxHeader h;
    h.version = raw[1];
    h.encoding = raw[2];
    h.bits = raw[3];
    const uint32_t xmin = U16(raw + 4), ymin = U16(raw + 6);
    const uint32_t xmax = U16(raw + 8), ymax = U16(raw + 10);
    h.hdpi = U16(raw + 12);
    h.vdpi = U16(raw + 14);
    std::memcpy(h.colormap, raw + 16, sizeof h.colormap);
    h.planes = raw[65];
    h.bytesPerLine = U16(raw + 66);

    if (h.version != 0 && (h.version < 2 || h.version > 5))
        PxThrow("corrupted PCX: version %u is unknown", h.version);
    if (h.encoding > 1)
        PxThrow("corrupted PCX: encoding %u is unknown", h.encoding);
    if (xmax < xmin)
        PxThrow("corrupted PCX: Xmax %u is below Xmin %u", xmax, xmin);
    if (ymax < ymin)
        PxThrow("corrupted PCX: Ymax %u is below Ymin %u", ymax, ymin);
    h.width = xmax - xmin + 1;
    h.height = ymax - ymin + 1;

    const bool known = (h.bits == 1 && h.planes >= 1 && h.planes <= 4) ||
                       ((h.bits == 2 || h.bits == 4) && h.planes == 1) ||
                       (h.bits == 8 && (h.planes == 1 || h.planes == 3 || h.planes == 4));
    if (!known)
        PxThrow("corrupted PCX: %u planes of %u bits are not supported", h.planes, h.bits);
    const uint64_t needed = PxRowBytes(h.width, h.bits, 1);
    if (h.bytesPerLine < needed)
        PxThrow("corrupted PCX: BytesPerLine %u is too small for %u pixels of %u bits",
                h.bytesPerLine, h.width, h.bits);
    return h;
}

uint32_t OutputBpp(const PcxHeader &h)
{
    if (h.bits == 8 && h.planes >= 3)
        return 24;
    if (h.bits == 8)
        return 8;
    return h.bits == 1 && h.planes == 1 ? 1 : 4;
}

void SetHeaderPalette(const PcxHeader &h, PxImage &out)
{
    PxRGBQuad pal[16];
    const uint32_t count = out.GetNumColors() < 16 ? out.GetNumColors() : 16;
    if (out.GetBpp() == 1) {
        // Monochrome files mean black and white; a header palette that names two different
        // colours (as this codec's writer keeps them) is honoured.
        const uint8_t *c = h.colormap;
        const bool distinct = std::memcmp(c, c + 3, 3) != 0;
        for (int i = 0; i < 2; ++i) {
            const uint8_t grey = i ? 255 : 0;
            pal[i] = distinct ? PxRGBQuad{c[3 * i + 2], c[3 * i + 1], c[3 * i], 0}
                              : PxRGBQuad{grey, grey, grey, 0};
        }
    } else {
        const bool empty = std::all_of(h.colormap, h.colormap + 48, [](uint8_t b) { return !b; });
        const bool useDefault = h.version == 3 || empty;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t *c = useDefault ? kEgaPalette[i] : h.colormap + 3 * i;
            pal[i] = PxRGBQuad{c[2], c[1], c[0], 0};
        }
    }
    out.SetPalette(pal, count);
}

void PutNibble(uint8_t *row, uint32_t x, uint8_t index)
{
    uint8_t &b = row[x >> 1];
    b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | index)
                : static_cast<uint8_t>((b & 0x0F) | (index << 4));
}

// Turns one decoded scan line (all planes, BytesPerLine each) into an image row.
void StoreLine(const PcxHeader &h, const uint8_t *scan, PxImage &out, uint32_t y)
{
    uint8_t *dst = out.GetBits(y);
    const uint32_t width = h.width, bpl = h.bytesPerLine;
    std::memset(dst, 0, out.GetEffWidth());
    if (h.planes == 1 && (h.bits == 1 || h.bits == 4 || h.bits == 8)) {
        const size_t bytes = static_cast<size_t>(PxRowBytes(width, h.bits, 1));
        std::memcpy(dst, scan, bytes);
        if (const uint32_t used = (width * h.bits) % 8)
            dst[bytes - 1] &= static_cast<uint8_t>(0xFF << (8 - used));
        return;
    }
    if (h.bits == 2) {
        for (uint32_t x = 0; x < width; ++x)
            PutNibble(dst, x, (scan[x >> 2] >> (6 - 2 * (x & 3))) & 3);
        return;
    }
    if (h.bits == 1) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t index = 0;
            for (uint32_t p = 0; p < h.planes; ++p)
                index |= static_cast<uint8_t>(((scan[p * bpl + (x >> 3)] >> (7 - (x & 7))) & 1)
                                              << p);
            PutNibble(dst, x, index);
        }
        return;
    }
    const uint8_t *red = scan, *green = scan + bpl, *blue = scan + 2 * static_cast<size_t>(bpl);
    for (uint32_t x = 0; x < width; ++x) {
        dst[3 * x] = blue[x];
        dst[3 * x + 1] = green[x];
        dst[3 * x + 2] = red[x];
    }
    if (h.planes == 4)
        std::memcpy(out.AlphaGetPointer(0, static_cast<int32_t>(y)),
                    scan + 3 * static_cast<size_t>(bpl), width);
}

bool Decode(PxFile &f, PxImage &out, PxHeaderInfo *header)
{
    int64_t start = f.Tell();
    if (start < 0)
        start = 0;
    const PcxHeader h = ReadHeader(f);
    const uint32_t outBpp = OutputBpp(h);
    PxCheckDimensions("PCX", h.width, h.height, outBpp);

    const int64_t fileSize = f.Size();
    if (fileSize < 0)
        PxThrow("PCX reader needs a stream of known size");
    int64_t dataEnd = fileSize;
    uint8_t vga[768];
    if (outBpp == 8) {
        // The palette of a 256-colour file sits behind the pixels, announced by its marker.
        const int64_t at = fileSize - kVgaPaletteSize;
        uint8_t marker = 0;
        if (at < start + static_cast<int64_t>(kHeaderSize) || !f.Seek(at, SEEK_SET) ||
            f.Read(&marker, 1, 1) != 1 || marker != kVgaMarker || f.Read(vga, 1, 768) != 768)
            PxThrow("corrupted PCX: the 256-colour palette is missing");
        dataEnd = at;
        f.Seek(start + static_cast<int64_t>(kHeaderSize), SEEK_SET);
    }
    const int64_t dataStart = start + static_cast<int64_t>(kHeaderSize);
    const uint64_t dataBytes = dataEnd > dataStart ? static_cast<uint64_t>(dataEnd - dataStart) : 0;

    // Each two bytes of run-length data yield at most 63 bytes, so the file bounds what the
    // header may claim before anything is allocated.
    const uint64_t lineBytes = static_cast<uint64_t>(h.bytesPerLine) * h.planes;
    const uint64_t total = lineBytes * h.height; // < 2^16 * 4 * 2^16 * 2^16: fits
    const uint64_t minimum = h.encoding ? (total + kMaxRun - 1) / kMaxRun * 2 : total;
    if (dataBytes < minimum)
        PxThrow("corrupted PCX: %llu bytes of data can't hold %u x %u pixels",
                static_cast<unsigned long long>(dataBytes), h.width, h.height);

    if (header) {
        header->width = h.width;
        header->height = h.height;
        return true;
    }
    if (!out.Create(h.width, h.height, outBpp, PXFORMAT_PCX))
        return false;
    if (h.planes == 4 && h.bits == 8 && !out.AlphaCreate())
        PxThrow("PxImage::Create can't allocate memory");
    if (outBpp == 8) {
        PxRGBQuad pal[256];
        for (int i = 0; i < 256; ++i)
            pal[i] = PxRGBQuad{vga[3 * i + 2], vga[3 * i + 1], vga[3 * i], 0};
        out.SetPalette(pal, 256);
    } else if (outBpp < 8) {
        SetHeaderPalette(h, out);
    }
    if (h.hdpi > 0 && h.hdpi <= 10000 && h.vdpi > 0 && h.vdpi <= 10000) {
        out.SetXDPI(static_cast<int32_t>(h.hdpi));
        out.SetYDPI(static_cast<int32_t>(h.vdpi));
    }

    PxByteReader reader(f, dataBytes);
    std::vector<uint8_t> scan(static_cast<size_t>(lineBytes));
    // A run may cross the end of a scan line (some writers do that); what is left of it
    // carries into the next line and never beyond the buffer.
    uint32_t runLeft = 0;
    uint8_t runValue = 0;
    for (uint32_t row = 0; row < h.height; ++row) {
        size_t i = 0;
        if (!h.encoding) {
            i = reader.Read(scan.data(), scan.size());
        } else {
            while (i < scan.size()) {
                if (runLeft) {
                    const size_t n = std::min<size_t>(runLeft, scan.size() - i);
                    std::memset(scan.data() + i, runValue, n);
                    i += n;
                    runLeft -= static_cast<uint32_t>(n);
                    continue;
                }
                const int c = reader.Get();
                if (c < 0)
                    break;
                if ((c & 0xC0) != 0xC0) {
                    scan[i++] = static_cast<uint8_t>(c);
                    continue;
                }
                const int value = reader.Get();
                if (value < 0)
                    break;
                runLeft = static_cast<uint32_t>(c & 0x3F);
                runValue = static_cast<uint8_t>(value);
            }
        }
        if (i < scan.size())
            PxThrow("corrupted PCX: data ends at row %u of %u", row, h.height);
        StoreLine(h, scan.data(), out, h.height - 1 - row);
    }
    return true;
}

// --- writer ----------------------------------------------------------------------------------

void EncodeLine(std::vector<uint8_t> &out, const uint8_t *line, size_t size)
{
    size_t i = 0;
    while (i < size) {
        const uint8_t value = line[i];
        size_t run = 1;
        while (i + run < size && run < kMaxRun && line[i + run] == value)
            ++run;
        // A lone byte with both top bits set would read as a run count: it needs a run of one.
        if (run > 1 || (value & 0xC0) == 0xC0)
            out.push_back(static_cast<uint8_t>(0xC0 | run));
        out.push_back(value);
        i += run;
    }
}

bool Encode(PxFile &f, PxImage &img)
{
    const uint32_t width = img.GetWidth(), height = img.GetHeight(), bpp = img.GetBpp();
    if (width > 65536 || height > 65536)
        PxThrow("PCX can't hold an image of %u x %u pixels (65536 at most)", width, height);
    const uint32_t planes = bpp == 24 ? 3 : bpp == 4 ? 4 : 1;
    const uint32_t bits = bpp == 8 || bpp == 24 ? 8 : 1;
    // BytesPerLine is even by the format's rule.
    uint32_t bpl = static_cast<uint32_t>(PxRowBytes(width, bits, 1));
    bpl += bpl & 1;

    uint8_t header[kHeaderSize] = {};
    header[0] = kManufacturer;
    header[1] = 5;
    header[2] = 1;
    header[3] = static_cast<uint8_t>(bits);
    PutU16(header + 8, width - 1);
    PutU16(header + 10, height - 1);
    PutU16(header + 12, static_cast<uint32_t>(std::clamp(img.GetXDPI(), 0, 65535)));
    PutU16(header + 14, static_cast<uint32_t>(std::clamp(img.GetYDPI(), 0, 65535)));
    if (bpp <= 4) {
        for (uint32_t i = 0; i < img.GetNumColors() && i < 16; ++i) {
            const PxRGBQuad c = img.GetPaletteColor(static_cast<uint8_t>(i));
            header[16 + 3 * i] = c.red;
            header[17 + 3 * i] = c.green;
            header[18 + 3 * i] = c.blue;
        }
    }
    header[65] = static_cast<uint8_t>(planes);
    PutU16(header + 66, bpl);
    PutU16(header + 68, img.IsIndexed() && img.IsGrayScale() ? 2 : 1);

    std::vector<uint8_t> out(header, header + kHeaderSize);
    std::vector<uint8_t> line(static_cast<size_t>(bpl) * planes);
    for (uint32_t row = 0; row < height; ++row) {
        const uint8_t *src = img.GetBits(height - 1 - row);
        std::fill(line.begin(), line.end(), 0);
        switch (bpp) {
        case 1: std::memcpy(line.data(), src, PxRowBytes(width, 1, 1)); break;
        case 8: std::memcpy(line.data(), src, width); break;
        case 4:
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t index = (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
                const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
                for (uint32_t p = 0; p < 4; ++p)
                    if (index & (1u << p))
                        line[p * bpl + (x >> 3)] |= bit;
            }
            break;
        default:
            for (uint32_t x = 0; x < width; ++x) {
                line[x] = src[3 * x + 2];
                line[bpl + x] = src[3 * x + 1];
                line[2 * bpl + x] = src[3 * x];
            }
            break;
        }
        for (uint32_t p = 0; p < planes; ++p)
            EncodeLine(out, line.data() + static_cast<size_t>(p) * bpl, bpl);
    }
    if (bpp == 8) {
        out.push_back(kVgaMarker);
        for (uint32_t i = 0; i < 256; ++i) {
            const PxRGBQuad c =
                i < img.GetNumColors() ? img.GetPaletteColor(static_cast<uint8_t>(i)) : PxRGBQuad{};
            out.insert(out.end(), {c.red, c.green, c.blue});
        }
    }
    if (f.Write(out.data(), 1, out.size()) != out.size())
        PxThrow("PCX writer: write error");
    return true;
}

} // namespace

namespace pxcodec {

bool DecodePCX(PxFile &f, PxImage &out)
{
    return PxGuard(out, [&] { return Decode(f, out, nullptr); });
}

bool HeaderPCX(PxFile &f, PxImage &out, PxHeaderInfo &info)
{
    return PxGuard(out, [&] { return Decode(f, out, &info); });
}

bool EncodePCX(PxFile &f, PxImage &img)
{
    return PxGuard(img, [&] {
        if (!img.IsValid())
            PxThrow("null image!!!");
        return Encode(f, img);
    });
}

} // namespace pxcodec
