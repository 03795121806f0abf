// PNG through libpng. Palette and grey pictures of up to 8 bits stay indexed (2-bit samples are
// widened to the 4-bit layout), 16-bit samples keep their high byte, colour becomes 24-bit, and
// every kind of transparency except a single fully transparent palette entry becomes the alpha
// plane. Rows without an alpha channel are decoded straight into the image's block.
//
// The ICC profile (iCCP) is always read, and so is the orientation of an eXIf chunk; with kept
// metadata the EXIF block (eXIf, kept in a JPEG's APP1 form) and the XMP packet (the iTXt chunk
// "XML:com.adobe.xmp") travel with the picture and are written back in the same chunks.
//
// libpng's error callback must not return: it longjmps to the one landing pad of each entry
// point, whose frame holds only trivially destructible state (see pxjpeg.cpp for the same rule).

#include "pxcodecs_p.h"
#include "pxcolour_p.h"
#include "pxexif_p.h"
#include "pxlibio_p.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <png.h>

namespace {

constexpr size_t kSignatureSize = 8;
constexpr char kXmpKeyword[] = "XML:com.adobe.xmp";

struct Channel {
    jmp_buf landing;
    char text[256];
    PxFile *file;
};

[[noreturn]] void OnError(png_structp png, png_const_charp message)
{
    auto *ch = static_cast<Channel *>(png_get_error_ptr(png));
    std::snprintf(ch->text, sizeof ch->text, "%s", message ? message : "PNG error");
    longjmp(ch->landing, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnRead(png_structp png, png_bytep data, size_t length)
{
    auto *ch = static_cast<Channel *>(png_get_io_ptr(png));
    if (pxlibio::Read(ch->file, data, length) != length)
        png_error(png, "PNG file is truncated");
}

void OnWrite(png_structp png, png_bytep data, size_t length)
{
    auto *ch = static_cast<Channel *>(png_get_io_ptr(png));
    if (pxlibio::Write(ch->file, data, length) != length)
        png_error(png, "PNG write error");
}

void OnFlush(png_structp png)
{
    pxlibio::Flush(static_cast<Channel *>(png_get_io_ptr(png))->file);
}

uint8_t GetIndex(const uint8_t *row, uint32_t x, uint32_t bpp)
{
    switch (bpp) {
    case 8: return row[x];
    case 4: return (row[x >> 1] >> ((~x & 1) * 4)) & 15;
    default: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
}

void SetIndex(uint8_t *row, uint32_t x, uint32_t bpp, uint8_t v)
{
    switch (bpp) {
    case 8: row[x] = v; break;
    case 4: {
        const int shift = (~x & 1) * 4;
        row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & ~(15 << shift)) | (v & 15) << shift);
        break;
    }
    default: {
        const int shift = 7 - (x & 7);
        row[x >> 3] = static_cast<uint8_t>((row[x >> 3] & ~(1 << shift)) | (v & 1) << shift);
        break;
    }
    }
}

// Widens 2-bit samples, packed at the start of the row, to 4-bit ones in place; runs from the
// right so nothing is overwritten before it is read. `scale` is 1 for palette indices and 5 for
// grey, whose four levels then sit on the 16-level ramp (3 * 5 = 15).
void WidenTwoBit(uint8_t *row, uint32_t width, uint8_t scale)
{
    for (uint32_t x = width; x-- > 0;) {
        const uint8_t v = (row[x >> 2] >> (6 - 2 * (x & 3))) & 3;
        SetIndex(row, x, 4, static_cast<uint8_t>(v * scale));
    }
}

// --- reading ---------------------------------------------------------------------------------

enum class Layout {
    Direct,      // libpng rows are the block's rows
    WidenTwo,    // 2-bit rows decoded into the block, then widened
    SplitGrey,   // grey + alpha pairs -> 8-bit grey indices and the alpha plane
    SplitColour, // blue-green-red-alpha -> 24-bit pixels and the alpha plane
};

struct DecodeJob {
    Channel ch;
    png_structp png;
    png_infop info;
    PxImage *out;
    png_bytep *rows; // malloc'd, freed by the caller
    png_bytep temp;  // malloc'd, freed by the caller
    // Set for a header read: the decode stops where the picture would be allocated.
    PxHeaderInfo *header;
};

bool CheckSize(uint32_t width, uint32_t height, uint32_t bpp, char *text, size_t textSize) noexcept
{
    try {
        PxCheckDimensions("PNG", width, height, bpp);
        return true;
    } catch (const PxError &e) {
        std::snprintf(text, textSize, "%s", e.text.c_str());
    } catch (...) {
        std::snprintf(text, textSize, "PxImage::Create can't allocate memory");
    }
    return false;
}

bool CreateImage(PxImage *out, uint32_t width, uint32_t height, uint32_t bpp, char *text,
                 size_t textSize) noexcept
{
    try {
        PxCheckDimensions("PNG", width, height, bpp);
        if (out->Create(width, height, bpp, PXFORMAT_PNG))
            return true;
        std::snprintf(text, textSize, "%s", out->GetLastError());
    } catch (const PxError &e) {
        std::snprintf(text, textSize, "%s", e.text.c_str());
    } catch (...) {
        std::snprintf(text, textSize, "PxImage::Create can't allocate memory");
    }
    return false;
}

bool AllocAlpha(PxImage *out, char *text, size_t textSize) noexcept
{
    try {
        if (out->AlphaCreate())
            return true;
    } catch (...) {
    }
    std::snprintf(text, textSize, "PxImage::Create can't allocate memory");
    return false;
}

void TakeBackground(png_structp png, png_infop info, int colorType, int depth, PxImage *out)
{
    png_color_16p bg = nullptr;
    if (!png_get_bKGD(png, info, &bg) || !bg)
        return;
    PxRGBQuad c{};
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp pal = nullptr;
        int count = 0;
        if (!png_get_PLTE(png, info, &pal, &count) || bg->index >= count)
            return;
        c = {pal[bg->index].blue, pal[bg->index].green, pal[bg->index].red, 0};
    } else if (!(colorType & PNG_COLOR_MASK_COLOR)) {
        const uint32_t max = (1u << depth) - 1;
        const auto g = static_cast<uint8_t>(std::min<uint32_t>(bg->gray, max) * 255 / max);
        c = {g, g, g, 0};
    } else {
        const int shift = depth == 16 ? 8 : 0;
        c = {static_cast<uint8_t>(bg->blue >> shift), static_cast<uint8_t>(bg->green >> shift),
             static_cast<uint8_t>(bg->red >> shift), 0};
    }
    out->SetBkColor(c);
}

// The colour profile, the EXIF orientation and, with keep set, the metadata of the chunks
// libpng has read. Kept out of the frame that owns the landing pad: it allocates.
void TakeChunks(png_structp png, png_infop info, bool keep, PxImage *out) noexcept
{
    try {
        png_charp name = nullptr;
        int compression = 0;
        png_bytep profile = nullptr;
        png_uint_32 profileLength = 0;
        std::string icc;
        if (png_get_iCCP(png, info, &name, &compression, &profile, &profileLength) && profile)
            icc.assign(reinterpret_cast<const char *>(profile), profileLength);
        out->SetColourProfile(icc);

        png_bytep exifData = nullptr;
        png_uint_32 exifLength = 0;
        std::string exif;
        if (png_get_eXIf_1(png, info, &exifLength, &exifData) && exifData && exifLength > 0) {
            exif.assign("Exif\0\0", pxexif::kHeaderSize);
            exif.append(reinterpret_cast<const char *>(exifData), exifLength);
        }
        out->SetExifOrientation(exif.empty() ? 0 : pxexif::ReadOrientation(
            reinterpret_cast<const uint8_t *>(exif.data()), exif.size()));
        if (!keep)
            return;
        auto metadata = std::make_shared<PxMetadata>();
        if (!exif.empty())
            metadata->exif = pxexif::WithoutThumbnail(exif);
        metadata->icc = std::move(icc);
        png_textp texts = nullptr;
        const int count = png_get_text(png, info, &texts, nullptr);
        for (int i = 0; texts && i < count; ++i) {
            const png_text &t = texts[i];
            if (!t.key || !t.text || std::strcmp(t.key, kXmpKeyword) != 0)
                continue;
            const size_t length = t.compression >= PNG_ITXT_COMPRESSION_NONE ? t.itxt_length
                                                                             : t.text_length;
            metadata->xmp.assign(t.text, length);
            break;
        }
        if (!metadata->exif.empty() || !metadata->icc.empty() || !metadata->xmp.empty())
            out->SetMetadata(std::move(metadata));
    } catch (...) {
        // Without memory for the metadata the picture still loads, as it would without asking.
    }
}

bool RunDecode(DecodeJob *job)
{
    Channel *ch = &job->ch;
    if (setjmp(ch->landing)) {
        png_destroy_read_struct(&job->png, &job->info, nullptr);
        return false;
    }
    job->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, ch, OnError, OnWarning);
    if (!job->png) {
        std::snprintf(ch->text, sizeof ch->text, "PNG: out of memory");
        return false;
    }
    job->info = png_create_info_struct(job->png);
    if (!job->info)
        png_error(job->png, "PNG: out of memory");
    png_structp png = job->png;
    png_infop info = job->info;
    png_set_read_fn(png, ch, OnRead);
    png_set_sig_bytes(png, kSignatureSize);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
    const bool hasTrns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;

    Layout layout = Layout::Direct;
    uint32_t bpp = 24;
    size_t rowBytes = static_cast<size_t>(width) * 3;
    if (depth == 16)
        png_set_strip_16(png);
    switch (colorType) {
    case PNG_COLOR_TYPE_PALETTE:
    case PNG_COLOR_TYPE_GRAY:
        if (colorType == PNG_COLOR_TYPE_GRAY && (hasTrns || depth == 16)) {
            // The transparent grey level is matched at the file's own depth by libpng.
            if (hasTrns)
                png_set_tRNS_to_alpha(png);
            png_set_expand_gray_1_2_4_to_8(png);
            layout = hasTrns ? Layout::SplitGrey : Layout::Direct;
            bpp = 8;
            rowBytes = static_cast<size_t>(width) * (hasTrns ? 2 : 1);
            break;
        }
        bpp = depth == 8 ? 8 : depth == 1 ? 1 : 4;
        layout = depth == 2 ? Layout::WidenTwo : Layout::Direct;
        rowBytes = (static_cast<size_t>(width) * depth + 7) / 8;
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        layout = Layout::SplitGrey;
        bpp = 8;
        rowBytes = static_cast<size_t>(width) * 2;
        break;
    case PNG_COLOR_TYPE_RGB:
        png_set_bgr(png);
        if (hasTrns) {
            png_set_tRNS_to_alpha(png);
            layout = Layout::SplitColour;
            rowBytes = static_cast<size_t>(width) * 4;
        }
        break;
    default: // RGBA
        png_set_bgr(png);
        layout = Layout::SplitColour;
        rowBytes = static_cast<size_t>(width) * 4;
        break;
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != rowBytes)
        png_error(png, "PNG: unexpected row layout after transformations");

    if (job->header) {
        const bool fits = CheckSize(width, height, bpp, ch->text, sizeof ch->text);
        job->header->width = width;
        job->header->height = height;
        png_destroy_read_struct(&job->png, &job->info, nullptr);
        return fits;
    }
    if (!CreateImage(job->out, width, height, bpp, ch->text, sizeof ch->text)) {
        png_destroy_read_struct(&job->png, &job->info, nullptr);
        return false;
    }
    PxImage *out = job->out;
    const bool split = layout == Layout::SplitGrey || layout == Layout::SplitColour;

    // Palette and transparency.
    int transIndex = -1;
    png_bytep trans = nullptr;
    int numTrans = 0;
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp pal = nullptr;
        int count = 0;
        if (!png_get_PLTE(png, info, &pal, &count) || !pal)
            png_error(png, "PNG palette image without a palette");
        count = std::min<int>(count, 1 << std::min(depth, 8));
        for (int i = 0; i < count; ++i)
            out->SetPaletteColor(static_cast<uint8_t>(i), pal[i].red, pal[i].green, pal[i].blue);
        if (hasTrns)
            png_get_tRNS(png, info, &trans, &numTrans, nullptr);
        numTrans = std::min(numTrans, count);
        int zeros = 0, partial = 0;
        for (int i = 0; i < numTrans; ++i) {
            if (trans[i] == 0) {
                transIndex = i;
                ++zeros;
            } else if (trans[i] != 255) {
                ++partial;
            }
        }
        if (zeros == 1 && partial == 0) {
            out->SetTransIndex(transIndex);
            numTrans = 0; // nothing left for an alpha plane
        } else if (zeros + partial == 0) {
            numTrans = 0;
        }
    } else if (bpp != 24) {
        // Grey: the level ramp of the stored depth (2-bit grey is widened onto 4 bits).
        const uint32_t levels = bpp == 8 ? 256 : bpp == 4 ? 16 : 2;
        for (uint32_t i = 0; i < levels; ++i) {
            const auto g = static_cast<uint8_t>(i * 255 / (levels - 1));
            out->SetPaletteColor(static_cast<uint8_t>(i), g, g, g);
        }
    }
    if ((split || numTrans > 0) && !AllocAlpha(out, ch->text, sizeof ch->text)) {
        png_destroy_read_struct(&job->png, &job->info, nullptr);
        return false;
    }

    uint8_t *const bottom = out->GetBits(0);
    const size_t stride = out->GetEffWidth();
    if (!split) {
        job->rows = static_cast<png_bytep *>(std::malloc(sizeof(png_bytep) * height));
        if (!job->rows)
            png_error(png, "PxImage::Create can't allocate memory");
        for (uint32_t y = 0; y < height; ++y)
            job->rows[y] = bottom + (height - 1 - y) * stride;
        png_read_image(png, job->rows);
        if (layout == Layout::WidenTwo) {
            const uint8_t scale = colorType == PNG_COLOR_TYPE_PALETTE ? 1 : 5;
            for (uint32_t y = 0; y < height; ++y)
                WidenTwoBit(job->rows[y], width, scale);
        }
    } else {
        // Interlaced rows are revisited by every pass, so they need the whole picture at once.
        const size_t tempRows = passes > 1 ? height : 1;
        uint64_t tempBytes = 0;
        if (PxMulOverflows(rowBytes, tempRows, &tempBytes) || tempBytes > SIZE_MAX)
            png_error(png, "PNG image too large");
        job->temp = static_cast<png_bytep>(std::malloc(static_cast<size_t>(tempBytes)));
        if (!job->temp)
            png_error(png, "PxImage::Create can't allocate memory");
        if (passes > 1) {
            job->rows = static_cast<png_bytep *>(std::malloc(sizeof(png_bytep) * height));
            if (!job->rows)
                png_error(png, "PxImage::Create can't allocate memory");
            for (uint32_t y = 0; y < height; ++y)
                job->rows[y] = job->temp + y * rowBytes;
            png_read_image(png, job->rows);
        }
        const uint32_t channels = layout == Layout::SplitGrey ? 2 : 4;
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t *src = job->temp + (passes > 1 ? y * rowBytes : 0);
            if (passes <= 1)
                png_read_row(png, job->temp, nullptr);
            const uint32_t row = height - 1 - y;
            uint8_t *dst = bottom + row * stride;
            uint8_t *alpha = out->AlphaGetPointer(0, static_cast<int32_t>(row));
            for (uint32_t x = 0; x < width; ++x, src += channels) {
                if (channels == 2) {
                    dst[x] = src[0];
                } else {
                    dst[3 * x] = src[0];
                    dst[3 * x + 1] = src[1];
                    dst[3 * x + 2] = src[2];
                }
                alpha[x] = src[channels - 1];
            }
        }
    }
    if (numTrans > 0) {
        // Partly transparent palette entries: each pixel takes its entry's alpha.
        for (uint32_t row = 0; row < height; ++row) {
            const uint8_t *src = bottom + row * stride;
            uint8_t *alpha = out->AlphaGetPointer(0, static_cast<int32_t>(row));
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t index = GetIndex(src, x, bpp);
                alpha[x] = index < numTrans ? trans[index] : 255;
            }
        }
    }
    // Into info: an eXIf or iTXt chunk may follow the picture data.
    png_read_end(png, info);
    TakeChunks(png, info, out->GetKeepMetadata(), out);

    png_uint_32 xppm = 0, yppm = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &xppm, &yppm, &unit) && unit == PNG_RESOLUTION_METER) {
        const int32_t x = pxlibio::DpiFrom(xppm * 0.0254, false);
        const int32_t y = pxlibio::DpiFrom(yppm * 0.0254, false);
        if (x > 0 && y > 0) {
            out->SetXDPI(x);
            out->SetYDPI(y);
        }
    }
    TakeBackground(png, info, colorType, depth, out);
    png_destroy_read_struct(&job->png, &job->info, nullptr);
    return true;
}

// --- writing ---------------------------------------------------------------------------------

enum class Output {
    Palette,         // the block's rows as they are
    PaletteRemapped, // indices translated through `remap` row by row
    Rgb,             // the block's 24-bit rows, written as blue-green-red
    Rgba,            // rows assembled into `row` as blue-green-red-alpha
};

struct EncodeJob {
    Channel ch;
    png_structp png;
    png_infop info;
    const PxImage *img;
    Output output;
    uint8_t *row; // owned by the caller, sized for the widest output row
    const uint8_t *remap;
    png_color palette[256];
    int paletteSize;
    png_byte trans[256];
    int numTrans;
    png_color_16 background;
    // Rgba only: a true-colour image's transparent colour, or an indexed image's transparent
    // entry (-1 for none); both become alpha 0.
    bool transColour;
    PxRGBQuad transRgb;
    int transIndex;
    // What the image carries beside its pixels, prepared outside the landing frame; empty
    // strings are not written.
    const std::string *icc;
    const std::string *exifTiff; // the TIFF structure, without "Exif\0\0"
    const std::string *xmp;
};

void BuildRgbaRow(const EncodeJob *job, uint32_t y)
{
    const PxImage *img = job->img;
    const uint32_t width = img->GetWidth();
    const uint32_t bpp = img->GetBpp();
    const uint8_t *src = img->GetBits(y);
    const PxRGBQuad *pal = img->GetPalette();
    const uint8_t *alpha = img->AlphaIsValid() ? img->AlphaGetPointer(0, static_cast<int32_t>(y))
                                               : nullptr;
    uint8_t *dst = job->row;
    for (uint32_t x = 0; x < width; ++x, dst += 4) {
        if (bpp == 24) {
            dst[0] = src[3 * x];
            dst[1] = src[3 * x + 1];
            dst[2] = src[3 * x + 2];
        } else {
            const uint8_t index = GetIndex(src, x, bpp);
            const PxRGBQuad &c = pal[index];
            dst[0] = c.blue;
            dst[1] = c.green;
            dst[2] = c.red;
            if (index == job->transIndex) {
                dst[3] = 0;
                continue;
            }
        }
        dst[3] = alpha ? alpha[x] : 255;
        if (job->transColour && dst[0] == job->transRgb.blue && dst[1] == job->transRgb.green &&
            dst[2] == job->transRgb.red)
            dst[3] = 0;
    }
}

bool RunEncode(EncodeJob *job)
{
    Channel *ch = &job->ch;
    if (setjmp(ch->landing)) {
        png_destroy_write_struct(&job->png, &job->info);
        return false;
    }
    job->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, ch, OnError, OnWarning);
    if (!job->png) {
        std::snprintf(ch->text, sizeof ch->text, "PNG: out of memory");
        return false;
    }
    job->info = png_create_info_struct(job->png);
    if (!job->info)
        png_error(job->png, "PNG: out of memory");
    png_structp png = job->png;
    png_infop info = job->info;
    png_set_write_fn(png, ch, OnWrite, OnFlush);

    const PxImage *img = job->img;
    const uint32_t width = img->GetWidth();
    const uint32_t height = img->GetHeight();
    const bool palette = job->output == Output::Palette || job->output == Output::PaletteRemapped;
    const int colorType = palette ? PNG_COLOR_TYPE_PALETTE
                          : job->output == Output::Rgb ? PNG_COLOR_TYPE_RGB
                                                       : PNG_COLOR_TYPE_RGB_ALPHA;
    const int depth = palette ? static_cast<int>(img->GetBpp()) : 8;
    png_set_IHDR(png, info, width, height, depth, colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (palette) {
        png_set_PLTE(png, info, job->palette, job->paletteSize);
        if (job->numTrans > 0)
            png_set_tRNS(png, info, job->trans, job->numTrans, nullptr);
    }
    png_set_bKGD(png, info, &job->background);
    const PxBitmapInfoHeader &head = img->GetHeader();
    if (head.xPelsPerMeter > 0 && head.yPelsPerMeter > 0)
        png_set_pHYs(png, info, static_cast<png_uint_32>(head.xPelsPerMeter),
                     static_cast<png_uint_32>(head.yPelsPerMeter), PNG_RESOLUTION_METER);
    if (!job->icc->empty()) {
        // A profile libpng finds fault with (a tag beyond its end, say) is left out with a
        // warning rather than failing the save; then libpng's own strictness is back.
        png_set_benign_errors(png, 1);
        png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE,
                     reinterpret_cast<png_const_bytep>(job->icc->data()),
                     static_cast<png_uint_32>(job->icc->size()));
        png_set_benign_errors(png, 0);
    }
    if (!job->exifTiff->empty())
        png_set_eXIf_1(png, info, static_cast<png_uint_32>(job->exifTiff->size()),
                       reinterpret_cast<png_bytep>(const_cast<char *>(job->exifTiff->data())));
    png_text xmp{};
    if (!job->xmp->empty()) {
        xmp.compression = PNG_ITXT_COMPRESSION_NONE;
        xmp.key = const_cast<png_charp>(kXmpKeyword);
        xmp.text = const_cast<png_charp>(job->xmp->data());
        xmp.itxt_length = job->xmp->size();
        xmp.lang = const_cast<png_charp>("");
        xmp.lang_key = const_cast<png_charp>("");
        png_set_text(png, info, &xmp, 1);
    }
    png_write_info(png, info);
    if (!palette)
        png_set_bgr(png);

    const uint32_t bpp = img->GetBpp();
    for (uint32_t i = 0; i < height; ++i) {
        const uint32_t y = height - 1 - i; // the file's first row is the block's top row
        switch (job->output) {
        case Output::Palette:
        case Output::Rgb:
            png_write_row(png, img->GetBits(y));
            break;
        case Output::PaletteRemapped: {
            const uint8_t *src = img->GetBits(y);
            for (uint32_t x = 0; x < width; ++x)
                SetIndex(job->row, x, bpp, job->remap[GetIndex(src, x, bpp)]);
            png_write_row(png, job->row);
            break;
        }
        case Output::Rgba:
            BuildRgbaRow(job, y);
            png_write_row(png, job->row);
            break;
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&job->png, &job->info);
    return true;
}

uint8_t NearestIndex(const png_color *pal, int count, PxRGBQuad c)
{
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < count; ++i) {
        const long dr = pal[i].red - c.red, dg = pal[i].green - c.green, db = pal[i].blue - c.blue;
        const long d = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return static_cast<uint8_t>(best);
}

// The alpha of every pixel of an indexed image with an alpha plane, if it follows from the
// pixel's palette entry alone; then the image can stay a palette PNG with a tRNS chunk.
bool AlphaPerEntry(const PxImage &img, int transIndex, uint8_t alphaOf[256])
{
    int16_t seen[256];
    std::fill(std::begin(seen), std::end(seen), -1);
    const uint32_t width = img.GetWidth(), bpp = img.GetBpp();
    for (uint32_t y = 0; y < img.GetHeight(); ++y) {
        const uint8_t *src = img.GetBits(y);
        const uint8_t *alpha = img.AlphaGetPointer(0, static_cast<int32_t>(y));
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t index = GetIndex(src, x, bpp);
            const int16_t a = index == transIndex ? 0 : alpha[x];
            if (seen[index] < 0)
                seen[index] = a;
            else if (seen[index] != a)
                return false;
        }
    }
    for (int i = 0; i < 256; ++i)
        alphaOf[i] = seen[i] < 0 ? 255 : static_cast<uint8_t>(seen[i]);
    return true;
}

bool DecodeOrHeader(PxFile &f, PxImage &out, PxHeaderInfo *header)
{
    uint8_t signature[kSignatureSize];
    if (pxlibio::Read(&f, signature, kSignatureSize) != kSignatureSize ||
        png_sig_cmp(signature, 0, kSignatureSize) != 0) {
        out.SetLastError("Not a PNG file");
        return false;
    }
    auto *job = new (std::nothrow) DecodeJob{};
    if (!job) {
        out.SetLastError("PxImage::Create can't allocate memory");
        return false;
    }
    job->ch.file = &f;
    job->out = &out;
    job->header = header;
    const bool ok = RunDecode(job);
    if (!ok)
        out.SetLastError(job->ch.text[0] ? job->ch.text : "PNG decoding failed");
    std::free(job->rows);
    std::free(job->temp);
    delete job;
    return ok;
}

} // namespace

namespace pxcodec {

bool DecodePNG(PxFile &f, PxImage &out)
{
    return DecodeOrHeader(f, out, nullptr);
}

bool HeaderPNG(PxFile &f, PxImage &out, PxHeaderInfo &info)
{
    return DecodeOrHeader(f, out, &info);
}

bool EncodePNG(PxFile &f, PxImage &img)
{
    return PxGuard(img, [&] {
        if (!img.IsValid())
            PxThrow("null image!!!");
        auto job = std::make_unique<EncodeJob>();
        job->ch.file = &f;
        job->img = &img;

        const int transIndex = img.GetTransIndex();
        const PxRGBQuad white{255, 255, 255, 0};
        const PxRGBQuad bk = transIndex >= 0 ? img.GetBkColor() : white;
        std::vector<uint8_t> remap(256);
        std::vector<uint8_t> row;
        job->remap = remap.data();

        if (img.IsIndexed()) {
            const int count = static_cast<int>(img.GetNumColors());
            const PxRGBQuad *pal = img.GetPalette();
            for (int i = 0; i < count; ++i)
                job->palette[i] = {pal[i].red, pal[i].green, pal[i].blue};
            job->paletteSize = count;
            for (int i = 0; i < 256; ++i)
                remap[i] = static_cast<uint8_t>(i);
            const bool validTrans = transIndex >= 0 && transIndex < count;
            uint8_t alphaOf[256];
            job->output = Output::Palette;
            if (img.AlphaIsValid()) {
                if (AlphaPerEntry(img, validTrans ? transIndex : -1, alphaOf)) {
                    for (int i = 0; i < count; ++i) {
                        job->trans[i] = alphaOf[i];
                        if (alphaOf[i] != 255)
                            job->numTrans = i + 1;
                    }
                } else {
                    job->output = Output::Rgba;
                    job->transIndex = validTrans ? transIndex : -1;
                }
            } else if (validTrans) {
                // The transparent entry moves to position 0 so that tRNS holds one byte; the
                // caller's image is untouched, its rows are translated as they are written.
                if (transIndex != 0) {
                    std::swap(remap[0], remap[transIndex]);
                    std::swap(job->palette[0], job->palette[transIndex]);
                    job->output = Output::PaletteRemapped;
                }
                job->trans[0] = 0;
                job->numTrans = 1;
            }
            if (job->output == Output::Palette || job->output == Output::PaletteRemapped)
                job->background.index = NearestIndex(job->palette, count, bk);
            row.resize(job->output == Output::Rgba ? static_cast<size_t>(img.GetWidth()) * 4
                                                   : img.GetEffWidth());
        } else {
            job->transIndex = -1;
            job->transColour = transIndex >= 0;
            job->transRgb = img.GetTransColor();
            job->output = img.AlphaIsValid() || job->transColour ? Output::Rgba : Output::Rgb;
            row.resize(static_cast<size_t>(img.GetWidth()) * 4);
        }
        job->background.red = bk.red;
        job->background.green = bk.green;
        job->background.blue = bk.blue;
        job->row = row.data();

        // Only a profile for RGB pixels that states its own size: libpng refuses anything else
        // with an error, and a picture must not fail to save over its profile.
        std::string icc, exifTiff, xmp;
        if (const PxMetadata *metadata = img.GetMetadata().get()) {
            if (pxcolour::IsRgbProfile(metadata->icc) && metadata->icc.size() <= PNG_UINT_31_MAX)
                icc = metadata->icc;
            if (pxexif::IsExif(reinterpret_cast<const uint8_t *>(metadata->exif.data()),
                               metadata->exif.size()) &&
                metadata->exif.size() > pxexif::kHeaderSize &&
                metadata->exif.size() - pxexif::kHeaderSize <= PNG_UINT_31_MAX) {
                std::string exif = metadata->exif;
                pxexif::SetPixelSize(exif, img.GetWidth(), img.GetHeight());
                exifTiff = exif.substr(pxexif::kHeaderSize);
            }
            if (metadata->xmp.size() <= PNG_UINT_31_MAX)
                xmp = metadata->xmp;
        }
        job->icc = &icc;
        job->exifTiff = &exifTiff;
        job->xmp = &xmp;

        if (RunEncode(job.get()))
            return true;
        PxThrow("%s", job->ch.text[0] ? job->ch.text : "PNG encoding failed");
    });
}

} // namespace pxcodec
