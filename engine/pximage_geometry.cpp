// Size and orientation changes of PxImage: resampling in three modes, scaling into a box, the
// 90-degree turns, the turn by any angle, mirroring, flipping and turning upright by EXIF. Each operation fills a new image and moves it into
// place, so a failure or a stop leaves the image as it was.

#include "pximage.h"
#include "pxbits_p.h"
#include "pxexif_p.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

inline bool SameRgb(const PxRGBQuad &a, const PxRGBQuad &b)
{
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

// Sets the progress field as rows go by and tells when the caller raised the escape field.
class RowProgress {
public:
    RowProgress(PxImage::Info &info, uint32_t rows) : m_info(info), m_rows(rows ? rows : 1) {}

    bool At(uint32_t row)
    {
        if (m_info.escape != 0)
            return false;
        m_info.progress = static_cast<uint32_t>(uint64_t{row} * 100 / m_rows);
        return true;
    }

private:
    PxImage::Info &m_info;
    uint32_t m_rows;
};

// Makes result a width x height image of src's depth and format code carrying src's image
// information and palette. result and resultInfo are the same object seen from outside and from
// inside the class. On failure the reason goes into src's last error.
bool StartGeometryResult(PxImage &src, const PxImage::Info &srcInfo, PxImage &result,
                         PxImage::Info &resultInfo, uint64_t width, uint64_t height,
                         bool writesEveryPixel = false)
{
    constexpr uint64_t kMaxSide = std::numeric_limits<uint32_t>::max();
    if (width > kMaxSide || height > kMaxSide) {
        src.SetLastError("PXIMAGE_MAX_MEMORY exceeded");
        return false;
    }
    const auto w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
    if (!(writesEveryPixel ? result.CreateForOverwrite(w, h, src.GetBpp(), src.GetType())
                           : result.Create(w, h, src.GetBpp(), src.GetType()))) {
        src.SetLastError(result.GetLastError());
        return false;
    }
    resultInfo = srcInfo;
    resultInfo.ghost = nullptr;
    resultInfo.lastValid = false;
    // The selection is tied to the old geometry and is not carried over.
    resultInfo.selectionBox = PxRect{};
    result.SetXDPI(srcInfo.xDPI);
    result.SetYDPI(srcInfo.yDPI);
    if (src.IsIndexed())
        result.SetPalette(src.GetPalette(), src.GetNumColors());
    return true;
}

bool Deliver(PxImage &self, PxImage *destination, PxImage &result)
{
    PxImage &target = destination && destination != &self ? *destination : self;
    return target.Transfer(result);
}

// Source positions of nearest-pixel sampling: trunc(i * scale), kept inside the source even
// where single precision rounds up to its size.
std::vector<uint32_t> NearestPositions(uint32_t count, float scale, uint32_t limit)
{
    std::vector<uint32_t> pos(count);
    for (uint32_t i = 0; i < count; ++i) {
        const auto p = static_cast<uint64_t>(static_cast<float>(i) * scale);
        pos[i] = static_cast<uint32_t>(std::min<uint64_t>(p, limit - 1));
    }
    return pos;
}

// Maps colours to palette entries for the interpolating modes of indexed images. Returns the
// given preferred entry when it holds exactly that colour: palettes often hold a colour twice
// (a transparent entry beside an opaque one), and a plain nearest search would turn a uniform
// transparent area into the lowest opaque twin.
class IndexMapper {
public:
    explicit IndexMapper(PxImage &image) : m_image(image), m_palette(image.GetPalette())
    {
        std::fill(std::begin(m_keys), std::end(m_keys), kEmpty);
    }

    uint8_t Map(PxRGBQuad colour, uint8_t preferred)
    {
        if (SameRgb(m_palette[preferred], colour))
            return preferred;
        const uint32_t rgb = (uint32_t{colour.red} << 16) | (uint32_t{colour.green} << 8) |
                             colour.blue;
        const uint32_t slot = (rgb * 2654435761u) >> (32 - kBits);
        if (m_keys[slot] != rgb) {
            m_keys[slot] = rgb;
            m_values[slot] = m_image.GetNearestIndex(colour);
        }
        return m_values[slot];
    }

private:
    static constexpr int kBits = 12;
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu; // never a 24-bit colour
    PxImage &m_image;
    const PxRGBQuad *m_palette;
    uint32_t m_keys[1u << kBits];
    uint8_t m_values[1u << kBits] = {};
};

// --- resampling ------------------------------------------------------------------------------

struct Geometry {
    uint32_t srcWidth, srcHeight, width, height;
    float sx, sy;
};

bool ResampleNearest(const PxImage &src, PxImage &dst, const Geometry &g, RowProgress &progress)
{
    const uint32_t bpp = src.GetBpp();
    const std::vector<uint32_t> xs = NearestPositions(g.width, g.sx, g.srcWidth);
    const std::vector<uint32_t> ys = NearestPositions(g.height, g.sy, g.srcHeight);
    for (uint32_t y = 0; y < g.height; ++y) {
        if (!progress.At(y))
            return false;
        const uint8_t *s = src.GetBits(ys[y]);
        uint8_t *d = dst.GetBits(y);
        if (bpp == 24) {
            for (uint32_t x = 0; x < g.width; ++x, d += 3)
                std::memcpy(d, s + 3 * static_cast<size_t>(xs[x]), 3);
        } else if (bpp == 8) {
            for (uint32_t x = 0; x < g.width; ++x)
                d[x] = s[xs[x]];
        } else {
            // The index itself is copied: the palette is the same, and an equal colour found
            // by search could be a different entry.
            for (uint32_t x = 0; x < g.width; ++x)
                WriteIndex(d, x, bpp, ReadIndex(s, xs[x], bpp));
        }
    }
    return true;
}

struct LinearTap {
    uint32_t i0, i1;
    float d;
};

std::vector<LinearTap> LinearTaps(uint32_t count, float scale, uint32_t limit)
{
    std::vector<LinearTap> taps(count);
    for (uint32_t i = 0; i < count; ++i) {
        const float f = static_cast<float>(i) * scale;
        const auto ip = static_cast<uint64_t>(f);
        const uint32_t i0 = static_cast<uint32_t>(std::min<uint64_t>(ip, limit - 1));
        taps[i] = LinearTap{i0, std::min(i0 + 1, limit - 1), f - static_cast<float>(ip)};
    }
    return taps;
}

// Truncated like every channel of this mode; the order of the terms is part of the result.
inline uint8_t Bilinear(float dx, float dy, float c00, float c10, float c01, float c11)
{
    const float v = dx * (dy * c11 + (1 - dy) * c10) + (1 - dx) * (dy * c01 + (1 - dy) * c00);
    return static_cast<uint8_t>(std::clamp(static_cast<int>(v), 0, 255));
}

bool ResampleBilinear(const PxImage &src, PxImage &dst, const Geometry &g, RowProgress &progress)
{
    const uint32_t bpp = src.GetBpp();
    const std::vector<LinearTap> xt = LinearTaps(g.width, g.sx, g.srcWidth);
    const std::vector<LinearTap> yt = LinearTaps(g.height, g.sy, g.srcHeight);
    const PxRGBQuad *pal = src.GetPalette();
    std::optional<IndexMapper> mapper;
    if (pal)
        mapper.emplace(dst);
    for (uint32_t y = 0; y < g.height; ++y) {
        if (!progress.At(y))
            return false;
        const LinearTap &ty = yt[y];
        const uint8_t *r0 = src.GetBits(ty.i0);
        const uint8_t *r1 = src.GetBits(ty.i1);
        uint8_t *d = dst.GetBits(y);
        for (uint32_t x = 0; x < g.width; ++x) {
            const LinearTap &tx = xt[x];
            if (bpp == 24) {
                const uint8_t *p00 = r0 + 3 * static_cast<size_t>(tx.i0);
                const uint8_t *p10 = r0 + 3 * static_cast<size_t>(tx.i1);
                const uint8_t *p01 = r1 + 3 * static_cast<size_t>(tx.i0);
                const uint8_t *p11 = r1 + 3 * static_cast<size_t>(tx.i1);
                for (int c = 0; c < 3; ++c)
                    d[3 * static_cast<size_t>(x) + c] =
                        Bilinear(tx.d, ty.d, p00[c], p10[c], p01[c], p11[c]);
                continue;
            }
            const uint8_t i00 = ReadIndex(r0, tx.i0, bpp);
            const PxRGBQuad &c00 = pal[i00];
            const PxRGBQuad &c10 = pal[ReadIndex(r0, tx.i1, bpp)];
            const PxRGBQuad &c01 = pal[ReadIndex(r1, tx.i0, bpp)];
            const PxRGBQuad &c11 = pal[ReadIndex(r1, tx.i1, bpp)];
            PxRGBQuad c;
            c.blue = Bilinear(tx.d, ty.d, c00.blue, c10.blue, c01.blue, c11.blue);
            c.green = Bilinear(tx.d, ty.d, c00.green, c10.green, c01.green, c11.green);
            c.red = Bilinear(tx.d, ty.d, c00.red, c10.red, c01.red, c11.red);
            WriteIndex(d, x, bpp, mapper->Map(c, i00));
        }
    }
    return true;
}

// Cubic b-spline: smooth and never negative, so it blurs slightly but cannot ring or overshoot.
inline float BSpline(float t)
{
    t = std::fabs(t);
    if (t < 1)
        return (4 - 6 * t * t + 3 * t * t * t) / 6;
    if (t < 2) {
        const float u = 2 - t;
        return u * u * u / 6;
    }
    return 0;
}

struct CubicTap {
    uint32_t at[4];
    float w[4];
    uint32_t nearest;
};

std::vector<CubicTap> CubicTaps(uint32_t count, float scale, uint32_t limit)
{
    std::vector<CubicTap> taps(count);
    const auto clampTo = [limit](int64_t i) {
        return static_cast<uint32_t>(std::clamp<int64_t>(i, 0, int64_t{limit} - 1));
    };
    for (uint32_t i = 0; i < count; ++i) {
        const float f = static_cast<float>(i) * scale - 0.5f;
        const auto base = static_cast<int64_t>(std::floor(f));
        const float d = f - static_cast<float>(base);
        for (int m = 0; m < 4; ++m) {
            taps[i].at[m] = clampTo(base - 1 + m);
            taps[i].w[m] = BSpline(static_cast<float>(m - 1) - d);
        }
        taps[i].nearest = clampTo(d < 0.5f ? base : base + 1);
    }
    return taps;
}

bool ResampleBicubic(const PxImage &src, PxImage &dst, const Geometry &g, RowProgress &progress)
{
    const uint32_t bpp = src.GetBpp();
    const std::vector<CubicTap> xt = CubicTaps(g.width, g.sx, g.srcWidth);
    const std::vector<CubicTap> yt = CubicTaps(g.height, g.sy, g.srcHeight);
    const PxRGBQuad *pal = src.GetPalette();
    std::optional<IndexMapper> mapper;
    if (pal)
        mapper.emplace(dst);
    for (uint32_t y = 0; y < g.height; ++y) {
        if (!progress.At(y))
            return false;
        const CubicTap &ty = yt[y];
        const uint8_t *rows[4];
        for (int m = 0; m < 4; ++m)
            rows[m] = src.GetBits(ty.at[m]);
        uint8_t *d = dst.GetBits(y);
        for (uint32_t x = 0; x < g.width; ++x) {
            const CubicTap &tx = xt[x];
            float sum[3] = {0, 0, 0};
            for (int n = 0; n < 4; ++n) {
                for (int m = 0; m < 4; ++m) {
                    const float w = tx.w[m] * ty.w[n];
                    if (bpp == 24) {
                        const uint8_t *p = rows[n] + 3 * static_cast<size_t>(tx.at[m]);
                        for (int c = 0; c < 3; ++c)
                            sum[c] += w * p[c];
                    } else {
                        const PxRGBQuad &q = pal[ReadIndex(rows[n], tx.at[m], bpp)];
                        sum[0] += w * q.blue;
                        sum[1] += w * q.green;
                        sum[2] += w * q.red;
                    }
                }
            }
            uint8_t v[3];
            for (int c = 0; c < 3; ++c)
                v[c] = static_cast<uint8_t>(std::clamp(std::lround(sum[c]), 0L, 255L));
            if (bpp == 24) {
                std::memcpy(d + 3 * static_cast<size_t>(x), v, 3);
            } else {
                const uint8_t nearest = ReadIndex(src.GetBits(ty.nearest), tx.nearest, bpp);
                WriteIndex(d, x, bpp, mapper->Map(PxRGBQuad{v[0], v[1], v[2], 0}, nearest));
            }
        }
    }
    return true;
}

// The share, in thousandths, of a source pixel ending at `end` that lies beyond the boundary
// b: trunc((end - b) * 1000) in single precision. Held to 0..1000 so that boundaries drifting
// through the repeated single-precision additions can never give a negative weight.
inline uint32_t ShareBeyond(float end, float b)
{
    const float f = (end - b) * 1000.0f;
    if (!(f > 0))
        return 0;
    return f >= 1000.0f ? 1000u : static_cast<uint32_t>(f);
}

// Box filter for shrinking 24-bit images in both directions, in integers with weights in
// thousandths. A source pixel weighs 1000; one that a target boundary cuts gives the part
// beyond the boundary to the next target column (row), and one cut both ways gives each of its
// four parts (row share x column share) / 1000. Each target pixel is its weighted sum divided by
// trunc(sx * sy * 1000).
//
// The sums are gathered in an order that leaves every integer term as it is but touches each
// source byte once: whole rows (row share 1000) are first added up column by column into a
// band, which is spread over the target columns when the target row closes; only a row cut by a
// boundary is weighted pixel by pixel.
class BoxShrinker {
public:
    BoxShrinker(const PxImage &src, PxImage &dst, const Geometry &g)
        : m_src(src), m_dst(dst), m_g(g), m_cols(g.width),
          m_band(static_cast<size_t>(g.srcWidth) * 3, 0),
          m_cur(static_cast<size_t>(g.width) * 3, 0), m_next(static_cast<size_t>(g.width) * 3, 0)
    {
        const auto divisor = static_cast<uint64_t>(g.sx * g.sy * 1000.0f);
        m_divisor = std::max<uint64_t>(divisor, 1);
        m_reciprocal = 1.0 / static_cast<double>(m_divisor);
        PlanColumns();
    }

    bool Run(RowProgress &progress)
    {
        const uint32_t H = m_g.srcHeight;
        float boundary = m_g.sy;
        uint32_t r = 0;
        for (uint32_t y = 0; y < H && r < m_g.height; ++y) {
            if (!progress.At(y))
                return false;
            const uint8_t *row = m_src.GetBits(y);
            const float end = static_cast<float>(uint64_t{y} + 1);
            if (end < boundary) {
                AddToBand(row);
                continue;
            }
            const uint32_t beyond = ShareBeyond(end, boundary);
            if (beyond == 0) {
                AddToBand(row);
                FlushBand();
            } else {
                FlushBand();
                AddCutRow(row, 1000 - beyond, beyond);
            }
            WriteRow(r++, m_cur);
            std::swap(m_cur, m_next);
            std::fill(m_next.begin(), m_next.end(), 0);
            boundary += m_g.sy;
        }
        // A last target row that no boundary closed (the boundaries drifted past the source),
        // then whatever the drift left without any source at all.
        if (r < m_g.height) {
            FlushBand();
            WriteRow(r++, m_cur);
        }
        if (r < m_g.height)
            WriteRow(r++, m_next);
        std::fill(m_next.begin(), m_next.end(), 0);
        while (r < m_g.height)
            WriteRow(r++, m_next);
        return true;
    }

private:
    // Which source pixels make up each target column: an optional carried-in pixel (the part of
    // the previous column's closing pixel that lies beyond its boundary), a run of whole
    // pixels and an optional closing pixel cut by the column's own boundary.
    struct Column {
        uint32_t carryX = 0, carryW = 0;
        uint32_t first = 0, last = 0; // whole pixels first..last-1
        uint32_t closeX = 0, closeW = 0;
    };

    void PlanColumns()
    {
        const uint32_t W = m_g.srcWidth, nx = m_g.width;
        float boundary = m_g.sx;
        uint32_t k = 0, start = 0;
        for (uint32_t x = 0; x < W && k < nx; ++x) {
            const float end = static_cast<float>(uint64_t{x} + 1);
            if (end < boundary)
                continue;
            const uint32_t beyond = ShareBeyond(end, boundary);
            Column &col = m_cols[k];
            col.first = start;
            if (beyond == 0) {
                col.last = x + 1;
            } else {
                col.last = x;
                col.closeX = x;
                col.closeW = 1000 - beyond;
                if (k + 1 < nx) {
                    m_cols[k + 1].carryX = x;
                    m_cols[k + 1].carryW = beyond;
                }
            }
            start = x + 1;
            ++k;
            boundary += m_g.sx;
        }
        // The last column may end with the source instead of at a boundary.
        if (k < nx) {
            m_cols[k].first = start;
            m_cols[k].last = W;
        }
    }

    void AddToBand(const uint8_t *row)
    {
        uint16_t *band = m_band.data();
        const size_t n = m_band.size();
        for (size_t i = 0; i < n; ++i)
            band[i] = static_cast<uint16_t>(band[i] + row[i]);
        // 257 rows of 255 still fit 16 bits.
        if (++m_bandRows == 257)
            FlushBand();
    }

    void FlushBand()
    {
        if (m_bandRows == 0)
            return;
        const uint16_t *band = m_band.data();
        for (uint32_t k = 0; k < m_g.width; ++k) {
            const Column &col = m_cols[k];
            uint64_t whole[3] = {0, 0, 0};
            for (uint32_t x = col.first; x < col.last; ++x) {
                const uint16_t *p = band + 3 * static_cast<size_t>(x);
                whole[0] += p[0];
                whole[1] += p[1];
                whole[2] += p[2];
            }
            const uint16_t *carry = band + 3 * static_cast<size_t>(col.carryX);
            const uint16_t *close = band + 3 * static_cast<size_t>(col.closeX);
            uint64_t *sum = m_cur.data() + 3 * static_cast<size_t>(k);
            for (int c = 0; c < 3; ++c)
                sum[c] += 1000 * whole[c] + uint64_t{col.carryW} * carry[c] +
                          uint64_t{col.closeW} * close[c];
        }
        std::fill(m_band.begin(), m_band.end(), 0);
        m_bandRows = 0;
    }

    // A source row cut by a row boundary: rowCur of it belongs to the current target row and
    // rowNext to the next one; pixels also cut by a column boundary split into four parts.
    void AddCutRow(const uint8_t *row, uint32_t rowCur, uint32_t rowNext)
    {
        for (uint32_t k = 0; k < m_g.width; ++k) {
            const Column &col = m_cols[k];
            uint64_t whole[3] = {0, 0, 0};
            for (uint32_t x = col.first; x < col.last; ++x) {
                const uint8_t *p = row + 3 * static_cast<size_t>(x);
                whole[0] += p[0];
                whole[1] += p[1];
                whole[2] += p[2];
            }
            const uint8_t *carry = row + 3 * static_cast<size_t>(col.carryX);
            const uint8_t *close = row + 3 * static_cast<size_t>(col.closeX);
            const uint64_t carryCur = rowCur * col.carryW / 1000;
            const uint64_t carryNext = rowNext * col.carryW / 1000;
            const uint64_t closeCur = rowCur * col.closeW / 1000;
            const uint64_t closeNext = rowNext * col.closeW / 1000;
            uint64_t *cur = m_cur.data() + 3 * static_cast<size_t>(k);
            uint64_t *next = m_next.data() + 3 * static_cast<size_t>(k);
            for (int c = 0; c < 3; ++c) {
                cur[c] += rowCur * whole[c] + carryCur * carry[c] + closeCur * close[c];
                next[c] += rowNext * whole[c] + carryNext * carry[c] + closeNext * close[c];
            }
        }
    }

    // sum / divisor in integers. The sums stay far below 2^52, where the product with the
    // reciprocal is off by at most one; the correction makes it exact.
    uint8_t Divide(uint64_t sum) const
    {
        auto q = static_cast<uint64_t>(static_cast<double>(sum) * m_reciprocal);
        if (q * m_divisor > sum)
            --q;
        else if ((q + 1) * m_divisor <= sum)
            ++q;
        // Boundary drift can leave a target pixel a few thousandths heavier than the divisor.
        return static_cast<uint8_t>(std::min<uint64_t>(q, 255));
    }

    void WriteRow(uint32_t r, const std::vector<uint64_t> &sums)
    {
        uint8_t *d = m_dst.GetBits(r);
        const size_t n = static_cast<size_t>(m_g.width) * 3;
        for (size_t i = 0; i < n; ++i)
            d[i] = Divide(sums[i]);
    }

    const PxImage &m_src;
    PxImage &m_dst;
    const Geometry m_g;
    std::vector<Column> m_cols;
    std::vector<uint16_t> m_band;
    uint32_t m_bandRows = 0;
    std::vector<uint64_t> m_cur, m_next;
    uint64_t m_divisor = 1;
    double m_reciprocal = 1;
};

// When the source is a whole number k of target pixels wide and high, no boundary cuts a pixel:
// every weight is 1000 and the divisor k * k * 1000, so the box filter's integers come down to
// the plain mean of each k x k block, truncated. That mean needs a fraction of the work
// (halving a photo is the common case). The general filter's float boundaries are exact here
// as long as the sides stay below 2^24.
uint32_t WholeShrinkFactor(const Geometry &g)
{
    constexpr uint32_t kExactFloat = 1u << 24;
    if (g.srcWidth >= kExactFloat || g.srcHeight >= kExactFloat || g.sx != g.sy)
        return 0;
    const auto k = static_cast<uint32_t>(g.sx);
    if (k < 2 || static_cast<float>(k) != g.sx || g.width * k != g.srcWidth ||
        g.height * k != g.srcHeight)
        return 0;
    return k;
}

bool ShrinkByWholeFactor(const PxImage &src, PxImage &dst, uint32_t k, RowProgress &progress)
{
    const uint32_t nx = dst.GetWidth(), ny = dst.GetHeight();
    if (k == 2) {
        for (uint32_t r = 0; r < ny; ++r) {
            if (!progress.At(2 * r))
                return false;
            const uint8_t *a = src.GetBits(2 * r), *b = src.GetBits(2 * r + 1);
            uint8_t *d = dst.GetBits(r);
            for (uint32_t i = 0; i < nx * 3; i += 3, a += 6, b += 6)
                for (int c = 0; c < 3; ++c)
                    d[i + c] = static_cast<uint8_t>((a[c] + a[c + 3] + b[c] + b[c + 3]) >> 2);
        }
        return true;
    }
    const uint32_t area = k * k;
    std::vector<uint32_t> sums(static_cast<size_t>(nx) * 3);
    for (uint32_t r = 0; r < ny; ++r) {
        std::fill(sums.begin(), sums.end(), 0);
        for (uint32_t j = 0; j < k; ++j) {
            if (!progress.At(r * k + j))
                return false;
            const uint8_t *row = src.GetBits(r * k + j);
            for (uint32_t x = 0; x < nx; ++x)
                for (uint32_t i = 0; i < k; ++i)
                    for (int c = 0; c < 3; ++c)
                        sums[3 * x + c] += row[3 * (x * k + i) + c];
        }
        uint8_t *d = dst.GetBits(r);
        for (size_t i = 0; i < sums.size(); ++i)
            d[i] = static_cast<uint8_t>(sums[i] / area);
    }
    return true;
}

// --- quarter turns ---------------------------------------------------------------------------

// Pixel-for-pixel square tiles keep both the rows read and the rows written in the first-level
// cache while a column of one becomes a row of the other.
constexpr uint32_t kTurnTile = 64;

// Turns a w x h raster of whole-byte pixels (bytesPerPixel 1 or 3) into an h x w raster.
// Left: target (x, y) takes source (y, h - 1 - x). Right: target (x, y) takes source
// (w - 1 - y, x).
template <int BytesPerPixel>
bool TurnBytes(const uint8_t *src, size_t srcStride, uint8_t *dst, size_t dstStride, uint32_t w,
               uint32_t h, bool left, RowProgress *progress)
{
    const uint32_t tw = h, th = w;
    const ptrdiff_t step = left ? -static_cast<ptrdiff_t>(srcStride)
                                : static_cast<ptrdiff_t>(srcStride);
    for (uint32_t ty0 = 0; ty0 < th; ty0 += kTurnTile) {
        if (progress && !progress->At(ty0))
            return false;
        const uint32_t ty1 = std::min(th, ty0 + kTurnTile);
        for (uint32_t tx0 = 0; tx0 < tw; tx0 += kTurnTile) {
            const uint32_t tx1 = std::min(tw, tx0 + kTurnTile);
            for (uint32_t ty = ty0; ty < ty1; ++ty) {
                uint8_t *d = dst + ty * dstStride + static_cast<size_t>(tx0) * BytesPerPixel;
                const uint32_t sx = left ? ty : w - 1 - ty;
                const uint32_t sy = left ? h - 1 - tx0 : tx0;
                const uint8_t *s = src + sy * srcStride + static_cast<size_t>(sx) * BytesPerPixel;
                for (uint32_t tx = tx0; tx < tx1; ++tx, d += BytesPerPixel, s += step)
                    std::memcpy(d, s, BytesPerPixel);
            }
        }
    }
    return true;
}

// The same turn for packed 1- and 4-bit rows, bit field by bit field.
bool TurnPacked(const PxImage &src, PxImage &dst, bool left, RowProgress &progress)
{
    const uint32_t w = src.GetWidth(), h = src.GetHeight(), bpp = src.GetBpp();
    const uint32_t tw = h, th = w;
    const uint8_t *sbits = src.GetBits();
    const size_t sstride = src.GetEffWidth();
    for (uint32_t ty0 = 0; ty0 < th; ty0 += kTurnTile) {
        if (!progress.At(ty0))
            return false;
        const uint32_t ty1 = std::min(th, ty0 + kTurnTile);
        for (uint32_t tx0 = 0; tx0 < tw; tx0 += kTurnTile) {
            const uint32_t tx1 = std::min(tw, tx0 + kTurnTile);
            for (uint32_t ty = ty0; ty < ty1; ++ty) {
                uint8_t *d = dst.GetBits(ty);
                const uint32_t sx = left ? ty : w - 1 - ty;
                for (uint32_t tx = tx0; tx < tx1; ++tx) {
                    const uint32_t sy = left ? h - 1 - tx : tx;
                    WriteIndex(d, tx, bpp, ReadIndex(sbits + sy * sstride, sx, bpp));
                }
            }
        }
    }
    return true;
}

// Fills result, already made h x w, with src turned a quarter left or right, alpha plane
// included.
bool TurnQuarter(PxImage &src, PxImage &result, bool left, RowProgress &progress)
{
    const uint32_t w = src.GetWidth(), h = src.GetHeight();
    bool done;
    switch (src.GetBpp()) {
    case 24:
        done = TurnBytes<3>(src.GetBits(), src.GetEffWidth(), result.GetBits(),
                            result.GetEffWidth(), w, h, left, &progress);
        break;
    case 8:
        done = TurnBytes<1>(src.GetBits(), src.GetEffWidth(), result.GetBits(),
                            result.GetEffWidth(), w, h, left, &progress);
        break;
    default:
        done = TurnPacked(src, result, left, progress);
        break;
    }
    if (!done)
        return false;
    if (src.AlphaIsValid() && w && h) {
        if (!result.AlphaCreate()) {
            src.SetLastError("PxImage::Create can't allocate memory");
            return false;
        }
        TurnBytes<1>(src.AlphaGetPointer(), w, result.AlphaGetPointer(), h, w, h, left, nullptr);
    }
    return true;
}

} // namespace

// --- resampling --------------------------------------------------------------------------------

bool PxImage::Resample(int32_t newWidth, int32_t newHeight, int mode, PxImage *destination)
{
    if (!m_dib || newWidth <= 0 || newHeight <= 0)
        return false;
    if (destination == this)
        destination = nullptr;
    const uint32_t W = GetWidth(), H = GetHeight();
    const auto nx = static_cast<uint32_t>(newWidth), ny = static_cast<uint32_t>(newHeight);
    if (nx == W && ny == H) {
        if (!destination)
            return true;
        destination->Copy(*this);
        return destination->IsValid();
    }
    // Nothing to sample from.
    if (W == 0 || H == 0)
        return false;

    const Geometry g{W, H, nx, ny, static_cast<float>(W) / static_cast<float>(nx),
                     static_cast<float>(H) / static_cast<float>(ny)};
    PxImage result;
    // Every mode writes all three bytes of every pixel of a true-colour result.
    if (!StartGeometryResult(*this, m_info, result, result.m_info, nx, ny, GetBpp() == 24))
        return false;
    bool done = false;
    if (mode == 1) {
        RowProgress progress(m_info, ny);
        done = ResampleNearest(*this, result, g, progress);
    } else if (mode == 2) {
        RowProgress progress(m_info, ny);
        done = ResampleBicubic(*this, result, g, progress);
    } else if (nx < W && ny < H && GetBpp() == 24) {
        // The box filter walks the source, so its progress counts source rows.
        RowProgress progress(m_info, H);
        if (const uint32_t k = WholeShrinkFactor(g))
            done = ShrinkByWholeFactor(*this, result, k, progress);
        else
            done = BoxShrinker(*this, result, g).Run(progress);
    } else {
        RowProgress progress(m_info, ny);
        done = ResampleBilinear(*this, result, g, progress);
    }
    if (!done)
        return false;

    if (m_alpha) {
        if (!result.AlphaCreate()) {
            SetLastError("PxImage::Create can't allocate memory");
            return false;
        }
        const std::vector<uint32_t> xs = NearestPositions(nx, g.sx, W);
        const std::vector<uint32_t> ys = NearestPositions(ny, g.sy, H);
        for (uint32_t y = 0; y < ny; ++y) {
            const uint8_t *s = m_alpha + static_cast<size_t>(ys[y]) * W;
            uint8_t *d = result.m_alpha + static_cast<size_t>(y) * nx;
            for (uint32_t x = 0; x < nx; ++x)
                d[x] = s[xs[x]];
        }
    }
    return Deliver(*this, destination, result);
}

bool PxImage::ResampleToFit(uint32_t boxWidth, uint32_t boxHeight, int mode)
{
    if (!m_dib)
        return false;
    const uint32_t W = GetWidth(), H = GetHeight();
    double nw = W, nh = H;
    if (boxWidth != 0 && boxHeight != 0) {
        const double f = std::max(static_cast<double>(W) / boxWidth,
                                  static_cast<double>(H) / boxHeight);
        if (f > 0) {
            nw = std::trunc(W * (1 / f));
            nh = std::trunc(H * (1 / f));
        }
    }
    // A side that would shrink to nothing keeps one pixel, so a long thin image still fits
    // the box instead of making the whole scaling fail.
    constexpr double kMaxSide = std::numeric_limits<int32_t>::max();
    const auto side = [&](double v) { return static_cast<int32_t>(std::clamp(v, 1.0, kMaxSide)); };
    return Resample(side(nw), side(nh), mode);
}

// --- quarter turns -------------------------------------------------------------------------------

bool PxImage::RotateLeft(PxImage *destination)
{
    if (!m_dib)
        return false;
    PxImage result;
    if (!StartGeometryResult(*this, m_info, result, result.m_info, GetHeight(), GetWidth()))
        return false;
    RowProgress progress(m_info, GetWidth());
    if (!TurnQuarter(*this, result, true, progress))
        return false;
    return Deliver(*this, destination, result);
}

bool PxImage::RotateRight(PxImage *destination)
{
    if (!m_dib)
        return false;
    PxImage result;
    if (!StartGeometryResult(*this, m_info, result, result.m_info, GetHeight(), GetWidth()))
        return false;
    RowProgress progress(m_info, GetWidth());
    if (!TurnQuarter(*this, result, false, progress))
        return false;
    return Deliver(*this, destination, result);
}

// --- any angle -----------------------------------------------------------------------------------

bool PxImage::Rotate(float angle, PxImage *destination)
{
    if (!m_dib || !std::isfinite(angle))
        return false;
    if (destination == this)
        destination = nullptr;
    const uint32_t W = GetWidth(), H = GetHeight(), bpp = GetBpp();

    // The factor just under 1/90 keeps a quarter turn a hair short of pi/2, so its cosine
    // stays positive and the box of a 90-degree turn is exactly (H + 2) x (W + 2).
    const double radians = -static_cast<double>(angle) * (kPi / 2) * 0.011111111;
    const auto c = static_cast<float>(std::cos(radians));
    const auto s = static_cast<float>(std::sin(radians));

    int64_t minX = 0, maxX = 0, minY = 0, maxY = 0;
    const float corners[3][2] = {{static_cast<float>(W), 0},
                                 {0, static_cast<float>(H)},
                                 {static_cast<float>(W) - 1, static_cast<float>(H)}};
    for (const auto &p : corners) {
        const float tx = p[0] * c - p[1] * s;
        const float ty = p[0] * s + p[1] * c;
        const auto x = static_cast<int64_t>(std::floor(tx));
        const auto y = static_cast<int64_t>(std::floor(ty));
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
    const auto newW = static_cast<uint64_t>(maxX - minX + 2);
    const auto newH = static_cast<uint64_t>(maxY - minY + 2);

    PxImage result;
    if (!StartGeometryResult(*this, m_info, result, result.m_info, newW, newH))
        return false;
    const auto nw = static_cast<uint32_t>(newW), nh = static_cast<uint32_t>(newH);
    if (m_alpha) {
        if (!result.AlphaCreate()) {
            SetLastError("PxImage::Create can't allocate memory");
            return false;
        }
        std::memset(result.m_alpha, 0, static_cast<size_t>(nw) * nh);
    }

    const bool indexed = IsIndexed();
    const uint8_t outsideIndex = GetPixelIndex(-1, -1);
    const PxRGBQuad outside = GetPixelColor(-1, -1, false);
    const size_t stride = m_effWidth;
    const uint8_t *bits = GetBits();
    RowProgress progress(m_info, nh);
    for (uint32_t j = 0; j < nh; ++j) {
        if (!progress.At(j))
            return false;
        const auto y = static_cast<float>(minY + j);
        uint8_t *d = result.GetBits(j);
        uint8_t *alpha = result.m_alpha ? result.m_alpha + static_cast<size_t>(j) * nw : nullptr;
        for (uint32_t i = 0; i < nw; ++i) {
            const auto x = static_cast<float>(minX + i);
            const auto u = static_cast<int64_t>(x * c + y * s - 0.5f);
            const auto v = static_cast<int64_t>(y * c - x * s - 0.5f);
            const bool inside = u >= 0 && v >= 0 && u < W && v < H;
            if (indexed) {
                const uint8_t index =
                    inside ? ReadIndex(bits + static_cast<size_t>(v) * stride,
                                       static_cast<uint32_t>(u), bpp)
                           : outsideIndex;
                WriteIndex(d, i, bpp, index);
            } else {
                uint8_t *p = d + 3 * static_cast<size_t>(i);
                if (inside) {
                    const uint8_t *q = bits + static_cast<size_t>(v) * stride;
                    std::memcpy(p, q + 3 * static_cast<size_t>(u), 3);
                } else {
                    p[0] = outside.blue;
                    p[1] = outside.green;
                    p[2] = outside.red;
                }
            }
            if (alpha && inside)
                alpha[i] = m_alpha[static_cast<size_t>(v) * W + static_cast<size_t>(u)];
        }
    }
    return Deliver(*this, destination, result);
}

// --- mirror, flip and upright ---------------------------------------------------------------------

bool PxImage::Mirror(PxImage *destination)
{
    if (!m_dib)
        return false;
    const uint32_t w = GetWidth(), h = GetHeight(), bpp = GetBpp();
    PxImage result;
    if (!StartGeometryResult(*this, m_info, result, result.m_info, w, h))
        return false;
    RowProgress progress(m_info, h);
    for (uint32_t y = 0; y < h; ++y) {
        if (!progress.At(y))
            return false;
        const uint8_t *src = GetBits(y);
        uint8_t *dst = result.GetBits(y);
        if (bpp == 24) {
            for (uint32_t x = 0; x < w; ++x)
                std::memcpy(dst + 3 * static_cast<size_t>(x),
                            src + 3 * static_cast<size_t>(w - 1 - x), 3);
        } else {
            for (uint32_t x = 0; x < w; ++x)
                WriteIndex(dst, x, bpp, ReadIndex(src, w - 1 - x, bpp));
        }
    }
    if (AlphaIsValid()) {
        if (!result.AlphaCreate()) {
            SetLastError("PxImage::Create can't allocate memory");
            return false;
        }
        for (uint32_t y = 0; y < h; ++y)
            std::reverse_copy(AlphaGetPointer(0, static_cast<int32_t>(y)),
                              AlphaGetPointer(0, static_cast<int32_t>(y)) + w,
                              result.AlphaGetPointer(0, static_cast<int32_t>(y)));
    }
    return Deliver(*this, destination, result);
}

bool PxImage::Flip(PxImage *destination)
{
    if (!m_dib)
        return false;
    const uint32_t w = GetWidth(), h = GetHeight();
    PxImage result;
    if (!StartGeometryResult(*this, m_info, result, result.m_info, w, h))
        return false;
    RowProgress progress(m_info, h);
    for (uint32_t y = 0; y < h; ++y) {
        if (!progress.At(y))
            return false;
        std::memcpy(result.GetBits(h - 1 - y), GetBits(y), GetEffWidth());
    }
    if (AlphaIsValid()) {
        if (!result.AlphaCreate()) {
            SetLastError("PxImage::Create can't allocate memory");
            return false;
        }
        for (uint32_t y = 0; y < h; ++y)
            std::memcpy(result.AlphaGetPointer(0, static_cast<int32_t>(h - 1 - y)),
                        AlphaGetPointer(0, static_cast<int32_t>(y)), w);
    }
    return Deliver(*this, destination, result);
}

// --- cropping ------------------------------------------------------------------------------------

bool PxImage::Crop(uint32_t left, uint32_t top, uint32_t width, uint32_t height,
                   PxImage *destination)
{
    if (!m_dib || width == 0 || height == 0)
        return false;
    const uint32_t W = GetWidth(), H = GetHeight(), bpp = GetBpp();
    if (uint64_t{left} + width > W || uint64_t{top} + height > H)
        return false;
    PxImage result;
    // Whole-byte pixels are copied row by row, so every pixel byte is written; packed ones
    // are written bit field by bit field into cleared rows.
    if (!StartGeometryResult(*this, m_info, result, result.m_info, width, height, bpp >= 8))
        return false;
    // Rows are stored bottom-up: the rectangle's last row is the result's first.
    const uint32_t firstRow = H - top - height;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t *src = GetBits(firstRow + y);
        uint8_t *dst = result.GetBits(y);
        if (bpp >= 8) {
            const size_t bytes = bpp / 8;
            std::memcpy(dst, src + bytes * left, bytes * width);
        } else {
            for (uint32_t x = 0; x < width; ++x)
                WriteIndex(dst, x, bpp, ReadIndex(src, left + x, bpp));
        }
    }
    if (m_alpha) {
        if (!result.AlphaCreate()) {
            SetLastError("PxImage::Create can't allocate memory");
            return false;
        }
        for (uint32_t y = 0; y < height; ++y)
            std::memcpy(result.m_alpha + static_cast<size_t>(y) * width,
                        m_alpha + static_cast<size_t>(firstRow + y) * W + left, width);
    }
    return Deliver(*this, destination, result);
}

bool PxImage::AutoOrient()
{
    const uint32_t orientation = m_info.exifOrientation;
    if (!m_dib)
        return false;
    if (orientation < 2 || orientation > 8)
        return true;
    // Where the stored picture's first row and column belong: 2 top/right, 3 bottom/right,
    // 4 bottom/left, 5 left/top, 6 right/top, 7 right/bottom, 8 left/bottom. The turn goes
    // into a separate image, so a failure half-way leaves this one as it was.
    PxImage upright;
    bool ok = false;
    switch (orientation) {
    case 2: ok = Mirror(&upright); break;
    case 3: ok = Mirror(&upright) && upright.Flip(); break;
    case 4: ok = Flip(&upright); break;
    case 5: ok = RotateRight(&upright) && upright.Mirror(); break;
    case 6: ok = RotateRight(&upright); break;
    case 7: ok = RotateRight(&upright) && upright.Flip(); break;
    case 8: ok = RotateLeft(&upright); break;
    }
    if (!ok) {
        if (upright.GetLastError()[0])
            SetLastError(upright.GetLastError());
        return false;
    }
    Transfer(upright);
    TakeAsUpright();
    return true;
}

void PxImage::TakeAsUpright()
{
    m_info.exifOrientation = 1;
    if (m_info.metadata && !m_info.metadata->exif.empty() &&
        pxexif::ReadOrientation(reinterpret_cast<const uint8_t *>(m_info.metadata->exif.data()),
                                m_info.metadata->exif.size()) > 1) {
        auto metadata = std::make_shared<PxMetadata>(*m_info.metadata);
        pxexif::SetOrientation(metadata->exif, 1);
        m_info.metadata = std::move(metadata);
    }
}
