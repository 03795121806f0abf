// WebP through libwebp. A still picture is decoded straight into the image's block (libwebp
// writes blue-green-red rows and flips them into the bottom-up order itself); one with alpha
// goes through a blue-green-red-alpha buffer that is split into pixels and the alpha plane. An
// animation gives its first frame as shown on the canvas, and its frame count.
//
// WebP keeps its metadata in RIFF chunks of the extended format: ICCP (the colour profile),
// EXIF (a TIFF structure, without the "Exif\0\0" that JPEG puts in front) and XMP. Readers
// apply no EXIF orientation, so the picture is kept as stored and the orientation is reported.
//
// libwebp reports through status codes and never unwinds, so exceptions may be thrown freely
// in this file's own frames; every library object is owned by a guard.

#include "pxcodecs_p.h"
#include "pxexif_p.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

namespace {

constexpr size_t kRiffHeader = 12;
constexpr uint32_t kMaxSide = 16383; // WEBP_MAX_DIMENSION: the bitstreams keep 14 bits
constexpr int kDefaultQuality = 75;  // cwebp's and WebPConfigInit's
constexpr uint64_t kProbeFrom = 4u << 20; // pixels
constexpr char kExifHeader[pxexif::kHeaderSize] = {'E', 'x', 'i', 'f', 0, 0};

uint32_t Le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

const char *StatusText(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_OK: return "WebP decoding failed";
    case VP8_STATUS_OUT_OF_MEMORY: return "PxImage::Create can't allocate memory";
    case VP8_STATUS_INVALID_PARAM: return "WebP decoder refused its parameters";
    case VP8_STATUS_BITSTREAM_ERROR: return "the WebP bitstream is broken";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "the WebP file uses a feature libwebp does not support";
    case VP8_STATUS_USER_ABORT: return "WebP decoding was interrupted";
    // A decode of the whole file stops as "suspended" where its data ends.
    case VP8_STATUS_SUSPENDED:
    case VP8_STATUS_NOT_ENOUGH_DATA: return "the WebP file is cut short";
    }
    return "WebP decoding failed";
}

const char *EncodeErrorText(WebPEncodingError error)
{
    switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: return "PxImage::Create can't allocate memory";
    case VP8_ENC_ERROR_BAD_DIMENSION: return "WebP can't store a picture of this size";
    case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
    case VP8_ENC_ERROR_PARTITION_OVERFLOW:
        return "WebP encoding overflowed a partition (the picture is too large for lossy WebP)";
    case VP8_ENC_ERROR_FILE_TOO_BIG: return "the WebP file would exceed 4 GB";
    case VP8_ENC_ERROR_BAD_WRITE: return "WebP write error";
    case VP8_ENC_ERROR_USER_ABORT: return "WebP encoding was interrupted";
    default: return "WebP encoding failed";
    }
}

using DemuxFree = PxFreeWith<WebPDemuxDelete>;
using AnimFree = PxFreeWith<WebPAnimDecoderDelete>;
using MuxFree = PxFreeWith<WebPMuxDelete>;
using DecBufferFree = PxFreeWith<WebPFreeDecBuffer>;
using PictureFree = PxFreeWith<WebPPictureFree>;
using MemoryWriterFree = PxFreeWith<WebPMemoryWriterClear>;

// --- reading ---------------------------------------------------------------------------------

// The RIFF header, checked; the file's bytes from there on are appended by the caller.
std::vector<uint8_t> ReadRiffHeader(PxFile &f, uint64_t *fileBytes)
{
    std::vector<uint8_t> data(kRiffHeader);
    if (f.Read(data.data(), 1, kRiffHeader) != kRiffHeader || std::memcmp(data.data(), "RIFF", 4) != 0 ||
        std::memcmp(data.data() + 8, "WEBP", 4) != 0)
        PxThrow("not a WebP file");
    // The RIFF size counts from byte 8; anything behind it is not part of the picture.
    *fileBytes = uint64_t(Le32(data.data() + 4)) + 8;
    return data;
}

// Appends up to `want` more bytes of the file, in pieces, so that a size the file does not
// back up is never allocated; false when none were left.
bool ReadMore(PxFile &f, std::vector<uint8_t> &data, uint64_t want)
{
    bool any = false;
    size_t piece = 64 * 1024;
    while (want > 0) {
        const size_t old = data.size();
        const size_t ask = size_t(std::min<uint64_t>(want, piece));
        data.resize(old + ask);
        const size_t got = f.Read(data.data() + old, 1, ask);
        data.resize(old + got);
        any = any || got > 0;
        if (got < ask)
            break;
        want -= got;
        piece = std::min<size_t>(piece * 2, 16 << 20);
    }
    return any;
}

// The features libwebp reads from the first chunks. For a header read only as much of the file
// is read as they need; a decode has read the whole picture already.
WebPBitstreamFeatures Features(PxFile &f, std::vector<uint8_t> &data, uint64_t fileBytes,
                               bool wholeFile)
{
    WebPBitstreamFeatures features;
    uint64_t want = 256;
    for (;;) {
        const VP8StatusCode status = WebPGetFeatures(data.data(), data.size(), &features);
        if (status == VP8_STATUS_OK)
            return features;
        if (status != VP8_STATUS_NOT_ENOUGH_DATA || wholeFile || data.size() >= fileBytes ||
            !ReadMore(f, data, std::min<uint64_t>(want, fileBytes - data.size())))
            PxThrow("%s", StatusText(status));
        want *= 4;
    }
}

// The smallest size, in the picture's proportions, that still covers its fit into the box;
// the picture's own size when it fits already (a decode never enlarges).
void ScaledSize(uint32_t width, uint32_t height, uint32_t boxWidth, uint32_t boxHeight,
                uint32_t *outWidth, uint32_t *outHeight)
{
    *outWidth = width;
    *outHeight = height;
    if (boxWidth == 0 || boxHeight == 0 || (width <= boxWidth && height <= boxHeight))
        return;
    const uint64_t w = width, h = height;
    if (uint64_t(boxWidth) * h <= uint64_t(boxHeight) * w) {
        // The width limits the fit.
        *outWidth = boxWidth;
        *outHeight = uint32_t((h * boxWidth + w - 1) / w);
    } else {
        *outHeight = boxHeight;
        *outWidth = uint32_t((w * boxHeight + h - 1) / h);
    }
    *outWidth = std::clamp<uint32_t>(*outWidth, 1, width);
    *outHeight = std::clamp<uint32_t>(*outHeight, 1, height);
}

std::string Chunk(const WebPDemuxer *demux, const char *fourcc)
{
    WebPChunkIterator it;
    std::string bytes;
    if (WebPDemuxGetChunk(demux, fourcc, 1, &it)) {
        bytes.assign(reinterpret_cast<const char *>(it.chunk.bytes), it.chunk.size);
        WebPDemuxReleaseChunkIterator(&it);
    }
    return bytes;
}

// Metadata, orientation, resolution and colour profile from the chunks of the extended format.
void TakeChunks(const WebPDemuxer *demux, PxImage &out)
{
    std::string exif, icc, xmp;
    if (demux) {
        // The chunks are looked for whatever the VP8X flags claim: writers get those wrong.
        exif = Chunk(demux, "EXIF");
        icc = Chunk(demux, "ICCP");
        if (out.GetKeepMetadata())
            xmp = Chunk(demux, "XMP ");
    }
    // The chunk holds the TIFF structure; a few writers put JPEG's "Exif\0\0" in front anyway.
    if (!exif.empty() && exif.compare(0, sizeof kExifHeader, kExifHeader, sizeof kExifHeader) != 0)
        exif.insert(0, kExifHeader, sizeof kExifHeader);
    const auto *app1 = reinterpret_cast<const uint8_t *>(exif.data());
    if (!pxexif::IsExif(app1, exif.size()))
        exif.clear();
    out.SetExifOrientation(exif.empty() ? 0 : pxexif::ReadOrientation(app1, exif.size()));
    int32_t xdpi = 0, ydpi = 0;
    if (!exif.empty() && pxexif::ReadResolution(app1, exif.size(), &xdpi, &ydpi) && xdpi > 0 &&
        ydpi > 0) {
        out.SetXDPI(xdpi);
        out.SetYDPI(ydpi);
    }
    out.SetColourProfile(icc);
    if (!out.GetKeepMetadata() || (exif.empty() && icc.empty() && xmp.empty()))
        return;
    auto metadata = std::make_shared<PxMetadata>();
    if (!exif.empty())
        metadata->exif = pxexif::WithoutThumbnail(exif);
    metadata->icc = std::move(icc);
    metadata->xmp = std::move(xmp);
    out.SetMetadata(std::move(metadata));
}

// Splits blue-green-red-alpha rows (top first) into the image's pixels and alpha plane; the
// plane is made only when some pixel is not opaque.
void SplitBgra(const uint8_t *bgra, size_t stride, PxImage &out)
{
    const uint32_t width = out.GetWidth(), height = out.GetHeight();
    bool opaque = true;
    for (uint32_t y = 0; y < height && opaque; ++y) {
        const uint8_t *src = bgra + y * stride;
        for (uint32_t x = 0; x < width; ++x)
            if (src[4 * x + 3] != 255) {
                opaque = false;
                break;
            }
    }
    if (!opaque && !out.AlphaCreate())
        PxThrow("PxImage::Create can't allocate memory");
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t *src = bgra + y * stride;
        const uint32_t row = height - 1 - y;
        uint8_t *dst = out.GetBits(row);
        uint8_t *alpha = opaque ? nullptr : out.AlphaGetPointer(0, int32_t(row));
        for (uint32_t x = 0; x < width; ++x, src += 4) {
            dst[3 * x] = src[0];
            dst[3 * x + 1] = src[1];
            dst[3 * x + 2] = src[2];
            if (alpha)
                alpha[x] = src[3];
        }
    }
}

// Whether the demuxer found the still picture's bitstream and its own header gives the size
// the file's first chunks claim. Only then is the picture allocated before libwebp has looked
// at the bitstream: a VP8X header alone can claim any canvas.
bool FirstFrameMatches(const WebPDemuxer *demux, const WebPBitstreamFeatures &features)
{
    WebPIterator it;
    if (!demux || !WebPDemuxGetFrame(demux, 1, &it))
        return false;
    WebPBitstreamFeatures frame;
    const bool ok = WebPGetFeatures(it.fragment.bytes, it.fragment.size, &frame) == VP8_STATUS_OK &&
                    frame.width == features.width && frame.height == features.height &&
                    !frame.has_animation;
    WebPDemuxReleaseIterator(&it);
    return ok;
}

// Fails unless the top rows of a large picture decode. Allocating a picture of hundreds of
// megabytes costs time even when its rows are never written, and a bitstream header with
// nothing behind it takes a few bytes to forge; the top rows cost a fraction of the whole.
void ProbeTopRows(const std::vector<uint8_t> &data, uint32_t width, uint32_t height)
{
    if (uint64_t(width) * height < kProbeFrom)
        return;
    WebPDecoderConfig probe;
    if (!WebPInitDecoderConfig(&probe))
        PxThrow("libwebp's decoder is not the version it was built for");
    probe.options.use_cropping = 1;
    probe.options.crop_width = int(width);
    probe.options.crop_height = int(std::min<uint32_t>(height, 16));
    probe.output.colorspace = MODE_BGR;
    std::unique_ptr<WebPDecBuffer, DecBufferFree> release(&probe.output);
    const VP8StatusCode status = WebPDecode(data.data(), data.size(), &probe);
    if (status != VP8_STATUS_OK)
        PxThrow("%s", StatusText(status));
}

// Decodes straight into the image (or, with alpha, into a buffer beside it).
void DecodeInto(const std::vector<uint8_t> &data, bool alpha, uint32_t width, uint32_t height,
                WebPDecoderConfig &config, PxImage &out)
{
    if (!out.CreateForOverwrite(width, height, 24, PXFORMAT_WEBP))
        PxThrow("%s", out.GetLastError());
    const size_t stride = out.GetEffWidth();
    // Left uninitialised: libwebp writes every byte of it, and a forged bitstream header then
    // costs address space, not memory.
    std::unique_ptr<uint8_t[]> bgra;
    if (alpha) {
        uint64_t bytes = 0;
        if (PxMulOverflows(uint64_t(width) * 4, height, &bytes) || bytes > SIZE_MAX)
            PxThrow("PxImage::Create can't allocate memory");
        bgra = std::make_unique_for_overwrite<uint8_t[]>(size_t(bytes));
        config.output.colorspace = MODE_BGRA;
        config.output.u.RGBA.rgba = bgra.get();
        config.output.u.RGBA.stride = int(width * 4);
        config.output.u.RGBA.size = size_t(bytes);
    } else {
        // The rows go straight into the block: libwebp writes the top row last.
        config.output.colorspace = MODE_BGR;
        config.output.u.RGBA.rgba = out.GetBits(0);
        config.output.u.RGBA.stride = int(stride);
        config.output.u.RGBA.size = stride * height;
        config.options.flip = 1;
    }
    config.output.is_external_memory = 1;
    std::unique_ptr<WebPDecBuffer, DecBufferFree> release(&config.output);
    const VP8StatusCode status = WebPDecode(data.data(), data.size(), &config);
    if (status != VP8_STATUS_OK)
        PxThrow("%s", StatusText(status));
    if (alpha)
        SplitBgra(bgra.get(), size_t(width) * 4, out);
}

// For a file the demuxer does not vouch for: libwebp allocates its output only once it has read
// the bitstream's own header, and the picture is copied from there.
void DecodeApart(const std::vector<uint8_t> &data, bool alpha, uint32_t width, uint32_t height,
                 WebPDecoderConfig &config, PxImage &out)
{
    config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
    std::unique_ptr<WebPDecBuffer, DecBufferFree> release(&config.output);
    const VP8StatusCode status = WebPDecode(data.data(), data.size(), &config);
    if (status != VP8_STATUS_OK)
        PxThrow("%s", StatusText(status));
    const WebPRGBABuffer &rgba = config.output.u.RGBA;
    if (uint32_t(config.output.width) != width || uint32_t(config.output.height) != height ||
        !rgba.rgba || rgba.stride <= 0)
        PxThrow("%s", StatusText(VP8_STATUS_BITSTREAM_ERROR));
    if (!out.CreateForOverwrite(width, height, 24, PXFORMAT_WEBP))
        PxThrow("%s", out.GetLastError());
    if (alpha) {
        SplitBgra(rgba.rgba, size_t(rgba.stride), out);
        return;
    }
    for (uint32_t top = 0; top < height; ++top)
        std::memcpy(out.GetBits(height - 1 - top), rgba.rgba + size_t(top) * size_t(rgba.stride),
                    size_t(width) * 3);
}

void DecodeAnimation(const std::vector<uint8_t> &data, const WebPDemuxer *demux, PxImage &out)
{
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        PxThrow("libwebp's animation decoder is not the version it was built for");
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    const WebPData whole{data.data(), data.size()};
    std::unique_ptr<WebPAnimDecoder, AnimFree> anim(WebPAnimDecoderNew(&whole, &options));
    if (!anim)
        PxThrow("the animated WebP file is broken");
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(anim.get(), &info))
        PxThrow("the animated WebP file is broken");
    uint8_t *canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(anim.get(), &canvas, &timestamp) || !canvas)
        PxThrow("the first frame of the animated WebP file is broken");
    if (!out.CreateForOverwrite(info.canvas_width, info.canvas_height, 24, PXFORMAT_WEBP))
        PxThrow("%s", out.GetLastError());
    SplitBgra(canvas, size_t(info.canvas_width) * 4, out);
    out.SetNumFrames(int32_t(std::min<uint32_t>(info.frame_count, INT32_MAX)));
    // The GIF codec's unit, hundredths of a second.
    out.SetFrameDelay(uint32_t(std::max(timestamp, 0)) / 10);
    TakeChunks(demux, out);
}

bool DecodeOrHeader(PxFile &f, PxImage &out, PxHeaderInfo *header)
{
    return PxGuard(out, [&] {
        uint64_t fileBytes = 0;
        std::vector<uint8_t> data = ReadRiffHeader(f, &fileBytes);
        if (!header) {
            ReadMore(f, data, fileBytes - kRiffHeader);
            // libwebp refuses a file shorter than its RIFF size; finding that out before the
            // picture is allocated keeps a cut or forged file from costing its claimed size.
            if (data.size() < fileBytes)
                PxThrow("%s", StatusText(VP8_STATUS_NOT_ENOUGH_DATA));
        }
        const WebPBitstreamFeatures features = Features(f, data, fileBytes, !header);
        const uint32_t width = uint32_t(features.width), height = uint32_t(features.height);
        // The full size is what is checked, also for a scaled decode, so that a header read
        // refuses exactly the files that a decode refuses.
        PxCheckDimensions("WebP", width, height, 24);
        // libwebp's animation decoder keeps two blue-green-red-alpha canvases beside the
        // image and its alpha plane, 12 bytes a pixel in all; when that outgrows the engine's
        // cap for one picture, it is no animation anyone shows, only a way to stall the batch.
        uint64_t canvasBytes = 0;
        if (features.has_animation &&
            (PxMulOverflows(uint64_t(width) * height, 12, &canvasBytes) ||
             canvasBytes > PXIMAGE_MAX_MEMORY))
            PxThrow("the animated WebP canvas of %u x %u pixels is too large", width, height);
        if (header) {
            header->width = width;
            header->height = height;
            return true;
        }

        const WebPData whole{data.data(), data.size()};
        // The demuxer validates the chunk layout; a still picture it does not accept is still
        // decoded (without metadata), as every other reader would.
        std::unique_ptr<WebPDemuxer, DemuxFree> demux(WebPDemux(&whole));
        if (features.has_animation) {
            DecodeAnimation(data, demux.get(), out);
            return true;
        }

        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config))
            PxThrow("libwebp's decoder is not the version it was built for");
        uint32_t outWidth = width, outHeight = height;
        ScaledSize(width, height, out.GetDecodeFitWidth(), out.GetDecodeFitHeight(), &outWidth,
                   &outHeight);
        if (outWidth != width || outHeight != height) {
            config.options.use_scaling = 1;
            config.options.scaled_width = int(outWidth);
            config.options.scaled_height = int(outHeight);
        }
        if (FirstFrameMatches(demux.get(), features)) {
            ProbeTopRows(data, width, height);
            DecodeInto(data, features.has_alpha != 0, outWidth, outHeight, config, out);
        } else {
            DecodeApart(data, features.has_alpha != 0, outWidth, outHeight, config, out);
        }
        TakeChunks(demux.get(), out);
        return true;
    });
}

// --- writing ---------------------------------------------------------------------------------

// Blue-green-red-alpha rows, top first, of a 24-bit image (or a 24-bit copy of one) with the
// transparency of the original: its alpha plane, its transparent palette entry, or its
// transparent colour.
std::vector<uint8_t> BgraRows(const PxImage &original, const PxImage &rgb)
{
    const uint32_t width = rgb.GetWidth(), height = rgb.GetHeight();
    std::vector<uint8_t> bgra(size_t(width) * height * 4);
    const int32_t trans = original.GetTransIndex();
    const bool indexed = original.IsIndexed();
    const bool transIndex = indexed && trans >= 0 && uint32_t(trans) < original.GetNumColors();
    const bool transColour = !indexed && trans >= 0;
    const PxRGBQuad key = original.GetTransColor();
    for (uint32_t top = 0; top < height; ++top) {
        const uint32_t y = height - 1 - top;
        const uint8_t *src = rgb.GetBits(y);
        const uint8_t *alpha = original.AlphaIsValid() ? original.AlphaGetPointer(0, int32_t(y))
                                                       : nullptr;
        uint8_t *dst = bgra.data() + size_t(top) * width * 4;
        for (uint32_t x = 0; x < width; ++x, dst += 4) {
            dst[0] = src[3 * x];
            dst[1] = src[3 * x + 1];
            dst[2] = src[3 * x + 2];
            dst[3] = alpha ? alpha[x] : 255;
            if (transIndex && original.GetPixelIndex(int32_t(x), int32_t(y)) == trans)
                dst[3] = 0;
            else if (transColour && dst[0] == key.blue && dst[1] == key.green && dst[2] == key.red)
                dst[3] = 0;
        }
    }
    return bgra;
}

void WriteAll(PxFile &f, const uint8_t *data, size_t size)
{
    if (f.Write(data, 1, size) != size)
        PxThrow("WebP write error");
}

bool Encode(PxFile &f, PxImage &img)
{
    return PxGuard(img, [&] {
        if (!img.IsValid())
            PxThrow("null image!!!");
        const uint32_t width = img.GetWidth(), height = img.GetHeight();
        if (width > kMaxSide || height > kMaxSide)
            PxThrow("WebP can't store a picture larger than %u x %u pixels (this one is %u x %u)",
                    kMaxSide, kMaxSide, width, height);

        WebPConfig config;
        if (!WebPConfigInit(&config))
            PxThrow("libwebp's encoder is not the version it was built for");
        // WebPConfigInit holds cwebp's defaults (method 4, quality 75); only the quality and
        // the lossless mode are the caller's.
        const uint32_t quality = img.GetSaveQuality();
        const bool lossless = img.GetLossless();
        config.lossless = lossless ? 1 : 0;
        if (lossless)
            config.exact = 1; // the colour under transparent pixels is part of "exact"
        else
            config.quality = float(quality >= 1 && quality <= 100 ? quality : kDefaultQuality);
        if (!WebPValidateConfig(&config))
            PxThrow("WebP encoder settings are invalid");

        // Other depths are written from a 24-bit copy; the caller's image stays as it is.
        const PxImage *rgb = &img;
        PxImage converted;
        if (img.GetBpp() != 24) {
            converted.Copy(img);
            if (!converted.IncreaseBpp(24))
                PxThrow("%s", converted.GetLastError()[0] ? converted.GetLastError()
                                                          : "WebP can't convert the picture");
            rgb = &converted;
        }
        const bool alpha = img.AlphaIsValid() || img.GetTransIndex() >= 0;

        WebPPicture picture;
        if (!WebPPictureInit(&picture))
            PxThrow("libwebp's encoder is not the version it was built for");
        picture.width = int(width);
        picture.height = int(height);
        // As cwebp does: lossless works on ARGB, lossy converts straight to YUV.
        picture.use_argb = lossless ? 1 : 0;
        std::unique_ptr<WebPPicture, PictureFree> freePicture(&picture);
        int imported = 0;
        if (alpha) {
            const std::vector<uint8_t> bgra = BgraRows(img, *rgb);
            imported = WebPPictureImportBGRA(&picture, bgra.data(), int(width * 4));
        } else {
            // Bottom-up rows: start at the top row and step backwards.
            imported = WebPPictureImportBGR(&picture, rgb->GetBits(height - 1),
                                            -int(rgb->GetEffWidth()));
        }
        if (!imported)
            PxThrow("PxImage::Create can't allocate memory");

        WebPMemoryWriter writer;
        WebPMemoryWriterInit(&writer);
        std::unique_ptr<WebPMemoryWriter, MemoryWriterFree> freeWriter(&writer);
        picture.writer = WebPMemoryWrite;
        picture.custom_ptr = &writer;
        if (!WebPEncode(&config, &picture))
            PxThrow("%s", EncodeErrorText(picture.error_code));
        freePicture.reset();

        std::string exif, icc, xmp;
        if (const PxMetadata *metadata = img.GetMetadata().get()) {
            if (pxexif::IsExif(reinterpret_cast<const uint8_t *>(metadata->exif.data()),
                               metadata->exif.size())) {
                exif = metadata->exif;
                pxexif::SetPixelSize(exif, width, height);
                exif.erase(0, pxexif::kHeaderSize);
            }
            icc = metadata->icc;
            xmp = metadata->xmp;
        }
        if (exif.empty() && icc.empty() && xmp.empty()) {
            WriteAll(f, writer.mem, writer.size);
            return true;
        }

        const WebPData bitstream{writer.mem, writer.size};
        std::unique_ptr<WebPMux, MuxFree> mux(WebPMuxCreate(&bitstream, 0));
        if (!mux)
            PxThrow("WebP: can't add metadata to the encoded picture");
        auto add = [&](const char *fourcc, const std::string &bytes) {
            if (bytes.empty())
                return;
            const WebPData chunk{reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size()};
            if (WebPMuxSetChunk(mux.get(), fourcc, &chunk, 1) != WEBP_MUX_OK)
                PxThrow("WebP: can't add the %.4s chunk", fourcc);
        };
        add("ICCP", icc);
        add("EXIF", exif);
        add("XMP ", xmp);
        WebPData assembled;
        WebPDataInit(&assembled);
        if (WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK)
            PxThrow("WebP: can't assemble the file with its metadata");
        struct Clear {
            WebPData *data;
            ~Clear() { WebPDataClear(data); }
        } clear{&assembled};
        WriteAll(f, assembled.bytes, assembled.size);
        return true;
    });
}

} // namespace

namespace pxcodec {

bool DecodeWEBP(PxFile &f, PxImage &out)
{
    return DecodeOrHeader(f, out, nullptr);
}

bool HeaderWEBP(PxFile &f, PxImage &out, PxHeaderInfo &info)
{
    return DecodeOrHeader(f, out, &info);
}

bool EncodeWEBP(PxFile &f, PxImage &img)
{
    return Encode(f, img);
}

} // namespace pxcodec
