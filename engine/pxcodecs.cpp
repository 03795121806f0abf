#include "pxcodecs_p.h"

#include <climits>
#include <cstdio>

void PxThrow(const char *format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    throw PxError{text};
}

bool PxMulOverflows(uint64_t a, uint64_t b, uint64_t *out)
{
    return __builtin_mul_overflow(a, b, out);
}

uint64_t PxRowBytes(uint64_t width, uint64_t bpp, uint64_t align)
{
    uint64_t bits = 0;
    if (PxMulOverflows(width, bpp, &bits) || bits > UINT64_MAX - 7)
        return 0;
    uint64_t bytes = (bits + 7) / 8;
    if (align > 1) {
        if (bytes > UINT64_MAX - (align - 1))
            return 0;
        bytes = (bytes + align - 1) / align * align;
    }
    return bytes;
}

void PxCheckDimensions(const char *what, uint64_t width, uint64_t height, uint64_t bpp)
{
    const auto w = static_cast<unsigned long long>(width);
    const auto h = static_cast<unsigned long long>(height);
    if (width == 0 || height == 0)
        PxThrow("%s image has no pixels (%llu x %llu)", what, w, h);
    // The information header keeps both sides as signed 32-bit values.
    if (width > INT32_MAX || height > INT32_MAX)
        PxThrow("%s image size %llu x %llu is out of range", what, w, h);
    // The same depth normalisation and cap as PxImage::Create, checked before anything is
    // allocated so that a hostile header costs nothing.
    const uint64_t depth = bpp <= 1 ? 1 : bpp <= 4 ? 4 : bpp <= 8 ? 8 : 24;
    uint64_t pixels = 0, bits = 0;
    if (PxMulOverflows(width, height, &pixels) || PxMulOverflows(pixels, depth, &bits) ||
        bits / 256 > PXIMAGE_MAX_MEMORY)
        PxThrow("PXIMAGE_MAX_MEMORY exceeded: %s image of %llu x %llu pixels at %llu bpp", what,
                w, h, static_cast<unsigned long long>(depth));
    // The block (header, palette, rows) and a BMP file of it keep their sizes in 32 bits.
    const uint64_t rows = PxRowBytes(width, depth, 4) * height;
    if (rows > UINT32_MAX - 14 - 40 - 1024)
        PxThrow("PXIMAGE_MAX_MEMORY exceeded: %s image of %llu x %llu pixels at %llu bpp needs "
                "%llu bytes", what, w, h, static_cast<unsigned long long>(depth),
                static_cast<unsigned long long>(rows));
}

void PxCheckFileHolds(const char *what, uint64_t claimed, int64_t available)
{
    if (available < 0 || claimed > static_cast<uint64_t>(available))
        PxThrow("%s header claims %llu bytes of pixels, file has %lld", what,
                static_cast<unsigned long long>(claimed),
                static_cast<long long>(available < 0 ? 0 : available));
}
