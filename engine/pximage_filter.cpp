// Sharpening and overlays on PxImage: the unsharp mask, how much of each pixel drawing a
// picture covers, resampling that keeps uncovered colours out of covered ones, and one picture
// laid over another at an opacity.

#include "pximage.h"
#include "pxbits_p.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

// The interior loops of the blur are written for the vectorizer. On x86-64 GCC also builds
// them for the wider vector units and the program takes the widest its processor has. Not
// under the sanitizers: the choice is made by a resolver that runs while the program is being
// loaded, before their runtime is there to instrument it.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && \
    !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define PX_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define PX_VECTOR_CLONES
#endif
// The rows such a loop reads never overlap the row it writes.
#if defined(__clang__)
#define PX_INDEPENDENT_ITERATIONS _Pragma("clang loop vectorize(assume_safety)")
#elif defined(__GNUC__)
#define PX_INDEPENDENT_ITERATIONS _Pragma("GCC ivdep")
#else
#define PX_INDEPENDENT_ITERATIONS
#endif

namespace {

// --- the blur of the unsharp mask ------------------------------------------------------------
//
// A Gaussian of standard deviation r is applied as three passes of a Gaussian of r / sqrt(3)
// along each axis, each pass repeating the picture's edge pixels beyond it. Inside the picture
// the three passes are one fixed kernel (their convolution), run over whole rows in 16-bit
// fixed point: a row pass from the bytes into values in 1/128 of a level, then a column pass
// over those rows that ends in the sharpened bytes. Only the strips within the kernel's reach
// of an edge, where repeating the edge before each pass differs from repeating it once, take
// the three passes one by one, in floating point. Repeating the edge before every pass keeps
// the edges as the usual three-pass unsharp masks leave them.

constexpr double kMinRadius = 0.1;
constexpr double kMaxRadius = 50.0;
// Interior loops with a reach up to this are built for that reach, so their taps unroll.
constexpr int kFastReach = 8;
// Weights of the combined kernel below this add nothing either fixed-point form can hold.
constexpr double kNegligibleWeight = 1.0 / 4096;

struct BlurKernel {
    // One of the three passes: the weights at offsets -reach to reach.
    int reach = 0;
    std::vector<float> pass;
    // The three passes as one, at offsets -span to span (index = |offset|): the row pass's
    // weights of bytes in 1/256 (summing to 256), the column pass's weights in 1/65536
    // (summing to 65536).
    int span = 0;
    std::vector<uint16_t> rowWeights;
    std::vector<uint16_t> columnWeights;
};

std::vector<double> SampledGaussian(double sigma, int reach)
{
    std::vector<double> w(size_t(2 * reach + 1));
    double sum = 0;
    for (int i = -reach; i <= reach; ++i)
        sum += w[size_t(i + reach)] = std::exp(-double(i) * i / (2 * sigma * sigma));
    for (double &v : w)
        v /= sum;
    return w;
}

double Variance(const std::vector<double> &w)
{
    const int reach = int(w.size() / 2);
    double v = 0;
    for (int i = -reach; i <= reach; ++i)
        v += w[size_t(i + reach)] * i * i;
    return v;
}

std::vector<double> Convolved(const std::vector<double> &a, const std::vector<double> &b)
{
    std::vector<double> out(a.size() + b.size() - 1, 0.0);
    for (size_t i = 0; i < a.size(); ++i)
        for (size_t j = 0; j < b.size(); ++j)
            out[i + j] += a[i] * b[j];
    return out;
}

// Symmetric weights [0..span] quantized to sum to total, the centre taking what rounding the
// others left.
std::vector<uint16_t> FixedPoint(const std::vector<double> &half, int span, double total)
{
    std::vector<uint16_t> q(size_t(span + 1));
    double rest = total;
    for (int j = 1; j <= span; ++j) {
        q[size_t(j)] = uint16_t(std::lround(half[size_t(j)] * total));
        rest -= 2.0 * q[size_t(j)];
    }
    q[0] = uint16_t(std::clamp(rest, 0.0, 65535.0));
    return q;
}

BlurKernel MakeKernel(double radius)
{
    BlurKernel k;
    const double variance = radius * radius / 3;
    k.reach = std::max(1, int(std::ceil(3 * std::sqrt(variance))));
    // Sampling a narrow Gaussian loses much of its width: the standard deviation whose
    // sampled weights have the variance asked for.
    double lo = 1e-3, hi = 3 * radius + 1;
    for (int i = 0; i < 60; ++i) {
        const double mid = (lo + hi) / 2;
        (Variance(SampledGaussian(mid, k.reach)) < variance ? lo : hi) = mid;
    }
    const std::vector<double> once = SampledGaussian((lo + hi) / 2, k.reach);
    k.pass.assign(once.begin(), once.end());

    const std::vector<double> thrice = Convolved(Convolved(once, once), once);
    const int full = 3 * k.reach;
    int span = full;
    while (span > 1 && thrice[size_t(full + span)] < kNegligibleWeight)
        --span;
    std::vector<double> half(size_t(span + 1));
    double sum = thrice[size_t(full)];
    for (int j = 1; j <= span; ++j)
        sum += 2 * thrice[size_t(full + j)];
    for (int j = 0; j <= span; ++j)
        half[size_t(j)] = thrice[size_t(full + j)] / sum;
    k.span = span;
    k.rowWeights = FixedPoint(half, span, 256);
    k.columnWeights = FixedPoint(half, span, 65536);
    return k;
}

// Room for the three passes along a row, kept from row to row.
struct EdgeScratch {
    std::vector<float> cur, next;
};

// The three passes over positions [from, to) of a line of count values, each pass repeating
// the line's end values beyond its ends; at(i) gives the value at i. Afterwards scratch.cur[i -
// from] holds position i.
template <class At>
void ThreePasses(int64_t count, int64_t from, int64_t to, const BlurKernel &kernel, At at,
                 EdgeScratch &scratch)
{
    const int64_t e = kernel.reach;
    int64_t lo = std::max<int64_t>(0, from - 3 * e), hi = std::min(count, to + 3 * e);
    std::vector<float> &cur = scratch.cur, &next = scratch.next;
    cur.resize(size_t(hi - lo));
    for (int64_t i = lo; i < hi; ++i)
        cur[size_t(i - lo)] = at(i);
    // Each pass needs e values on either side of what it makes, or the line's end there.
    for (int64_t left = 2; left >= 0; --left) {
        const int64_t nlo = std::max<int64_t>(0, from - left * e);
        const int64_t nhi = std::min(count, to + left * e);
        next.resize(size_t(nhi - nlo));
        for (int64_t i = nlo; i < nhi; ++i) {
            float sum = 0;
            for (int64_t j = -e; j <= e; ++j)
                sum += kernel.pass[size_t(j + e)] *
                       cur[size_t(std::clamp<int64_t>(i + j, 0, count - 1) - lo)];
            next[size_t(i - nlo)] = sum;
        }
        cur.swap(next);
        lo = nlo;
        hi = nhi;
    }
}

uint16_t ToFixed(float level)
{
    return uint16_t(std::clamp(std::lround(level * 128.0f), 0L, 32640L));
}

// The three passes down rows [from, to) of count rows of n values in 1/128 of a level, at(y)
// giving row y; out[y - from] receives row y in the same unit.
template <class At>
void ThreePassRows(int64_t count, int64_t from, int64_t to, size_t n, const BlurKernel &kernel,
                   At at, std::vector<std::vector<uint16_t>> &out)
{
    const int64_t e = kernel.reach;
    int64_t lo = std::max<int64_t>(0, from - 3 * e), hi = std::min(count, to + 3 * e);
    std::vector<std::vector<float>> cur(size_t(hi - lo), std::vector<float>(n)), next;
    for (int64_t y = lo; y < hi; ++y) {
        const uint16_t *row = at(y);
        std::copy(row, row + n, cur[size_t(y - lo)].begin());
    }
    for (int64_t left = 2; left >= 0; --left) {
        const int64_t nlo = std::max<int64_t>(0, from - left * e);
        const int64_t nhi = std::min(count, to + left * e);
        next.assign(size_t(nhi - nlo), std::vector<float>(n, 0.0f));
        for (int64_t y = nlo; y < nhi; ++y) {
            float *sum = next[size_t(y - nlo)].data();
            for (int64_t j = -e; j <= e; ++j) {
                const float weight = kernel.pass[size_t(j + e)];
                const float *row = cur[size_t(std::clamp<int64_t>(y + j, 0, count - 1) - lo)].data();
                for (size_t i = 0; i < n; ++i)
                    sum[i] += weight * row[i];
            }
        }
        cur.swap(next);
        lo = nlo;
        hi = nhi;
    }
    out.assign(size_t(to - from), std::vector<uint16_t>(n));
    for (int64_t y = from; y < to; ++y)
        for (size_t i = 0; i < n; ++i)
            out[size_t(y - from)][i] = uint16_t(std::clamp(std::lround(cur[size_t(y - from)][i]), 0L, 32640L));
}

// The row pass inside the row: bytes [0, count) from in, whose neighbours up to 3 x Span
// samples away (the same channel of the pixels around) are there too.
template <int Span>
PX_VECTOR_CLONES void RowInterior(const uint8_t *__restrict in, uint16_t *__restrict out,
                                  size_t count, const uint16_t *weights)
{
    uint16_t k[Span + 1];
    for (int j = 0; j <= Span; ++j)
        k[j] = weights[j];
    // Sums of at most 255 x 256 fit 16 bits; wrapping on the way there cancels out.
    for (size_t i = 0; i < count; ++i) {
        uint16_t sum = uint16_t(k[0] * in[i]);
        for (int j = 1; j <= Span; ++j)
            sum = uint16_t(sum + k[j] * uint16_t(in[i + 3 * j] + in[i - 3 * j]));
        out[i] = uint16_t((sum + 1) >> 1);
    }
}

PX_VECTOR_CLONES void RowTapPair(uint16_t *__restrict sum, const uint8_t *__restrict a,
                                 const uint8_t *__restrict b, uint16_t weight, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        sum[i] = uint16_t(sum[i] + weight * uint16_t(a[i] + b[i]));
}

// The same for a reach beyond kFastReach, one offset at a time over the whole row.
void RowInteriorWide(const uint8_t *in, uint16_t *out, size_t count, const BlurKernel &kernel)
{
    const uint16_t centre = kernel.rowWeights[0];
    for (size_t i = 0; i < count; ++i)
        out[i] = uint16_t(centre * in[i]);
    for (int j = 1; j <= kernel.span; ++j)
        RowTapPair(out, in + 3 * j, in - 3 * j, kernel.rowWeights[size_t(j)], count);
    for (size_t i = 0; i < count; ++i)
        out[i] = uint16_t((out[i] + 1) >> 1);
}

// One stored row blurred along itself, in 1/128 of a level.
void BlurRow(const uint8_t *row, uint32_t width, const BlurKernel &kernel, uint16_t *out,
             EdgeScratch &scratch)
{
    const uint32_t span = uint32_t(kernel.span);
    const uint32_t interiorFrom = std::min(span, width);
    const uint32_t interiorTo = width > 2 * span ? width - span : interiorFrom;
    if (interiorTo > interiorFrom) {
        const size_t at = size_t(interiorFrom) * 3, count = size_t(interiorTo - interiorFrom) * 3;
        switch (kernel.span) {
        case 1: RowInterior<1>(row + at, out + at, count, kernel.rowWeights.data()); break;
        case 2: RowInterior<2>(row + at, out + at, count, kernel.rowWeights.data()); break;
        case 3: RowInterior<3>(row + at, out + at, count, kernel.rowWeights.data()); break;
        case 4: RowInterior<4>(row + at, out + at, count, kernel.rowWeights.data()); break;
        case 5: RowInterior<5>(row + at, out + at, count, kernel.rowWeights.data()); break;
        case 6: RowInterior<6>(row + at, out + at, count, kernel.rowWeights.data()); break;
        case 7: RowInterior<7>(row + at, out + at, count, kernel.rowWeights.data()); break;
        case 8: RowInterior<8>(row + at, out + at, count, kernel.rowWeights.data()); break;
        default: RowInteriorWide(row + at, out + at, count, kernel); break;
        }
    }
    const auto edges = {std::pair<uint32_t, uint32_t>{0, interiorFrom},
                        std::pair<uint32_t, uint32_t>{std::max(interiorTo, interiorFrom), width}};
    for (const auto &[from, to] : edges) {
        if (from >= to)
            continue;
        for (size_t c = 0; c < 3; ++c) {
            ThreePasses(width, from, to, kernel,
                        [&](int64_t x) { return float(row[size_t(x) * 3 + c]); }, scratch);
            for (uint32_t x = from; x < to; ++x)
                out[size_t(x) * 3 + c] = ToFixed(scratch.cur[x - from]);
        }
    }
}

struct Sharpening {
    // The amount x 10.24: (difference x 64 x scale) >> 16 is difference x amount / 100.
    uint16_t scale;
    int16_t threshold;
    // Added to a blurred value in 1/128 of a level before it is rounded to a level.
    uint16_t bias;
};

inline uint8_t Sharpened(uint8_t value, uint16_t blurred, const Sharpening &s)
{
    const int16_t v = value;
    const int16_t b = int16_t(uint16_t(blurred + s.bias) >> 7);
    const int16_t d = int16_t(v - b);
    const int16_t magnitude = d < 0 ? int16_t(-d) : d;
    const int16_t change = int16_t((uint32_t(uint16_t(magnitude << 6)) * s.scale) >> 16);
    const int16_t out = magnitude > s.threshold ? int16_t(d < 0 ? v - change : v + change) : v;
    return uint8_t(out < 0 ? 0 : (out > 255 ? 255 : out));
}

// The column pass inside the picture, ending in the sharpened row: rows[Span] is the row's
// own blurred row, rows[Span +- j] those j above and below.
template <int Span>
PX_VECTOR_CLONES void ColumnInterior(const uint16_t *const *rows, uint8_t *io, size_t count,
                                     const uint16_t *weights, Sharpening s)
{
    uint16_t w[Span + 1];
    const uint16_t *r[2 * Span + 1];
    for (int j = 0; j <= Span; ++j)
        w[j] = weights[j];
    for (int j = 0; j <= 2 * Span; ++j)
        r[j] = rows[j];
    // Two rows' values add up to at most 65280 before they are weighed.
    PX_INDEPENDENT_ITERATIONS
    for (size_t i = 0; i < count; ++i) {
        uint16_t sum = uint16_t((r[Span][i] * uint32_t(w[0])) >> 16);
        for (int j = 1; j <= Span; ++j)
            sum = uint16_t(sum + ((uint16_t(r[Span + j][i] + r[Span - j][i]) * uint32_t(w[j])) >> 16));
        io[i] = Sharpened(io[i], sum, s);
    }
}

PX_VECTOR_CLONES void ColumnTapPair(uint16_t *__restrict sum, const uint16_t *__restrict a,
                                    const uint16_t *__restrict b, uint32_t weight, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        sum[i] = uint16_t(sum[i] + ((uint16_t(a[i] + b[i]) * weight) >> 16));
}

PX_VECTOR_CLONES void SharpenRow(const uint16_t *__restrict blurred, uint8_t *__restrict io,
                                 size_t count, Sharpening s)
{
    for (size_t i = 0; i < count; ++i)
        io[i] = Sharpened(io[i], blurred[i], s);
}

void ColumnInteriorWide(const uint16_t *const *rows, uint8_t *io, size_t count,
                        const BlurKernel &kernel, Sharpening s, std::vector<uint16_t> &sum)
{
    const int span = kernel.span;
    const uint32_t centre = kernel.columnWeights[0];
    for (size_t i = 0; i < count; ++i)
        sum[i] = uint16_t((rows[span][i] * centre) >> 16);
    for (int j = 1; j <= span; ++j)
        ColumnTapPair(sum.data(), rows[span + j], rows[span - j], kernel.columnWeights[size_t(j)],
                      count);
    SharpenRow(sum.data(), io, count, s);
}

} // namespace

bool PxImage::UnsharpMask(double radius, int32_t amount, int32_t threshold)
{
    if (!m_dib || !(radius >= kMinRadius && radius <= kMaxRadius) || amount < 0 ||
        amount > 1000 || threshold < 0 || threshold > 255)
        return false;
    if (GetBpp() != 24 && !IncreaseBpp(24))
        return false;
    const uint32_t width = GetWidth(), height = GetHeight();
    if (width == 0 || height == 0 || amount == 0)
        return true;

    const BlurKernel kernel = MakeKernel(radius);
    const uint32_t span = uint32_t(kernel.span);
    const size_t n = size_t(width) * 3;
    // Each truncating multiplication of the column pass loses half a step on average.
    const Sharpening interior{uint16_t(std::lround(amount * 10.24)), int16_t(threshold),
                              uint16_t(64 + (span + 1) / 2)};
    Sharpening band = interior;
    band.bias = 64;

    // Rows in stored order: the blur does not care which way up they are.
    const uint32_t interiorFrom = std::min(span, height);
    const uint32_t interiorTo = height > 2 * span ? height - span : interiorFrom;
    struct Band {
        uint32_t from, to;
        std::vector<std::vector<uint16_t>> blurred;
    };
    Band bands[2] = {{0, interiorFrom, {}}, {std::max(interiorTo, interiorFrom), height, {}}};
    EdgeScratch scratch;
    // The edge bands first, from the rows as they are: the interior loop then sharpens rows
    // they read.
    for (Band &b : bands) {
        if (b.from >= b.to)
            continue;
        const int64_t e = kernel.reach;
        const uint32_t lo = uint32_t(std::max<int64_t>(0, int64_t(b.from) - 3 * e));
        const uint32_t hi = uint32_t(std::min<int64_t>(height, int64_t(b.to) + 3 * e));
        std::vector<std::vector<uint16_t>> along(hi - lo, std::vector<uint16_t>(n));
        for (uint32_t y = lo; y < hi; ++y)
            BlurRow(GetBits(y), width, kernel, along[y - lo].data(), scratch);
        ThreePassRows(height, b.from, b.to, n, kernel,
                      [&](int64_t y) { return along[size_t(y) - lo].data(); }, b.blurred);
    }

    if (interiorTo > interiorFrom) {
        // The rows blurred along themselves that the column pass of a row reads.
        const uint32_t ringSize = 2 * span + 1;
        std::vector<std::vector<uint16_t>> ring(ringSize, std::vector<uint16_t>(n));
        std::vector<uint16_t> sum(n);
        std::vector<const uint16_t *> rows(ringSize);
        for (uint32_t y = interiorFrom - span; y < interiorFrom + span; ++y)
            BlurRow(GetBits(y), width, kernel, ring[y % ringSize].data(), scratch);
        for (uint32_t y = interiorFrom; y < interiorTo; ++y) {
            const uint32_t below = y + span;
            BlurRow(GetBits(below), width, kernel, ring[below % ringSize].data(), scratch);
            for (uint32_t j = 0; j < ringSize; ++j)
                rows[j] = ring[(y - span + j) % ringSize].data();
            uint8_t *io = GetBits(y);
            switch (kernel.span) {
            case 1: ColumnInterior<1>(rows.data(), io, n, kernel.columnWeights.data(), interior); break;
            case 2: ColumnInterior<2>(rows.data(), io, n, kernel.columnWeights.data(), interior); break;
            case 3: ColumnInterior<3>(rows.data(), io, n, kernel.columnWeights.data(), interior); break;
            case 4: ColumnInterior<4>(rows.data(), io, n, kernel.columnWeights.data(), interior); break;
            case 5: ColumnInterior<5>(rows.data(), io, n, kernel.columnWeights.data(), interior); break;
            case 6: ColumnInterior<6>(rows.data(), io, n, kernel.columnWeights.data(), interior); break;
            case 7: ColumnInterior<7>(rows.data(), io, n, kernel.columnWeights.data(), interior); break;
            case 8: ColumnInterior<8>(rows.data(), io, n, kernel.columnWeights.data(), interior); break;
            default: ColumnInteriorWide(rows.data(), io, n, kernel, interior, sum); break;
            }
        }
    }
    for (const Band &b : bands)
        for (uint32_t y = b.from; y < b.to; ++y)
            SharpenRow(b.blurred[y - b.from].data(), GetBits(y), n, band);
    return true;
}

// --- coverage and overlays -----------------------------------------------------------------

bool PxImage::CoverageCopy(PxImage &result) const
{
    if (!m_dib)
        return false;
    const uint32_t w = GetWidth(), h = GetHeight(), bpp = GetBpp();
    PxImage copy;
    if (!copy.Create(w, h, 24) || (w && h && !copy.AlphaCreate())) {
        result.SetLastError(copy.GetLastError()[0] ? copy.GetLastError()
                                                   : "PxImage::Create can't allocate memory");
        return false;
    }
    // As Draw blends: the plane scaled by the alpha maximum, a transparent index or colour
    // not drawn at all, the palette's alpha on top of the plane.
    const uint32_t alphaScale = uint32_t{m_info.alphaMax} + 1;
    const bool indexed = IsIndexed();
    const bool paletteAlpha = indexed && m_info.alphaPaletteEnabled;
    const PxRGBQuad transColour = GetTransColor();
    const PxRGBQuad *palette = GetPalette();
    const uint32_t colours = GetNumColors();
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t *src = GetBits(y);
        uint8_t *dst = copy.GetBits(y);
        uint8_t *coverage = copy.m_alpha + size_t(y) * w;
        const uint8_t *plane = m_alpha ? m_alpha + size_t(y) * w : nullptr;
        for (uint32_t x = 0; x < w; ++x) {
            uint32_t a = (plane ? plane[x] : 255u) * alphaScale / 256;
            PxRGBQuad c;
            if (indexed) {
                const uint8_t index = ReadIndex(src, x, bpp);
                c = palette[std::min<uint32_t>(index, colours - 1)];
                if (int32_t(index) == m_info.transIndex)
                    a = 0;
                if (paletteAlpha)
                    a = a * (uint32_t{c.reserved} + 1) / 256;
            } else {
                c = PxRGBQuad{src[3 * x], src[3 * x + 1], src[3 * x + 2], 0};
                if (m_info.transIndex >= 0 && c.blue == transColour.blue &&
                    c.green == transColour.green && c.red == transColour.red)
                    a = 0;
            }
            dst[3 * x] = c.blue;
            dst[3 * x + 1] = c.green;
            dst[3 * x + 2] = c.red;
            coverage[x] = uint8_t(std::min<uint32_t>(a, 255));
        }
    }
    copy.SetXDPI(m_info.xDPI);
    copy.SetYDPI(m_info.yDPI);
    return result.Transfer(copy);
}

bool PxImage::ResampleCovered(int32_t newWidth, int32_t newHeight, int mode)
{
    if (!m_dib || GetBpp() != 24 || !m_alpha)
        return Resample(newWidth, newHeight, mode);
    if (newWidth <= 0 || newHeight <= 0)
        return false;
    const uint32_t w = GetWidth(), h = GetHeight();
    if (uint32_t(newWidth) == w && uint32_t(newHeight) == h)
        return true;
    // Colours weighted by their alpha, and the alpha as a grey picture, through one filter.
    PxImage colour, alpha;
    if (!colour.CreateForOverwrite(w, h, 24) || !alpha.CreateForOverwrite(w, h, 24)) {
        SetLastError("PxImage::Create can't allocate memory");
        return false;
    }
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t *src = GetBits(y);
        const uint8_t *a = m_alpha + size_t(y) * w;
        uint8_t *c = colour.GetBits(y);
        uint8_t *g = alpha.GetBits(y);
        for (uint32_t x = 0; x < w; ++x)
            for (int k = 0; k < 3; ++k) {
                c[3 * x + k] = uint8_t((src[3 * x + k] * a[x] + 127) / 255);
                g[3 * x + k] = a[x];
            }
    }
    if (!colour.Resample(newWidth, newHeight, mode) || !alpha.Resample(newWidth, newHeight, mode) ||
        !colour.AlphaCreate()) {
        SetLastError(colour.GetLastError()[0] ? colour.GetLastError() : alpha.GetLastError());
        return false;
    }
    for (uint32_t y = 0; y < uint32_t(newHeight); ++y) {
        uint8_t *c = colour.GetBits(y);
        const uint8_t *g = alpha.GetBits(y);
        uint8_t *a = colour.m_alpha + size_t(y) * uint32_t(newWidth);
        for (uint32_t x = 0; x < uint32_t(newWidth); ++x) {
            const uint32_t coverage = g[3 * x];
            a[x] = uint8_t(coverage);
            for (int k = 0; k < 3; ++k)
                c[3 * x + k] = coverage == 0 ? 0
                                             : uint8_t(std::min<uint32_t>(
                                                   255, (c[3 * x + k] * 255u + coverage / 2) / coverage));
        }
    }
    Info info = m_info;
    info.ghost = nullptr;
    info.selectionBox = PxRect{};
    info.lastValid = false;
    if (!Transfer(colour))
        return false;
    m_info = info;
    SetXDPI(info.xDPI);
    SetYDPI(info.yDPI);
    return true;
}

bool PxImage::Overlay(const PxImage &overlay, int64_t left, int64_t top, uint32_t opacity)
{
    if (!m_dib || !overlay.IsValid() || overlay.GetBpp() != 24 || opacity > 100 ||
        &overlay == this)
        return false;
    if (GetBpp() != 24 && !IncreaseBpp(24))
        return false;
    const int64_t w = GetWidth(), h = GetHeight();
    const int64_t ow = overlay.GetWidth(), oh = overlay.GetHeight();
    const int64_t x0 = std::max<int64_t>(0, left), x1 = std::min(w, left + ow);
    const int64_t y0 = std::max<int64_t>(0, top), y1 = std::min(h, top + oh);
    if (x0 >= x1 || y0 >= y1 || opacity == 0)
        return true;
    // Coverage in 1/25500: the overlay's alpha times the opacity.
    constexpr uint32_t kWhole = 255 * 100;
    const uint8_t *overlayAlpha = overlay.AlphaIsValid() ? overlay.AlphaGetPointer(0, 0) : nullptr;
    for (int64_t y = y0; y < y1; ++y) {
        const uint32_t row = uint32_t(h - 1 - y), overlayRow = uint32_t(oh - 1 - (y - top));
        uint8_t *dst = GetBits(row) + 3 * x0;
        const uint8_t *src = overlay.GetBits(overlayRow) + 3 * (x0 - left);
        const uint8_t *oa = overlayAlpha ? overlayAlpha + size_t(overlayRow) * size_t(ow) + (x0 - left)
                                         : nullptr;
        uint8_t *ba = m_alpha ? m_alpha + size_t(row) * size_t(w) + x0 : nullptr;
        for (int64_t x = 0; x < x1 - x0; ++x, dst += 3, src += 3) {
            const uint32_t a = (oa ? oa[x] : 255u) * opacity;
            if (a == 0)
                continue;
            if (!ba) {
                for (int k = 0; k < 3; ++k)
                    dst[k] = uint8_t((dst[k] * (kWhole - a) + src[k] * a + kWhole / 2) / kWhole);
                continue;
            }
            // What shows through this picture's own transparency counts as well: the
            // overlay over a pixel only partly there.
            const double over = double(a) / kWhole, under = ba[x] / 255.0 * (1 - over);
            const double covered = over + under;
            for (int k = 0; k < 3; ++k)
                dst[k] = uint8_t(std::lround((src[k] * over + dst[k] * under) / covered));
            ba[x] = uint8_t(std::lround(covered * 255));
        }
    }
    return true;
}
