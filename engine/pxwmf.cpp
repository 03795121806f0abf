// Windows metafile reader: parses placeable and standard metafiles into a checked display list
// (pxwmf_p.h) and has it rendered into a 24-bit raster. The parser is plain C++; the drawing
// itself lives in the engine's QtGui unit.
//
// Metafile records keep their parameters as 16-bit words in the reverse order of the drawing
// call's arguments (a rectangle is stored bottom, right, top, left).

#include "pxcodecs_p.h"
#include "pxwmf_p.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using namespace pxwmf;

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr int64_t kMaxFileBytes = int64_t{256} << 20;
constexpr size_t kMaxRecords = size_t{1} << 20;
constexpr uint64_t kMaxBitmapPixels = uint64_t{32} << 20;
constexpr int32_t kMaxSide = 4096;
constexpr uint32_t kMaxObjects = 65535;

enum : uint16_t {
    META_EOF = 0x0000,
    META_SAVEDC = 0x001E,
    META_SETBKCOLOR = 0x0201,
    META_SETBKMODE = 0x0102,
    META_SETMAPMODE = 0x0103,
    META_SETROP2 = 0x0104,
    META_SETPOLYFILLMODE = 0x0106,
    META_SETTEXTCOLOR = 0x0209,
    META_SETWINDOWORG = 0x020B,
    META_SETWINDOWEXT = 0x020C,
    META_SETVIEWPORTORG = 0x020D,
    META_SETVIEWPORTEXT = 0x020E,
    META_LINETO = 0x0213,
    META_MOVETO = 0x0214,
    META_EXCLUDECLIPRECT = 0x0415,
    META_INTERSECTCLIPRECT = 0x0416,
    META_ARC = 0x0817,
    META_ELLIPSE = 0x0418,
    META_PIE = 0x081A,
    META_RECTANGLE = 0x041B,
    META_ROUNDRECT = 0x061C,
    META_PATBLT = 0x061D,
    META_SETPIXEL = 0x041F,
    META_TEXTOUT = 0x0521,
    META_POLYGON = 0x0324,
    META_POLYLINE = 0x0325,
    META_RESTOREDC = 0x0127,
    META_SETTEXTALIGN = 0x012E,
    META_CHORD = 0x0830,
    META_EXTTEXTOUT = 0x0A32,
    META_POLYPOLYGON = 0x0538,
    META_DIBBITBLT = 0x0940,
    META_DIBSTRETCHBLT = 0x0B41,
    META_STRETCHDIB = 0x0F43,
    META_SELECTOBJECT = 0x012D,
    META_DELETEOBJECT = 0x01F0,
    META_CREATEPALETTE = 0x00F7,
    META_DIBCREATEPATTERNBRUSH = 0x0142,
    META_CREATEPATTERNBRUSH = 0x01F9,
    META_CREATEPENINDIRECT = 0x02FA,
    META_CREATEFONTINDIRECT = 0x02FB,
    META_CREATEBRUSHINDIRECT = 0x02FC,
    META_CREATEREGION = 0x06FF,
};

// Thrown inside one record when its own contents are inconsistent: the record is skipped.
struct BadRecord {};

class RecordReader {
public:
    RecordReader(const uint8_t *params, size_t words) : m_p(params), m_words(words) {}
    size_t Words() const { return m_words; }
    const uint8_t *Bytes(size_t word, size_t bytes) const
    {
        if (word > m_words || bytes > (m_words - word) * 2)
            throw BadRecord{};
        return m_p + word * 2;
    }
    uint16_t U16(size_t word) const
    {
        const uint8_t *p = Bytes(word, 2);
        return static_cast<uint16_t>(p[0] | (p[1] << 8));
    }
    int32_t S16(size_t word) const { return static_cast<int16_t>(U16(word)); }
    uint32_t U32(size_t word) const { return U16(word) | (uint32_t{U16(word + 1)} << 16); }
    Colour ColourRef(size_t word) const
    {
        const uint8_t *p = Bytes(word, 4);
        return Colour{p[0], p[1], p[2]};
    }

private:
    const uint8_t *m_p;
    size_t m_words;
};

uint32_t Le32(const uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
}
uint16_t Le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// One mask of a bit-field DIB scaled to 8 bits.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;
    explicit Channel(uint32_t m) : mask(m)
    {
        if (!m)
            return;
        while (!((m >> shift) & 1))
            ++shift;
        max = m >> shift;
    }
    uint32_t Get(uint32_t v) const
    {
        return max ? (((v & mask) >> shift) * 255 + max / 2) / max : 0;
    }
};

class Parser {
public:
    Parser(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}
    Picture Parse();

private:
    void ParseRecord(uint16_t function, const RecordReader &r, size_t recordWords);
    void Add(Record &&rec);
    std::shared_ptr<const Bitmap> ParseDib(const uint8_t *p, size_t bytes, bool palColours);
    std::vector<Point> Points(const RecordReader &r, size_t word, size_t count) const;
    void CreateObject(GdiObject &&object);
    void NoteExtent(Op op, int32_t x, int32_t y);
    void NoteDrawing(const Record &rec);

    const uint8_t *m_data;
    size_t m_size;
    Picture m_picture;
    std::vector<bool> m_slots;
    uint64_t m_bitmapPixels = 0;
    bool m_drawn = false;
    bool m_haveWindowExt = false, m_haveViewportExt = false;
    int32_t m_windowExt[2] = {}, m_viewportExt[2] = {};
    int32_t m_windowOrg[2] = {};
    int64_t m_minX = INT64_MAX, m_minY = INT64_MAX, m_maxX = INT64_MIN, m_maxY = INT64_MIN;
};

std::vector<Point> Parser::Points(const RecordReader &r, size_t word, size_t count) const
{
    r.Bytes(word, count * 4);
    std::vector<Point> points(count);
    for (size_t i = 0; i < count; ++i)
        points[i] = Point{r.S16(word + 2 * i), r.S16(word + 2 * i + 1)};
    return points;
}

void Parser::CreateObject(GdiObject &&object)
{
    // A new object takes the lowest free slot, as the player's handle table does.
    size_t slot = 0;
    while (slot < m_slots.size() && m_slots[slot])
        ++slot;
    if (slot == m_slots.size()) {
        if (m_slots.size() >= kMaxObjects)
            return;
        m_slots.push_back(false);
    }
    m_slots[slot] = true;
    Record rec;
    rec.op = Op::CreateObject;
    rec.v[0] = static_cast<int32_t>(slot);
    auto extra = std::make_shared<Extra>();
    extra->object = std::move(object);
    rec.extra = std::move(extra);
    Add(std::move(rec));
}

void Parser::NoteDrawing(const Record &rec)
{
    m_drawn = true;
    auto note = [&](int64_t x, int64_t y) {
        m_minX = std::min(m_minX, x);
        m_maxX = std::max(m_maxX, x);
        m_minY = std::min(m_minY, y);
        m_maxY = std::max(m_maxY, y);
    };
    for (const Point &p : rec.points)
        note(p.x, p.y);
    switch (rec.op) {
    case Op::Rectangle: case Op::RoundRect: case Op::Ellipse: case Op::Arc: case Op::Pie:
    case Op::Chord:
        note(rec.v[0], rec.v[1]);
        note(rec.v[2], rec.v[3]);
        break;
    case Op::LineTo: case Op::SetPixel: case Op::Text:
        note(rec.v[0], rec.v[1]);
        break;
    case Op::Blt:
        note(rec.v[0], rec.v[1]);
        note(int64_t{rec.v[0]} + rec.v[2], int64_t{rec.v[1]} + rec.v[3]);
        break;
    default:
        break;
    }
}

void Parser::Add(Record &&rec)
{
    if (m_picture.records.size() >= kMaxRecords)
        return;
    switch (rec.op) {
    case Op::SetWindowExt:
        if (!m_drawn || !m_haveWindowExt) {
            m_windowExt[0] = rec.v[0];
            m_windowExt[1] = rec.v[1];
            m_haveWindowExt = true;
        }
        break;
    case Op::SetWindowOrg:
        if (!m_drawn) {
            m_windowOrg[0] = rec.v[0];
            m_windowOrg[1] = rec.v[1];
        }
        break;
    case Op::SetViewportExt:
        if (!m_drawn || !m_haveViewportExt) {
            m_viewportExt[0] = rec.v[0];
            m_viewportExt[1] = rec.v[1];
            m_haveViewportExt = true;
        }
        break;
    case Op::MoveTo: case Op::LineTo: case Op::Polyline: case Op::Polygon: case Op::PolyPolygon:
    case Op::Rectangle: case Op::RoundRect: case Op::Ellipse: case Op::Arc: case Op::Pie:
    case Op::Chord: case Op::SetPixel: case Op::Text: case Op::Blt:
        NoteDrawing(rec);
        break;
    default:
        break;
    }
    m_picture.records.push_back(std::move(rec));
}

std::shared_ptr<const Bitmap> Parser::ParseDib(const uint8_t *p, size_t bytes, bool palColours)
{
    if (palColours || bytes < 12)
        return nullptr;
    const uint32_t headerSize = Le32(p);
    int64_t width = 0, height = 0;
    uint32_t bpp = 0, compression = 0, clrUsed = 0;
    size_t entryBytes = 4;
    if (headerSize == 12) {
        width = Le16(p + 4);
        height = static_cast<int16_t>(Le16(p + 6));
        bpp = Le16(p + 10);
        entryBytes = 3;
    } else if (headerSize >= 40 && headerSize <= bytes) {
        width = static_cast<int32_t>(Le32(p + 4));
        height = static_cast<int32_t>(Le32(p + 8));
        bpp = Le16(p + 14);
        compression = Le32(p + 16);
        clrUsed = Le32(p + 32);
    } else {
        return nullptr;
    }
    const bool topDown = height < 0;
    height = std::abs(height);
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX)
        return nullptr;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return nullptr;
    const bool bitfields = compression == 3 && (bpp == 16 || bpp == 32);
    if (compression != 0 && !bitfields)
        return nullptr; // run-length DIBs in metafiles are rare enough to leave undrawn

    size_t offset = headerSize;
    uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (bpp == 32)
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    if (bitfields) {
        // A 40-byte header is followed by the three masks; larger headers hold them inside.
        if (bytes < 40 + 12)
            return nullptr;
        for (int i = 0; i < 3; ++i)
            masks[i] = Le32(p + 40 + 4 * i);
        if (headerSize == 40)
            offset += 12;
    }
    uint32_t entries = bpp <= 8 ? (clrUsed && clrUsed < (1u << bpp) ? clrUsed : 1u << bpp) : 0;
    if (bpp > 8 && clrUsed && clrUsed <= 256)
        offset += size_t{clrUsed} * entryBytes; // an optional table that true colour ignores
    const uint8_t *table = p + offset;
    if (offset > bytes || (bytes - offset) / entryBytes < entries)
        return nullptr;
    offset += size_t{entries} * entryBytes;

    const uint64_t rowBytes = PxRowBytes(static_cast<uint64_t>(width), bpp, 4);
    uint64_t pixelBytes = 0, pixels = 0;
    if (rowBytes == 0 || PxMulOverflows(rowBytes, static_cast<uint64_t>(height), &pixelBytes) ||
        pixelBytes > bytes - offset)
        return nullptr;
    if (PxMulOverflows(static_cast<uint64_t>(width), static_cast<uint64_t>(height), &pixels) ||
        pixels > kMaxBitmapPixels - m_bitmapPixels)
        PxThrow("WMF decoder: bitmaps exceed %llu pixels",
                static_cast<unsigned long long>(kMaxBitmapPixels));
    m_bitmapPixels += pixels;

    uint32_t palette[256] = {};
    for (uint32_t i = 0; i < entries; ++i) {
        const uint8_t *e = table + size_t{i} * entryBytes;
        palette[i] = 0xFF000000u | (uint32_t{e[2]} << 16) | (uint32_t{e[1]} << 8) | e[0];
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]);

    auto bitmap = std::make_shared<Bitmap>();
    bitmap->width = static_cast<int32_t>(width);
    bitmap->height = static_cast<int32_t>(height);
    bitmap->pixels.resize(pixels);
    const uint8_t *bits = p + offset;
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t *row = bits + static_cast<size_t>(topDown ? y : height - 1 - y) * rowBytes;
        uint32_t *out = bitmap->pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
        for (int64_t x = 0; x < width; ++x) {
            uint32_t index = 0;
            switch (bpp) {
            case 1: index = (row[x >> 3] >> (7 - (x & 7))) & 1; break;
            case 4: index = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F; break;
            case 8: index = row[x]; break;
            case 16: {
                const uint32_t v = Le16(row + 2 * x);
                out[x] = 0xFF000000u | (red.Get(v) << 16) | (green.Get(v) << 8) | blue.Get(v);
                continue;
            }
            case 24:
                out[x] = 0xFF000000u | (uint32_t{row[3 * x + 2]} << 16) |
                         (uint32_t{row[3 * x + 1]} << 8) | row[3 * x];
                continue;
            default: {
                const uint32_t v = Le32(row + 4 * x);
                out[x] = 0xFF000000u | (red.Get(v) << 16) | (green.Get(v) << 8) | blue.Get(v);
                continue;
            }
            }
            out[x] = index < entries ? palette[index] : 0xFF000000u;
        }
    }
    return bitmap;
}

void Parser::ParseRecord(uint16_t function, const RecordReader &r, size_t recordWords)
{
    Record rec;
    auto simple = [&](Op op, int count) {
        rec.op = op;
        // Stored last argument first: v[0] receives the call's first argument.
        for (int i = 0; i < count; ++i)
            rec.v[i] = r.S16(static_cast<size_t>(count - 1 - i));
        Add(std::move(rec));
    };
    switch (function) {
    case META_SETWINDOWORG: simple(Op::SetWindowOrg, 2); break;
    case META_SETWINDOWEXT:
        if (r.S16(0) != 0 && r.S16(1) != 0)
            simple(Op::SetWindowExt, 2);
        break;
    case META_SETVIEWPORTORG: simple(Op::SetViewportOrg, 2); break;
    case META_SETVIEWPORTEXT:
        if (r.S16(0) != 0 && r.S16(1) != 0)
            simple(Op::SetViewportExt, 2);
        break;
    case META_SETMAPMODE: simple(Op::SetMapMode, 1); break;
    case META_SAVEDC: rec.op = Op::SaveDC; Add(std::move(rec)); break;
    case META_RESTOREDC: simple(Op::RestoreDC, 1); break;
    case META_SETBKMODE: simple(Op::SetBkMode, 1); break;
    case META_SETPOLYFILLMODE: simple(Op::SetPolyFillMode, 1); break;
    case META_SETTEXTALIGN: simple(Op::SetTextAlign, 1); break;
    case META_SETROP2: simple(Op::SetRop2, 1); break;
    case META_SETBKCOLOR:
    case META_SETTEXTCOLOR:
        rec.op = function == META_SETBKCOLOR ? Op::SetBkColor : Op::SetTextColor;
        rec.colour = r.ColourRef(0);
        Add(std::move(rec));
        break;
    case META_MOVETO: simple(Op::MoveTo, 2); break;
    case META_LINETO: simple(Op::LineTo, 2); break;
    case META_RECTANGLE: simple(Op::Rectangle, 4); break;
    case META_ELLIPSE: simple(Op::Ellipse, 4); break;
    case META_ROUNDRECT: simple(Op::RoundRect, 6); break;
    case META_ARC: simple(Op::Arc, 8); break;
    case META_PIE: simple(Op::Pie, 8); break;
    case META_CHORD: simple(Op::Chord, 8); break;
    case META_INTERSECTCLIPRECT: simple(Op::IntersectClipRect, 4); break;
    case META_EXCLUDECLIPRECT: simple(Op::ExcludeClipRect, 4); break;
    case META_SETPIXEL:
        rec.op = Op::SetPixel;
        rec.colour = r.ColourRef(0);
        rec.v[0] = r.S16(3);
        rec.v[1] = r.S16(2);
        Add(std::move(rec));
        break;
    case META_POLYGON:
    case META_POLYLINE: {
        const int32_t count = r.S16(0);
        if (count < 1)
            break;
        rec.op = function == META_POLYGON ? Op::Polygon : Op::Polyline;
        rec.points = Points(r, 1, static_cast<size_t>(count));
        Add(std::move(rec));
        break;
    }
    case META_POLYPOLYGON: {
        const uint32_t polys = r.U16(0);
        if (polys == 0)
            break;
        auto extra = std::make_shared<Extra>();
        uint64_t total = 0;
        for (uint32_t i = 0; i < polys; ++i) {
            extra->counts.push_back(r.U16(1 + i));
            total += extra->counts.back();
        }
        rec.op = Op::PolyPolygon;
        rec.points = Points(r, 1 + polys, total);
        rec.extra = std::move(extra);
        Add(std::move(rec));
        break;
    }
    case META_TEXTOUT: {
        const uint32_t length = r.U16(0);
        const size_t words = (length + 1) / 2;
        auto extra = std::make_shared<Extra>();
        extra->text.assign(reinterpret_cast<const char *>(r.Bytes(1, length)), length);
        rec.op = Op::Text;
        rec.v[1] = r.S16(1 + words);
        rec.v[0] = r.S16(2 + words);
        rec.extra = std::move(extra);
        Add(std::move(rec));
        break;
    }
    case META_EXTTEXTOUT: {
        rec.op = Op::Text;
        rec.v[1] = r.S16(0);
        rec.v[0] = r.S16(1);
        const uint32_t length = r.U16(2);
        const uint16_t options = r.U16(3);
        rec.v[2] = options;
        size_t word = 4;
        // ETO_OPAQUE (2) and ETO_CLIPPED (4) come with a rectangle.
        if (options & 0x0006) {
            for (int i = 0; i < 4; ++i)
                rec.v[3 + i] = r.S16(word + static_cast<size_t>(i));
            word += 4;
        }
        auto extra = std::make_shared<Extra>();
        extra->text.assign(reinterpret_cast<const char *>(r.Bytes(word, length)), length);
        word += (length + 1) / 2;
        if (r.Words() >= word + length)
            for (uint32_t i = 0; i < length; ++i)
                extra->dx.push_back(r.S16(word + i));
        rec.extra = std::move(extra);
        Add(std::move(rec));
        break;
    }
    case META_PATBLT:
        rec.op = Op::Blt;
        rec.rop = r.U32(0);
        rec.v[3] = r.S16(2);
        rec.v[2] = r.S16(3);
        rec.v[1] = r.S16(4);
        rec.v[0] = r.S16(5);
        Add(std::move(rec));
        break;
    case META_DIBBITBLT:
    case META_DIBSTRETCHBLT:
    case META_STRETCHDIB: {
        rec.op = Op::Blt;
        rec.rop = r.U32(0);
        size_t word = 2;
        bool palColours = false;
        if (function == META_STRETCHDIB)
            palColours = r.U16(word++) == 1;
        // Without a bitmap the record carries one reserved word instead: a pattern blit.
        const bool withBitmap = recordWords != (function >> 8) + 3u;
        const bool stretch = function != META_DIBBITBLT;
        int32_t srcW = 0, srcH = 0;
        if (stretch) {
            srcH = r.S16(word++);
            srcW = r.S16(word++);
        }
        const int32_t srcY = r.S16(word++);
        const int32_t srcX = r.S16(word++);
        if (!withBitmap)
            ++word;
        rec.v[3] = r.S16(word++);
        rec.v[2] = r.S16(word++);
        rec.v[1] = r.S16(word++);
        rec.v[0] = r.S16(word++);
        if (!stretch) {
            srcW = rec.v[2];
            srcH = rec.v[3];
        }
        if (withBitmap) {
            const size_t bytes = (r.Words() - word) * 2;
            auto bitmap = ParseDib(r.Bytes(word, bytes), bytes, palColours);
            if (!bitmap)
                break;
            // Stretched device-independent bits count source rows from the bottom.
            const int32_t top = function == META_STRETCHDIB ? bitmap->height - srcY - srcH : srcY;
            rec.v[4] = srcX;
            rec.v[5] = top;
            rec.v[6] = srcW;
            rec.v[7] = srcH;
            auto extra = std::make_shared<Extra>();
            extra->bitmap = std::move(bitmap);
            rec.extra = std::move(extra);
        }
        Add(std::move(rec));
        break;
    }
    case META_SELECTOBJECT:
    case META_DELETEOBJECT: {
        const uint32_t slot = r.U16(0);
        if (slot >= m_slots.size() || !m_slots[slot])
            break;
        rec.op = function == META_SELECTOBJECT ? Op::SelectObject : Op::DeleteObject;
        rec.v[0] = static_cast<int32_t>(slot);
        if (function == META_DELETEOBJECT)
            m_slots[slot] = false;
        Add(std::move(rec));
        break;
    }
    case META_CREATEPENINDIRECT: {
        GdiObject object;
        object.kind = GdiObject::PenObject;
        object.pen.style = r.U16(0);
        object.pen.width = std::abs(r.S16(1));
        object.pen.colour = r.ColourRef(3);
        CreateObject(std::move(object));
        break;
    }
    case META_CREATEBRUSHINDIRECT: {
        GdiObject object;
        object.kind = GdiObject::BrushObject;
        object.brush.style = r.U16(0);
        object.brush.colour = r.ColourRef(1);
        object.brush.hatch = r.U16(3);
        if (object.brush.style > 2) // pattern styles need a bitmap this record cannot carry
            object.brush.style = 0;
        CreateObject(std::move(object));
        break;
    }
    case META_DIBCREATEPATTERNBRUSH: {
        GdiObject object;
        object.kind = GdiObject::BrushObject;
        const bool palColours = r.U16(1) == 1;
        const size_t bytes = (r.Words() - 2) * 2;
        object.brush.pattern = ParseDib(r.Bytes(2, bytes), bytes, palColours);
        object.brush.style = object.brush.pattern ? 5 : 0;
        object.brush.colour = Colour{128, 128, 128};
        CreateObject(std::move(object));
        break;
    }
    case META_CREATEFONTINDIRECT: {
        GdiObject object;
        object.kind = GdiObject::FontObject;
        Font &font = object.font;
        font.height = r.S16(0);
        font.width = r.S16(1);
        font.escapement = r.S16(2);
        font.weight = r.S16(4);
        const uint8_t *flags = r.Bytes(5, 4);
        font.italic = flags[0];
        font.underline = flags[1];
        font.strikeOut = flags[2];
        font.charset = flags[3];
        if (r.Words() > 9) {
            const size_t bytes = std::min<size_t>((r.Words() - 9) * 2, 32);
            const char *face = reinterpret_cast<const char *>(r.Bytes(9, bytes));
            font.face.assign(face, strnlen(face, bytes));
        }
        CreateObject(std::move(object));
        break;
    }
    case META_CREATEPALETTE:
    case META_CREATEPATTERNBRUSH:
    case META_CREATEREGION:
        // Not drawn, but each one occupies a slot that later indexes count on.
        CreateObject(GdiObject{});
        break;
    default:
        break;
    }
}

Picture Parser::Parse()
{
    size_t pos = 0;
    int32_t bbox[4] = {};
    uint32_t inch = 0;
    if (m_size >= 22 && Le32(m_data) == kPlaceableKey) {
        for (int i = 0; i < 4; ++i)
            bbox[i] = static_cast<int16_t>(Le16(m_data + 6 + 2 * i));
        inch = Le16(m_data + 14);
        if (inch == 0)
            PxThrow("WMF decoder: placeable header gives 0 units per inch");
        if (bbox[2] == bbox[0] || bbox[3] == bbox[1])
            PxThrow("WMF decoder: empty bounding box (%d,%d)-(%d,%d)", bbox[0], bbox[1], bbox[2],
                    bbox[3]);
        m_picture.placeable = true;
        pos = 22;
    }
    if (m_size - pos < 18)
        PxThrow("WMF decoder: file too short for a metafile header (%zu bytes)", m_size);
    const uint8_t *h = m_data + pos;
    const uint16_t type = Le16(h), headerWords = Le16(h + 2), version = Le16(h + 4);
    if ((type != 1 && type != 2) || headerWords != 9 || (version != 0x0100 && version != 0x0300))
        PxThrow("WMF decoder: not a metafile (type %u, header %u words, version 0x%x)", type,
                headerWords, version);
    m_slots.assign(std::min<uint32_t>(Le16(h + 10), kMaxObjects), false);
    pos += 18;

    bool ended = false;
    while (!ended && pos < m_size) {
        if (m_size - pos < 6)
            PxThrow("WMF decoder: file ends inside a record header at offset %zu", pos);
        const uint32_t words = Le32(m_data + pos);
        const uint16_t function = Le16(m_data + pos + 4);
        if (function == META_EOF || words < 3)
            break; // a zero-size record would never advance
        if (words > (m_size - pos) / 2)
            PxThrow("WMF decoder: record 0x%04x at offset %zu claims %llu bytes, file has %zu",
                    function, pos, static_cast<unsigned long long>(words) * 2, m_size - pos);
        try {
            ParseRecord(function, RecordReader(m_data + pos + 6, words - 3), words);
        } catch (const BadRecord &) {
            // A record whose contents contradict its own size is left out.
        }
        if (m_picture.records.size() >= kMaxRecords)
            ended = true;
        pos += size_t{words} * 2;
    }

    // The output size: the placeable header's frame at 96 dots per inch, otherwise the extent
    // the file sets up before it draws, otherwise what its drawing covers.
    double width = 0, height = 0;
    if (m_picture.placeable) {
        m_picture.frameLeft = std::min(bbox[0], bbox[2]);
        m_picture.frameTop = std::min(bbox[1], bbox[3]);
        m_picture.frameWidth = std::abs(bbox[2] - bbox[0]);
        m_picture.frameHeight = std::abs(bbox[3] - bbox[1]);
        width = m_picture.frameWidth * 96.0 / inch;
        height = m_picture.frameHeight * 96.0 / inch;
    } else if (m_haveViewportExt || m_haveWindowExt) {
        const int32_t *ext = m_haveViewportExt ? m_viewportExt : m_windowExt;
        width = std::abs(ext[0]);
        height = std::abs(ext[1]);
        m_picture.frameLeft = m_windowOrg[0];
        m_picture.frameTop = m_windowOrg[1];
        m_picture.frameWidth = m_haveWindowExt ? m_windowExt[0] : ext[0];
        m_picture.frameHeight = m_haveWindowExt ? m_windowExt[1] : ext[1];
    } else if (m_minX <= m_maxX) {
        m_picture.frameLeft = static_cast<int32_t>(m_minX);
        m_picture.frameTop = static_cast<int32_t>(m_minY);
        m_picture.frameWidth = static_cast<int32_t>(std::max<int64_t>(m_maxX - m_minX, 1));
        m_picture.frameHeight = static_cast<int32_t>(std::max<int64_t>(m_maxY - m_minY, 1));
        width = m_picture.frameWidth;
        height = m_picture.frameHeight;
    } else {
        PxThrow("WMF decoder: the metafile draws nothing and sets no size");
    }
    // Vector pictures scale freely: a huge frame is drawn smaller rather than refused.
    double scale = 1.0;
    if (width > kMaxSide || height > kMaxSide)
        scale = kMaxSide / std::max(width, height);
    m_picture.outputScale = scale;
    m_picture.width = std::max(1, static_cast<int32_t>(std::lround(width * scale)));
    m_picture.height = std::max(1, static_cast<int32_t>(std::lround(height * scale)));
    return std::move(m_picture);
}

bool LooksLikeEmf(const uint8_t *data, size_t size)
{
    return size >= 44 && Le32(data) == 1 && std::memcmp(data + 40, " EMF", 4) == 0;
}

// The metafile's records are parsed either way (its size comes from what they draw); with
// header set nothing is rendered.
bool DecodeOrHeader(PxFile &f, PxImage &out, PxHeaderInfo *header)
{
    return PxGuard(out, [&] {
        const int64_t start = f.Tell();
        const int64_t size = f.Size();
        if (start < 0 || size < start)
            PxThrow("WMF decoder: stream is not seekable");
        const int64_t available = size - start;
        if (available > kMaxFileBytes)
            PxThrow("WMF decoder: file of %lld bytes is too large",
                    static_cast<long long>(available));
        std::vector<uint8_t> data(static_cast<size_t>(available));
        if (available > 0 && f.Read(data.data(), 1, data.size()) != data.size())
            PxThrow("WMF decoder: read error");
        if (LooksLikeEmf(data.data(), data.size()))
            PxThrow("WMF decoder: EMF not supported");
        const pxwmf::Picture picture = Parser(data.data(), data.size()).Parse();
        if (header) {
            PxCheckDimensions("WMF", static_cast<uint64_t>(picture.width),
                              static_cast<uint64_t>(picture.height), 24);
            header->width = static_cast<uint32_t>(picture.width);
            header->height = static_cast<uint32_t>(picture.height);
            return true;
        }
        pxwmf::Render(picture, out);
        out.SetType(PXFORMAT_WMF);
        return true;
    });
}
} // namespace

namespace pxcodec {

bool DecodeWMF(PxFile &f, PxImage &out)
{
    return DecodeOrHeader(f, out, nullptr);
}

bool HeaderWMF(PxFile &f, PxImage &out, PxHeaderInfo &info)
{
    return DecodeOrHeader(f, out, &info);
}

} // namespace pxcodec
