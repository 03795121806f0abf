// Pixel access and the colour side of PxImage: nearest-colour search, brightness and contrast
// through a table, grey scale and the conversions between palette and true-colour depths.

#include "pximage.h"
#include "pxbits_p.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

inline uint8_t GreyOf(uint8_t red, uint8_t green, uint8_t blue)
{
    return static_cast<uint8_t>((red * 306 + green * 601 + blue * 117) >> 10);
}

inline uint32_t SquaredDistance(const PxRGBQuad &a, const PxRGBQuad &b)
{
    const int dr = a.red - b.red;
    const int dg = a.green - b.green;
    const int db = a.blue - b.blue;
    return static_cast<uint32_t>(dr * dr + dg * dg + db * db);
}

// The palettes used when DecreaseBpp is given none: the 16 classic display colours for 4 bits
// and a 3-3-2 red-green-blue cube for 8 bits.
void StandardPalette(uint32_t bpp, PxRGBQuad *out)
{
    if (bpp == 1) {
        out[0] = PxRGBQuad{0, 0, 0, 0};
        out[1] = PxRGBQuad{255, 255, 255, 0};
    } else if (bpp == 4) {
        static const uint8_t rgb[16][3] = {
            {0, 0, 0},     {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
            {0, 0, 128},   {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
            {128, 128, 128}, {255, 0, 0}, {0, 255, 0},   {255, 255, 0},
            {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
        for (int i = 0; i < 16; ++i)
            out[i] = PxRGBQuad{rgb[i][2], rgb[i][1], rgb[i][0], 0};
    } else {
        for (int i = 0; i < 256; ++i)
            out[i] = PxRGBQuad{static_cast<uint8_t>((i & 3) * 255 / 3),
                               static_cast<uint8_t>(((i >> 2) & 7) * 255 / 7),
                               static_cast<uint8_t>(((i >> 5) & 7) * 255 / 7), 0};
    }
}

// Gives exactly what the linear search of GetNearestIndex gives (smallest squared distance,
// lowest index among equals, only the first `count` entries) without visiting every entry for
// every colour. Colour space is cut into 8 x 8 x 8 cells; the first time a cell is asked for, it
// keeps the entries that can be nearest to some colour inside it: those whose distance to the
// cell box is at most the smallest farthest-point distance of any entry. The true nearest entry
// and every entry tied with it pass that test, and the list is kept in index order, so a plain
// strict-less scan of it picks the same entry as the full scan.
class NearestFinder {
public:
    NearestFinder(const PxRGBQuad *palette, uint32_t count)
    {
        for (uint32_t i = 0; i < count; ++i)
            m_entries.push_back(Entry{palette[i].red, palette[i].green, palette[i].blue});
        m_cells.assign(kCells * kCells * kCells, Cell{});
    }

    uint8_t Find(int r, int g, int b)
    {
        if (m_entries.empty())
            return 0;
        Cell &cell = m_cells[((r >> kShift) * kCells + (g >> kShift)) * kCells + (b >> kShift)];
        if (cell.start < 0)
            Build(cell, r >> kShift, g >> kShift, b >> kShift);
        const uint8_t *candidate = m_candidates.data() + cell.start;
        int best = INT_MAX;
        uint8_t found = 0;
        for (uint32_t k = 0; k < cell.count; ++k) {
            const Entry &e = m_entries[candidate[k]];
            const int dr = e.r - r, dg = e.g - g, db = e.b - b;
            const int d = dr * dr + dg * dg + db * db;
            if (d < best) {
                best = d;
                found = candidate[k];
            }
        }
        return found;
    }

private:
    static constexpr int kShift = 3;
    static constexpr int kCells = 256 >> kShift;
    static constexpr int kSide = 1 << kShift;
    struct Entry {
        int r, g, b;
    };
    struct Cell {
        int32_t start = -1;
        uint32_t count = 0;
    };

    static int Near(int v, int lo) { return v < lo ? lo - v : (v > lo + kSide - 1 ? v - (lo + kSide - 1) : 0); }
    static int Far(int v, int lo) { return std::max(v - lo, lo + kSide - 1 - v); }

    void Build(Cell &cell, int cr, int cg, int cb)
    {
        const int lr = cr * kSide, lg = cg * kSide, lb = cb * kSide;
        const size_t n = m_entries.size();
        m_nearDistance.resize(n);
        int bound = INT_MAX;
        for (size_t i = 0; i < n; ++i) {
            const Entry &e = m_entries[i];
            const int nr = Near(e.r, lr), ng = Near(e.g, lg), nb = Near(e.b, lb);
            const int fr = Far(e.r, lr), fg = Far(e.g, lg), fb = Far(e.b, lb);
            m_nearDistance[i] = nr * nr + ng * ng + nb * nb;
            bound = std::min(bound, fr * fr + fg * fg + fb * fb);
        }
        cell.start = static_cast<int32_t>(m_candidates.size());
        for (size_t i = 0; i < n; ++i)
            if (m_nearDistance[i] <= bound)
                m_candidates.push_back(static_cast<uint8_t>(i));
        cell.count = static_cast<uint32_t>(m_candidates.size()) - static_cast<uint32_t>(cell.start);
    }

    std::vector<Entry> m_entries;
    std::vector<Cell> m_cells;
    std::vector<uint8_t> m_candidates;
    std::vector<int> m_nearDistance;
};

// Direct-mapped memo of colour -> index in front of NearestFinder: photos repeat colours a lot,
// and the result depends on nothing but the 24-bit colour.
class NearestCache {
public:
    NearestCache(NearestFinder &finder, uint64_t pixels) : m_finder(finder)
    {
        int bits = 10;
        while (bits < 20 && (uint64_t{1} << bits) < pixels)
            ++bits;
        m_shift = 32 - bits;
        m_keys.assign(size_t{1} << bits, kEmpty);
        m_values.assign(size_t{1} << bits, 0);
    }

    uint8_t Find(uint32_t rgb)
    {
        const size_t slot = (rgb * 2654435761u) >> m_shift;
        if (m_keys[slot] != rgb) {
            m_keys[slot] = rgb;
            m_values[slot] = m_finder.Find((rgb >> 16) & 255, (rgb >> 8) & 255, rgb & 255);
        }
        return m_values[slot];
    }

private:
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu; // never a 24-bit colour
    NearestFinder &m_finder;
    int m_shift = 22;
    std::vector<uint32_t> m_keys;
    std::vector<uint8_t> m_values;
};

} // namespace

// --- pixel access --------------------------------------------------------------------------

uint8_t PxImage::GetPixelIndex(int32_t x, int32_t y) const
{
    if (!m_dib || !IsIndexed())
        return 0;
    if (!IsInside(x, y)) {
        if (m_info.transIndex >= 0)
            return static_cast<uint8_t>(
                std::min<int32_t>(m_info.transIndex, static_cast<int32_t>(m_head.clrUsed) - 1));
        // The index of the first stored pixel; for 1- and 4-bit images the raw first byte would
        // pack several pixels and could name an entry beyond the palette.
        if (m_head.width <= 0 || m_head.height <= 0)
            return 0;
        return ReadIndex(GetBits(0), 0, GetBpp());
    }
    return ReadIndex(GetBits(static_cast<uint32_t>(y)), static_cast<uint32_t>(x), GetBpp());
}

void PxImage::SetPixelIndex(int32_t x, int32_t y, uint8_t index)
{
    if (!IsIndexed() || !IsInside(x, y))
        return;
    WriteIndex(GetBits(static_cast<uint32_t>(y)), static_cast<uint32_t>(x), GetBpp(), index);
}

PxRGBQuad PxImage::GetPixelColor(int32_t x, int32_t y, bool withAlpha) const
{
    if (!m_dib)
        return PxRGBQuad{};
    if (!IsInside(x, y)) {
        if (m_info.transIndex < 0) {
            if (m_head.width <= 0 || m_head.height <= 0)
                return m_info.bkColor;
            return GetPixelColor(0, 0, withAlpha);
        }
        return IsIndexed() ? GetTransColor() : m_info.bkColor;
    }
    PxRGBQuad c;
    if (IsIndexed()) {
        c = GetPaletteColor(GetPixelIndex(x, y));
    } else {
        const uint8_t *p = GetBits(static_cast<uint32_t>(y)) + 3 * static_cast<size_t>(x);
        c = PxRGBQuad{p[0], p[1], p[2], m_info.bkColor.reserved};
    }
    if (m_alpha && withAlpha)
        c.reserved = AlphaGet(x, y);
    return c;
}

void PxImage::SetPixelColor(int32_t x, int32_t y, PxRGBQuad colour, bool setAlpha)
{
    if (!IsInside(x, y))
        return;
    if (IsIndexed()) {
        SetPixelIndex(x, y, GetNearestIndex(colour));
    } else {
        uint8_t *p = GetBits(static_cast<uint32_t>(y)) + 3 * static_cast<size_t>(x);
        p[0] = colour.blue;
        p[1] = colour.green;
        p[2] = colour.red;
    }
    if (setAlpha)
        AlphaSet(x, y, colour.reserved);
}

void PxImage::SetPixelColor(int32_t x, int32_t y, uint32_t packed)
{
    SetPixelColor(x, y,
                  PxRGBQuad{static_cast<uint8_t>(packed >> 16), static_cast<uint8_t>(packed >> 8),
                            static_cast<uint8_t>(packed), 0},
                  false);
}

uint8_t PxImage::GetNearestIndex(PxRGBQuad colour)
{
    const PxRGBQuad *pal = GetPalette();
    if (!pal)
        return 0;
    if (m_info.lastValid && m_info.lastColour.red == colour.red &&
        m_info.lastColour.green == colour.green && m_info.lastColour.blue == colour.blue)
        return m_info.lastIndex;

    uint32_t n = m_head.clrUsed;
    if (m_head.clrImportant != 0)
        n = std::min(n, m_head.clrImportant);
    uint32_t best = 200000;
    uint32_t found = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t d = SquaredDistance(pal[i], colour);
        if (d < best) {
            best = d;
            found = i;
            if (d == 0)
                break;
        }
    }
    m_info.lastColour = colour;
    m_info.lastIndex = static_cast<uint8_t>(found);
    m_info.lastValid = true;
    return m_info.lastIndex;
}

// --- tables --------------------------------------------------------------------------------

bool PxImage::Light(int32_t brightness, int32_t contrast)
{
    // The scale is (contrast + 100) times the single-precision 0.01 kept wide: it lands a hair
    // below the exact value, so with contrast 0 values above 128 come out one lower. Files
    // processed before depend on those exact levels.
    // Wide sums: any int may come in (a typed adjustment), and the exact levels stay the same.
    const long double k =
        (static_cast<long double>(contrast) + 100) * static_cast<long double>(0.01f);
    uint8_t table[256];
    for (int i = -128; i <= 127; ++i) {
        const long double v = static_cast<long double>(brightness) + 128 + k * i;
        const long long t = static_cast<long long>(std::trunc(v));
        table[i + 128] = static_cast<uint8_t>(std::clamp<long long>(t, 0, 255));
    }
    return Lut(table);
}

bool PxImage::Lut(const uint8_t *table)
{
    if (!m_dib || !table)
        return false;
    const uint32_t w = GetWidth(), h = GetHeight();

    if (m_selection) {
        const bool grey8 = GetBpp() == 8 && IsGrayScale();
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                if (!SelectionIsInside(static_cast<int32_t>(x), static_cast<int32_t>(y)))
                    continue;
                if (grey8) {
                    uint8_t *row = GetBits(y);
                    row[x] = table[row[x]];
                    continue;
                }
                PxRGBQuad c = GetPixelColor(static_cast<int32_t>(x), static_cast<int32_t>(y), false);
                c.red = table[c.red];
                c.green = table[c.green];
                c.blue = table[c.blue];
                SetPixelColor(static_cast<int32_t>(x), static_cast<int32_t>(y), c, false);
            }
        return true;
    }

    if (IsIndexed()) {
        PxRGBQuad *pal = GetPalette();
        for (uint32_t i = 0; i < m_head.clrUsed; ++i) {
            pal[i].red = table[pal[i].red];
            pal[i].green = table[pal[i].green];
            pal[i].blue = table[pal[i].blue];
        }
        m_info.lastValid = false;
        return true;
    }

    uint8_t *p = GetBits(0);
    const size_t n = m_head.sizeImage;
    for (size_t i = 0; i < n; ++i)
        p[i] = table[p[i]];
    return true;
}

// --- grey ----------------------------------------------------------------------------------

void PxImage::SetGrayPalette()
{
    PxRGBQuad *pal = GetPalette();
    if (!pal)
        return;
    const uint32_t n = m_head.clrUsed;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t v = static_cast<uint8_t>(n > 1 ? i * 255 / (n - 1) : 0);
        pal[i] = PxRGBQuad{v, v, v, 0};
    }
    // Every entry is meaningful now, so no earlier limit of the nearest-colour search applies.
    m_head.clrImportant = 0;
    reinterpret_cast<PxBitmapInfoHeader *>(m_dib)->clrImportant = 0;
    m_info.lastValid = false;
}

bool PxImage::StartResult(PxImage &result, uint32_t bpp)
{
    if (!result.Create(GetWidth(), GetHeight(), bpp, GetType())) {
        SetLastError(result.GetLastError());
        return false;
    }
    const uint32_t w = GetWidth(), h = GetHeight();
    const size_t planeBytes = static_cast<size_t>(w) * h;
    result.m_info = m_info;
    result.m_info.ghost = nullptr;
    result.m_info.lastValid = false;
    result.m_info.selectionBox = PxRect{};
    auto *blockHead = reinterpret_cast<PxBitmapInfoHeader *>(result.m_dib);
    result.m_head.xPelsPerMeter = blockHead->xPelsPerMeter = m_head.xPelsPerMeter;
    result.m_head.yPelsPerMeter = blockHead->yPelsPerMeter = m_head.yPelsPerMeter;
    if (m_alpha && planeBytes) {
        if (!result.AlphaCreate()) {
            SetLastError("PxImage::Create can't allocate memory");
            return false;
        }
        std::memcpy(result.m_alpha, m_alpha, planeBytes);
    }
    if (m_selection && planeBytes) {
        if (!result.SelectionCreate()) {
            SetLastError("PxImage::Create can't allocate memory");
            return false;
        }
        std::memcpy(result.m_selection, m_selection, planeBytes);
        result.m_info.selectionBox = m_info.selectionBox;
    }
    return true;
}

bool PxImage::GrayScale()
{
    if (!m_dib)
        return false;
    const uint32_t w = GetWidth(), h = GetHeight();

    if (!IsIndexed()) {
        PxImage grey;
        if (!StartResult(grey, 8))
            return false;
        grey.SetGrayPalette();
        for (uint32_t y = 0; y < h; ++y) {
            const uint8_t *src = GetBits(y);
            uint8_t *dst = grey.GetBits(y);
            for (uint32_t x = 0; x < w; ++x, src += 3)
                dst[x] = GreyOf(src[2], src[1], src[0]);
        }
        // A true-colour image marks its transparent colour in the background colour; the grey
        // image must mark the grey level that colour became, not an arbitrary entry.
        if (m_info.transIndex >= 0)
            grey.m_info.transIndex = GreyOf(m_info.bkColor.red, m_info.bkColor.green,
                                            m_info.bkColor.blue);
        Transfer(grey);
        return true;
    }

    const PxRGBQuad *pal = GetPalette();
    uint8_t greyOf[256] = {};
    for (uint32_t i = 0; i < m_head.clrUsed; ++i)
        greyOf[i] = GreyOf(pal[i].red, pal[i].green, pal[i].blue);
    int32_t transIndex = m_info.transIndex;
    if (transIndex >= 0)
        transIndex = greyOf[std::min<uint32_t>(static_cast<uint32_t>(transIndex), m_head.clrUsed - 1)];

    if (GetBpp() == 8) {
        for (uint32_t y = 0; y < h; ++y) {
            uint8_t *row = GetBits(y);
            for (uint32_t x = 0; x < w; ++x)
                row[x] = greyOf[row[x]];
        }
        SetGrayPalette();
        m_info.transIndex = transIndex;
        return true;
    }

    PxImage grey;
    if (!StartResult(grey, 8))
        return false;
    grey.SetGrayPalette();
    const uint32_t bpp = GetBpp();
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t *src = GetBits(y);
        uint8_t *dst = grey.GetBits(y);
        for (uint32_t x = 0; x < w; ++x)
            dst[x] = greyOf[ReadIndex(src, x, bpp)];
    }
    grey.m_info.transIndex = transIndex;
    Transfer(grey);
    return true;
}

// --- depth conversions -----------------------------------------------------------------------

bool PxImage::IncreaseBpp(uint32_t bits)
{
    if (!m_dib)
        return false;
    const uint32_t bpp = GetBpp();
    if (bits != 4 && bits != 8 && bits != 24)
        return false;
    if (bits == bpp)
        return true;
    if (bits < bpp)
        return false;

    const uint32_t w = GetWidth(), h = GetHeight();
    PxImage result;
    if (!StartResult(result, bits))
        return false;
    const PxRGBQuad *pal = GetPalette();

    if (bits == 24) {
        // The palette's reserved bytes become the alpha plane when they carried alpha and the
        // image had no plane of its own; an existing plane was copied as it is.
        const bool alphaFromPalette = !m_alpha && m_info.alphaPaletteEnabled && w && h;
        if (alphaFromPalette && !result.AlphaCreate()) {
            SetLastError("PxImage::Create can't allocate memory");
            return false;
        }
        for (uint32_t y = 0; y < h; ++y) {
            const uint8_t *src = GetBits(y);
            uint8_t *dst = result.GetBits(y);
            uint8_t *alpha = alphaFromPalette ? result.m_alpha + static_cast<size_t>(y) * w : nullptr;
            for (uint32_t x = 0; x < w; ++x, dst += 3) {
                const PxRGBQuad &c = pal[ReadIndex(src, x, bpp)];
                dst[0] = c.blue;
                dst[1] = c.green;
                dst[2] = c.red;
                if (alpha)
                    alpha[x] = c.reserved;
            }
        }
        if (m_info.transIndex >= 0)
            result.m_info.bkColor = GetTransColor();
        result.m_info.alphaPaletteEnabled = false;
    } else {
        result.SetPalette(pal, m_head.clrUsed);
        // The entries beyond the old palette are padding: keep them out of the nearest-colour
        // search of later pixel writes.
        result.m_head.clrImportant = m_head.clrImportant ? m_head.clrImportant : m_head.clrUsed;
        reinterpret_cast<PxBitmapInfoHeader *>(result.m_dib)->clrImportant =
            result.m_head.clrImportant;
        for (uint32_t y = 0; y < h; ++y) {
            const uint8_t *src = GetBits(y);
            uint8_t *dst = result.GetBits(y);
            for (uint32_t x = 0; x < w; ++x)
                WriteIndex(dst, x, bits, ReadIndex(src, x, bpp));
        }
    }
    Transfer(result);
    return true;
}

bool PxImage::DecreaseBpp(uint32_t bits, bool errorDiffusion, const PxRGBQuad *palette,
                          uint32_t colorsImportant)
{
    // Only the nearest-colour mapping is built; error diffusion maps the same way.
    (void)errorDiffusion;
    if (!m_dib)
        return false;
    if (bits != 1 && bits != 4 && bits != 8)
        return false;
    const uint32_t bpp = GetBpp();
    if (bpp < bits)
        return false;
    if (bpp == bits && colorsImportant == 0)
        return true;

    const uint32_t w = GetWidth(), h = GetHeight();
    PxImage result;
    if (!StartResult(result, bits))
        return false;
    const uint32_t entries = result.m_head.clrUsed;
    if (palette) {
        result.SetPalette(palette, entries);
    } else {
        PxRGBQuad standard[256];
        StandardPalette(bits, standard);
        result.SetPalette(standard, entries);
    }
    const uint32_t searched = colorsImportant ? std::min(colorsImportant, entries) : entries;
    result.m_head.clrImportant = colorsImportant ? searched : 0;
    reinterpret_cast<PxBitmapInfoHeader *>(result.m_dib)->clrImportant = result.m_head.clrImportant;

    NearestFinder finder(result.GetPalette(), searched);
    if (IsIndexed()) {
        const PxRGBQuad *pal = GetPalette();
        uint8_t map[256] = {};
        for (uint32_t i = 0; i < m_head.clrUsed; ++i)
            map[i] = finder.Find(pal[i].red, pal[i].green, pal[i].blue);
        for (uint32_t y = 0; y < h; ++y) {
            const uint8_t *src = GetBits(y);
            uint8_t *dst = result.GetBits(y);
            for (uint32_t x = 0; x < w; ++x)
                WriteIndex(dst, x, bits, map[ReadIndex(src, x, bpp)]);
        }
        // The transparent entry moves with its colour.
        if (m_info.transIndex >= 0)
            result.m_info.transIndex =
                map[std::min<uint32_t>(static_cast<uint32_t>(m_info.transIndex), m_head.clrUsed - 1)];
    } else {
        NearestCache cache(finder, static_cast<uint64_t>(w) * h);
        for (uint32_t y = 0; y < h; ++y) {
            const uint8_t *src = GetBits(y);
            uint8_t *dst = result.GetBits(y);
            uint32_t lastRgb = 0xFFFFFFFFu;
            uint8_t lastIndex = 0;
            for (uint32_t x = 0; x < w; ++x, src += 3) {
                const uint32_t rgb = (uint32_t{src[2]} << 16) | (uint32_t{src[1]} << 8) | src[0];
                if (rgb != lastRgb) {
                    lastRgb = rgb;
                    lastIndex = cache.Find(rgb);
                }
                if (bits == 8)
                    dst[x] = lastIndex;
                else
                    WriteIndex(dst, x, bits, lastIndex);
            }
        }
        // A true-colour image marks its transparent colour in the background colour; the
        // palette image marks the entry that colour maps to.
        if (m_info.transIndex >= 0)
            result.m_info.transIndex =
                finder.Find(m_info.bkColor.red, m_info.bkColor.green, m_info.bkColor.blue);
    }
    Transfer(result);
    return true;
}
