#pragma once
// Private to the codecs that sit on C libraries (JPEG, PNG, TIFF): stream calls made from inside
// the libraries' callbacks. A C++ exception must never unwind through the libraries' frames, so
// these turn any exception into a short count, which every library already treats as an I/O
// failure.

#include "pxfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace pxlibio {

inline size_t Read(PxFile *file, void *buffer, size_t bytes) noexcept
{
    try {
        return file->Read(buffer, 1, bytes);
    } catch (...) {
        return 0;
    }
}

inline size_t Write(PxFile *file, const void *buffer, size_t bytes) noexcept
{
    try {
        return file->Write(buffer, 1, bytes);
    } catch (...) {
        return 0;
    }
}

inline bool Seek(PxFile *file, int64_t offset, int origin) noexcept
{
    try {
        return file->Seek(offset, origin);
    } catch (...) {
        return false;
    }
}

inline int64_t Tell(PxFile *file) noexcept
{
    try {
        return file->Tell();
    } catch (...) {
        return -1;
    }
}

inline int64_t Size(PxFile *file) noexcept
{
    try {
        return file->Size();
    } catch (...) {
        return -1;
    }
}

inline bool Flush(PxFile *file) noexcept
{
    try {
        return file->Flush();
    } catch (...) {
        return false;
    }
}

// Dots per inch from a density and its unit; 0 when the value is unusable. JFIF and the image
// header both keep resolutions in 16 or 32 bits, so absurd values are dropped, not clamped.
inline int32_t DpiFrom(double density, bool perCentimetre)
{
    const double dpi = perCentimetre ? density * 2.54 : density;
    if (!(dpi >= 1.0 && dpi <= 65535.0))
        return 0;
    return static_cast<int32_t>(dpi + 0.5);
}

// Subtractive CMYK to blue-green-red, rounding like the common reference decoders. `inverted`
// is the Adobe convention (0 = full ink) that Photoshop writes into CMYK JPEG files.
inline void CmykToBgr(const uint8_t *cmyk, uint8_t *bgr, size_t pixels, bool inverted)
{
    const uint32_t flip = inverted ? 255 : 0;
    for (size_t i = 0; i < pixels; ++i, cmyk += 4, bgr += 3) {
        const uint32_t keep = 255 - (cmyk[3] ^ flip);
        for (int c = 0; c < 3; ++c) {
            const uint32_t t = (cmyk[c] ^ flip) * keep + 128;
            const uint32_t ink = ((t >> 8) + t) >> 8;
            bgr[2 - c] = static_cast<uint8_t>(keep - ink);
        }
    }
}

} // namespace pxlibio
