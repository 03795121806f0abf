// TIFF through libtiff, over PxFile with client callbacks. Palette and grey pictures stay
// indexed, RGB and CMYK become 24-bit (alpha into the alpha plane); every other layout goes
// through libtiff's RGBA reader. Only the first directory is read, so IFD chains and loops are
// never walked. libtiff reports errors by return value, so no landing pad is needed; its
// messages are captured per handle and become the image's error text.
//
// The ICC profile is always read. The Orientation tag is not applied to the rows (they stay as
// stored, like a JPEG's): it becomes the image's EXIF orientation, for AutoOrient. With kept
// metadata the XMP packet and an EXIF block travel with the picture: IFD0's descriptive fields
// and the EXIF and GPS directories, copied from the file. The writer puts them back as tags of
// IFD0 and as EXIF and GPS directories of its own.

#include "pxcodecs_p.h"
#include "pxexif_p.h"
#include "pxlibio_p.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include <tiffio.h>

namespace {

// Largest single buffer libtiff or this reader may allocate for one file.
constexpr tmsize_t kMaxAllocation = 256 * 1024 * 1024;

struct Channel {
    PxFile *file = nullptr;
    int64_t base = 0; // TIFF offsets count from where the stream stood at open
    char text[256] = {};
};

// Messages from the few libtiff paths that report without a handle.
thread_local char t_globalText[256];

int OnHandleError(TIFF *, void *user, const char *module, const char *format, va_list args)
{
    auto *ch = static_cast<Channel *>(user);
    // The first error names the cause; later ones are its consequences.
    if (ch && !ch->text[0]) {
        char message[200];
        std::vsnprintf(message, sizeof message, format, args);
        std::snprintf(ch->text, sizeof ch->text, "%s: %s", module ? module : "TIFF", message);
    }
    return 1; // handled: keep the process-wide handler (and stderr) out of it
}

int OnHandleWarning(TIFF *, void *, const char *, const char *, va_list) { return 1; }

void OnGlobalError(const char *module, const char *format, va_list args)
{
    char message[200];
    std::vsnprintf(message, sizeof message, format, args);
    std::snprintf(t_globalText, sizeof t_globalText, "%s: %s", module ? module : "TIFF", message);
}

void OnGlobalWarning(const char *, const char *, va_list) {}

void SilenceGlobalHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(OnGlobalError);
        TIFFSetWarningHandler(OnGlobalWarning);
    });
}

tmsize_t OnRead(thandle_t h, void *buffer, tmsize_t size)
{
    if (size <= 0)
        return 0;
    return static_cast<tmsize_t>(
        pxlibio::Read(static_cast<Channel *>(h)->file, buffer, static_cast<size_t>(size)));
}

tmsize_t OnWrite(thandle_t h, void *buffer, tmsize_t size)
{
    if (size <= 0)
        return 0;
    return static_cast<tmsize_t>(
        pxlibio::Write(static_cast<Channel *>(h)->file, buffer, static_cast<size_t>(size)));
}

toff_t OnSeek(thandle_t h, toff_t offset, int whence)
{
    auto *ch = static_cast<Channel *>(h);
    bool ok = false;
    if (whence == SEEK_SET) {
        ok = offset <= static_cast<toff_t>(INT64_MAX - ch->base) &&
             pxlibio::Seek(ch->file, ch->base + static_cast<int64_t>(offset), SEEK_SET);
    } else {
        // Relative offsets arrive as two's-complement values in the unsigned type.
        ok = pxlibio::Seek(ch->file, static_cast<int64_t>(offset), whence);
    }
    const int64_t pos = ok ? pxlibio::Tell(ch->file) : -1;
    if (pos < ch->base)
        return static_cast<toff_t>(-1);
    return static_cast<toff_t>(pos - ch->base);
}

int OnClose(thandle_t) { return 0; }

toff_t OnSize(thandle_t h)
{
    auto *ch = static_cast<Channel *>(h);
    const int64_t size = pxlibio::Size(ch->file);
    return size > ch->base ? static_cast<toff_t>(size - ch->base) : 0;
}

int OnMap(thandle_t, tdata_t *, toff_t *) { return 0; }
void OnUnmap(thandle_t, tdata_t, toff_t) {}

struct TiffCloser {
    void operator()(TIFF *tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

[[noreturn]] void Fail(const Channel &ch, const char *fallback)
{
    if (ch.text[0])
        PxThrow("%s", ch.text);
    if (t_globalText[0])
        PxThrow("%s", t_globalText);
    PxThrow("%s", fallback);
}

TiffPtr Open(Channel &ch, const char *mode)
{
    SilenceGlobalHandlers();
    t_globalText[0] = '\0';
    ch.base = pxlibio::Tell(ch.file);
    if (ch.base < 0)
        PxThrow("TIFF: stream position unknown");
    TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
    if (!opts)
        throw std::bad_alloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, kMaxAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(opts, OnHandleError, &ch);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, OnHandleWarning, &ch);
    // "m": no memory mapping, every byte goes through PxFile.
    TIFF *tif = TIFFClientOpenExt("PxFile", mode, &ch, OnRead, OnWrite, OnSeek, OnClose, OnSize,
                                  OnMap, OnUnmap, opts);
    TIFFOpenOptionsFree(opts);
    if (!tif)
        Fail(ch, "Not a TIFF file");
    return TiffPtr(tif);
}

uint64_t CheckedBytes(uint64_t a, uint64_t b)
{
    uint64_t bytes = 0;
    if (PxMulOverflows(a, b, &bytes) || bytes > static_cast<uint64_t>(kMaxAllocation))
        PxThrow("TIFF buffer of %llu x %llu bytes is too large", static_cast<unsigned long long>(a),
                static_cast<unsigned long long>(b));
    return bytes;
}

// --- reading ---------------------------------------------------------------------------------

enum class Alpha { None, Associated, Unassociated };

struct Layout {
    uint32_t width = 0, height = 0;
    uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT, inkset = INKSET_CMYK;
    Alpha alpha = Alpha::None;
};

Layout ReadLayout(TIFF *tif)
{
    Layout l;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.height))
        PxThrow("TIFF directory without image size");
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &l.compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &l.sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &l.inkset);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric))
        l.photometric = l.spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    uint16_t extraCount = 0;
    uint16_t *extra = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    // Same reading of the extra sample as libtiff's RGBA reader: an unspecified one, or a
    // fourth RGB sample without any description, is taken as premultiplied alpha.
    if (extraCount >= 1 && extra) {
        if (extra[0] == EXTRASAMPLE_UNASSALPHA)
            l.alpha = Alpha::Unassociated;
        else if (extra[0] == EXTRASAMPLE_ASSOCALPHA ||
                 (extra[0] == EXTRASAMPLE_UNSPECIFIED && l.spp > 3))
            l.alpha = Alpha::Associated;
    } else if (l.spp == 4 && l.photometric == PHOTOMETRIC_RGB) {
        l.alpha = Alpha::Associated;
    }
    return l;
}

// Reads rows [y0, y0 + rows) of one plane into `band`, bandRowBytes per row.
void ReadBand(TIFF *tif, const Channel &ch, const Layout &l, uint16_t plane, uint32_t y0,
              uint32_t rows, uint64_t bandRowBytes, uint64_t pixelBits, uint8_t *band,
              std::vector<uint8_t> &tile)
{
    if (!TIFFIsTiled(tif)) {
        const uint32_t strip = TIFFComputeStrip(tif, y0, plane);
        // libtiff reads an uncompressed strip by its computed size, running on into whatever
        // follows a short one (a rows-per-strip value that does not match the strip table).
        const uint64_t needed = rows * bandRowBytes;
        if (l.compression == COMPRESSION_NONE && TIFFGetStrileByteCount(tif, strip) < needed)
            PxThrow("TIFF strip %u holds %llu bytes, its %u rows need %llu", strip,
                    static_cast<unsigned long long>(TIFFGetStrileByteCount(tif, strip)), rows,
                    static_cast<unsigned long long>(needed));
        if (TIFFReadEncodedStrip(tif, strip, band, static_cast<tmsize_t>(rows * bandRowBytes)) < 0)
            Fail(ch, "TIFF strip could not be read");
        return;
    }
    uint32_t tw = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    const uint64_t tileRow = TIFFTileRowSize64(tif);
    uint32_t th = 0;
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
    for (uint32_t x0 = 0; x0 < l.width; x0 += tw) {
        const uint32_t index = TIFFComputeTile(tif, x0, y0, 0, plane);
        if (l.compression == COMPRESSION_NONE &&
            TIFFGetStrileByteCount(tif, index) < tileRow * th)
            PxThrow("TIFF tile %u is shorter than its %u x %u pixels", index, tw, th);
        if (TIFFReadTile(tif, tile.data(), x0, y0, 0, plane) < 0)
            Fail(ch, "TIFF tile could not be read");
        const uint64_t xByte = x0 * pixelBits / 8;
        const size_t bytes = static_cast<size_t>(std::min(tileRow, bandRowBytes - xByte));
        for (uint32_t r = 0; r < rows; ++r)
            std::memcpy(band + r * bandRowBytes + xByte, tile.data() + r * tileRow, bytes);
    }
}

// Calls row(y, samples) for every row, top first, with the row's samples interleaved as in a
// contiguous scanline, whether the file keeps them in strips or tiles, together or in planes.
template <typename RowFn>
void ReadRows(TIFF *tif, const Channel &ch, const Layout &l, RowFn &&row)
{
    const bool separate = l.planar == PLANARCONFIG_SEPARATE && l.spp > 1;
    const uint32_t planes = separate ? l.spp : 1;
    const uint64_t pixelBits = separate ? l.bps : static_cast<uint64_t>(l.bps) * l.spp;
    const uint64_t bandRowBytes = PxRowBytes(l.width, pixelBits, 1);
    const uint64_t rowBytes = PxRowBytes(l.width, static_cast<uint64_t>(l.bps) * l.spp, 1);
    if (bandRowBytes == 0 || rowBytes == 0 || (separate && l.bps % 8 != 0))
        PxThrow("TIFF sample layout is not supported");

    uint32_t bandRows = 0;
    std::vector<uint8_t> tile;
    if (TIFFIsTiled(tif)) {
        uint32_t tw = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &bandRows);
        const uint64_t tileRow = TIFFTileRowSize64(tif);
        if (tw == 0 || bandRows == 0 || tileRow == 0 || (tw * pixelBits) % 8 != 0)
            PxThrow("TIFF tile layout %u x %u is not supported", tw, bandRows);
        tile.resize(CheckedBytes(tileRow, bandRows));
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &bandRows);
    }
    if (bandRows == 0 || bandRows > l.height)
        bandRows = l.height;

    std::vector<std::vector<uint8_t>> bands(planes);
    for (auto &band : bands)
        band.resize(CheckedBytes(bandRowBytes, bandRows));
    std::vector<uint8_t> joined(separate ? rowBytes : 0);
    const uint32_t sampleBytes = l.bps / 8;
    for (uint32_t y0 = 0; y0 < l.height; y0 += bandRows) {
        const uint32_t rows = std::min(bandRows, l.height - y0);
        for (uint32_t p = 0; p < planes; ++p)
            ReadBand(tif, ch, l, static_cast<uint16_t>(p), y0, rows, bandRowBytes, pixelBits,
                     bands[p].data(), tile);
        for (uint32_t r = 0; r < rows; ++r) {
            if (!separate) {
                row(y0 + r, bands[0].data() + r * bandRowBytes);
                continue;
            }
            for (uint32_t p = 0; p < planes; ++p) {
                const uint8_t *src = bands[p].data() + r * bandRowBytes;
                for (uint32_t x = 0; x < l.width; ++x)
                    std::memcpy(joined.data() + (static_cast<size_t>(x) * planes + p) * sampleBytes,
                                src + static_cast<size_t>(x) * sampleBytes, sampleBytes);
            }
            row(y0 + r, joined.data());
        }
    }
}

uint8_t *Row(PxImage &out, uint32_t y)
{
    return out.GetBits(out.GetHeight() - 1 - y);
}

uint8_t *AlphaRow(PxImage &out, uint32_t y)
{
    return out.AlphaGetPointer(0, static_cast<int32_t>(out.GetHeight() - 1 - y));
}

// Straight colour from premultiplied colour, truncating like the reference decoders.
uint8_t Unpremultiply(uint32_t c, uint32_t a)
{
    return a == 0 ? 0 : static_cast<uint8_t>(std::min<uint32_t>(255, c * 255 / a));
}

void WidenTwoBit(uint8_t *row, uint32_t width, uint8_t scale)
{
    for (uint32_t x = width; x-- > 0;) {
        const uint8_t v = static_cast<uint8_t>(((row[x >> 2] >> (6 - 2 * (x & 3))) & 3) * scale);
        const int shift = (~x & 1) * 4;
        row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & ~(15 << shift)) | v << shift);
    }
}

void Create(PxImage &out, const Layout &l, uint32_t bpp, bool alpha)
{
    PxCheckDimensions("TIFF", l.width, l.height, bpp);
    if (!out.Create(l.width, l.height, bpp, PXFORMAT_TIF))
        PxThrow("%s", out.GetLastError());
    if (alpha && !out.AlphaCreate())
        PxThrow("PxImage::Create can't allocate memory");
}

void GreyPalette(PxImage &out, uint32_t levels, bool minIsWhite)
{
    for (uint32_t i = 0; i < levels; ++i) {
        auto g = static_cast<uint8_t>(i * 255 / (levels - 1));
        if (minIsWhite)
            g = static_cast<uint8_t>(255 - g);
        out.SetPaletteColor(static_cast<uint8_t>(i), g, g, g);
    }
}

void DecodePaletteOrGrey(TIFF *tif, const Channel &ch, const Layout &l, PxImage &out)
{
    const bool palette = l.photometric == PHOTOMETRIC_PALETTE;
    const bool withAlpha = l.spp == 2;
    const uint32_t bpp = l.bps == 1 ? 1 : l.bps == 2 || l.bps == 4 ? 4 : 8;
    Create(out, l, bpp, withAlpha);
    const bool minIsWhite = l.photometric == PHOTOMETRIC_MINISWHITE;
    if (palette) {
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b))
            PxThrow("TIFF palette image without a colour map");
        const uint32_t count = 1u << l.bps;
        // Some writers store 8-bit values in the 16-bit colour map.
        bool eightBit = true;
        for (uint32_t i = 0; i < count; ++i)
            eightBit = eightBit && r[i] < 256 && g[i] < 256 && b[i] < 256;
        const int shift = eightBit ? 0 : 8;
        for (uint32_t i = 0; i < count; ++i)
            out.SetPaletteColor(static_cast<uint8_t>(i), static_cast<uint8_t>(r[i] >> shift),
                                static_cast<uint8_t>(g[i] >> shift),
                                static_cast<uint8_t>(b[i] >> shift));
    } else {
        GreyPalette(out, bpp == 1 ? 2 : bpp == 4 ? 16 : 256, minIsWhite);
    }

    const uint32_t width = l.width;
    const uint64_t rowBytes = PxRowBytes(width, static_cast<uint64_t>(l.bps) * l.spp, 1);
    const uint32_t maxValue = (1u << l.bps) - 1;
    ReadRows(tif, ch, l, [&](uint32_t y, const uint8_t *src) {
        uint8_t *dst = Row(out, y);
        if (withAlpha) { // 8-bit grey + alpha
            uint8_t *alpha = AlphaRow(out, y);
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t a = src[2 * x + 1];
                dst[x] = l.alpha == Alpha::Associated ? Unpremultiply(src[2 * x], a) : src[2 * x];
                alpha[x] = a;
            }
            return;
        }
        switch (l.bps) {
        case 1:
        case 4:
        case 8:
            std::memcpy(dst, src, static_cast<size_t>(rowBytes));
            break;
        case 2:
            std::memcpy(dst, src, static_cast<size_t>(rowBytes));
            WidenTwoBit(dst, width, palette ? 1 : 5);
            break;
        case 16: {
            // libtiff delivers 16-bit samples in host order; the high byte is kept, as for PNG.
            for (uint32_t x = 0; x < width; ++x) {
                uint16_t v;
                std::memcpy(&v, src + 2 * x, 2);
                dst[x] = static_cast<uint8_t>(v >> 8);
            }
            break;
        }
        default: {
            // Odd depths (3, 5 ... 15 bits) are a plain big-endian bit stream, scaled to 8 bits.
            uint64_t bit = 0;
            for (uint32_t x = 0; x < width; ++x) {
                uint32_t v = 0;
                for (uint32_t i = 0; i < l.bps; ++i, ++bit)
                    v = v << 1 | ((src[bit >> 3] >> (7 - (bit & 7))) & 1);
                dst[x] = static_cast<uint8_t>((v * 255 + maxValue / 2) / maxValue);
            }
            break;
        }
        }
    });
}

void DecodeRgbOrCmyk(TIFF *tif, const Channel &ch, const Layout &l, PxImage &out)
{
    const bool cmyk = l.photometric == PHOTOMETRIC_SEPARATED;
    const bool withAlpha = !cmyk && l.alpha != Alpha::None && l.spp >= 4;
    Create(out, l, 24, withAlpha);
    const uint32_t width = l.width, spp = l.spp;
    ReadRows(tif, ch, l, [&](uint32_t y, const uint8_t *src) {
        uint8_t *dst = Row(out, y);
        if (cmyk) {
            pxlibio::CmykToBgr(src, dst, width, false);
            return;
        }
        uint8_t *alpha = withAlpha ? AlphaRow(out, y) : nullptr;
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t s[4] = {0, 0, 0, 255};
            for (uint32_t c = 0; c < (withAlpha ? 4u : 3u); ++c) {
                if (l.bps == 16) {
                    uint16_t v;
                    std::memcpy(&v, src + 2 * (x * spp + c), 2);
                    s[c] = v >> 8;
                } else {
                    s[c] = src[x * spp + c];
                }
            }
            if (l.alpha == Alpha::Associated && withAlpha && s[3] != 255)
                for (int c = 0; c < 3; ++c)
                    s[c] = Unpremultiply(s[c], s[3]);
            dst[3 * x] = static_cast<uint8_t>(s[2]);
            dst[3 * x + 1] = static_cast<uint8_t>(s[1]);
            dst[3 * x + 2] = static_cast<uint8_t>(s[0]);
            if (alpha)
                alpha[x] = static_cast<uint8_t>(s[3]);
        }
    });
}

struct RgbaImage {
    TIFFRGBAImage img{};
    bool begun = false;
    ~RgbaImage()
    {
        if (begun)
            TIFFRGBAImageEnd(&img);
    }
};

// Anything the direct paths do not cover: YCbCr, planar data, Lab, LogLuv, odd depths with
// colour... libtiff converts to 8-bit RGBA.
void DecodeThroughRgba(TIFF *tif, const Channel &ch, const Layout &l, PxImage &out)
{
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif, message))
        PxThrow("TIFF: %s", message[0] ? message : "layout not supported");
    RgbaImage rgba;
    if (!TIFFRGBAImageBegin(&rgba.img, tif, 1, message))
        PxThrow("TIFF: %s", message[0] ? message : "layout not supported");
    rgba.begun = true;
    // Asking for the file's own orientation keeps the stored raster, unflipped.
    rgba.img.req_orientation = rgba.img.orientation;
    const bool withAlpha = rgba.img.alpha != 0;
    Create(out, l, 24, withAlpha);

    uint32_t chunk = 0;
    if (TIFFIsTiled(tif))
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &chunk);
    else
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &chunk);
    // Whole strips per call: a strip is decoded from its start on every call that touches it.
    chunk = std::clamp<uint32_t>(chunk, 1, l.height);
    std::vector<uint32_t> raster(CheckedBytes(l.width, chunk * 4ull) / 4);
    for (uint32_t y0 = 0; y0 < l.height; y0 += chunk) {
        const uint32_t rows = std::min(chunk, l.height - y0);
        rgba.img.row_offset = static_cast<int>(y0);
        rgba.img.col_offset = 0;
        if (!TIFFRGBAImageGet(&rgba.img, raster.data(), l.width, rows))
            Fail(ch, "TIFF image could not be read");
        for (uint32_t r = 0; r < rows; ++r) {
            const uint32_t *src = raster.data() + static_cast<size_t>(r) * l.width;
            uint8_t *dst = Row(out, y0 + r);
            uint8_t *alpha = withAlpha ? AlphaRow(out, y0 + r) : nullptr;
            for (uint32_t x = 0; x < l.width; ++x) {
                const uint32_t px = src[x];
                const uint32_t a = TIFFGetA(px);
                uint32_t red = TIFFGetR(px), green = TIFFGetG(px), blue = TIFFGetB(px);
                if (alpha) {
                    // libtiff hands out premultiplied colour for both kinds of alpha.
                    red = Unpremultiply(red, a);
                    green = Unpremultiply(green, a);
                    blue = Unpremultiply(blue, a);
                    alpha[x] = static_cast<uint8_t>(a);
                }
                dst[3 * x] = static_cast<uint8_t>(blue);
                dst[3 * x + 1] = static_cast<uint8_t>(green);
                dst[3 * x + 2] = static_cast<uint8_t>(red);
            }
        }
    }
}

void TakeResolution(TIFF *tif, PxImage &out)
{
    float xres = 0, yres = 0;
    uint16_t unit = RESUNIT_INCH;
    if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) ||
        !TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres))
        return;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit != RESUNIT_INCH && unit != RESUNIT_CENTIMETER)
        return;
    const int32_t x = pxlibio::DpiFrom(xres, unit == RESUNIT_CENTIMETER);
    const int32_t y = pxlibio::DpiFrom(yres, unit == RESUNIT_CENTIMETER);
    if (x > 0 && y > 0) {
        out.SetXDPI(x);
        out.SetYDPI(y);
    }
}

// The colour profile and orientation always; with kept metadata also the XMP packet and the
// EXIF block, read from the file itself (libtiff is done with it by now).
void TakeMetadata(TIFF *tif, const Channel &ch, PxImage &out)
{
    uint32_t length = 0;
    void *data = nullptr;
    std::string icc;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &length, &data) && data && length > 0)
        icc.assign(static_cast<const char *>(data), length);
    uint16_t orientation = 0;
    if (TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation) && orientation >= 1 &&
        orientation <= 8)
        out.SetExifOrientation(orientation);
    if (!out.GetKeepMetadata()) {
        out.SetColourProfile(std::move(icc));
        return;
    }
    out.SetColourProfile(icc);
    auto metadata = std::make_shared<PxMetadata>();
    metadata->icc = std::move(icc);
    length = 0;
    data = nullptr;
    if (TIFFGetField(tif, TIFFTAG_XMLPACKET, &length, &data) && data && length > 0)
        metadata->xmp.assign(static_cast<const char *>(data), length);
    // BigTIFF directories have another layout; their EXIF is not read.
    if (!TIFFIsBigTIFF(tif)) {
        const int64_t fileSize = pxlibio::Size(ch.file);
        PxFile *file = ch.file;
        const int64_t base = ch.base;
        auto read = [file, base](uint64_t offset, void *to, size_t size) {
            return offset <= static_cast<uint64_t>(INT64_MAX - base) &&
                   pxlibio::Seek(file, base + static_cast<int64_t>(offset), SEEK_SET) &&
                   pxlibio::Read(file, to, size) == size;
        };
        try {
            if (fileSize > base)
                metadata->exif = pxexif::FromTiffFile(read, static_cast<uint64_t>(fileSize - base));
        } catch (const std::bad_alloc &) {
            // The picture loads without it, as it would without asking.
        }
        file->ClearError();
    }
    if (!metadata->exif.empty() || !metadata->icc.empty() || !metadata->xmp.empty())
        out.SetMetadata(std::move(metadata));
}

bool IsTiffSignature(PxFile &f)
{
    uint8_t magic[4];
    const int64_t start = f.Tell();
    const bool read = pxlibio::Read(&f, magic, 4) == 4;
    f.Seek(start, SEEK_SET);
    if (!read)
        return false;
    const bool little = magic[0] == 'I' && magic[1] == 'I' && magic[3] == 0 &&
                        (magic[2] == 42 || magic[2] == 43);
    const bool big = magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 &&
                     (magic[3] == 42 || magic[3] == 43);
    return little || big;
}

// --- writing ---------------------------------------------------------------------------------

enum class Kind { Indexed, Rgb, Rgba };

bool IsRamp(const PxRGBQuad *pal, uint32_t count, bool descending)
{
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t g = i * 255 / (count - 1);
        if (descending)
            g = 255 - g;
        if (pal[i].red != g || pal[i].green != g || pal[i].blue != g)
            return false;
    }
    return true;
}

bool IsFax(uint16_t c)
{
    return c == COMPRESSION_CCITTFAX3 || c == COMPRESSION_CCITTFAX4;
}

// Whether libtiff can write this compression for this layout. A codec option inherited from a
// loaded file (say CCITT G4 from a fax) may no longer fit once the picture became colour.
bool CompressionFits(uint32_t c, Kind kind, uint32_t bps, uint16_t photometric)
{
    if (c > 0xFFFF || !TIFFIsCODECConfigured(static_cast<uint16_t>(c)))
        return false;
    switch (c) {
    case COMPRESSION_NONE:
    case COMPRESSION_LZW:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_PACKBITS:
    case COMPRESSION_LZMA:
    case COMPRESSION_ZSTD:
        return true;
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
        return kind == Kind::Indexed && bps == 1;
    case COMPRESSION_JPEG:
        return kind != Kind::Indexed || (bps == 8 && photometric != PHOTOMETRIC_PALETTE);
    case COMPRESSION_WEBP:
        return kind != Kind::Indexed;
    default:
        return false;
    }
}

void Set(const Channel &ch, bool ok)
{
    if (!ok)
        Fail(ch, "TIFF tag could not be set");
}

template <typename T>
std::vector<T> Values(const pxexif::Field &field, bool real)
{
    std::vector<T> values(field.count);
    for (uint32_t i = 0; i < field.count; ++i)
        values[i] = real ? static_cast<T>(field.Number(i)) : static_cast<T>(field.Integer(i));
    return values;
}

// Sets one field of a kept EXIF or GPS directory in the custom directory being built, in the
// form libtiff keeps that tag in; false for a tag libtiff does not know or a form this does not
// handle (the field is then not written).
bool SetCustomField(TIFF *tif, const pxexif::Field &field)
{
    const TIFFField *fip = TIFFFindField(tif, field.tag, TIFF_ANY);
    if (!fip || field.count == 0)
        return false;
    const TIFFDataType type = TIFFFieldDataType(fip);
    if (type == TIFF_ASCII) {
        if (field.type != TIFF_ASCII)
            return false;
        const std::string text = field.Text();
        return TIFFSetField(tif, field.tag, text.c_str()) == 1;
    }
    const bool real = type == TIFF_RATIONAL || type == TIFF_SRATIONAL || type == TIFF_FLOAT ||
                      type == TIFF_DOUBLE;
    const bool integer = type == TIFF_BYTE || type == TIFF_SBYTE || type == TIFF_UNDEFINED ||
                         type == TIFF_SHORT || type == TIFF_SSHORT || type == TIFF_LONG ||
                         type == TIFF_SLONG;
    if (!real && !integer)
        return false;
    const int size = TIFFFieldSetGetSize(fip);
    const int readCount = TIFFFieldReadCount(fip);
    if (!TIFFFieldPassCount(fip) && readCount == 1) {
        if (real)
            return TIFFSetField(tif, field.tag, field.Number()) == 1;
        if (size == 4)
            return TIFFSetField(tif, field.tag, static_cast<uint32_t>(field.Integer())) == 1;
        return TIFFSetField(tif, field.tag, static_cast<int>(field.Integer())) == 1;
    }
    // Arrays: counted ones take their count first, fixed ones must have their exact length.
    const int countSize = TIFFFieldPassCount(fip) ? TIFFFieldSetGetCountSize(fip) : 0;
    if (countSize == 0 && readCount != static_cast<int>(field.count))
        return false;
    if (countSize == 2 && field.count > 0xFFFF)
        return false;
    auto set = [&](const void *values) {
        if (countSize == 2)
            return TIFFSetField(tif, field.tag, static_cast<int>(field.count), values) == 1;
        if (countSize == 4)
            return TIFFSetField(tif, field.tag, field.count, values) == 1;
        return TIFFSetField(tif, field.tag, values) == 1;
    };
    if (real && size == 4)
        return set(Values<float>(field, true).data());
    if (real && size == 8)
        return set(Values<double>(field, true).data());
    if (!real && size == 1)
        return set(Values<uint8_t>(field, false).data());
    if (!real && size == 2)
        return set(Values<uint16_t>(field, false).data());
    if (!real && size == 4)
        return set(Values<uint32_t>(field, false).data());
    return false;
}

// Writes the kept EXIF block's EXIF and GPS directories as custom directories; their offsets
// for IFD0's links, 0 for one that is absent. They go before the picture: the file is written
// front to back and cannot be read back to add a link afterwards.
void WriteExifDirectories(TIFF *tif, const Channel &ch, const std::string &exif,
                          uint64_t *exifOffset, uint64_t *gpsOffset)
{
    constexpr uint16_t kMakerNote = 0x927C, kInterop = 0xA005;
    for (const uint16_t directory : {pxexif::kExifDirectory, pxexif::kGpsDirectory}) {
        const std::vector<pxexif::Field> fields = pxexif::ReadFields(exif, directory);
        if (fields.empty())
            continue;
        const bool gps = directory == pxexif::kGpsDirectory;
        // Creating a directory does not free the one before it (the open's own, or the EXIF
        // directory just written). These return 0 for success.
        TIFFFreeDirectory(tif);
        if ((gps ? TIFFCreateGPSDirectory(tif) : TIFFCreateEXIFDirectory(tif)) != 0)
            Fail(ch, "TIFF: the EXIF directory could not be made");
        int set = 0;
        for (const pxexif::Field &field : fields) {
            // A maker note's offsets belong to the file it came from.
            if (field.tag == kMakerNote || field.tag == kInterop)
                continue;
            set += SetCustomField(tif, field) ? 1 : 0;
        }
        uint64_t offset = 0;
        if (set > 0 && !TIFFWriteCustomDirectory(tif, &offset))
            Fail(ch, "TIFF: the EXIF directory could not be written");
        *(gps ? gpsOffset : exifOffset) = offset;
    }
    // The picture's own directory starts afresh; TIFFCreateDirectory would leave the last
    // custom directory's values behind unfreed.
    TIFFFreeDirectory(tif);
    if (TIFFCreateDirectory(tif) != 0)
        Fail(ch, "TIFF: the image directory could not be made");
}

// Opens the first directory of a TIFF for reading and reads its layout. Signed and
// floating-point samples would be read as unsigned integers, here and in libtiff's RGBA reader
// alike: a wrong picture, so none at all.
Layout OpenReadable(PxFile &f, Channel &ch, TiffPtr &tif)
{
    if (!IsTiffSignature(f))
        PxThrow("Not a TIFF file");
    ch.file = &f;
    tif = Open(ch, "rm");
    const Layout l = ReadLayout(tif.get());
    const bool logLuv = l.photometric == PHOTOMETRIC_LOGLUV || l.photometric == PHOTOMETRIC_LOGL;
    if (!logLuv && l.sampleFormat != SAMPLEFORMAT_UINT && l.sampleFormat != SAMPLEFORMAT_VOID)
        PxThrow("TIFF sample format %u is not supported", l.sampleFormat);
    return l;
}

} // namespace

namespace pxcodec {

bool DecodeTIFF(PxFile &f, PxImage &out)
{
    return PxGuard(out, [&] {
        Channel ch;
        TiffPtr tif;
        const Layout l = OpenReadable(f, ch, tif);
        const bool direct =
            l.planar == PLANARCONFIG_CONTIG || l.spp == 1 || l.bps == 8 || l.bps == 16;
        const uint16_t p = l.photometric;
        if (direct && p == PHOTOMETRIC_PALETTE && l.spp == 1 &&
            (l.bps == 1 || l.bps == 2 || l.bps == 4 || l.bps == 8)) {
            DecodePaletteOrGrey(tif.get(), ch, l, out);
        } else if (direct && (p == PHOTOMETRIC_MINISBLACK || p == PHOTOMETRIC_MINISWHITE) &&
                   ((l.spp == 1 && l.bps <= 16) ||
                    (l.spp == 2 && l.bps == 8 && l.alpha != Alpha::None))) {
            DecodePaletteOrGrey(tif.get(), ch, l, out);
        } else if (direct && p == PHOTOMETRIC_RGB && l.spp >= 3 && (l.bps == 8 || l.bps == 16)) {
            DecodeRgbOrCmyk(tif.get(), ch, l, out);
        } else if (direct && p == PHOTOMETRIC_SEPARATED && l.inkset == INKSET_CMYK &&
                   l.spp == 4 && l.bps == 8) {
            DecodeRgbOrCmyk(tif.get(), ch, l, out);
        } else {
            DecodeThroughRgba(tif.get(), ch, l, out);
        }
        // libtiff carries on past some damage (a missing strip, a bad fax code) after
        // reporting an error; such a picture is incomplete, so the error stands.
        if (ch.text[0])
            PxThrow("%s", ch.text);
        out.SetCodecOption(l.compression);
        TakeResolution(tif.get(), out);
        TakeMetadata(tif.get(), ch, out);
        return true;
    });
}

bool HeaderTIFF(PxFile &f, PxImage &out, PxHeaderInfo &info)
{
    return PxGuard(out, [&] {
        Channel ch;
        TiffPtr tif;
        const Layout l = OpenReadable(f, ch, tif);
        const bool indexed = (l.photometric == PHOTOMETRIC_PALETTE ||
                              l.photometric == PHOTOMETRIC_MINISBLACK ||
                              l.photometric == PHOTOMETRIC_MINISWHITE) &&
                             l.spp <= 2;
        PxCheckDimensions("TIFF", l.width, l.height, indexed ? std::min<uint32_t>(l.bps, 8) : 24);
        info.width = l.width;
        info.height = l.height;
        return true;
    });
}

bool EncodeTIFF(PxFile &f, PxImage &img)
{
    return PxGuard(img, [&] {
        if (!img.IsValid())
            PxThrow("null image!!!");
        const uint32_t width = img.GetWidth(), height = img.GetHeight(), bpp = img.GetBpp();
        const Kind kind = img.AlphaIsValid() ? Kind::Rgba : bpp == 24 ? Kind::Rgb : Kind::Indexed;
        const uint32_t bps = kind == Kind::Indexed ? bpp : 8;
        const uint16_t spp = kind == Kind::Rgba ? 4 : kind == Kind::Rgb ? 3 : 1;
        const PxRGBQuad *pal = img.GetPalette();

        uint16_t photometric = kind == Kind::Indexed ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_RGB;
        if (kind == Kind::Indexed) {
            const uint32_t count = img.GetNumColors();
            if (IsRamp(pal, count, false))
                photometric = PHOTOMETRIC_MINISBLACK;
            else if (IsRamp(pal, count, true))
                photometric = PHOTOMETRIC_MINISWHITE;
        }

        uint32_t compression = img.GetCodecOption();
        if (compression == 0 || !CompressionFits(compression, kind, bps, photometric)) {
            if (kind == Kind::Rgba)
                compression = COMPRESSION_LZW; // alpha deserves a lossless codec
            else if (kind == Kind::Rgb)
                compression = COMPRESSION_JPEG;
            else
                compression = bpp == 1   ? COMPRESSION_CCITTFAX4
                              : bpp == 8 ? COMPRESSION_PACKBITS
                                         : COMPRESSION_NONE;
        }
        // Fax readers expect 0 = white; black-first bilevel rows are inverted on the way out.
        bool invertBits = false;
        if (IsFax(static_cast<uint16_t>(compression)) && photometric == PHOTOMETRIC_MINISBLACK) {
            photometric = PHOTOMETRIC_MINISWHITE;
            invertBits = true;
        }
        const bool ycbcr = compression == COMPRESSION_JPEG && kind == Kind::Rgb;

        const PxMetadata *metadata = img.GetMetadata().get();
        std::string exif;
        if (metadata && pxexif::IsExif(reinterpret_cast<const uint8_t *>(metadata->exif.data()),
                                       metadata->exif.size())) {
            exif = metadata->exif;
            pxexif::SetPixelSize(exif, width, height);
        }
        uint16_t orientation = ORIENTATION_TOPLEFT;
        if (const uint32_t o = pxexif::ReadOrientation(
                reinterpret_cast<const uint8_t *>(exif.data()), exif.size()))
            orientation = static_cast<uint16_t>(o); // the rows go out as they are stored

        Channel ch;
        ch.file = &f;
        TiffPtr owner = Open(ch, "wm");
        TIFF *tif = owner.get();
        uint64_t exifOffset = 0, gpsOffset = 0;
        if (!exif.empty())
            WriteExifDirectories(tif, ch, exif, &exifOffset, &gpsOffset);
        Set(ch, TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width));
        Set(ch, TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height));
        Set(ch, TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(bps)));
        Set(ch, TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp));
        Set(ch, TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG));
        Set(ch, TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation));
        Set(ch, TIFFSetField(tif, TIFFTAG_COMPRESSION, static_cast<uint16_t>(compression)));
        Set(ch,
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, ycbcr ? PHOTOMETRIC_YCBCR : photometric));
        if (kind == Kind::Rgba) {
            const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
            Set(ch, TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra));
        }
        std::vector<uint16_t> map;
        if (photometric == PHOTOMETRIC_PALETTE) {
            const uint32_t count = 1u << bpp;
            map.assign(3 * count, 0);
            for (uint32_t i = 0; i < count && i < img.GetNumColors(); ++i) {
                map[i] = static_cast<uint16_t>(pal[i].red * 257);
                map[count + i] = static_cast<uint16_t>(pal[i].green * 257);
                map[2 * count + i] = static_cast<uint16_t>(pal[i].blue * 257);
            }
            Set(ch, TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + count,
                                      map.data() + 2 * count));
        }
        Set(ch, TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH));
        Set(ch, TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(img.GetXDPI())));
        Set(ch, TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(img.GetYDPI())));
        if (metadata && !metadata->icc.empty() && metadata->icc.size() <= UINT32_MAX)
            Set(ch, TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(metadata->icc.size()),
                                 metadata->icc.data()));
        if (metadata && !metadata->xmp.empty() && metadata->xmp.size() <= UINT32_MAX)
            Set(ch, TIFFSetField(tif, TIFFTAG_XMLPACKET, static_cast<uint32_t>(metadata->xmp.size()),
                                 metadata->xmp.data()));
        // The descriptive text fields of the kept IFD0 (camera, date, author).
        for (const pxexif::Field &field : pxexif::ReadFields(exif, 0)) {
            static constexpr uint16_t kText[] = {TIFFTAG_IMAGEDESCRIPTION, TIFFTAG_MAKE,
                                                 TIFFTAG_MODEL, TIFFTAG_SOFTWARE, TIFFTAG_DATETIME,
                                                 TIFFTAG_ARTIST, TIFFTAG_COPYRIGHT};
            if (field.type == TIFF_ASCII && std::find(std::begin(kText), std::end(kText), field.tag) !=
                                                std::end(kText))
                Set(ch, TIFFSetField(tif, field.tag, field.Text().c_str()));
        }
        if (exifOffset)
            Set(ch, TIFFSetField(tif, TIFFTAG_EXIFIFD, exifOffset));
        if (gpsOffset)
            Set(ch, TIFFSetField(tif, TIFFTAG_GPSIFD, gpsOffset));

        uint32_t rowsPerStrip = TIFFDefaultStripSize(tif, 0);
        if (compression == COMPRESSION_JPEG) {
            Set(ch, TIFFSetField(tif, TIFFTAG_JPEGQUALITY, int(img.GetJpegQuality())));
            if (ycbcr)
                Set(ch, TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB));
            // Strips hold whole JPEG MCU rows: 8 lines, 16 with 2x2 chroma subsampling.
            const uint32_t mcu = ycbcr ? 16 : 8;
            rowsPerStrip = std::max<uint32_t>(rowsPerStrip, 1);
            rowsPerStrip = (rowsPerStrip + mcu - 1) / mcu * mcu;
        } else if (compression == COMPRESSION_LZW && bps >= 8) {
            Set(ch, TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL));
        }
        Set(ch, TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip));

        const uint64_t scanline = TIFFScanlineSize64(tif);
        const uint64_t expected = PxRowBytes(width, bps * spp, 1);
        if (scanline < expected)
            Fail(ch, "TIFF scanline size mismatch");
        std::vector<uint8_t> line(static_cast<size_t>(scanline));
        const size_t indexedBytes = static_cast<size_t>(PxRowBytes(width, bpp, 1));
        for (uint32_t y = 0; y < height; ++y) {
            const uint32_t row = height - 1 - y; // the file's first row is the block's top row
            const uint8_t *src = img.GetBits(row);
            uint8_t *dst = line.data();
            if (kind == Kind::Indexed) {
                std::memcpy(dst, src, indexedBytes);
                if (invertBits)
                    for (size_t i = 0; i < indexedBytes; ++i)
                        dst[i] = static_cast<uint8_t>(~dst[i]);
            } else {
                const uint8_t *alpha =
                    kind == Kind::Rgba ? img.AlphaGetPointer(0, static_cast<int32_t>(row)) : nullptr;
                for (uint32_t x = 0; x < width; ++x, dst += spp) {
                    PxRGBQuad c;
                    if (bpp == 24) {
                        c = {src[3 * x], src[3 * x + 1], src[3 * x + 2], 0};
                    } else {
                        const uint32_t index =
                            bpp == 8   ? src[x]
                            : bpp == 4 ? (src[x >> 1] >> ((~x & 1) * 4)) & 15
                                       : (src[x >> 3] >> (7 - (x & 7))) & 1;
                        c = pal[index];
                    }
                    dst[0] = c.red;
                    dst[1] = c.green;
                    dst[2] = c.blue;
                    if (alpha)
                        dst[3] = alpha[x];
                }
            }
            if (TIFFWriteScanline(tif, line.data(), y, 0) < 0)
                Fail(ch, "TIFF write error");
        }
        if (!TIFFWriteDirectory(tif))
            Fail(ch, "TIFF write error");
        owner.reset();
        if (ch.text[0])
            Fail(ch, "TIFF write error");
        return true;
    });
}

} // namespace pxcodec
