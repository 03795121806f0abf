#include "pxexif_p.h"

#include "pximage.h"
#include "pxlibio_p.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

namespace pxexif {
namespace {

constexpr uint16_t kTagOrientation = 0x0112;
constexpr uint16_t kTagXResolution = 0x011A;
constexpr uint16_t kTagYResolution = 0x011B;
constexpr uint16_t kTagResolutionUnit = 0x0128;
constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTagGpsIfd = 0x8825;
constexpr uint16_t kTagInteropIfd = 0xA005;
constexpr uint16_t kTagPixelX = 0xA002;
constexpr uint16_t kTagPixelY = 0xA003;
constexpr uint16_t kTagThumbnailOffset = 0x0201;
constexpr uint16_t kTagThumbnailLength = 0x0202;
constexpr uint16_t kTagStripOffsets = 0x0111;
constexpr uint16_t kTagStripByteCounts = 0x0117;

constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;
constexpr uint16_t kSShort = 8;
constexpr uint16_t kSLong = 9;
// Directories nested deeper than this, or more of them than this, are not a camera's.
constexpr int kMaxDepth = 4;
constexpr size_t kMaxDirectories = 16;

// Bytes of one value of a TIFF field type; 0 for a type the format does not define.
uint32_t TypeSize(uint32_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
}

// The TIFF structure behind "Exif\0\0"; every read is bounded by its size.
struct Tiff {
    uint8_t *data = nullptr;
    size_t size = 0;
    bool bigEndian = false;

    bool U16(size_t at, uint32_t *v) const
    {
        if (at > size || size - at < 2)
            return false;
        *v = bigEndian ? (data[at] << 8 | data[at + 1]) : (data[at + 1] << 8 | data[at]);
        return true;
    }
    bool U32(size_t at, uint32_t *v) const
    {
        uint32_t hi = 0, lo = 0;
        if (!U16(at, bigEndian ? &hi : &lo) || !U16(at + 2, bigEndian ? &lo : &hi))
            return false;
        *v = hi << 16 | lo;
        return true;
    }
    void Put16(size_t at, uint32_t v) const
    {
        data[at + (bigEndian ? 0 : 1)] = static_cast<uint8_t>(v >> 8);
        data[at + (bigEndian ? 1 : 0)] = static_cast<uint8_t>(v);
    }
    void Put32(size_t at, uint32_t v) const
    {
        Put16(at + (bigEndian ? 0 : 2), v >> 16);
        Put16(at + (bigEndian ? 2 : 0), v & 0xFFFF);
    }
};

bool Open(const uint8_t *app1, size_t length, Tiff *t)
{
    if (!IsExif(app1, length) || length < kHeaderSize + 8)
        return false;
    t->data = const_cast<uint8_t *>(app1) + kHeaderSize;
    t->size = length - kHeaderSize;
    if (t->data[0] == 'M' && t->data[1] == 'M')
        t->bigEndian = true;
    else if (t->data[0] != 'I' || t->data[1] != 'I')
        return false;
    uint32_t magic = 0;
    return t->U16(2, &magic) && magic == 42;
}

struct Entry {
    size_t at; // of the 12-byte entry
    uint32_t tag, type, count, value;
};

// The entries of the directory at offset; false when it does not fit the block. *nextAt gets
// where the link to the next directory is stored.
bool ReadDirectory(const Tiff &t, size_t offset, std::vector<Entry> *entries, size_t *nextAt)
{
    uint32_t count = 0;
    if (!t.U16(offset, &count) || (t.size - offset - 2) / 12 < count)
        return false;
    entries->clear();
    for (uint32_t i = 0; i < count; ++i) {
        Entry e{offset + 2 + static_cast<size_t>(i) * 12, 0, 0, 0, 0};
        t.U16(e.at, &e.tag);
        t.U16(e.at + 2, &e.type);
        t.U32(e.at + 4, &e.count);
        t.U32(e.at + 8, &e.value);
        entries->push_back(e);
    }
    *nextAt = offset + 2 + static_cast<size_t>(count) * 12;
    return true;
}

size_t IfdZero(const Tiff &t)
{
    uint32_t offset = 0;
    t.U32(4, &offset);
    return offset;
}

const Entry *Find(const std::vector<Entry> &entries, uint32_t tag)
{
    for (const Entry &e : entries)
        if (e.tag == tag)
            return &e;
    return nullptr;
}

using Range = std::pair<size_t, size_t>; // [first, second)

// Adds the byte ranges of a directory, its values stored apart and its sub-directories to
// ranges; false when anything in it points outside the block or cannot be sized.
bool CollectRanges(const Tiff &t, size_t offset, int depth, std::vector<Range> *ranges,
                   size_t *directories)
{
    std::vector<Entry> entries;
    size_t nextAt = 0;
    if (depth > kMaxDepth || ++*directories > kMaxDirectories ||
        !ReadDirectory(t, offset, &entries, &nextAt) || nextAt + 4 > t.size)
        return false;
    ranges->push_back({offset, nextAt + 4});
    for (const Entry &e : entries) {
        const uint32_t unit = TypeSize(e.type);
        if (unit == 0)
            return false;
        const uint64_t bytes = static_cast<uint64_t>(unit) * e.count;
        if (bytes > 4) {
            if (e.value > t.size || bytes > t.size - e.value)
                return false;
            ranges->push_back({e.value, e.value + static_cast<size_t>(bytes)});
        }
        if (e.tag == kTagExifIfd || e.tag == kTagGpsIfd || e.tag == kTagInteropIfd) {
            if (e.count != 1 || (e.type != kLong && e.type != 13) ||
                !CollectRanges(t, e.value, depth + 1, ranges, directories))
                return false;
        }
    }
    return true;
}

} // namespace

bool IsExif(const uint8_t *app1, size_t length)
{
    static const uint8_t kExif[kHeaderSize] = {'E', 'x', 'i', 'f', 0, 0};
    return app1 && length >= kHeaderSize && std::memcmp(app1, kExif, kHeaderSize) == 0;
}

bool ReadResolution(const uint8_t *app1, size_t length, int32_t *xdpi, int32_t *ydpi)
{
    Tiff t;
    uint32_t count = 0;
    if (!Open(app1, length, &t) || !t.U16(IfdZero(t), &count))
        return false;
    const size_t ifd = IfdZero(t);
    double res[2] = {0, 0};
    uint32_t unit = 2; // inches when the tag is missing
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = ifd + 2 + static_cast<size_t>(i) * 12;
        uint32_t tag = 0, type = 0, n = 0, value = 0;
        // A directory that claims more entries than the block holds keeps what it does hold.
        if (!t.U16(entry, &tag) || !t.U16(entry + 2, &type) || !t.U32(entry + 4, &n) ||
            !t.U32(entry + 8, &value))
            break;
        if ((tag == kTagXResolution || tag == kTagYResolution) && type == 5 && n == 1) {
            uint32_t num = 0, den = 0;
            if (t.U32(value, &num) && t.U32(static_cast<size_t>(value) + 4, &den) && den != 0)
                res[tag - kTagXResolution] = static_cast<double>(num) / den;
        } else if (tag == kTagResolutionUnit && type == kShort && n == 1) {
            t.U16(entry + 8, &unit);
        }
    }
    if (unit != 2 && unit != 3)
        return false;
    const int32_t x = pxlibio::DpiFrom(res[0], unit == 3);
    const int32_t y = pxlibio::DpiFrom(res[1], unit == 3);
    if (x == 0 || y == 0)
        return false;
    *xdpi = x;
    *ydpi = y;
    return true;
}

uint32_t ReadOrientation(const uint8_t *app1, size_t length)
{
    Tiff t;
    std::vector<Entry> entries;
    size_t nextAt = 0;
    if (!Open(app1, length, &t) || !ReadDirectory(t, IfdZero(t), &entries, &nextAt))
        return 0;
    const Entry *e = Find(entries, kTagOrientation);
    if (!e || e->type != kShort || e->count != 1)
        return 0;
    uint32_t value = 0;
    t.U16(e->at + 8, &value);
    return value >= 1 && value <= 8 ? value : 0;
}

bool SetOrientation(std::string &app1, uint16_t orientation)
{
    Tiff t;
    std::vector<Entry> entries;
    size_t nextAt = 0;
    if (!Open(reinterpret_cast<const uint8_t *>(app1.data()), app1.size(), &t) ||
        !ReadDirectory(t, IfdZero(t), &entries, &nextAt))
        return false;
    const Entry *e = Find(entries, kTagOrientation);
    if (!e || e->type != kShort || e->count != 1)
        return false;
    t.Put16(e->at + 8, orientation);
    return true;
}

void SetPixelSize(std::string &app1, uint32_t width, uint32_t height)
{
    Tiff t;
    std::vector<Entry> entries;
    size_t nextAt = 0;
    if (!Open(reinterpret_cast<const uint8_t *>(app1.data()), app1.size(), &t) ||
        !ReadDirectory(t, IfdZero(t), &entries, &nextAt))
        return;
    const Entry *sub = Find(entries, kTagExifIfd);
    if (!sub || sub->count != 1 || !ReadDirectory(t, sub->value, &entries, &nextAt))
        return;
    for (const Entry &e : entries) {
        if ((e.tag != kTagPixelX && e.tag != kTagPixelY) || e.count != 1)
            continue;
        const uint32_t value = e.tag == kTagPixelX ? width : height;
        // The tag's own type where the size fits it. Otherwise, and for any type the standard
        // does not allow here, LONG: it keeps a single value inside the entry, so the field
        // changes in place (a value stored apart is then simply no longer referred to).
        if ((e.type == kShort && value <= 0xFFFF) || (e.type == kSShort && value <= 0x7FFF)) {
            t.Put16(e.at + 8, value);
            t.Put16(e.at + 10, 0);
        } else if (e.type == kLong || (e.type == kSLong && value <= 0x7FFFFFFF)) {
            t.Put32(e.at + 8, value);
        } else {
            t.Put16(e.at + 2, kLong);
            t.Put32(e.at + 8, value);
        }
    }
}

namespace {

// The block's TIFF structure over out's bytes with the entries of IFD0 and where its link to
// the next directory is; false when the block does not hold together.
bool OpenFirstDirectory(std::string &out, Tiff *t, std::vector<Entry> *entries, size_t *nextAt)
{
    return Open(reinterpret_cast<const uint8_t *>(out.data()), out.size(), t) &&
           ReadDirectory(*t, IfdZero(*t), entries, nextAt);
}

} // namespace

std::string WithoutThumbnail(const std::string &app1)
{
    std::string out = app1;
    Tiff t;
    std::vector<Entry> entries;
    size_t nextAt = 0;
    if (!OpenFirstDirectory(out, &t, &entries, &nextAt))
        return out;
    uint32_t second = 0;
    if (!t.U32(nextAt, &second) || second == 0)
        return out;
    t.Put32(nextAt, 0);

    // What stays: IFD0 with everything it reaches. What goes: IFD1 and its picture.
    std::vector<Range> keep, drop;
    size_t directories = 0;
    if (!CollectRanges(t, IfdZero(t), 0, &keep, &directories) ||
        !CollectRanges(t, second, kMaxDepth, &drop, &directories))
        return out;
    std::vector<Entry> thumb;
    size_t ignored = 0;
    if (ReadDirectory(t, second, &thumb, &ignored)) {
        const Entry *offset = Find(thumb, kTagThumbnailOffset);
        const Entry *length = Find(thumb, kTagThumbnailLength);
        if (!offset)
            offset = Find(thumb, kTagStripOffsets);
        if (!length)
            length = Find(thumb, kTagStripByteCounts);
        if (offset && length && offset->count == 1 && length->count == 1 &&
            offset->value <= t.size && length->value <= t.size - offset->value)
            drop.push_back({offset->value, offset->value + length->value});
    }
    size_t keepEnd = 0, dropStart = t.size;
    for (const Range &r : keep)
        keepEnd = std::max(keepEnd, r.second);
    for (const Range &r : drop)
        dropStart = std::min(dropStart, r.first);
    if (dropStart >= keepEnd) {
        out.resize(kHeaderSize + keepEnd);
        return out;
    }
    // Interleaved with what stays: clear the thumbnail's bytes that nothing else uses.
    for (const Range &r : drop)
        for (size_t i = r.first; i < r.second; ++i)
            if (std::none_of(keep.begin(), keep.end(),
                             [i](const Range &k) { return i >= k.first && i < k.second; }))
                t.data[i] = 0;
    return out;
}

} // namespace pxexif

// --- location --------------------------------------------------------------------------------

namespace pxexif {
namespace {

// The byte ranges the GPS directory at offset claims, as far as they lie inside the block. It
// is walked on its own terms rather than through CollectRanges: a directory that does not
// hold together must still have what it does hold cleared.
void GpsRanges(const Tiff &t, size_t offset, std::vector<Range> *ranges)
{
    uint32_t count = 0;
    if (!t.U16(offset, &count))
        return;
    const size_t room = (t.size - offset - 2) / 12;
    const size_t entries = std::min<size_t>(count, room);
    const size_t end = std::min(t.size, offset + 2 + entries * 12 + 4);
    ranges->push_back({offset, end});
    for (size_t i = 0; i < entries; ++i) {
        const size_t at = offset + 2 + i * 12;
        uint32_t type = 0, n = 0, value = 0;
        t.U16(at + 2, &type);
        t.U32(at + 4, &n);
        t.U32(at + 8, &value);
        const uint64_t bytes = static_cast<uint64_t>(TypeSize(type)) * n;
        if (bytes > 4 && value < t.size)
            ranges->push_back({value, static_cast<size_t>(std::min<uint64_t>(t.size, value + bytes))});
    }
}

} // namespace

std::string WithoutLocation(const std::string &app1)
{
    std::string out = app1;
    Tiff t;
    std::vector<Entry> entries;
    size_t nextAt = 0;
    if (!OpenFirstDirectory(out, &t, &entries, &nextAt))
        return out;
    const size_t ifd = IfdZero(t);
    std::vector<Range> gps;
    size_t count = entries.size();
    // Every GPSInfo entry goes (a hostile block may hold more than one), last first so that
    // the positions of those before it stay as read.
    for (size_t i = entries.size(); i-- > 0;) {
        if (entries[i].tag != kTagGpsIfd)
            continue;
        if (entries[i].count == 1)
            GpsRanges(t, entries[i].value, &gps);
        const size_t at = entries[i].at;
        const size_t end = std::min(t.size, nextAt + 4);
        std::memmove(t.data + at, t.data + at + 12, end - at - 12);
        std::memset(t.data + end - 12, 0, 12);
        nextAt -= 12;
        --count;
    }
    if (count == entries.size())
        return out;
    t.Put16(ifd, static_cast<uint32_t>(count));
    std::vector<Range> keep;
    size_t directories = 0;
    if (!CollectRanges(t, ifd, 0, &keep, &directories)) {
        keep.clear();
        keep.push_back({ifd, std::min(t.size, nextAt + 4)});
    }
    for (const Range &r : gps)
        for (size_t i = r.first; i < r.second; ++i)
            if (std::none_of(keep.begin(), keep.end(),
                             [i](const Range &k) { return i >= k.first && i < k.second; }))
                t.data[i] = 0;
    return out;
}

namespace {

struct Namespace {
    const char *uri;
    const char *conventional;
    std::vector<const char *> names; // empty: only the GPS fields every namespace is checked for
};

const std::vector<Namespace> &LocationNamespaces()
{
    static const std::vector<Namespace> spaces = {
        {"http://ns.adobe.com/photoshop/1.0/", "photoshop", {"City", "State", "Country"}},
        {"http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/", "Iptc4xmpCore", {"Location", "CountryCode"}},
        {"http://iptc.org/std/Iptc4xmpExt/2008-02-29/", "Iptc4xmpExt",
         {"LocationCreated", "LocationShown"}},
    };
    return spaces;
}

bool IsNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '_' || c == '-' ||
           c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

class XmpLocation {
public:
    explicit XmpLocation(const std::string &xmp)
    {
        // The prefixes the packet binds to the location namespaces, beside the usual ones.
        for (const Namespace &space : LocationNamespaces()) {
            std::vector<std::string> prefixes{space.conventional};
            for (char quote : {'"', '\''}) {
                const std::string value = std::string("=") + quote + space.uri + quote;
                for (size_t at = xmp.find(value); at != std::string::npos;
                     at = xmp.find(value, at + 1)) {
                    size_t start = at;
                    while (start > 0 && IsNameChar(xmp[start - 1]))
                        --start;
                    const std::string attribute = xmp.substr(start, at - start);
                    if (attribute.rfind("xmlns:", 0) == 0)
                        prefixes.push_back(attribute.substr(6));
                }
            }
            for (const std::string &prefix : prefixes)
                for (const char *name : space.names)
                    m_names.push_back(prefix + ':' + name);
        }
    }

    bool IsLocation(std::string_view qname) const
    {
        const size_t colon = qname.find(':');
        if (colon == std::string_view::npos || qname.substr(0, colon) == "xmlns")
            return false;
        const std::string_view local = qname.substr(colon + 1);
        if (local.size() >= 3 && std::tolower(static_cast<unsigned char>(local[0])) == 'g' &&
            std::tolower(static_cast<unsigned char>(local[1])) == 'p' &&
            std::tolower(static_cast<unsigned char>(local[2])) == 's')
            return true;
        return std::find(m_names.begin(), m_names.end(), qname) != m_names.end();
    }

private:
    std::vector<std::string> m_names;
};

// Where the element whose start tag ends at `from` closes (just past its end tag), counting
// nested elements of the same name; npos when it never does.
size_t ElementEnd(const std::string &xmp, size_t from, const std::string &name)
{
    int depth = 1;
    size_t at = from;
    while (depth > 0) {
        at = xmp.find('<', at);
        if (at == std::string::npos)
            return std::string::npos;
        const bool closing = xmp.compare(at + 1, 1, "/") == 0;
        const size_t nameAt = at + (closing ? 2 : 1);
        if (xmp.compare(nameAt, name.size(), name) != 0 ||
            (nameAt + name.size() < xmp.size() && IsNameChar(xmp[nameAt + name.size()]))) {
            ++at;
            continue;
        }
        const size_t close = xmp.find('>', nameAt);
        if (close == std::string::npos)
            return std::string::npos;
        if (closing)
            --depth;
        else if (xmp[close - 1] != '/')
            ++depth;
        at = close + 1;
    }
    return at;
}

} // namespace

std::string XmpWithoutLocation(const std::string &xmp)
{
    const XmpLocation location(xmp);
    std::string out;
    out.reserve(xmp.size());
    size_t at = 0;
    while (at < xmp.size()) {
        const size_t open = xmp.find('<', at);
        if (open == std::string::npos) {
            out.append(xmp, at, std::string::npos);
            break;
        }
        out.append(xmp, at, open - at);
        // Comments, processing instructions, character data and end tags pass as they are.
        for (auto [start, end] : {std::pair{"<!--", "-->"}, {"<?", "?>"}, {"<![CDATA[", "]]>"},
                                  {"<!", ">"}, {"</", ">"}}) {
            if (xmp.compare(open, std::strlen(start), start) == 0) {
                const size_t stop = xmp.find(end, open + std::strlen(start));
                if (stop == std::string::npos)
                    return {};
                out.append(xmp, open, stop + std::strlen(end) - open);
                at = stop + std::strlen(end);
                break;
            }
        }
        if (at > open)
            continue;
        // A start tag: its name, then attributes up to '>' or "/>".
        size_t p = open + 1;
        while (p < xmp.size() && IsNameChar(xmp[p]))
            ++p;
        const std::string name = xmp.substr(open + 1, p - open - 1);
        std::string tag = "<" + name;
        bool selfClosing = false, closed = false;
        while (p < xmp.size()) {
            const size_t spaceAt = p;
            while (p < xmp.size() && IsSpace(xmp[p]))
                ++p;
            if (p >= xmp.size())
                break;
            if (xmp[p] == '>' || xmp.compare(p, 2, "/>") == 0) {
                selfClosing = xmp[p] == '/';
                tag.append(xmp, spaceAt, p - spaceAt);
                tag += selfClosing ? "/>" : ">";
                p += selfClosing ? 2 : 1;
                closed = true;
                break;
            }
            const size_t attrAt = p;
            while (p < xmp.size() && IsNameChar(xmp[p]))
                ++p;
            const std::string attribute = xmp.substr(attrAt, p - attrAt);
            while (p < xmp.size() && IsSpace(xmp[p]))
                ++p;
            if (attribute.empty() || p >= xmp.size() || xmp[p] != '=')
                return {};
            ++p;
            while (p < xmp.size() && IsSpace(xmp[p]))
                ++p;
            if (p >= xmp.size() || (xmp[p] != '"' && xmp[p] != '\''))
                return {};
            const size_t valueEnd = xmp.find(xmp[p], p + 1);
            if (valueEnd == std::string::npos)
                return {};
            p = valueEnd + 1;
            if (!location.IsLocation(attribute))
                tag.append(xmp, spaceAt, p - spaceAt);
        }
        if (!closed)
            return {};
        if (!location.IsLocation(name)) {
            out += tag;
            at = p;
            continue;
        }
        if (selfClosing) {
            at = p;
            continue;
        }
        const size_t end = ElementEnd(xmp, p, name);
        if (end == std::string::npos)
            return {};
        at = end;
    }
    return out;
}

// --- EXIF from a TIFF file -----------------------------------------------------------------

namespace {

constexpr uint16_t kTagMakerNote = 0x927C;
// IFD0's fields that describe the picture and its making; the layout fields belong to the
// TIFF file alone.
constexpr uint16_t kDescriptive[] = {0x010E, 0x010F, 0x0110, 0x0112, 0x011A, 0x011B, 0x0128,
                                     0x0131, 0x0132, 0x013B, 0x8298, kTagExifIfd, kTagGpsIfd};
// More entries than this in one directory, or more value bytes than this in one field, are
// not a camera's; the whole block must fit one JPEG marker.
constexpr uint32_t kMaxEntries = 512;
constexpr size_t kMaxBlock = 65533;

struct Copier {
    const ReadAt &read;
    uint64_t fileSize;
    bool bigEndian;
    bool withMakerNote;
    std::string out; // the TIFF structure being built
    size_t directories = 0;

    uint32_t Get16(const uint8_t *p) const
    {
        return bigEndian ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
    }
    uint32_t Get32(const uint8_t *p) const
    {
        return bigEndian ? (Get16(p) << 16 | Get16(p + 2)) : (Get16(p + 2) << 16 | Get16(p));
    }
    void Put16(size_t at, uint32_t v)
    {
        out[at + (bigEndian ? 0 : 1)] = static_cast<char>(v >> 8);
        out[at + (bigEndian ? 1 : 0)] = static_cast<char>(v);
    }
    void Put32(size_t at, uint32_t v)
    {
        Put16(at + (bigEndian ? 0 : 2), v >> 16);
        Put16(at + (bigEndian ? 2 : 0), v & 0xFFFF);
    }
    bool Fetch(uint64_t offset, size_t size, std::string *bytes) const
    {
        if (offset > fileSize || size > fileSize - offset || size > kMaxBlock)
            return false;
        bytes->resize(size);
        return size == 0 || read(offset, bytes->data(), size);
    }

    // Copies the directory at offset (only the tags in `only` when given) behind what is
    // built; its offset in the block, 0 when it cannot be read.
    size_t CopyDirectory(uint64_t offset, int depth, const uint16_t *only, size_t onlyCount)
    {
        std::string head;
        if (depth > 3 || ++directories > 8 || !Fetch(offset, 2, &head))
            return 0;
        const uint32_t count = Get16(reinterpret_cast<const uint8_t *>(head.data()));
        std::string raw;
        if (count > kMaxEntries || !Fetch(offset + 2, size_t{count} * 12, &raw))
            return 0;
        struct Kept {
            const uint8_t *entry;
            uint32_t tag;
        };
        std::vector<Kept> kept;
        for (uint32_t i = 0; i < count; ++i) {
            const auto *e = reinterpret_cast<const uint8_t *>(raw.data()) + i * 12;
            const uint32_t tag = Get16(e);
            if (only && std::find(only, only + onlyCount, tag) == only + onlyCount)
                continue;
            if (tag == kTagMakerNote && !withMakerNote)
                continue;
            const bool link = tag == kTagExifIfd || tag == kTagGpsIfd || tag == kTagInteropIfd;
            if (!link && TypeSize(Get16(e + 2)) == 0)
                continue;
            kept.push_back({e, tag});
        }
        // Directories are sorted by tag; a file's may not be.
        std::stable_sort(kept.begin(), kept.end(),
                         [](const Kept &a, const Kept &b) { return a.tag < b.tag; });
        if (out.size() % 2)
            out += '\0';
        const size_t at = out.size();
        out.append(2 + kept.size() * 12 + 4, '\0');
        size_t written = 0;
        for (const Kept &k : kept) {
            const uint8_t *e = k.entry;
            const uint32_t type = Get16(e + 2), n = Get32(e + 4), value = Get32(e + 8);
            const uint64_t bytes = static_cast<uint64_t>(TypeSize(type)) * n;
            const size_t slot = at + 2 + written * 12;
            out.replace(slot, 12, reinterpret_cast<const char *>(e), 12);
            if (k.tag == kTagExifIfd || k.tag == kTagGpsIfd || k.tag == kTagInteropIfd) {
                if (n != 1 || (type != kLong && type != 13))
                    continue;
                const size_t sub = CopyDirectory(value, depth + 1, nullptr, 0);
                if (sub == 0)
                    continue;
                // TIFF writers may type the link IFD (13); EXIF readers expect LONG.
                Put16(slot + 2, kLong);
                Put32(slot + 8, static_cast<uint32_t>(sub));
            } else if (bytes > 4) {
                // Sized before it is read: a hostile file may point every field at one large
                // run of bytes.
                std::string values;
                if (bytes + 1 > kMaxBlock - std::min(out.size(), kMaxBlock) ||
                    !Fetch(value, static_cast<size_t>(bytes), &values))
                    continue;
                if (out.size() % 2)
                    out += '\0';
                Put32(slot + 8, static_cast<uint32_t>(out.size()));
                out += values;
            }
            ++written;
        }
        Put16(at, static_cast<uint32_t>(written));
        // Entries that could not be copied leave their slots at the end, cleared: the link to
        // the next directory (none) follows the last one that was. Nothing moves, since what
        // was copied behind the directory is already referred to by its offset.
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(at + 2 + written * 12),
                  out.begin() + static_cast<std::ptrdiff_t>(at + 2 + kept.size() * 12 + 4), '\0');
        return written ? at : 0;
    }
};

} // namespace

std::string FromTiffFile(const ReadAt &read, uint64_t fileSize)
{
    uint8_t header[8];
    if (fileSize < 8 || !read(0, header, 8))
        return {};
    const bool big = header[0] == 'M' && header[1] == 'M';
    if (!big && !(header[0] == 'I' && header[1] == 'I'))
        return {};
    for (bool withMakerNote : {true, false}) {
        Copier copier{read, fileSize, big, withMakerNote, {}, 0};
        if (copier.Get16(header + 2) != 42)
            return {};
        copier.out.assign(reinterpret_cast<const char *>(header), 4);
        copier.out.append(4, '\0');
        copier.Put32(4, 8);
        try {
            if (copier.CopyDirectory(copier.Get32(header + 4), 0, kDescriptive,
                                     std::size(kDescriptive)) == 0)
                return {};
        } catch (const std::length_error &) {
            return {};
        }
        // A maker note is what most often makes a block too large for a JPEG marker.
        if (kHeaderSize + copier.out.size() <= kMaxBlock)
            return std::string("Exif\0\0", kHeaderSize) + copier.out;
    }
    return {};
}

double Field::Number(uint32_t i) const
{
    if (i >= count)
        return 0;
    Tiff t;
    t.data = const_cast<uint8_t *>(data);
    t.size = static_cast<size_t>(TypeSize(type)) * count;
    t.bigEndian = bigEndian;
    uint32_t a = 0, b = 0;
    switch (type) {
    case 1: case 7: return data[i];
    case 6: return static_cast<int8_t>(data[i]);
    case 3: t.U16(2 * i, &a); return a;
    case 8: t.U16(2 * i, &a); return static_cast<int16_t>(a);
    case 4: t.U32(4 * i, &a); return a;
    case 9: t.U32(4 * i, &a); return static_cast<int32_t>(a);
    case 5:
        t.U32(8 * i, &a), t.U32(8 * i + 4, &b);
        return b ? static_cast<double>(a) / b : 0;
    case 10:
        t.U32(8 * i, &a), t.U32(8 * i + 4, &b);
        return b ? static_cast<double>(static_cast<int32_t>(a)) / static_cast<int32_t>(b) : 0;
    case 11: {
        t.U32(4 * i, &a);
        float f;
        std::memcpy(&f, &a, 4);
        return f;
    }
    case 12: {
        t.U32(8 * i + (bigEndian ? 0 : 4), &a), t.U32(8 * i + (bigEndian ? 4 : 0), &b);
        const uint64_t bits = static_cast<uint64_t>(a) << 32 | b;
        double d;
        std::memcpy(&d, &bits, 8);
        return d;
    }
    default: return 0;
    }
}

int64_t Field::Integer(uint32_t i) const
{
    const double v = Number(i);
    return std::isfinite(v) && std::fabs(v) < 9e18 ? static_cast<int64_t>(v) : 0;
}

std::string Field::Text() const
{
    const size_t size = static_cast<size_t>(TypeSize(type)) * count;
    const auto *end = static_cast<const uint8_t *>(std::memchr(data, 0, size));
    return std::string(reinterpret_cast<const char *>(data), end ? size_t(end - data) : size);
}

std::vector<Field> ReadFields(const std::string &app1, uint16_t directory)
{
    Tiff t;
    std::vector<Entry> entries;
    size_t nextAt = 0;
    if (!Open(reinterpret_cast<const uint8_t *>(app1.data()), app1.size(), &t) ||
        !ReadDirectory(t, IfdZero(t), &entries, &nextAt))
        return {};
    if (directory != 0) {
        const Entry *sub = Find(entries, directory);
        if (!sub || sub->count != 1 || !ReadDirectory(t, sub->value, &entries, &nextAt))
            return {};
    }
    std::vector<Field> fields;
    for (const Entry &e : entries) {
        const uint64_t bytes = static_cast<uint64_t>(TypeSize(e.type)) * e.count;
        if (bytes == 0)
            continue;
        const size_t at = bytes <= 4 ? e.at + 8 : e.value;
        if (at > t.size || bytes > t.size - at)
            continue;
        fields.push_back({static_cast<uint16_t>(e.tag), static_cast<uint16_t>(e.type), e.count,
                          t.data + at, t.bigEndian});
    }
    return fields;
}

} // namespace pxexif

void PxImage::StripLocation()
{
    const std::shared_ptr<const PxMetadata> kept = GetMetadata();
    if (!kept || (kept->exif.empty() && kept->xmp.empty()))
        return;
    auto metadata = std::make_shared<PxMetadata>(*kept);
    if (!metadata->exif.empty())
        metadata->exif = pxexif::WithoutLocation(metadata->exif);
    if (!metadata->xmp.empty())
        metadata->xmp = pxexif::XmpWithoutLocation(metadata->xmp);
    SetMetadata(std::move(metadata));
}
