#include "pxexif_p.h"

#include "pxlibio_p.h"

#include <algorithm>
#include <cstring>
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

std::string WithoutThumbnail(const std::string &app1)
{
    std::string out = app1;
    Tiff t;
    std::vector<Entry> entries;
    size_t nextAt = 0;
    if (!Open(reinterpret_cast<const uint8_t *>(out.data()), out.size(), &t) ||
        !ReadDirectory(t, IfdZero(t), &entries, &nextAt))
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
