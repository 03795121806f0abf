#pragma once
// Pictures and sounds the movie tests feed in.

#include "engine/pximage.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QtEndian>

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

// A RIFF chunk: id, size (claimed instead of the body's when given) and body, padded to an even
// length.
inline QByteArray Chunk(const char *id, const QByteArray &body, qint64 claimed = -1)
{
    QByteArray c(id, 4);
    char size[4];
    qToLittleEndian<quint32>(static_cast<quint32>(claimed < 0 ? body.size() : claimed), size);
    c.append(size, 4);
    c.append(body);
    if (body.size() & 1)
        c.append('\0');
    return c;
}

// The 16 bytes of a wave format record.
inline QByteArray Format(int tag, int channels, qint64 rate, int blockAlign, int bits)
{
    QByteArray f(16, '\0');
    qToLittleEndian<quint16>(static_cast<quint16>(tag), f.data());
    qToLittleEndian<quint16>(static_cast<quint16>(channels), f.data() + 2);
    qToLittleEndian<quint32>(static_cast<quint32>(rate), f.data() + 4);
    qToLittleEndian<quint32>(static_cast<quint32>(rate * blockAlign), f.data() + 8);
    qToLittleEndian<quint16>(static_cast<quint16>(blockAlign), f.data() + 12);
    qToLittleEndian<quint16>(static_cast<quint16>(bits), f.data() + 14);
    return f;
}

inline QByteArray Riff(const QByteArray &chunks, qint64 claimed = -1)
{
    return Chunk("RIFF", "WAVE" + chunks, claimed);
}

// A whole WAV file of the format and samples.
inline QByteArray Wave(const QByteArray &format, const QByteArray &samples)
{
    return Riff(Chunk("fmt ", format) + Chunk("data", samples));
}

// size bytes that no two nearby samples share.
inline QByteArray NoiseBytes(qint64 size, quint32 seed = 1)
{
    QByteArray data(static_cast<qsizetype>(size), Qt::Uninitialized);
    for (char &c : data) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return data;
}
