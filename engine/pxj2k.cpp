// JPEG 2000 through OpenJPEG: JP2 files (format 11) and raw codestreams (format 12), read and
// written through the engine's stream. OpenJPEG reports through callbacks and return values
// only, so no exception handling is needed around its frames; our callbacks never throw.

#include "pxcodecs_p.h"
#include "pxlibio_p.h"

#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace {

// Decoded samples are 32-bit integers per component: a small file can describe an enormous
// canvas, so the decoder's own buffers are capped before anything is decoded.
constexpr uint64_t kMaxSampleBytes = 1ull << 30;

struct StreamContext {
    PxFile *file = nullptr;
    int64_t base = 0; // where the JPEG 2000 data starts in the stream
    int64_t end = 0;  // one past its last byte (reading only)
};

OPJ_SIZE_T ReadCallback(void *buffer, OPJ_SIZE_T bytes, void *user)
{
    auto *ctx = static_cast<StreamContext *>(user);
    const size_t got = pxlibio::Read(ctx->file, buffer, bytes);
    return got ? got : static_cast<OPJ_SIZE_T>(-1);
}

OPJ_SIZE_T WriteCallback(void *buffer, OPJ_SIZE_T bytes, void *user)
{
    auto *ctx = static_cast<StreamContext *>(user);
    const size_t put = pxlibio::Write(ctx->file, buffer, bytes);
    return put == bytes ? put : static_cast<OPJ_SIZE_T>(-1);
}

OPJ_OFF_T ReadSkipCallback(OPJ_OFF_T bytes, void *user)
{
    auto *ctx = static_cast<StreamContext *>(user);
    const int64_t pos = pxlibio::Tell(ctx->file);
    if (pos < 0 || bytes < 0 || bytes > ctx->end - pos)
        return -1;
    return pxlibio::Seek(ctx->file, bytes, SEEK_CUR) ? bytes : -1;
}

OPJ_OFF_T WriteSkipCallback(OPJ_OFF_T bytes, void *user)
{
    auto *ctx = static_cast<StreamContext *>(user);
    return pxlibio::Seek(ctx->file, bytes, SEEK_CUR) ? bytes : -1;
}

OPJ_BOOL ReadSeekCallback(OPJ_OFF_T offset, void *user)
{
    auto *ctx = static_cast<StreamContext *>(user);
    if (offset < 0 || offset > ctx->end - ctx->base)
        return OPJ_FALSE;
    return pxlibio::Seek(ctx->file, ctx->base + offset, SEEK_SET) ? OPJ_TRUE : OPJ_FALSE;
}

OPJ_BOOL WriteSeekCallback(OPJ_OFF_T offset, void *user)
{
    auto *ctx = static_cast<StreamContext *>(user);
    if (offset < 0)
        return OPJ_FALSE;
    return pxlibio::Seek(ctx->file, ctx->base + offset, SEEK_SET) ? OPJ_TRUE : OPJ_FALSE;
}

struct Messages {
    char error[256] = {};
    // The JP2 header box promised one depth for all components and the codestream disagrees:
    // OpenJPEG only warns, but such files are fuzzer products that other readers reject.
    bool depthMismatch = false;
};

// The first error OpenJPEG reports is the one that names the cause; later ones are echoes.
void ErrorCallback(const char *msg, void *user)
{
    auto *messages = static_cast<Messages *>(user);
    char *text = messages->error;
    if (text[0] || !msg)
        return;
    std::snprintf(text, 200, "JPEG 2000: %s", msg);
    for (size_t n = std::strlen(text); n > 0 && (text[n - 1] == '\n' || text[n - 1] == ' ');)
        text[--n] = '\0';
}

void WarningCallback(const char *msg, void *user)
{
    if (msg && std::strstr(msg, "JP2 BPC") && std::strstr(msg, "different"))
        static_cast<Messages *>(user)->depthMismatch = true;
}

void QuietCallback(const char *, void *) {}

struct CodecDeleter {
    void operator()(opj_codec_t *c) const { opj_destroy_codec(c); }
};
struct StreamDeleter {
    void operator()(opj_stream_t *s) const { opj_stream_destroy(s); }
};
struct ImageDeleter {
    void operator()(opj_image_t *i) const { opj_image_destroy(i); }
};
using CodecPtr = std::unique_ptr<opj_codec_t, CodecDeleter>;
using StreamPtr = std::unique_ptr<opj_stream_t, StreamDeleter>;
using ImagePtr = std::unique_ptr<opj_image_t, ImageDeleter>;

const char *FormatName(uint32_t format)
{
    switch (format) {
    case PXFORMAT_PGX: return "PGX";
    case PXFORMAT_PNM: return "PNM";
    case PXFORMAT_RAS: return "RAS";
    default: return "this";
    }
}

void RequireFileFormat(uint32_t format)
{
    if (format != PXFORMAT_JP2 && format != PXFORMAT_JPC)
        PxThrow("JPEG 2000 codec: %s format (%u) is not supported", FormatName(format), format);
}

CodecPtr MakeCodec(OPJ_CODEC_FORMAT kind, bool decoder, Messages *messages)
{
    CodecPtr codec(decoder ? opj_create_decompress(kind) : opj_create_compress(kind));
    if (!codec)
        PxThrow("JPEG 2000: can't create the codec");
    opj_set_info_handler(codec.get(), QuietCallback, nullptr);
    opj_set_warning_handler(codec.get(), WarningCallback, messages);
    opj_set_error_handler(codec.get(), ErrorCallback, messages);
    return codec;
}

[[noreturn]] void ThrowOpj(const Messages &messages, const char *fallback)
{
    PxThrow("%s", messages.error[0] ? messages.error : fallback);
}

// The file's own signature wins over the extension's guess, so a raw codestream saved as
// ".jp2" still loads.
OPJ_CODEC_FORMAT SniffCodec(PxFile &f, int64_t base, uint32_t format)
{
    static const uint8_t kJp2Signature[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 13, 10, 0x87, 10};
    static const uint8_t kCodestream[4] = {0xFF, 0x4F, 0xFF, 0x51};
    uint8_t head[12] = {};
    const size_t got = f.Read(head, 1, sizeof head);
    f.Seek(base, SEEK_SET);
    f.ClearError();
    if (got >= 12 && std::memcmp(head, kJp2Signature, 12) == 0)
        return OPJ_CODEC_JP2;
    if (got >= 4 && std::memcmp(head, kCodestream, 4) == 0)
        return OPJ_CODEC_J2K;
    if (got < 4)
        PxThrow("JPEG 2000: file too short (%zu bytes)", got);
    PxThrow("JPEG 2000: not a %s file", format == PXFORMAT_JP2 ? "JP2" : "JPEG 2000 codestream");
}

// One component seen at 8 bits: its samples scaled from its precision, sub-sampled components
// repeated over the pixels they cover.
class ComponentReader {
public:
    ComponentReader(const opj_image_t &image, const opj_image_comp_t &comp) : m_comp(comp)
    {
        const uint32_t prec = comp.prec;
        m_max = (int64_t{1} << prec) - 1;
        m_offset = comp.sgnd ? (int64_t{1} << (prec - 1)) : 0;
        m_x0 = image.x0;
        m_y0 = image.y0;
    }
    uint8_t At(uint32_t x, uint32_t y) const
    {
        int64_t cx = static_cast<int64_t>((m_x0 + x) / m_comp.dx) - m_comp.x0;
        int64_t cy = static_cast<int64_t>((m_y0 + y) / m_comp.dy) - m_comp.y0;
        cx = std::clamp<int64_t>(cx, 0, m_comp.w - 1);
        cy = std::clamp<int64_t>(cy, 0, m_comp.h - 1);
        int64_t v = int64_t{m_comp.data[cy * m_comp.w + cx]} + m_offset;
        v = std::clamp<int64_t>(v, 0, m_max);
        return static_cast<uint8_t>((v * 255 + m_max / 2) / m_max);
    }

private:
    const opj_image_comp_t &m_comp;
    int64_t m_max = 255;
    int64_t m_offset = 0;
    uint32_t m_x0 = 0, m_y0 = 0;
};

uint8_t Clamp8(double v)
{
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0l, 255l));
}

void CheckHeader(const opj_image_t &image)
{
    if (image.numcomps == 0 || !image.comps)
        PxThrow("JPEG 2000: image has no components");
    if (image.x1 <= image.x0 || image.y1 <= image.y0)
        PxThrow("JPEG 2000: image has no pixels (%u..%u x %u..%u)", image.x0, image.x1, image.y0,
                image.y1);
    uint64_t sampleBytes = 0;
    for (uint32_t c = 0; c < image.numcomps; ++c) {
        const opj_image_comp_t &comp = image.comps[c];
        if (comp.prec < 1 || comp.prec > 31)
            PxThrow("JPEG 2000: component %u has precision %u", c, comp.prec);
        if (comp.dx == 0 || comp.dy == 0 || comp.w == 0 || comp.h == 0)
            PxThrow("JPEG 2000: component %u has no samples", c);
        sampleBytes += uint64_t{comp.w} * comp.h * 4;
    }
    if (sampleBytes > kMaxSampleBytes)
        PxThrow("PXIMAGE_MAX_MEMORY exceeded: JPEG 2000 samples need %llu bytes",
                static_cast<unsigned long long>(sampleBytes));
}

void ConvertToImage(const opj_image_t &image, PxImage &out, uint32_t format)
{
    const uint32_t width = image.x1 - image.x0;
    const uint32_t height = image.y1 - image.y0;
    const uint32_t n = image.numcomps;
    for (uint32_t c = 0; c < n; ++c)
        if (!image.comps[c].data)
            PxThrow("JPEG 2000: component %u was not decoded", c);

    int alphaComp = -1;
    for (uint32_t c = 0; c < n; ++c)
        if (image.comps[c].alpha) {
            alphaComp = static_cast<int>(c);
            break;
        }
    const bool cmyk = image.color_space == OPJ_CLRSPC_CMYK && n >= 4;
    if (alphaComp < 0 && (n == 2 || (n == 4 && !cmyk)))
        alphaComp = static_cast<int>(n - 1);
    uint32_t colourComps[4] = {};
    uint32_t nColour = 0;
    for (uint32_t c = 0; c < n && nColour < (cmyk ? 4u : 3u); ++c)
        if (static_cast<int>(c) != alphaComp)
            colourComps[nColour++] = c;
    const bool grey = nColour < 3;

    PxCheckDimensions("JPEG 2000", width, height, grey ? 8 : 24);
    PxImage result(format);
    if (!result.Create(width, height, grey ? 8 : 24, format))
        PxThrow("%s", result.GetLastError());
    if (grey)
        result.SetGrayPalette();
    if (alphaComp >= 0 && !result.AlphaCreate())
        PxThrow("PxImage::Create can't allocate memory");

    std::vector<ComponentReader> readers;
    for (uint32_t i = 0; i < nColour; ++i)
        readers.emplace_back(image, image.comps[colourComps[i]]);
    const bool sycc = !grey && !cmyk && (image.color_space == OPJ_CLRSPC_SYCC ||
                                         image.color_space == OPJ_CLRSPC_EYCC);
    std::unique_ptr<ComponentReader> alpha;
    if (alphaComp >= 0)
        alpha = std::make_unique<ComponentReader>(image, image.comps[alphaComp]);

    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t row = height - 1 - y;
        uint8_t *dst = result.GetBits(row);
        uint8_t *alphaRow = alpha ? result.AlphaGetPointer(0, static_cast<int32_t>(row)) : nullptr;
        for (uint32_t x = 0; x < width; ++x) {
            if (grey) {
                dst[x] = readers[0].At(x, y);
            } else if (sycc) {
                const double Y = readers[0].At(x, y);
                const double cb = readers[1].At(x, y) - 128.0;
                const double cr = readers[2].At(x, y) - 128.0;
                dst[3 * x + 2] = Clamp8(Y + 1.402 * cr);
                dst[3 * x + 1] = Clamp8(Y - 0.344136 * cb - 0.714136 * cr);
                dst[3 * x + 0] = Clamp8(Y + 1.772 * cb);
            } else if (cmyk) {
                const uint32_t k = 255 - readers[3].At(x, y);
                for (int c = 0; c < 3; ++c)
                    dst[3 * x + 2 - c] =
                        static_cast<uint8_t>((255 - readers[c].At(x, y)) * k / 255);
            } else {
                dst[3 * x + 2] = readers[0].At(x, y);
                dst[3 * x + 1] = readers[1].At(x, y);
                dst[3 * x + 0] = readers[2].At(x, y);
            }
            if (alphaRow)
                alphaRow[x] = alpha->At(x, y);
        }
    }
    out.Transfer(result);
}

// Compression ratio for a JPEG quality: 100 is lossless; below it the ratio doubles every 15
// quality steps, from about 4:1 at 99 to about 400:1 at 1.
double RatioForQuality(uint32_t quality)
{
    quality = std::clamp<uint32_t>(quality, 1, 100);
    return 4.0 * std::exp2((100.0 - quality) / 15.0);
}

// OpenJPEG refuses more decomposition levels than the smaller side can be halved.
uint32_t ResolutionsFor(uint32_t width, uint32_t height)
{
    uint32_t side = std::min(width, height);
    uint32_t levels = 1;
    while (levels < 6 && (side >> levels) > 0)
        ++levels;
    return levels;
}

// With header set, stops once the header is read and checked, and reports the size there.
bool DecodeOrHeader(PxFile &f, PxImage &out, uint32_t format, PxHeaderInfo *header)
{
    return PxGuard(out, [&] {
        RequireFileFormat(format);
        StreamContext ctx;
        ctx.file = &f;
        ctx.base = f.Tell();
        const int64_t size = f.Size();
        if (ctx.base < 0 || size < ctx.base)
            PxThrow("JPEG 2000: stream is not seekable");
        ctx.end = size;
        const OPJ_CODEC_FORMAT kind = SniffCodec(f, ctx.base, format);

        Messages messages;
        CodecPtr codec = MakeCodec(kind, true, &messages);
        opj_dparameters_t params;
        opj_set_default_decoder_parameters(&params);
        if (!opj_setup_decoder(codec.get(), &params))
            ThrowOpj(messages, "JPEG 2000: decoder setup failed");

        StreamPtr stream(opj_stream_create(1 << 16, OPJ_TRUE));
        if (!stream)
            PxThrow("PxImage::Create can't allocate memory");
        opj_stream_set_user_data(stream.get(), &ctx, nullptr);
        opj_stream_set_user_data_length(stream.get(), static_cast<OPJ_UINT64>(size - ctx.base));
        opj_stream_set_read_function(stream.get(), ReadCallback);
        opj_stream_set_skip_function(stream.get(), ReadSkipCallback);
        opj_stream_set_seek_function(stream.get(), ReadSeekCallback);

        opj_image_t *raw = nullptr;
        const bool headerOk = opj_read_header(stream.get(), codec.get(), &raw);
        ImagePtr image(raw);
        if (!headerOk || !image)
            ThrowOpj(messages, "JPEG 2000: can't read the header");
        if (messages.depthMismatch)
            PxThrow("JPEG 2000: the JP2 header and the codestream disagree on the sample depth");
        CheckHeader(*image);
        PxCheckDimensions("JPEG 2000", image->x1 - image->x0, image->y1 - image->y0, 8);
        if (header) {
            header->width = image->x1 - image->x0;
            header->height = image->y1 - image->y0;
            return true;
        }

        if (!opj_decode(codec.get(), stream.get(), image.get()) ||
            !opj_end_decompress(codec.get(), stream.get()))
            ThrowOpj(messages, "JPEG 2000: can't decode the image");
        // Palette and channel definitions may have changed the components since the header.
        CheckHeader(*image);
        ConvertToImage(*image, out, format);
        return true;
    });
}
} // namespace

namespace pxcodec {

bool DecodeJ2K(PxFile &f, PxImage &out, uint32_t format)
{
    return DecodeOrHeader(f, out, format, nullptr);
}

bool HeaderJ2K(PxFile &f, PxImage &out, PxHeaderInfo &info, uint32_t format)
{
    return DecodeOrHeader(f, out, format, &info);
}

bool EncodeJ2K(PxFile &f, PxImage &img, uint32_t format)
{
    return PxGuard(img, [&] {
        RequireFileFormat(format);
        const uint32_t width = img.GetWidth();
        const uint32_t height = img.GetHeight();
        if (width == 0 || height == 0)
            PxThrow("JPEG 2000: image has no pixels (%u x %u)", width, height);
        const bool grey = img.IsIndexed() && img.IsGrayScale();
        const bool alpha = img.AlphaIsValid();
        const uint32_t nColour = grey ? 1 : 3;
        const uint32_t n = nColour + (alpha ? 1 : 0);

        opj_image_cmptparm_t parms[4];
        std::memset(parms, 0, sizeof parms);
        for (uint32_t c = 0; c < n; ++c) {
            parms[c].dx = parms[c].dy = 1;
            parms[c].w = width;
            parms[c].h = height;
            parms[c].prec = 8;
            parms[c].sgnd = 0;
        }
        ImagePtr image(opj_image_create(n, parms, grey ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB));
        if (!image)
            PxThrow("PxImage::Create can't allocate memory");
        image->x0 = image->y0 = 0;
        image->x1 = width;
        image->y1 = height;
        if (alpha)
            image->comps[nColour].alpha = 1;

        const PxRGBQuad *palette = img.GetPalette();
        const uint32_t bpp = img.GetBpp();
        const uint32_t colours = img.GetNumColors();
        for (uint32_t y = 0; y < height; ++y) {
            const uint32_t row = height - 1 - y;
            const uint8_t *src = img.GetBits(row);
            const size_t at = size_t{y} * width;
            for (uint32_t x = 0; x < width; ++x) {
                PxRGBQuad c;
                if (bpp == 24) {
                    c = PxRGBQuad{src[3 * x], src[3 * x + 1], src[3 * x + 2], 0};
                } else {
                    uint32_t index;
                    if (bpp == 8)
                        index = src[x];
                    else if (bpp == 4)
                        index = (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
                    else
                        index = (src[x >> 3] >> (7 - (x & 7))) & 1;
                    c = palette[std::min(index, colours - 1)];
                }
                if (grey) {
                    image->comps[0].data[at + x] = c.red;
                } else {
                    image->comps[0].data[at + x] = c.red;
                    image->comps[1].data[at + x] = c.green;
                    image->comps[2].data[at + x] = c.blue;
                }
                if (alpha)
                    image->comps[nColour].data[at + x] =
                        img.AlphaGet(static_cast<int32_t>(x), static_cast<int32_t>(row));
            }
        }

        opj_cparameters_t params;
        opj_set_default_encoder_parameters(&params);
        params.tcp_numlayers = 1;
        params.cp_disto_alloc = 1;
        const uint32_t quality = img.GetJpegQuality();
        if (quality >= 100) {
            params.irreversible = 0;
            params.tcp_rates[0] = 0; // lossless
        } else {
            params.irreversible = 1;
            params.tcp_rates[0] = static_cast<float>(RatioForQuality(quality));
        }
        params.tcp_mct = nColour >= 3 ? 1 : 0;
        params.numresolution = static_cast<int>(ResolutionsFor(width, height));

        Messages messages;
        CodecPtr codec =
            MakeCodec(format == PXFORMAT_JP2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K, false, &messages);
        if (!opj_setup_encoder(codec.get(), &params, image.get()))
            ThrowOpj(messages, "JPEG 2000: encoder setup failed");

        StreamContext ctx;
        ctx.file = &f;
        ctx.base = f.Tell();
        if (ctx.base < 0)
            PxThrow("JPEG 2000: stream is not seekable");
        StreamPtr stream(opj_stream_create(1 << 16, OPJ_FALSE));
        if (!stream)
            PxThrow("PxImage::Create can't allocate memory");
        opj_stream_set_user_data(stream.get(), &ctx, nullptr);
        opj_stream_set_write_function(stream.get(), WriteCallback);
        opj_stream_set_skip_function(stream.get(), WriteSkipCallback);
        opj_stream_set_seek_function(stream.get(), WriteSeekCallback);

        if (!opj_start_compress(codec.get(), image.get(), stream.get()) ||
            !opj_encode(codec.get(), stream.get()) || !opj_end_compress(codec.get(), stream.get()))
            ThrowOpj(messages, "JPEG 2000: can't encode the image");
        if (f.Error())
            PxThrow("JPEG 2000: write error");
        return true;
    });
}

} // namespace pxcodec
