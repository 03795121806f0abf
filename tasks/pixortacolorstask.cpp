#include "pixortacolorstask.h"

#include "engine/pximage.h"
#include "tasksettings.h"

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

// The levels Light gives, read off the grey ramp of a palette (Light maps palette entries
// through the same table it maps true-colour bytes through).
bool LightTable(int32_t brightness, int32_t contrast, ChannelTable &table)
{
    PxImage ramp;
    if (!ramp.Create(256, 1, 8))
        return false;
    ramp.SetGrayPalette();
    if (!ramp.Light(brightness, contrast))
        return false;
    for (size_t i = 0; i < 256; ++i)
        table[i] = ramp.GetPalette()[i].red;
    return true;
}

// The engine's grey level of a colour.
uint8_t GreyOf(uint8_t red, uint8_t green, uint8_t blue)
{
    return uint8_t((red * 306 + green * 601 + blue * 117) >> 10);
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

// Light and the shifts over a true-colour image in one pass: Light maps every byte of the rows,
// the padding too, and the shifts then map the pixels' channels.
void LightAndShift(PxImage &image, const ChannelTable &light, const ChannelTable &red,
                   const ChannelTable &green, const ChannelTable &blue)
{
    ChannelTable r{}, g{}, b{};
    for (size_t v = 0; v < 256; ++v) {
        r[v] = red[light[v]];
        g[v] = green[light[v]];
        b[v] = blue[light[v]];
    }
    const uint32_t w = image.GetWidth(), h = image.GetHeight();
    const uint32_t rowBytes = image.GetEffWidth();
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t *p = image.GetBits(y);
        for (uint32_t x = 0; x < w; ++x, p += 3) {
            p[0] = b[p[0]];
            p[1] = g[p[1]];
            p[2] = r[p[2]];
        }
        for (uint32_t i = w * 3; i < rowBytes; ++i, ++p)
            *p = light[*p];
    }
}

// Grey scale, light and a tint of a true-colour image, in place: what turning it into a grey
// palette image, lighting that palette, promoting it back to true colour and shifting the
// channels gives, pixels and transparent colour alike (the promoted rows have zero padding).
void GreyLightAndTint(PxImage &image, const ChannelTable &light, const ChannelTable &red,
                      const ChannelTable &green, const ChannelTable &blue)
{
    std::array<uint32_t, 256> tinted{};
    for (size_t v = 0; v < 256; ++v) {
        const uint8_t lit = light[v];
        tinted[v] = uint32_t(blue[lit]) | uint32_t(green[lit]) << 8 | uint32_t(red[lit]) << 16;
    }
    const uint32_t w = image.GetWidth(), h = image.GetHeight();
    const uint32_t rowBytes = image.GetEffWidth();
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t *p = image.GetBits(y);
        for (uint32_t x = 0; x < w; ++x, p += 3) {
            const uint32_t c = tinted[GreyOf(p[2], p[1], p[0])];
            p[0] = uint8_t(c);
            p[1] = uint8_t(c >> 8);
            p[2] = uint8_t(c >> 16);
        }
        for (uint32_t i = w * 3; i < rowBytes; ++i, ++p)
            *p = 0;
    }
    // The grey image's transparent entry is the grey of the transparent colour; promoted, the
    // transparent colour becomes that entry's lit grey.
    if (image.GetTransIndex() >= 0) {
        const PxRGBQuad bk = image.GetBkColor();
        const uint8_t grey = GreyOf(bk.red, bk.green, bk.blue);
        const uint8_t lit = light[grey];
        image.SetTransIndex(grey);
        image.SetBkColor(PxRGBQuad{lit, lit, lit, 0});
    }
    image.SetXDPI(image.GetXDPI());
    image.SetYDPI(image.GetYDPI());
}

// Shifts every palette entry and promotes the image to true colour: the pixels come out as
// promoting first and shifting after gives them. The transparent colour the promotion takes
// from the palette is the unshifted one, as it would have been.
bool ShiftPaletteThenPromote(PxImage &image, const ChannelTable &red, const ChannelTable &green,
                             const ChannelTable &blue)
{
    const PxRGBQuad transparent = image.GetTransColor();
    PxImage shifted(image);
    for (uint32_t i = 0; i < shifted.GetNumColors(); ++i) {
        PxRGBQuad c = shifted.GetPalette()[i];
        c.red = red[c.red];
        c.green = green[c.green];
        c.blue = blue[c.blue];
        shifted.SetPaletteColor(uint8_t(i), c);
    }
    if (!shifted.IncreaseBpp(24))
        return false;
    if (shifted.GetTransIndex() >= 0)
        shifted.SetBkColor(transparent);
    return image.Transfer(shifted);
}

} // namespace

bool CPixortaColorsTask::Apply(PxImage &image, bool &modified, QString)
{
    const bool grey = m_grayScale != 0;
    const bool light = m_light != 100 || m_contrast != 100;
    const bool shift = m_red != 100 || m_green != 100 || m_blue != 100;
    modified = grey || light || shift;
    if (!modified)
        return true;
    if (!image.IsValid())
        return false;

    ChannelTable lightTable{};
    for (size_t v = 0; v < 256; ++v)
        lightTable[v] = uint8_t(v);
    if (light && !LightTable(Adjustment(m_light), Adjustment(m_contrast), lightTable))
        return false;
    const ChannelTable red = ShiftTable(m_red), green = ShiftTable(m_green),
                       blue = ShiftTable(m_blue);

    // A plain true-colour image is changed in place in one pass; the steps one by one below
    // give the same result on every image.
    const bool plain = image.GetBpp() == 24 && !image.SelectionIsValid() &&
                       !image.AlphaPaletteIsEnabled();
    if (plain && shift) {
        if (grey)
            GreyLightAndTint(image, lightTable, red, green, blue);
        else
            LightAndShift(image, lightTable, red, green, blue);
        return true;
    }

    // Grey scale first, then light and contrast, then the channel shifts.
    if (grey && !image.GrayScale())
        return false;
    if (light && !image.Light(Adjustment(m_light), Adjustment(m_contrast)))
        return false;
    if (shift) {
        if (grey) {
            // The grey image is a palette image, and the tint needs every pixel's own colour.
            if (image.IsIndexed())
                return ShiftPaletteThenPromote(image, red, green, blue);
            if (!image.IncreaseBpp(24))
                return false;
        }
        ShiftChannels(image, red, green, blue);
    }
    return true;
}

CPixortaColorsTask::CPixortaColorsTask() : CPixortaTask(TaskChangeColors)
{
    ApplyDefaults(*this, Declared());
}

const TaskSettingList &CPixortaColorsTask::Declared()
{
    using R = CPixortaColorsTask;
    static const TaskSettingList settings = {
        NumberSetting<R>({.key = "light",
                          .option = "--light",
                          .defaultValue = "100",
                          .valueName = "N",
                          .help = "brightness (any whole number up to %max%)"},
                         &R::m_light),
        NumberSetting<R>({.key = "contrast",
                          .option = "--contrast",
                          .defaultValue = "100",
                          .valueName = "N",
                          .help = "contrast: 0 makes every channel 128, 200 about doubles it"},
                         &R::m_contrast),
        NumberSetting<R>({.key = "red",
                          .option = "--red",
                          .defaultValue = "100",
                          .valueName = "N",
                          .help = "add N - 100 to the red channel of every pixel (clamped)"},
                         &R::m_red),
        NumberSetting<R>({.key = "green",
                          .option = "--green",
                          .defaultValue = "100",
                          .valueName = "N",
                          .help = "add N - 100 to the green channel of every pixel (clamped)"},
                         &R::m_green),
        NumberSetting<R>({.key = "blue",
                          .option = "--blue",
                          .defaultValue = "100",
                          .valueName = "N",
                          .help = "add N - 100 to the blue channel of every pixel (clamped)"},
                         &R::m_blue),
        FlagSetting<R>({.key = "grayscale",
                        .option = "--grayscale",
                        .defaultValue = "no",
                        .help = "turn every image grey first (a tint then colours the grey)"},
                       &R::m_grayScale),
    };
    return settings;
}

CPixortaTask::Outcome CPixortaColorsTask::PredictOutcome(const QString &, quint32, quint32) const
{
    const bool neutral = m_light == 100 && m_contrast == 100 && m_red == 100 && m_green == 100 &&
                         m_blue == 100;
    return neutral && !m_grayScale ? Outcome::Unchanged : Outcome::Changes;
}

QString CPixortaColorsTask::GetDescription() const
{
    return QStringLiteral("Change colors");
}
