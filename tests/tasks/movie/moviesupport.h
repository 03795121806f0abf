#pragma once
// Pictures and sounds the movie tests feed in.

#include "engine/pximage.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

// A 24-bit image of flat colour blocks, each size x size pixels and aligned to the top-left
// corner; the colour of block (bx, by) counted from the top comes from colourOf.
template <class F> PxImage BlockImage(int width, int height, int size, F colourOf)
{
    PxImage image;
    image.Create(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 24);
    for (int y = 0; y < height; ++y) {
        uint8_t *row = image.GetBits(static_cast<uint32_t>(height - 1 - y));
        for (int x = 0; x < width; ++x) {
            const QColor c = colourOf(x / size, y / size);
            row[3 * x] = static_cast<uint8_t>(c.blue());
            row[3 * x + 1] = static_cast<uint8_t>(c.green());
            row[3 * x + 2] = static_cast<uint8_t>(c.red());
        }
    }
    return image;
}

// A colour for block (bx, by) that its neighbours do not share.
inline QColor PatternColour(int bx, int by)
{
    return QColor((bx * 53 + by * 17) % 256, (bx * 29 + by * 71 + 40) % 256,
                  (bx * 11 + by * 43 + 90) % 256);
}

// The largest channel difference between a decoded pixel and the colour that went in.
inline int ChannelError(QRgb decoded, const QColor &expected)
{
    return std::max({std::abs(qRed(decoded) - expected.red()),
                     std::abs(qGreen(decoded) - expected.green()),
                     std::abs(qBlue(decoded) - expected.blue())});
}

// How far RGB555 can take a channel from its 8-bit value.
inline constexpr int kRgb555Rounding = 4;

// count samples of 16-bit mono sound.
inline QByteArray SoundSamples(int count)
{
    QByteArray data(count * 2, '\0');
    for (int i = 0; i < count; ++i) {
        const auto v = static_cast<int16_t>((i * 37) % 20000 - 10000);
        data[2 * i] = static_cast<char>(v & 0xFF);
        data[2 * i + 1] = static_cast<char>((v >> 8) & 0xFF);
    }
    return data;
}
