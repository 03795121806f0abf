#include "video1encoder.h"

#include <algorithm>
#include <array>
#include <thread>

#include "core/cores.h"

// Bit stream of one block, as Video 1 decoders read it (all values little-endian):
// - two flag bytes A, B with B >= 0x80 and B not in 0x84..0x87: the block is one colour,
//   (B << 8 | A) with its top bit as the marker;
// - B < 0x80: 16 flag bits, one per pixel (bit 0 = bottom-left, rows upwards, left to right),
//   then colours; when the first colour has its top bit set there are eight colours, two per
//   2 x 2 quarter in the order bottom-left, bottom-right, top-left, top-right; otherwise two.
//   A set bit picks the first colour of its pair. Flags of 0 would read as the end of the
//   frame, and B in 0x84..0x87 as a skip, so neither is ever written.
// Blocks follow the picture upwards, left to right, 4 rows at a time, each block's rows read
// upwards too. The grid is aligned to the picture's top-left corner: the last columns and the
// bottom rows that do not fill a whole block are outside it.

namespace {

struct Rgb5 {
    int r = 0, g = 0, b = 0;
};

inline int Distance(const Rgb5 &a, const Rgb5 &b)
{
    const int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return dr * dr + dg * dg + db * db;
}

inline uint16_t Pack(const Rgb5 &c)
{
    return static_cast<uint16_t>((c.r << 10) | (c.g << 5) | c.b);
}

struct FiveBitTable {
    std::array<uint8_t, 256> v{};
    FiveBitTable()
    {
        for (int i = 0; i < 256; ++i)
            v[static_cast<size_t>(i)] = static_cast<uint8_t>((i * 31 + 127) / 255);
    }
};
const FiveBitTable kFive;

Rgb5 Mean(const Rgb5 *const *p, int n)
{
    int r = 0, g = 0, b = 0;
    for (int i = 0; i < n; ++i) {
        r += p[i]->r;
        g += p[i]->g;
        b += p[i]->b;
    }
    return {(2 * r + n) / (2 * n), (2 * g + n) / (2 * n), (2 * b + n) / (2 * n)};
}

// Two colours for n pixels (n <= 16): a split at the middle of the widest channel, refined by
// two rounds of nearest-colour assignment. Bit i of mask is set when pixel i takes colour a.
// Returns the squared error that remains.
int SplitInTwo(const Rgb5 *const *p, int n, Rgb5 &a, Rgb5 &b, uint32_t &mask)
{
    Rgb5 lo = *p[0], hi = *p[0];
    for (int i = 1; i < n; ++i) {
        lo = {std::min(lo.r, p[i]->r), std::min(lo.g, p[i]->g), std::min(lo.b, p[i]->b)};
        hi = {std::max(hi.r, p[i]->r), std::max(hi.g, p[i]->g), std::max(hi.b, p[i]->b)};
    }
    const int rr = hi.r - lo.r, rg = hi.g - lo.g, rb = hi.b - lo.b;
    if (rr == 0 && rg == 0 && rb == 0) {
        a = b = *p[0];
        mask = (1u << n) - 1;
        return 0;
    }
    int Rgb5::*axis = &Rgb5::g;
    if (rr > rg && rr >= rb)
        axis = &Rgb5::r;
    else if (rb > rg && rb > rr)
        axis = &Rgb5::b;
    const int middle = lo.*axis + hi.*axis;
    mask = 0;
    for (int i = 0; i < n; ++i)
        if (2 * (p[i]->*axis) > middle)
            mask |= 1u << i;

    const Rgb5 *groupA[16], *groupB[16];
    for (int round = 0; round < 3; ++round) {
        int na = 0, nb = 0;
        for (int i = 0; i < n; ++i) {
            if (mask & (1u << i))
                groupA[na++] = p[i];
            else
                groupB[nb++] = p[i];
        }
        if (na > 0)
            a = Mean(groupA, na);
        if (nb > 0)
            b = Mean(groupB, nb);
        if (na == 0)
            a = b;
        if (nb == 0)
            b = a;
        if (round == 2)
            break;
        uint32_t next = 0;
        for (int i = 0; i < n; ++i)
            if (Distance(*p[i], a) < Distance(*p[i], b))
                next |= 1u << i;
        if (next == mask)
            break;
        mask = next;
    }
    int error = 0;
    for (int i = 0; i < n; ++i)
        error += (mask & (1u << i)) ? Distance(*p[i], a) : Distance(*p[i], b);
    return error;
}

inline void Put16(std::vector<uint8_t> &out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

void PutTwoColours(std::vector<uint8_t> &out, uint32_t mask, Rgb5 a, Rgb5 b)
{
    if (mask & 0x8000) {
        std::swap(a, b);
        mask ^= 0xFFFF;
    }
    if (mask == 0) {
        a = b;
        mask = 1;
    }
    Put16(out, mask);
    Put16(out, Pack(a));
    Put16(out, Pack(b));
}

class BlockCoder {
public:
    BlockCoder(int threshold) : m_threshold(threshold) {}

    void Code(const Rgb5 (&px)[16], std::vector<uint8_t> &out) const
    {
        const Rgb5 *all[16];
        for (int i = 0; i < 16; ++i)
            all[i] = &px[i];
        const Rgb5 mean = Mean(all, 16);
        int flatError = 0;
        for (const Rgb5 &c : px)
            flatError += Distance(c, mean);
        if (flatError <= m_threshold) {
            const uint32_t code = 0x8000u | Pack(mean);
            if ((code >> 8) < 0x84 || (code >> 8) > 0x87)
                Put16(out, code);
            else
                PutTwoColours(out, 1, mean, mean);
            return;
        }

        Rgb5 a, b;
        uint32_t mask = 0;
        if (SplitInTwo(all, 16, a, b, mask) <= m_threshold) {
            PutTwoColours(out, mask, a, b);
            return;
        }

        Rgb5 colours[8];
        mask = 0;
        for (int quarter = 0; quarter < 4; ++quarter) {
            const int x0 = 2 * (quarter & 1), y0 = 2 * (quarter >> 1);
            const int at[4] = {4 * y0 + x0, 4 * y0 + x0 + 1, 4 * (y0 + 1) + x0,
                               4 * (y0 + 1) + x0 + 1};
            const Rgb5 *four[4] = {&px[at[0]], &px[at[1]], &px[at[2]], &px[at[3]]};
            uint32_t m = 0;
            SplitInTwo(four, 4, colours[2 * quarter], colours[2 * quarter + 1], m);
            for (int k = 0; k < 4; ++k)
                if (m & (1u << k))
                    mask |= 1u << at[k];
        }
        // The top-right pixel's bit must stay clear and the flags must not be 0: swapping the
        // pair of a quarter inverts that quarter's bits.
        constexpr uint32_t kQuarterBits[4] = {0x0033, 0x00CC, 0x3300, 0xCC00};
        if (mask & 0x8000) {
            std::swap(colours[6], colours[7]);
            mask ^= kQuarterBits[3];
        }
        if (mask == 0) {
            std::swap(colours[0], colours[1]);
            mask ^= kQuarterBits[0];
        }
        Put16(out, mask);
        Put16(out, 0x8000u | Pack(colours[0]));
        for (int i = 1; i < 8; ++i)
            Put16(out, Pack(colours[i]));
    }

private:
    int m_threshold;
};

struct Frame {
    const uint8_t *bits;
    size_t stride;
    int blocksWide, blocksHigh;
    int baseRow; // stored row (counted from the bottom) where the grid starts
};

// Codes block rows [first, last), counted upwards from the bottom of the grid.
void CodeRows(const Frame &f, const BlockCoder &coder, int first, int last,
              std::vector<uint8_t> &out)
{
    Rgb5 px[16];
    for (int by = first; by < last; ++by) {
        const int bottom = f.baseRow + 4 * by;
        const uint8_t *rows[4];
        for (int y = 0; y < 4; ++y)
            rows[y] = f.bits + static_cast<size_t>(bottom + y) * f.stride;
        for (int bx = 0; bx < f.blocksWide; ++bx) {
            for (int y = 0; y < 4; ++y) {
                const uint8_t *p = rows[y] + 12 * static_cast<size_t>(bx);
                for (int x = 0; x < 4; ++x, p += 3)
                    px[4 * y + x] = {kFive.v[p[2]], kFive.v[p[1]], kFive.v[p[0]]};
            }
            coder.Code(px, out);
        }
    }
}

} // namespace

CVideo1Encoder::CVideo1Encoder(int quality)
{
    quality = std::clamp(quality, 0, 10000);
    // Allowed error per channel, in RGB555 steps (root mean square over the block): none at
    // the top quality, four steps (about 33 of 255 levels) at the bottom.
    const double step = 4.0 * (10000 - quality) / 10000.0;
    m_threshold = static_cast<int>(16 * 3 * step * step);
}

void CVideo1Encoder::Encode(const uint8_t *bits, size_t stride, int width, int height,
                            std::vector<uint8_t> &out) const
{
    out.clear();
    if (!bits || width < 4 || height < 4)
        return;
    const Frame f{bits, stride, width / 4, height / 4, height - 4 * (height / 4)};
    const BlockCoder coder(m_threshold);
    out.reserve(static_cast<size_t>(f.blocksWide) * f.blocksHigh * 10);

    const unsigned cores = static_cast<unsigned>(UsableCores());
    const int parts = std::min<int>(static_cast<int>(std::min(cores, 8u)), f.blocksHigh / 16);
    if (parts <= 1) {
        CodeRows(f, coder, 0, f.blocksHigh, out);
        return;
    }
    std::vector<std::vector<uint8_t>> pieces(static_cast<size_t>(parts));
    std::vector<std::thread> workers;
    for (int i = 1; i < parts; ++i)
        workers.emplace_back([&, i] {
            CodeRows(f, coder, f.blocksHigh * i / parts, f.blocksHigh * (i + 1) / parts,
                     pieces[static_cast<size_t>(i)]);
        });
    CodeRows(f, coder, 0, f.blocksHigh / parts, out);
    for (std::thread &t : workers)
        t.join();
    for (int i = 1; i < parts; ++i)
        out.insert(out.end(), pieces[static_cast<size_t>(i)].begin(),
                   pieces[static_cast<size_t>(i)].end());
}
