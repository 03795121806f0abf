// HEIC and AVIF through libheif: both are HEIF containers, told apart by their brands, and
// either is read whatever code the caller named. libheif's own decoders (libde265, dav1d) and
// encoders (x265, aom) do the picture coding; this file checks sizes, moves pixels and carries
// the colour profile, EXIF block and XMP packet.
//
// libheif reports failures as returned heif_error values, never through exceptions or jumps, so
// PxThrow may be used freely here; the only callbacks (the header's reader and the writer) keep
// every exception inside.
//
// The pictures come out as libheif shows them: rotated, mirrored and cropped by the file's
// irot, imir and clap properties. Their EXIF orientation is therefore 1, in the kept EXIF block
// too, so nothing turns them a second time.

#include "pxcodecs_p.h"
#include "pxcolour_p.h"
#include "pxexif_p.h"
#include "pxlibio_p.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <libheif/heif.h>

namespace {

// A compressed file larger than the biggest picture the engine may hold is not a photo.
constexpr uint64_t kMaxFileBytes = PXIMAGE_MAX_MEMORY;
// EXIF, XMP and ICC blocks beyond this are not metadata anyone wrote on purpose.
constexpr size_t kMaxMetadataBytes = 16 * 1024 * 1024;
// Enough of the file's start to hold its ftyp box with every brand a real writer lists.
constexpr size_t kHeadBytes = 512;

constexpr char kExifHeader[pxexif::kHeaderSize] = {'E', 'x', 'i', 'f', 0, 0};

void InitLibrary()
{
    // Reference counted in libheif; taken once for the life of the process.
    static const bool initialised = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)initialised;
}

using ContextFree = PxFreeWith<heif_context_free>;
using HandleFree = PxFreeWith<heif_image_handle_release>;
using ImageFree = PxFreeWith<heif_image_release>;
using EncoderFree = PxFreeWith<heif_encoder_release>;
using EncodingOptionsFree = PxFreeWith<heif_encoding_options_free>;
using DecodingOptionsFree = PxFreeWith<heif_decoding_options_free>;
using NclxFree = PxFreeWith<heif_nclx_color_profile_free>;
using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleFree>;
using Image = std::unique_ptr<heif_image, ImageFree>;

// libheif's own text, after a few words on what was being done.
void Check(const heif_error &error, const char *what)
{
    if (error.code != heif_error_Ok)
        PxThrow("%s: %s", what, error.message && *error.message ? error.message : "unknown error");
}

Context NewContext()
{
    InitLibrary();
    Context ctx(heif_context_alloc());
    if (!ctx)
        throw std::bad_alloc();
    return ctx;
}

// --- what the file is ------------------------------------------------------------------------

// An ISO base media file starts with its ftyp box; anything else is not ours, and is refused
// before the rest of it is read (content detection asks every codec in turn).
void CheckSignature(const uint8_t *head, size_t size)
{
    if (size < 12 || std::memcmp(head + 4, "ftyp", 4) != 0 ||
        heif_check_filetype(head, static_cast<int>(size)) == heif_filetype_no)
        PxThrow("not a HEIF file");
}

// AVIF files name themselves by their major brand, or list "avif" without any HEVC brand.
uint32_t TypeFromBrands(const uint8_t *head, size_t size)
{
    const int n = static_cast<int>(std::min(size, kHeadBytes));
    const heif_brand major = heif_main_brand(head, n);
    if (major == heif_avif || major == heif_avis)
        return PXFORMAT_AVIF;
    if (major == heif_heic || major == heif_heix || major == heif_hevc || major == heif_hevx)
        return PXFORMAT_HEIC;
    if (heif_has_compatible_brand(head, n, "avif") > 0 &&
        heif_has_compatible_brand(head, n, "heic") <= 0 &&
        heif_has_compatible_brand(head, n, "heix") <= 0)
        return PXFORMAT_AVIF;
    return PXFORMAT_HEIC;
}

// Bytes left in the stream from where it stands, refused when they cannot be a HEIF file.
uint64_t BytesLeft(PxFile &f, int64_t start)
{
    const int64_t size = f.Size();
    if (start < 0 || size < 0 || size < start)
        PxThrow("HEIF: can't tell the size of the file");
    const uint64_t left = static_cast<uint64_t>(size - start);
    if (left < 12)
        PxThrow("not a HEIF file");
    if (left > kMaxFileBytes)
        PxThrow("HEIF file of %llu bytes is larger than the engine reads",
                static_cast<unsigned long long>(left));
    return left;
}

std::vector<uint8_t> ReadHead(PxFile &f, uint64_t left)
{
    std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(left, kHeadBytes)));
    if (f.Read(head.data(), 1, head.size()) != head.size())
        PxThrow("HEIF file can't be read");
    CheckSignature(head.data(), head.size());
    return head;
}

// The whole file in memory, which libheif then reads without a copy of its own.
std::vector<uint8_t> ReadWholeFile(PxFile &f)
{
    const int64_t start = f.Tell();
    const uint64_t left = BytesLeft(f, start);
    std::vector<uint8_t> data = ReadHead(f, left);
    const size_t headSize = data.size();
    data.resize(static_cast<size_t>(left));
    const size_t rest = data.size() - headSize;
    if (rest > 0 && f.Read(data.data() + headSize, 1, rest) != rest)
        PxThrow("HEIF file is shorter than its size says");
    return data;
}

// The header's stream: libheif reads the boxes it needs and skips the coded pictures, so a
// header read costs a few kilobytes whatever the file's size.
struct ReaderState {
    PxFile *file;
    int64_t start;
    int64_t size;
};

int64_t ReaderPosition(void *user)
{
    auto *s = static_cast<ReaderState *>(user);
    const int64_t at = pxlibio::Tell(s->file);
    return at < 0 ? -1 : at - s->start;
}

int ReaderRead(void *data, size_t size, void *user)
{
    auto *s = static_cast<ReaderState *>(user);
    return pxlibio::Read(s->file, data, size) == size ? 0 : 1;
}

int ReaderSeek(int64_t position, void *user)
{
    auto *s = static_cast<ReaderState *>(user);
    if (position < 0 || position > s->size)
        return 1;
    return pxlibio::Seek(s->file, s->start + position, SEEK_SET) ? 0 : 1;
}

heif_reader_grow_status ReaderWait(int64_t target, void *user)
{
    auto *s = static_cast<ReaderState *>(user);
    return target <= s->size ? heif_reader_grow_status_size_reached
                             : heif_reader_grow_status_size_beyond_eof;
}

const heif_reader kReader = {1, ReaderPosition, ReaderRead, ReaderSeek, ReaderWait};

// The file's boxes from where the stream stands, read through the header's stream: the coded
// pictures stay unread. The context reads through *state later on too (metadata items), so
// state must outlive it. *type, when asked for, gets the container's kind from its brands.
Context ContextThroughReader(PxFile &f, ReaderState *state, uint32_t *type)
{
    const int64_t start = f.Tell();
    const uint64_t left = BytesLeft(f, start);
    const std::vector<uint8_t> head = ReadHead(f, left);
    if (type)
        *type = TypeFromBrands(head.data(), head.size());
    if (!f.Seek(start, SEEK_SET))
        PxThrow("HEIF file can't be read");
    *state = ReaderState{&f, start, static_cast<int64_t>(left)};
    Context ctx = NewContext();
    Check(heif_context_read_from_reader(ctx.get(), &kReader, state, nullptr),
          "HEIF file could not be read");
    return ctx;
}

Handle PrimaryHandle(heif_context *ctx)
{
    heif_image_handle *raw = nullptr;
    const heif_error error = heif_context_get_primary_image_handle(ctx, &raw);
    Handle handle(raw);
    Check(error, "HEIF file has no primary picture");
    if (!handle)
        PxThrow("HEIF file has no primary picture");
    return handle;
}

// The size libheif will decode the picture at (after rotation and cropping), refused when the
// engine could not hold it or when no decoder could read it. Both readers stop here.
void CheckHandle(const heif_image_handle *handle, uint32_t *width, uint32_t *height)
{
    const int w = heif_image_handle_get_width(handle);
    const int h = heif_image_handle_get_height(handle);
    if (w <= 0 || h <= 0)
        PxThrow("HEIF picture has no size (%d x %d)", w, h);
    PxCheckDimensions("HEIF", static_cast<uint64_t>(w), static_cast<uint64_t>(h), 24);
    // A picture item whose decoder configuration (hvcC, av1C) is missing or unreadable has no
    // known depth: no decoder will read it.
    if (heif_image_handle_get_luma_bits_per_pixel(handle) <= 0)
        PxThrow("HEIF picture is coded in a way this program can't decode");
    *width = static_cast<uint32_t>(w);
    *height = static_cast<uint32_t>(h);
}

// --- a fault of libheif's kept away -----------------------------------------------------------

// A bounded big-endian cursor over a box's payload; reading past its end stops it.
struct Cursor {
    const uint8_t *data;
    size_t size;
    size_t at = 0;
    bool ok = true;
    uint64_t Take(unsigned bytes)
    {
        if (bytes > 8 || size - at < bytes) {
            ok = false;
            at = size;
            return 0;
        }
        uint64_t v = 0;
        for (unsigned i = 0; i < bytes; ++i)
            v = (v << 8) | data[at++];
        return v;
    }
};

// Calls fn(type, payload, length) for each box laid end to end in [data, data + size), up to
// the first one that does not fit.
template <typename Fn>
void ForEachBox(const uint8_t *data, size_t size, Fn &&fn)
{
    size_t at = 0;
    while (size - at >= 8) {
        Cursor c{data + at, size - at};
        uint64_t length = c.Take(4);
        const uint8_t *type = data + at + 4;
        c.Take(4);
        if (length == 1)
            length = c.Take(8);
        else if (length == 0)
            length = size - at;
        if (!c.ok || length < c.at || length > size - at)
            return;
        fn(type, data + at + c.at, static_cast<size_t>(length - c.at));
        at += static_cast<size_t>(length);
    }
}

bool IsType(const uint8_t *type, const char *name)
{
    return std::memcmp(type, name, 4) == 0;
}

// libheif 1.15 hands an AV1 item without a single coded byte to dav1d as an empty buffer, which
// dav1d refuses, and the buffer is never freed. Such an item cannot be decoded anyway: the file
// is refused before libheif gets that far. So is an item location table with field sizes the
// format does not have (only 0, 4 and 8 bytes), which libheif reads as extents of no bytes.
const char *AvoidedFault(const uint8_t *data, size_t size)
{
    bool badSizes = false;
    std::vector<uint32_t> av1Items;
    std::vector<std::pair<uint32_t, uint64_t>> lengths;
    auto readItemInfo = [&](const uint8_t *payload, size_t length) {
        if (length < 4)
            return;
        const unsigned version = payload[0];
        const size_t skip = 4 + (version == 0 ? 2 : 4);
        if (length < skip)
            return;
        ForEachBox(payload + skip, length - skip, [&](const uint8_t *type, const uint8_t *p, size_t n) {
            if (!IsType(type, "infe") || n < 4 || p[0] < 2)
                return;
            Cursor c{p, n, 4};
            const uint32_t id = uint32_t(c.Take(p[0] == 2 ? 2 : 4));
            c.Take(2);
            if (c.ok && c.size - c.at >= 4 && IsType(p + c.at, "av01"))
                av1Items.push_back(id);
        });
    };
    auto readLocations = [&](const uint8_t *payload, size_t length) {
        Cursor c{payload, length};
        const unsigned version = unsigned(c.Take(1));
        c.Take(3);
        const unsigned sizes = unsigned(c.Take(1)), more = unsigned(c.Take(1));
        const unsigned offsetSize = sizes >> 4, lengthSize = sizes & 15, baseSize = more >> 4;
        const unsigned indexSize = (version == 1 || version == 2) ? (more & 15) : 0;
        for (unsigned field : {offsetSize, lengthSize, baseSize, indexSize})
            if (field != 0 && field != 4 && field != 8)
                badSizes = true;
        if (badSizes)
            return;
        const uint64_t items = c.Take(version < 2 ? 2 : 4);
        for (uint64_t i = 0; i < items && c.ok; ++i) {
            const uint32_t id = uint32_t(c.Take(version < 2 ? 2 : 4));
            unsigned method = 0;
            if (version == 1 || version == 2)
                method = unsigned(c.Take(2)) & 15;
            c.Take(2);
            c.Take(baseSize);
            const uint64_t extents = c.Take(2);
            uint64_t total = 0;
            for (uint64_t e = 0; e < extents && c.ok; ++e) {
                c.Take(indexSize);
                c.Take(offsetSize);
                total += c.Take(lengthSize);
            }
            // Items made from other items' data (method 2) are not looked into.
            if (c.ok && method != 2)
                lengths.emplace_back(id, total);
        }
    };
    ForEachBox(data, size, [&](const uint8_t *type, const uint8_t *p, size_t n) {
        if (!IsType(type, "meta") || n < 4)
            return;
        ForEachBox(p + 4, n - 4, [&](const uint8_t *child, const uint8_t *q, size_t m) {
            if (IsType(child, "iinf"))
                readItemInfo(q, m);
            else if (IsType(child, "iloc"))
                readLocations(q, m);
        });
    });
    if (badSizes)
        return "HEIF item locations are malformed";
    for (const auto &[id, total] : lengths)
        if (total == 0 && std::find(av1Items.begin(), av1Items.end(), id) != av1Items.end())
            return "AVIF picture has no coded data";
    return nullptr;
}

// --- pixels ----------------------------------------------------------------------------------

// The thumbnail to decode instead of the picture when it still covers the picture's fit into
// the box (the fit's sides are what a full decode scaled into the box would have), the
// smallest of those; none when the picture itself is needed. A thumbnail that stands the other
// way round than the picture, or lacks the picture's alpha, is not the same picture.
Handle ThumbnailFor(const heif_image_handle *main, uint32_t width, uint32_t height,
                    uint32_t boxWidth, uint32_t boxHeight)
{
    if (boxWidth == 0 || boxHeight == 0)
        return nullptr;
    const int count = heif_image_handle_get_number_of_thumbnails(main);
    if (count <= 0 || count > 64)
        return nullptr;
    // scale = min(boxWidth / width, boxHeight / height); a side of the fit is ceil(side * scale).
    const bool byWidth = uint64_t(boxWidth) * height <= uint64_t(boxHeight) * width;
    const uint64_t num = byWidth ? boxWidth : boxHeight;
    const uint64_t den = byWidth ? width : height;
    if (num >= den)
        return nullptr;
    const uint64_t needWidth = (uint64_t(width) * num + den - 1) / den;
    const uint64_t needHeight = (uint64_t(height) * num + den - 1) / den;
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    const int listed = heif_image_handle_get_list_of_thumbnail_IDs(main, ids.data(), count);
    Handle best;
    uint64_t bestPixels = UINT64_MAX;
    for (int i = 0; i < std::clamp(listed, 0, count); ++i) {
        heif_image_handle *raw = nullptr;
        const heif_error error = heif_image_handle_get_thumbnail(main, ids[size_t(i)], &raw);
        Handle thumb(raw);
        if (error.code != heif_error_Ok || !thumb)
            continue;
        const int tw = heif_image_handle_get_width(thumb.get());
        const int th = heif_image_handle_get_height(thumb.get());
        if (tw <= 0 || th <= 0 || uint64_t(tw) < needWidth || uint64_t(th) < needHeight ||
            uint64_t(tw) >= width || uint64_t(th) >= height)
            continue;
        if ((width > height) != (uint32_t(tw) > uint32_t(th)) ||
            (width < height) != (uint32_t(tw) < uint32_t(th)))
            continue;
        if (heif_image_handle_has_alpha_channel(main) &&
            !heif_image_handle_has_alpha_channel(thumb.get()))
            continue;
        if (heif_image_handle_get_luma_bits_per_pixel(thumb.get()) <= 0)
            continue;
        const uint64_t pixels = uint64_t(tw) * uint64_t(th);
        if (pixels < bestPixels) {
            bestPixels = pixels;
            best = std::move(thumb);
        }
    }
    return best;
}

// Samples of more than 8 bits reduced to 8, rounded to the nearest level.
inline uint8_t Reduce(uint32_t v, uint32_t max)
{
    return static_cast<uint8_t>((std::min(v, max) * 255 + max / 2) / max);
}

// Decodes the handle into out: 24-bit rows, the alpha plane when the picture has one.
void DecodePixels(const heif_image_handle *handle, PxImage &out, uint32_t type)
{
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    const bool deep = heif_image_handle_get_luma_bits_per_pixel(handle) > 8 ||
                      heif_image_handle_get_chroma_bits_per_pixel(handle) > 8;
    const heif_chroma chroma = deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE
                                             : heif_chroma_interleaved_RRGGBB_LE)
                                    : (alpha ? heif_chroma_interleaved_RGBA
                                             : heif_chroma_interleaved_RGB);
    std::unique_ptr<heif_decoding_options, DecodingOptionsFree> options(
        heif_decoding_options_alloc());
    if (!options)
        throw std::bad_alloc();
    // Deep samples are rounded here: libheif's own reduction cuts off the low bits.
    options->convert_hdr_to_8bit = 0;
    heif_image *raw = nullptr;
    const heif_error error =
        heif_decode_image(handle, &raw, heif_colorspace_RGB, chroma, options.get());
    Image img(raw);
    Check(error, "HEIF picture could not be decoded");
    if (!img)
        PxThrow("HEIF picture could not be decoded");

    const int w = heif_image_get_width(img.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(img.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t *pixels = heif_image_get_plane_readonly(img.get(), heif_channel_interleaved,
                                                          &stride);
    const int channels = alpha ? 4 : 3;
    const int bytesPerSample = deep ? 2 : 1;
    if (!pixels || w <= 0 || h <= 0 || stride <= 0 ||
        static_cast<uint64_t>(stride) < uint64_t(w) * channels * bytesPerSample ||
        heif_image_get_chroma_format(img.get()) != chroma)
        PxThrow("HEIF decoder gave no usable picture");
    uint32_t max = 255;
    if (deep) {
        const int bits = heif_image_get_bits_per_pixel_range(img.get(), heif_channel_interleaved);
        if (bits < 9 || bits > 16)
            PxThrow("HEIF picture has %d bits per sample", bits);
        max = (1u << bits) - 1;
    }
    PxCheckDimensions("HEIF", uint64_t(w), uint64_t(h), 24);
    if (!out.CreateForOverwrite(uint32_t(w), uint32_t(h), 24, type))
        PxThrow("%s", out.GetLastError());
    if (alpha && !out.AlphaCreate())
        PxThrow("PxImage::Create can't allocate memory");
    const bool premultiplied = alpha && heif_image_is_premultiplied_alpha(img.get());

    for (int top = 0; top < h; ++top) {
        const uint8_t *src = pixels + size_t(top) * size_t(stride);
        const uint32_t y = uint32_t(h - 1 - top);
        uint8_t *dst = out.GetBits(y);
        uint8_t *a = alpha ? out.AlphaGetPointer(0, int32_t(y)) : nullptr;
        for (int x = 0; x < w; ++x, dst += 3) {
            uint8_t r, g, b, al = 255;
            if (deep) {
                const uint8_t *p = src + size_t(x) * channels * 2;
                r = Reduce(p[0] | (p[1] << 8), max);
                g = Reduce(p[2] | (p[3] << 8), max);
                b = Reduce(p[4] | (p[5] << 8), max);
                if (alpha)
                    al = Reduce(p[6] | (p[7] << 8), max);
            } else {
                const uint8_t *p = src + size_t(x) * channels;
                r = p[0], g = p[1], b = p[2];
                if (alpha)
                    al = p[3];
            }
            // The engine's alpha is straight, not multiplied into the colour.
            if (premultiplied && al > 0 && al < 255) {
                r = uint8_t(std::min(255, (r * 255 + al / 2) / al));
                g = uint8_t(std::min(255, (g * 255 + al / 2) / al));
                b = uint8_t(std::min(255, (b * 255 + al / 2) / al));
            }
            dst[0] = b, dst[1] = g, dst[2] = r;
            if (a)
                a[x] = al;
        }
    }
}

// --- colour and metadata ---------------------------------------------------------------------

// The picture's colour profile: an ICC profile as it is, an nclx description as the profile it
// stands for ("" for sRGB and what cannot be told).
std::string ColourProfile(const heif_image_handle *handle)
{
    switch (heif_image_handle_get_color_profile_type(handle)) {
    case heif_color_profile_type_prof:
    case heif_color_profile_type_rICC: {
        const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
        if (size == 0 || size > kMaxMetadataBytes)
            return {};
        std::string icc(size, '\0');
        if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code != heif_error_Ok)
            return {};
        return icc;
    }
    case heif_color_profile_type_nclx: {
        heif_color_profile_nclx *raw = nullptr;
        const heif_error error = heif_image_handle_get_nclx_color_profile(handle, &raw);
        // libheif fills in the pointer before it finds a value it does not know, and leaves the
        // profile to the caller then too.
        std::unique_ptr<heif_color_profile_nclx, NclxFree> nclx(raw);
        if (error.code != heif_error_Ok || !nclx)
            return {};
        return pxcolour::ProfileFromNclx(static_cast<uint16_t>(nclx->color_primaries),
                                         static_cast<uint16_t>(nclx->transfer_characteristics));
    }
    default:
        return {};
    }
}

std::string MetadataBlock(const heif_image_handle *handle, heif_item_id id,
                          size_t maxBytes = kMaxMetadataBytes)
{
    const size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size == 0 || size > maxBytes)
        return {};
    std::string data(size, '\0');
    if (heif_image_handle_get_metadata(handle, id, data.data()).code != heif_error_Ok)
        return {};
    return data;
}

std::vector<heif_item_id> MetadataIds(const heif_image_handle *handle, const char *type)
{
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle, type);
    if (count <= 0 || count > 1024)
        return {};
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    const int listed = heif_image_handle_get_list_of_metadata_block_IDs(handle, type, ids.data(),
                                                                        count);
    ids.resize(static_cast<size_t>(std::clamp(listed, 0, count)));
    return ids;
}

// The first EXIF block in the engine's form ("Exif\0\0" and the TIFF structure). HEIF stores a
// 4-byte big-endian offset from the block's data to its TIFF header first; some writers also
// keep a JPEG's "Exif\0\0" in front of it without counting it.
std::string ExifBlock(const heif_image_handle *handle, size_t maxBytes = kMaxMetadataBytes)
{
    for (heif_item_id id : MetadataIds(handle, "Exif")) {
        const std::string data = MetadataBlock(handle, id, maxBytes);
        if (data.size() < 4)
            continue;
        const auto *b = reinterpret_cast<const uint8_t *>(data.data());
        const uint64_t offset = (uint64_t(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
        if (offset >= data.size() - 4)
            continue;
        size_t tiff = 4 + static_cast<size_t>(offset);
        if (data.size() - tiff > sizeof kExifHeader &&
            std::memcmp(data.data() + tiff, kExifHeader, sizeof kExifHeader) == 0)
            tiff += sizeof kExifHeader;
        std::string app1(kExifHeader, sizeof kExifHeader);
        app1.append(data, tiff, std::string::npos);
        if (!pxexif::IsExif(reinterpret_cast<const uint8_t *>(app1.data()), app1.size()))
            continue;
        app1 = pxexif::WithoutThumbnail(app1);
        // The pixels come out upright; the block must not ask for another turn.
        pxexif::SetOrientation(app1, 1);
        return app1;
    }
    return {};
}

std::string XmpPacket(const heif_image_handle *handle)
{
    for (heif_item_id id : MetadataIds(handle, "mime")) {
        const char *content = heif_image_handle_get_metadata_content_type(handle, id);
        if (content && std::strcmp(content, "application/rdf+xml") == 0)
            return MetadataBlock(handle, id);
    }
    return {};
}

void TakeMetadata(const heif_image_handle *handle, const std::string &profile, PxImage &out)
{
    try {
        auto metadata = std::make_shared<PxMetadata>();
        metadata->exif = ExifBlock(handle);
        metadata->xmp = XmpPacket(handle);
        metadata->icc = profile;
        if (!metadata->exif.empty() || !metadata->icc.empty() || !metadata->xmp.empty())
            out.SetMetadata(std::move(metadata));
    } catch (const std::bad_alloc &) {
        // Without memory for the metadata the picture still loads, as it would without asking.
    }
}

// --- writing ---------------------------------------------------------------------------------

heif_error WriteOut(heif_context *, const void *data, size_t size, void *user)
{
    auto *file = static_cast<PxFile *>(user);
    if (pxlibio::Write(file, data, size) != size)
        return {heif_error_Encoding_error, heif_suberror_Cannot_write_output_data,
                "can't write the file"};
    return {heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

// The picture as 24-bit rows with its transparency as an alpha plane: the caller's image when
// it already is one, else a converted copy in *copy.
const PxImage &TrueColourSource(const PxImage &img, PxImage *copy)
{
    const bool transIndex = img.IsIndexed() && img.GetTransIndex() >= 0 &&
                            uint32_t(img.GetTransIndex()) < img.GetNumColors() &&
                            !img.AlphaIsValid() && !img.AlphaPaletteIsEnabled();
    if (img.GetBpp() == 24)
        return img;
    copy->Copy(img);
    if (!copy->IsValid() || !copy->IncreaseBpp(24))
        PxThrow("HEIF encoder can't convert the picture to 24 bits: %s", copy->GetLastError());
    // A transparent palette index is the only transparency such a picture has: it becomes
    // alpha, since HEIF has no palette to keep it in.
    if (transIndex) {
        if (!copy->AlphaCreate())
            throw std::bad_alloc();
        const uint8_t clear = uint8_t(img.GetTransIndex());
        for (uint32_t y = 0; y < img.GetHeight(); ++y) {
            uint8_t *a = copy->AlphaGetPointer(0, int32_t(y));
            for (uint32_t x = 0; x < img.GetWidth(); ++x)
                a[x] = img.GetPixelIndex(int32_t(x), int32_t(y)) == clear ? 0 : 255;
        }
    }
    return *copy;
}

bool Encode(PxFile &f, PxImage &img, uint32_t format)
{
    if (!img.IsValid())
        PxThrow("null image!!!");
    const heif_compression_format compression =
        format == PXFORMAT_AVIF ? heif_compression_AV1 : heif_compression_HEVC;
    PxImage converted;
    const PxImage &src = TrueColourSource(img, &converted);
    const uint32_t width = src.GetWidth(), height = src.GetHeight();
    if (width > uint32_t(INT_MAX) || height > uint32_t(INT_MAX))
        PxThrow("HEIF encoder can't take a picture of %u x %u", width, height);
    const bool alpha = src.AlphaIsValid();

    Context ctx = NewContext();
    heif_image *rawImage = nullptr;
    const heif_error created =
        heif_image_create(int(width), int(height), heif_colorspace_RGB,
                          alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                          &rawImage);
    Image picture(rawImage);
    Check(created, "HEIF picture could not be made");
    Check(heif_image_add_plane(picture.get(), heif_channel_interleaved, int(width), int(height), 8),
          "HEIF picture could not be made");
    int stride = 0;
    uint8_t *plane = heif_image_get_plane(picture.get(), heif_channel_interleaved, &stride);
    const unsigned channels = alpha ? 4 : 3;
    if (!plane || stride <= 0 || uint64_t(stride) < uint64_t(width) * channels)
        PxThrow("HEIF picture could not be made");
    for (uint32_t top = 0; top < height; ++top) {
        const uint32_t y = height - 1 - top;
        const uint8_t *row = src.GetBits(y);
        const uint8_t *a = alpha ? src.AlphaGetPointer(0, int32_t(y)) : nullptr;
        uint8_t *dst = plane + size_t(top) * size_t(stride);
        for (uint32_t x = 0; x < width; ++x, dst += channels) {
            dst[0] = row[3 * x + 2];
            dst[1] = row[3 * x + 1];
            dst[2] = row[3 * x];
            if (a)
                dst[3] = a[x];
        }
    }

    const PxMetadata *metadata = img.GetMetadata().get();
    if (metadata && !metadata->icc.empty())
        Check(heif_image_set_raw_color_profile(picture.get(), "prof", metadata->icc.data(),
                                               metadata->icc.size()),
              "HEIF colour profile could not be stored");

    heif_encoder *rawEncoder = nullptr;
    const heif_error found = heif_context_get_encoder_for_format(ctx.get(), compression, &rawEncoder);
    std::unique_ptr<heif_encoder, EncoderFree> encoder(rawEncoder);
    Check(found, format == PXFORMAT_AVIF ? "AVIF encoder is not available"
                                         : "HEIC encoder is not available");
    // Without a quality of its own the picture gets the encoder's default, as with heif-enc.
    const uint32_t quality = img.GetSaveQuality();
    if (quality >= 1 && quality <= 100)
        Check(heif_encoder_set_lossy_quality(encoder.get(), int(quality)),
              "HEIF encoder refused the quality");

    std::unique_ptr<heif_encoding_options, EncodingOptionsFree> options(
        heif_encoding_options_alloc());
    std::unique_ptr<heif_color_profile_nclx, NclxFree> nclx(heif_nclx_color_profile_alloc());
    if (!options || !nclx)
        throw std::bad_alloc();
    // The colour description heif-enc gives a picture of its own: BT.601 matrix, full range,
    // primaries and transfer left to the reader's sRGB default.
    Check(heif_nclx_color_profile_set_matrix_coefficients(nclx.get(), 6), "HEIF colour setup");
    Check(heif_nclx_color_profile_set_color_primaries(nclx.get(), 2), "HEIF colour setup");
    Check(heif_nclx_color_profile_set_transfer_characteristics(nclx.get(), 2), "HEIF colour setup");
    nclx->full_range_flag = 1;
    options->output_nclx_profile = nclx.get();
    options->save_alpha_channel = alpha ? 1 : 0;

    heif_image_handle *rawHandle = nullptr;
    const heif_error encoded = heif_context_encode_image(ctx.get(), picture.get(), encoder.get(),
                                                         options.get(), &rawHandle);
    Handle handle(rawHandle);
    Check(encoded, "HEIF picture could not be encoded");

    if (metadata && !metadata->exif.empty() &&
        pxexif::IsExif(reinterpret_cast<const uint8_t *>(metadata->exif.data()),
                       metadata->exif.size()) &&
        metadata->exif.size() <= size_t(INT_MAX)) {
        // libheif finds the TIFF header itself and records its offset: the JPEG form with its
        // "Exif\0\0" goes in as it is, as heif-enc stores a JPEG's block.
        std::string exif = metadata->exif;
        pxexif::SetPixelSize(exif, width, height);
        Check(heif_context_add_exif_metadata(ctx.get(), handle.get(), exif.data(), int(exif.size())),
              "HEIF EXIF block could not be stored");
    }
    if (metadata && !metadata->xmp.empty() && metadata->xmp.size() <= size_t(INT_MAX))
        Check(heif_context_add_XMP_metadata(ctx.get(), handle.get(), metadata->xmp.data(),
                                            int(metadata->xmp.size())),
              "HEIF XMP packet could not be stored");

    heif_writer writer{1, WriteOut};
    Check(heif_context_write(ctx.get(), &writer, &f), "HEIF file could not be written");
    return true;
}

} // namespace

namespace pxcodec {

bool DecodeHEIF(PxFile &f, PxImage &out, uint32_t)
{
    return PxGuard(out, [&] {
        const std::vector<uint8_t> data = ReadWholeFile(f);
        if (const char *reason = AvoidedFault(data.data(), data.size()))
            PxThrow("%s", reason);
        Context ctx = NewContext();
        Check(heif_context_read_from_memory_without_copy(ctx.get(), data.data(), data.size(),
                                                         nullptr),
              "HEIF file could not be read");
        Handle primary = PrimaryHandle(ctx.get());
        uint32_t width = 0, height = 0;
        CheckHandle(primary.get(), &width, &height);
        const uint32_t type = TypeFromBrands(data.data(), data.size());

        Handle thumb = ThumbnailFor(primary.get(), width, height, out.GetDecodeFitWidth(),
                                    out.GetDecodeFitHeight());
        DecodePixels(thumb ? thumb.get() : primary.get(), out, type);
        out.SetType(type);
        out.SetExifOrientation(1);
        std::string profile = ColourProfile(primary.get());
        if (out.GetKeepMetadata())
            TakeMetadata(primary.get(), profile, out);
        out.SetColourProfile(std::move(profile));
        return true;
    });
}

bool HeaderHEIF(PxFile &f, PxImage &out, PxHeaderInfo &info, uint32_t)
{
    return PxGuard(out, [&] {
        ReaderState state{};
        Context ctx = ContextThroughReader(f, &state, &info.format);
        Handle primary = PrimaryHandle(ctx.get());
        CheckHandle(primary.get(), &info.width, &info.height);
        return true;
    });
}

std::string ExifHEIF(PxFile &f, size_t maxBytes)
{
    try {
        ReaderState state{};
        Context ctx = ContextThroughReader(f, &state, nullptr);
        Handle primary = PrimaryHandle(ctx.get());
        return ExifBlock(primary.get(), maxBytes);
    } catch (const PxError &) {
    } catch (const std::bad_alloc &) {
    }
    return {};
}

bool EncodeHEIF(PxFile &f, PxImage &img, uint32_t format)
{
    if (format != PXFORMAT_HEIC && format != PXFORMAT_AVIF) {
        img.SetLastError("HEIF encoder: unknown format");
        return false;
    }
    return PxGuard(img, [&] { return Encode(f, img, format); });
}

} // namespace pxcodec

#if defined(__SANITIZE_ADDRESS__)
// x265 3.5 keeps a block of every encoder it opens for the life of the process; nothing of ours
// can free it, and a sanitized build would report it at every exit that wrote a HEIC.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libx265.so\n";
}
#endif
