#pragma once
// Small pictures for the task tests, addressed with rows from the top as a viewer sees them.

#include "engine/pximage.h"

#include <QColor>
#include <cstdint>
#include <random>

inline PxImage SolidImage(uint32_t width, uint32_t height, QColor colour)
{
    PxImage image;
    image.Create(width, height, 24);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            image.SetPixelColor(int32_t(x), int32_t(y),
                                PxRGBQuad{uint8_t(colour.blue()), uint8_t(colour.green()),
                                          uint8_t(colour.red()), 0});
    return image;
}

// Every channel of every pixel random, from a fixed seed.
inline PxImage NoiseImage(uint32_t width, uint32_t height, unsigned seed = 7)
{
    PxImage image;
    image.Create(width, height, 24);
    std::mt19937 rng(seed);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width * 3; ++x)
            image.GetBits(y)[x] = uint8_t(rng());
    return image;
}

// The colour at column x, row y counted from the top.
inline QColor ColourAt(const PxImage &image, int x, int y)
{
    const PxRGBQuad c =
        image.GetPixelColor(x, int32_t(image.GetHeight()) - 1 - y, false);
    return QColor(c.red, c.green, c.blue);
}

inline void SetColourAt(PxImage &image, int x, int y, QColor colour)
{
    image.SetPixelColor(x, int32_t(image.GetHeight()) - 1 - y,
                        PxRGBQuad{uint8_t(colour.blue()), uint8_t(colour.green()),
                                  uint8_t(colour.red()), 0});
}

// Same size, depth, palette and pixel rows.
inline bool SamePixels(const PxImage &a, const PxImage &b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() ||
        a.GetBpp() != b.GetBpp() || a.GetSize() != b.GetSize())
        return false;
    const size_t header = sizeof(PxBitmapInfoHeader);
    return std::equal(static_cast<const uint8_t *>(a.GetDIB()) + header,
                      static_cast<const uint8_t *>(a.GetDIB()) + a.GetSize(),
                      static_cast<const uint8_t *>(b.GetDIB()) + header);
}
