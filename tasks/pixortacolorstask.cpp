#include "pixortacolorstask.h"

#include "engine/pximage.h"

#include <algorithm>
#include <array>
#include <limits>

namespace {

using ChannelTable = std::array<uint8_t, 256>;

// The signed adjustment of a value whose neutral is 100.
int32_t Adjustment(qint32 value)
{
    return int32_t(std::max<qint64>(qint64(value) - 100, std::numeric_limits<int32_t>::min()));
}

// A channel shifted by an adjustment and clamped to 0..255. Any shift beyond +-255 gives the
// same table, so the typed value is clamped first and the sum cannot overflow.
ChannelTable ShiftTable(qint32 value)
{
    const int shift = int(std::clamp<qint64>(qint64(value) - 100, -255, 255));
    ChannelTable table{};
    for (int v = 0; v < 256; ++v)
        table[size_t(v)] = uint8_t(std::clamp(v + shift, 0, 255));
    return table;
}

// Every pixel's colour shifted and written back as a pixel write of that colour would store it:
// the channels themselves on a true-colour image, the nearest palette entry on a palette image
// (the palette does not change on the way, so each entry's answer holds for all its pixels).
void ShiftChannels(PxImage &image, const ChannelTable &red, const ChannelTable &green,
                   const ChannelTable &blue)
{
    const uint32_t w = image.GetWidth(), h = image.GetHeight();
    if (image.GetBpp() == 24) {
        for (uint32_t y = 0; y < h; ++y) {
            uint8_t *p = image.GetBits(y);
            for (uint32_t x = 0; x < w; ++x, p += 3) {
                p[0] = blue[p[0]];
                p[1] = green[p[1]];
                p[2] = red[p[2]];
            }
        }
        return;
    }
    std::array<uint8_t, 256> nearest{};
    for (int i = 0; i < 256; ++i) {
        PxRGBQuad c = image.GetPaletteColor(uint8_t(i));
        c.red = red[c.red];
        c.green = green[c.green];
        c.blue = blue[c.blue];
        nearest[size_t(i)] = image.GetNearestIndex(c);
    }
    if (image.GetBpp() == 8) {
        for (uint32_t y = 0; y < h; ++y) {
            uint8_t *row = image.GetBits(y);
            for (uint32_t x = 0; x < w; ++x)
                row[x] = nearest[row[x]];
        }
        return;
    }
    for (int32_t y = 0; y < int32_t(h); ++y)
        for (int32_t x = 0; x < int32_t(w); ++x)
            image.SetPixelIndex(x, y, nearest[image.GetPixelIndex(x, y)]);
}

} // namespace

bool CPixortaColorsTask::Apply(PxImage &image, bool &modified, QString)
{
    modified = false;
    if (m_grayScale) {
        if (!image.GrayScale())
            return false;
        modified = true;
    }
    if (m_light != 100 || m_contrast != 100) {
        modified = true;
        if (!image.Light(Adjustment(m_light), Adjustment(m_contrast)))
            return false;
    }
    if (m_red != 100 || m_green != 100 || m_blue != 100) {
        // The grey image is a palette image; the tint needs every pixel's own colour.
        if (m_grayScale && !image.IncreaseBpp(24))
            return false;
        modified = true;
        if (!image.IsValid())
            return false;
        ShiftChannels(image, ShiftTable(m_red), ShiftTable(m_green), ShiftTable(m_blue));
    }
    return true;
}

QString CPixortaColorsTask::GetDescription() const
{
    return QStringLiteral("Change colors");
}
