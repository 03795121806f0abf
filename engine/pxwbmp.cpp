// The engine's WBMP codec: type 0, the one image type the format defines (one bit per pixel,
// 1 = white, rows top first, each row padded to a whole byte). WBMP has no signature and comes
// late in content detection, so the reader only accepts a header that makes sense and a file
// whose size is exactly the header plus the pixels: arbitrary data is refused, not shown.

#include "pxcodecs_p.h"

#include <cstring>
#include <vector>

namespace {

// Five 7-bit groups hold any 32-bit value; a longer integer is not a size.
constexpr int kMaxIntegerBytes = 5;

// A multi-byte integer: 7 bits per byte, most significant group first, bit 7 set on every byte
// but the last. Only the shortest form is taken (a leading 0x80 adds nothing and is the mark
// of data that is not WBMP).
uint32_t ReadInteger(PxFile &f, const char *what)
{
    uint64_t value = 0;
    for (int i = 0; i < kMaxIntegerBytes; ++i) {
        const int c = f.GetC();
        if (c == EOF)
            PxThrow("not a WBMP file: the header ends inside the %s", what);
        if (i == 0 && c == 0x80)
            PxThrow("not a WBMP file: the %s has a needless leading byte", what);
        value = (value << 7) | static_cast<uint64_t>(c & 0x7F);
        if (!(c & 0x80)) {
            if (value > UINT32_MAX)
                PxThrow("not a WBMP file: the %s does not fit 32 bits", what);
            return static_cast<uint32_t>(value);
        }
    }
    PxThrow("not a WBMP file: the %s runs over %d bytes", what, kMaxIntegerBytes);
}

void WriteInteger(std::vector<uint8_t> &out, uint32_t value)
{
    uint8_t groups[kMaxIntegerBytes];
    int n = 0;
    do {
        groups[n++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n > 1)
        out.push_back(static_cast<uint8_t>(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

bool IsBright(PxRGBQuad c)
{
    return c.red * 299 + c.green * 587 + c.blue * 114 >= 128 * 1000;
}

bool Decode(PxFile &f, PxImage &out, PxHeaderInfo *header)
{
    if (ReadInteger(f, "type field") != 0)
        PxThrow("not a WBMP file: only type 0 is defined");
    const int fixed = f.GetC();
    // Type 0 has no extension headers, so every bit of the fixed header byte is zero.
    if (fixed != 0)
        PxThrow("not a WBMP file: fixed header byte is %d, must be 0", fixed);
    const uint32_t width = ReadInteger(f, "width");
    const uint32_t height = ReadInteger(f, "height");
    PxCheckDimensions("WBMP", width, height, 1);

    const uint64_t rowBytes = (static_cast<uint64_t>(width) + 7) / 8;
    const uint64_t claimed = rowBytes * height; // both below 2^32: no overflow
    const int64_t size = f.Size(), here = f.Tell();
    if (size >= 0 && here >= 0) {
        const int64_t left = size - here;
        PxCheckFileHolds("WBMP", claimed, left);
        if (static_cast<uint64_t>(left) > claimed)
            PxThrow("not a WBMP file: %lld bytes follow the pixels of a %u x %u image",
                    static_cast<long long>(left - static_cast<int64_t>(claimed)), width,
                    height);
    }

    if (header) {
        header->width = width;
        header->height = height;
        return true;
    }
    if (!out.Create(width, height, 1, PXFORMAT_WBMP))
        return false;
    const PxRGBQuad palette[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    out.SetPalette(palette, 2);

    // Bits past the width in the last byte are padding; they are kept clear in the image.
    const uint8_t lastMask = static_cast<uint8_t>(0xFF << ((8 - width % 8) % 8));
    for (uint32_t row = 0; row < height; ++row) {
        uint8_t *dst = out.GetBits(height - 1 - row);
        std::memset(dst, 0, out.GetEffWidth());
        if (f.Read(dst, 1, rowBytes) != rowBytes)
            PxThrow("corrupted WBMP: data ends at row %u of %u", row, height);
        dst[rowBytes - 1] &= lastMask;
    }
    return true;
}

bool Encode(PxFile &f, PxImage &img)
{
    const uint32_t width = img.GetWidth(), height = img.GetHeight();
    const uint32_t bpp = img.GetBpp();
    std::vector<uint8_t> out = {0, 0};
    WriteInteger(out, width);
    WriteInteger(out, height);

    // Indexed pixels are judged by their palette colour, so an inverted palette still gives
    // white where the picture is white.
    bool bright[256] = {};
    if (img.IsIndexed())
        for (uint32_t i = 0; i < img.GetNumColors() && i < 256; ++i)
            bright[i] = IsBright(img.GetPaletteColor(static_cast<uint8_t>(i)));

    const size_t rowBytes = (static_cast<size_t>(width) + 7) / 8;
    const size_t header = out.size();
    out.resize(header + rowBytes * height, 0);
    for (uint32_t row = 0; row < height; ++row) {
        const uint8_t *src = img.GetBits(height - 1 - row);
        uint8_t *dst = out.data() + header + row * rowBytes;
        for (uint32_t x = 0; x < width; ++x) {
            bool on;
            switch (bpp) {
            case 1: on = bright[(src[x >> 3] >> (7 - (x & 7))) & 1]; break;
            case 4: on = bright[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F]; break;
            case 8: on = bright[src[x]]; break;
            default: {
                const uint8_t *p = src + 3 * static_cast<size_t>(x);
                on = IsBright(PxRGBQuad{p[0], p[1], p[2], 0});
                break;
            }
            }
            if (on)
                dst[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        }
    }
    if (f.Write(out.data(), 1, out.size()) != out.size())
        PxThrow("WBMP writer: write error");
    return true;
}

} // namespace

namespace pxcodec {

bool DecodeWBMP(PxFile &f, PxImage &out)
{
    return PxGuard(out, [&] { return Decode(f, out, nullptr); });
}

bool HeaderWBMP(PxFile &f, PxImage &out, PxHeaderInfo &info)
{
    return PxGuard(out, [&] { return Decode(f, out, &info); });
}

bool EncodeWBMP(PxFile &f, PxImage &img)
{
    return PxGuard(img, [&] {
        if (!img.IsValid())
            PxThrow("null image!!!");
        return Encode(f, img);
    });
}

} // namespace pxcodec
