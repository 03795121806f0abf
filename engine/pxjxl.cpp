// JPEG XL through libjxl. The decoder is fed the file in growing pieces, so a header read
// touches only the first kilobytes, and hands its pixels row by row to a callback that writes
// them into the image's block: 8-bit pictures as they are, deeper ones as floats rounded once
// to 8 bits. Grey pictures become 8-bit grey with the grey ramp, as the PNG codec keeps them.
// Only the first frame of an animation is decoded. No parallel runner is set: the batch
// already runs one picture per core.
//
// Colour: a lossy file is stored in XYB, and libjxl (without a colour engine of its own) may
// give its pixels in another space than the original profile; the profile reported is always
// the one of the pixels handed out. libjxl also turns the picture upright by the codestream's
// orientation, so a kept EXIF block is told orientation 1.
//
// libjxl reports through status codes and never unwinds; exceptions are thrown only in this
// file's own frames, never from the pixel callback.

#include "pxcodecs_p.h"
#include "pxexif_p.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <jxl/decode.h>
#include <jxl/encode.h>

namespace {

constexpr size_t kFirstRead = 4096;
constexpr size_t kLargestRead = 4 << 20;
constexpr size_t kOutputChunk = 64 * 1024;
// An EXIF block or XMP packet beyond this is not a camera's; a Brotli-compressed box could
// otherwise unpack into any amount of memory.
constexpr size_t kMaxBox = 64 << 20;
constexpr uint64_t kMaxPixels = uint64_t(1) << 28;
constexpr char kExifHeader[pxexif::kHeaderSize] = {'E', 'x', 'i', 'f', 0, 0};

using DecoderFree = PxFreeWith<JxlDecoderDestroy>;
using EncoderFree = PxFreeWith<JxlEncoderDestroy>;

// The file in pieces, each read twice as large as the one before.
class Input {
public:
    explicit Input(PxFile &f) : m_file(f) {}
    // Keeps the `unused` bytes at the end of the buffer and appends the next piece; false when
    // the file had nothing more.
    bool More(size_t unused)
    {
        unused = std::min(unused, m_data.size());
        if (unused > 0)
            std::memmove(m_data.data(), m_data.data() + m_data.size() - unused, unused);
        m_data.resize(unused);
        if (m_end)
            return false;
        const size_t old = m_data.size();
        m_data.resize(old + m_next);
        const size_t got = m_file.Read(m_data.data() + old, 1, m_next);
        m_data.resize(old + got);
        if (got < m_next)
            m_end = true;
        m_next = std::min(m_next * 2, kLargestRead);
        return got > 0;
    }
    const uint8_t *Data() const { return m_data.data(); }
    size_t Size() const { return m_data.size(); }

private:
    PxFile &m_file;
    std::vector<uint8_t> m_data;
    size_t m_next = kFirstRead;
    bool m_end = false;
};

// Where the pixel callback writes.
struct Target {
    uint8_t *bottom = nullptr;
    size_t stride = 0;
    uint32_t width = 0, height = 0;
    uint32_t colours = 3; // 1 grey, 3 red-green-blue
    bool alpha = false;
    bool floats = false;
    PxImage *image = nullptr;
};

inline uint8_t From(float v)
{
    // NaN and everything below 0 become 0.
    if (!(v > 0.0f))
        return 0;
    if (v >= 1.0f)
        return 255;
    return static_cast<uint8_t>(v * 255.0f + 0.5f);
}

void OnPixels(void *opaque, size_t x, size_t y, size_t count, const void *pixels)
{
    auto *t = static_cast<Target *>(opaque);
    if (y >= t->height || x >= t->width || count > t->width - x)
        return;
    const uint32_t row = t->height - 1 - uint32_t(y);
    uint8_t *dst = t->bottom + row * t->stride;
    uint8_t *alpha = t->alpha ? t->image->AlphaGetPointer(0, int32_t(row)) : nullptr;
    const uint32_t channels = t->colours + (t->alpha ? 1 : 0);
    for (size_t i = 0; i < count; ++i) {
        uint8_t v[4];
        if (t->floats) {
            const float *src = static_cast<const float *>(pixels) + i * channels;
            for (uint32_t c = 0; c < channels; ++c)
                v[c] = From(src[c]);
        } else {
            std::memcpy(v, static_cast<const uint8_t *>(pixels) + i * channels, channels);
        }
        const size_t at = x + i;
        if (t->colours == 1) {
            dst[at] = v[0];
        } else {
            dst[3 * at] = v[2];
            dst[3 * at + 1] = v[1];
            dst[3 * at + 2] = v[0];
        }
        if (alpha)
            alpha[at] = v[channels - 1];
    }
}

bool IsSrgb(const JxlColorEncoding &c)
{
    if (c.color_space != JXL_COLOR_SPACE_RGB && c.color_space != JXL_COLOR_SPACE_GRAY)
        return false;
    return c.white_point == JXL_WHITE_POINT_D65 && c.transfer_function == JXL_TRANSFER_FUNCTION_SRGB &&
           (c.color_space == JXL_COLOR_SPACE_GRAY || c.primaries == JXL_PRIMARIES_SRGB);
}

// The profile of the pixels the decoder is about to give: "" for sRGB.
std::string DataProfile(JxlDecoder *dec)
{
    JxlColorEncoding encoding;
    if (JxlDecoderGetColorAsEncodedProfile(dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &encoding) ==
            JXL_DEC_SUCCESS &&
        IsSrgb(encoding))
        return {};
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
            JXL_DEC_SUCCESS ||
        size == 0)
        return {};
    std::string icc(size, '\0');
    if (JxlDecoderGetColorAsICCProfile(dec, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       reinterpret_cast<uint8_t *>(icc.data()), size) !=
        JXL_DEC_SUCCESS)
        return {};
    return icc;
}

// A metadata box being collected.
struct Box {
    std::string *into = nullptr;
    std::string data;
    bool dropped = false;
};

// Takes what the decoder wrote into the current box; `open` is cleared.
void CloseBox(JxlDecoder *dec, Box &box)
{
    if (!box.into)
        return;
    const size_t unused = JxlDecoderReleaseBoxBuffer(dec);
    box.data.resize(box.data.size() - std::min(unused, box.data.size()));
    // The first box of each kind counts.
    if (!box.dropped && box.into->empty())
        *box.into = std::move(box.data);
    box = Box{};
}

// The "Exif" box: a big-endian offset to the TIFF header, then the TIFF structure. Returned in
// JPEG's APP1 form, or "" when it does not hold together.
std::string ExifFromBox(const std::string &box)
{
    if (box.size() < 4)
        return {};
    const auto *p = reinterpret_cast<const uint8_t *>(box.data());
    const uint32_t offset = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    if (offset > box.size() - 4)
        return {};
    std::string app1(kExifHeader, sizeof kExifHeader);
    app1.append(box, 4 + offset, std::string::npos);
    if (!pxexif::IsExif(reinterpret_cast<const uint8_t *>(app1.data()), app1.size()))
        return {};
    return app1;
}

bool DecodeOrHeader(PxFile &f, PxImage &out, PxHeaderInfo *header)
{
    return PxGuard(out, [&] {
        Input in(f);
        in.More(0);
        const JxlSignature signature = JxlSignatureCheck(in.Data(), in.Size());
        if (signature != JXL_SIG_CODESTREAM && signature != JXL_SIG_CONTAINER)
            PxThrow("not a JPEG XL file");

        std::unique_ptr<JxlDecoder, DecoderFree> owner(JxlDecoderCreate(nullptr));
        JxlDecoder *dec = owner.get();
        if (!dec)
            PxThrow("PxImage::Create can't allocate memory");
        const bool keep = !header && out.GetKeepMetadata();
        int events = JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING;
        if (!header)
            events |= JXL_DEC_FULL_IMAGE;
        if (keep)
            events |= JXL_DEC_BOX;
        if (JxlDecoderSubscribeEvents(dec, events) != JXL_DEC_SUCCESS ||
            JxlDecoderSetUnpremultiplyAlpha(dec, JXL_TRUE) != JXL_DEC_SUCCESS)
            PxThrow("JPEG XL decoder refused its settings");
        // Without Brotli compressed boxes stay compressed and are not taken.
        const bool unpackBoxes = keep && JxlDecoderSetDecompressBoxes(dec, JXL_TRUE) == JXL_DEC_SUCCESS;
        if (JxlDecoderSetInput(dec, in.Data(), in.Size()) != JXL_DEC_SUCCESS)
            PxThrow("JPEG XL decoder refused its input");

        JxlBasicInfo info{};
        Target target;
        bool haveImage = false, haveColour = false, closed = false;
        std::string exifBox, xmp, icc;
        Box box;
        for (;;) {
            const JxlDecoderStatus status = JxlDecoderProcessInput(dec);
            if (status == JXL_DEC_SUCCESS)
                break;
            if (status == JXL_DEC_ERROR) {
                if (haveImage)
                    break; // what follows the picture is metadata: the picture stands
                PxThrow(closed ? "the JPEG XL file is cut short" : "the JPEG XL data is broken");
            }
            if (status == JXL_DEC_NEED_MORE_INPUT) {
                const size_t unused = JxlDecoderReleaseInput(dec);
                if (in.More(unused)) {
                    JxlDecoderSetInput(dec, in.Data(), in.Size());
                    continue;
                }
                // Metadata boxes end only where the file does, which the decoder must be told.
                if (!closed && keep) {
                    closed = true;
                    JxlDecoderSetInput(dec, in.Data(), in.Size());
                    JxlDecoderCloseInput(dec);
                    continue;
                }
                if (haveImage)
                    break;
                PxThrow("the JPEG XL file is cut short");
            }
            switch (status) {
            case JXL_DEC_BASIC_INFO: {
                if (JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS)
                    PxThrow("the JPEG XL data is broken");
                const bool grey = info.num_color_channels == 1;
                PxCheckDimensions("JPEG XL", info.xsize, info.ysize, grey ? 8 : 24);
                // libjxl holds a picture in floating point planes while it decodes, several
                // times the size of ours: beyond the pixel count of the format's main level
                // (5) that is no photo, only a way to exhaust memory.
                if (uint64_t(info.xsize) * info.ysize > kMaxPixels)
                    PxThrow("JPEG XL image of %u x %u pixels is beyond the %llu pixels of "
                            "level 5", info.xsize, info.ysize,
                            static_cast<unsigned long long>(kMaxPixels));
                if (header) {
                    header->width = info.xsize;
                    header->height = info.ysize;
                }
                break;
            }
            case JXL_DEC_COLOR_ENCODING: {
                if (header)
                    return true;
                const bool grey = info.num_color_channels == 1;
                if (!info.uses_original_profile) {
                    // XYB pixels can be given in any described space: the original one when it
                    // is described (not an ICC profile), else sRGB.
                    JxlColorEncoding wanted;
                    if (JxlDecoderGetColorAsEncodedProfile(dec, nullptr,
                                                           JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                                           &wanted) != JXL_DEC_SUCCESS)
                        JxlColorEncodingSetToSRGB(&wanted, grey ? JXL_TRUE : JXL_FALSE);
                    JxlDecoderSetPreferredColorProfile(dec, &wanted);
                }
                icc = DataProfile(dec);
                haveColour = true;
                break;
            }
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
                if (haveImage) {
                    // Later frames of an animation, passed over on the way to the metadata.
                    if (JxlDecoderSkipCurrentFrame(dec) != JXL_DEC_SUCCESS)
                        goto done;
                    break;
                }
                if (!haveColour)
                    PxThrow("the JPEG XL data is broken");
                // Allocated only now that the first frame's header has been read: a forged
                // image header alone costs nothing. The callback writes every pixel of every
                // row, or the image is dropped.
                const bool grey = info.num_color_channels == 1;
                if (!out.CreateForOverwrite(info.xsize, info.ysize, grey ? 8 : 24, PXFORMAT_JXL))
                    PxThrow("%s", out.GetLastError());
                if (grey)
                    out.SetGrayPalette();
                target.alpha = info.alpha_bits > 0;
                if (target.alpha && !out.AlphaCreate())
                    PxThrow("PxImage::Create can't allocate memory");
                target.bottom = out.GetBits(0);
                target.stride = out.GetEffWidth();
                target.width = info.xsize;
                target.height = info.ysize;
                target.colours = grey ? 1 : 3;
                target.floats = info.bits_per_sample > 8 || info.exponent_bits_per_sample > 0;
                target.image = &out;
                const JxlPixelFormat format{target.colours + (target.alpha ? 1u : 0u),
                                            target.floats ? JXL_TYPE_FLOAT : JXL_TYPE_UINT8,
                                            JXL_NATIVE_ENDIAN, 0};
                if (JxlDecoderSetImageOutCallback(dec, &format, OnPixels, &target) !=
                    JXL_DEC_SUCCESS)
                    PxThrow("JPEG XL decoder refused the output format");
                break;
            }
            case JXL_DEC_FULL_IMAGE:
                if (haveImage)
                    break;
                haveImage = true;
                if (!keep)
                    goto done;
                break;
            case JXL_DEC_BOX: {
                CloseBox(dec, box);
                JxlBoxType type;
                if (JxlDecoderGetBoxType(dec, type, unpackBoxes ? JXL_TRUE : JXL_FALSE) !=
                    JXL_DEC_SUCCESS)
                    break;
                std::string *into = std::memcmp(type, "Exif", 4) == 0   ? &exifBox
                                    : std::memcmp(type, "xml ", 4) == 0 ? &xmp
                                                                        : nullptr;
                if (!into)
                    break;
                uint64_t raw = 0;
                JxlDecoderGetBoxSizeRaw(dec, &raw);
                box.into = into;
                box.data.resize(std::clamp<uint64_t>(raw, 1024, kMaxBox));
                JxlDecoderSetBoxBuffer(dec, reinterpret_cast<uint8_t *>(box.data.data()),
                                       box.data.size());
                break;
            }
            case JXL_DEC_BOX_NEED_MORE_OUTPUT: {
                if (!box.into)
                    PxThrow("the JPEG XL data is broken");
                const size_t unused = JxlDecoderReleaseBoxBuffer(dec);
                const size_t used = box.data.size() - std::min(unused, box.data.size());
                if (box.data.size() >= kMaxBox) {
                    // Past any sensible size: the rest is decoded into the same bytes again
                    // and the box is not kept.
                    box.dropped = true;
                    JxlDecoderSetBoxBuffer(dec, reinterpret_cast<uint8_t *>(box.data.data()),
                                           box.data.size());
                    break;
                }
                box.data.resize(std::min(box.data.size() * 2, kMaxBox));
                JxlDecoderSetBoxBuffer(dec, reinterpret_cast<uint8_t *>(box.data.data()) + used,
                                       box.data.size() - used);
                break;
            }
            default:
                PxThrow("JPEG XL decoder stopped unexpectedly (status %d)", int(status));
            }
        }
    done:
        CloseBox(dec, box);
        if (!haveImage)
            PxThrow("the JPEG XL file holds no picture");

        std::string exif = ExifFromBox(exifBox);
        // libjxl has turned the picture by the codestream's orientation; EXIF's own tag is
        // not to be applied again.
        out.SetExifOrientation(exif.empty() ? 0 : 1);
        out.SetColourProfile(icc);
        if (keep && (!exif.empty() || !icc.empty() || !xmp.empty())) {
            auto metadata = std::make_shared<PxMetadata>();
            if (!exif.empty()) {
                metadata->exif = pxexif::WithoutThumbnail(exif);
                pxexif::SetOrientation(metadata->exif, 1);
            }
            metadata->icc = std::move(icc);
            metadata->xmp = std::move(xmp);
            out.SetMetadata(std::move(metadata));
        }
        return true;
    });
}

// --- writing ---------------------------------------------------------------------------------

// cjxl's mapping of a JPEG-like quality to a butteraugli distance: 90 is the visually lossless
// distance 1.0, 30 is 6.4, and below that the distance grows geometrically up to libjxl's
// largest, 25. Quality 100 is lossless and does not come here.
float DistanceFor(uint32_t quality)
{
    const double q = quality;
    const double d = q >= 30 ? 0.1 + (100 - q) * 0.09 : 6.4 + std::pow(2.5, (30 - q) / 5.0) / 6.25;
    return float(std::min(d, 25.0));
}

const char *EncoderErrorText(JxlEncoderError error)
{
    switch (error) {
    case JXL_ENC_ERR_OOM: return "PxImage::Create can't allocate memory";
    case JXL_ENC_ERR_BAD_INPUT: return "JPEG XL encoder refused the picture or its colour profile";
    case JXL_ENC_ERR_NOT_SUPPORTED: return "JPEG XL encoder does not support this picture";
    case JXL_ENC_ERR_API_USAGE: return "JPEG XL encoder was used wrongly";
    default: return "JPEG XL encoding failed";
    }
}

bool Encode(PxFile &f, PxImage &img)
{
    return PxGuard(img, [&] {
        if (!img.IsValid())
            PxThrow("null image!!!");
        const uint32_t width = img.GetWidth(), height = img.GetHeight();
        std::string exif, icc, xmp;
        uint32_t orientation = 0;
        if (const PxMetadata *metadata = img.GetMetadata().get()) {
            if (pxexif::IsExif(reinterpret_cast<const uint8_t *>(metadata->exif.data()),
                               metadata->exif.size())) {
                exif = metadata->exif;
                pxexif::SetPixelSize(exif, width, height);
                orientation = pxexif::ReadOrientation(reinterpret_cast<const uint8_t *>(exif.data()),
                                                      exif.size());
                // The box: a zero offset, then the TIFF structure.
                exif.replace(0, pxexif::kHeaderSize, std::string(4, '\0'));
            }
            icc = metadata->icc;
            xmp = metadata->xmp;
        }
        // Every depth is written as red-green-blue from a 24-bit copy (the caller's image stays
        // as it is), grey palettes too: the format table promises that a written file reads
        // back at 24 bits, and libjxl stores equal channels for next to nothing. A grey ICC
        // profile cannot describe such pixels.
        if (icc.size() >= 20 && icc.compare(16, 4, "GRAY") == 0)
            icc.clear();
        const PxImage *source = &img;
        PxImage converted;
        if (img.GetBpp() != 24) {
            converted.Copy(img);
            if (!converted.IncreaseBpp(24))
                PxThrow("%s", converted.GetLastError()[0] ? converted.GetLastError()
                                                          : "JPEG XL can't convert the picture");
            source = &converted;
        }
        const int32_t trans = img.GetTransIndex();
        const bool transIndex = img.IsIndexed() && trans >= 0 && uint32_t(trans) < img.GetNumColors();
        const bool transColour = !img.IsIndexed() && trans >= 0;
        const bool alpha = img.AlphaIsValid() || transIndex || transColour;
        const uint32_t colours = 3;
        const uint32_t channels = colours + (alpha ? 1 : 0);

        // Rows top first, red-green-blue(-alpha).
        uint64_t bytes = 0;
        if (PxMulOverflows(uint64_t(width) * height, channels, &bytes) || bytes > SIZE_MAX)
            PxThrow("PxImage::Create can't allocate memory");
        std::vector<uint8_t> pixels(static_cast<size_t>(bytes));
        const PxRGBQuad key = img.GetTransColor();
        for (uint32_t top = 0; top < height; ++top) {
            const uint32_t y = height - 1 - top;
            const uint8_t *src = source->GetBits(y);
            const uint8_t *a = img.AlphaIsValid() ? img.AlphaGetPointer(0, int32_t(y)) : nullptr;
            uint8_t *dst = pixels.data() + size_t(top) * width * channels;
            for (uint32_t x = 0; x < width; ++x, dst += channels) {
                dst[0] = src[3 * x + 2];
                dst[1] = src[3 * x + 1];
                dst[2] = src[3 * x];
                if (!alpha)
                    continue;
                uint8_t value = a ? a[x] : 255;
                if (transIndex && img.GetPixelIndex(int32_t(x), int32_t(y)) == trans)
                    value = 0;
                else if (transColour && src[3 * x] == key.blue && src[3 * x + 1] == key.green &&
                         src[3 * x + 2] == key.red)
                    value = 0;
                dst[colours] = value;
            }
        }

        const uint32_t quality = img.GetSaveQuality();
        const bool lossless = img.GetLossless() || quality == 100;
        std::unique_ptr<JxlEncoder, EncoderFree> owner(JxlEncoderCreate(nullptr));
        JxlEncoder *enc = owner.get();
        if (!enc)
            PxThrow("PxImage::Create can't allocate memory");
        auto check = [&](JxlEncoderStatus status) {
            if (status != JXL_ENC_SUCCESS)
                PxThrow("%s", EncoderErrorText(JxlEncoderGetError(enc)));
        };

        if (!exif.empty() || !xmp.empty())
            check(JxlEncoderUseBoxes(enc));

        JxlBasicInfo info;
        JxlEncoderInitBasicInfo(&info);
        info.xsize = width;
        info.ysize = height;
        info.bits_per_sample = 8;
        info.num_color_channels = colours;
        info.uses_original_profile = lossless ? JXL_TRUE : JXL_FALSE;
        if (alpha) {
            info.alpha_bits = 8;
            info.num_extra_channels = 1;
        }
        // JPEG XL readers turn the picture by the codestream's orientation and ignore EXIF's:
        // the written EXIF block's orientation goes into the codestream, so the picture shows
        // as the block says.
        if (orientation >= 1 && orientation <= 8)
            info.orientation = static_cast<JxlOrientation>(orientation);
        check(JxlEncoderSetBasicInfo(enc, &info));
        if (!icc.empty()) {
            check(JxlEncoderSetICCProfile(enc, reinterpret_cast<const uint8_t *>(icc.data()),
                                          icc.size()));
        } else {
            JxlColorEncoding srgb;
            JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
            check(JxlEncoderSetColorEncoding(enc, &srgb));
        }

        JxlEncoderFrameSettings *settings = JxlEncoderFrameSettingsCreate(enc, nullptr);
        if (!settings)
            PxThrow("PxImage::Create can't allocate memory");
        if (lossless) {
            check(JxlEncoderSetFrameLossless(settings, JXL_TRUE));
        } else {
            check(JxlEncoderSetFrameDistance(
                settings, quality >= 1 && quality <= 100 ? DistanceFor(quality) : 1.0f));
        }
        if (!exif.empty())
            check(JxlEncoderAddBox(enc, "Exif", reinterpret_cast<const uint8_t *>(exif.data()),
                                   exif.size(), JXL_FALSE));
        if (!xmp.empty())
            check(JxlEncoderAddBox(enc, "xml ", reinterpret_cast<const uint8_t *>(xmp.data()),
                                   xmp.size(), JXL_FALSE));
        if (!exif.empty() || !xmp.empty())
            JxlEncoderCloseBoxes(enc);

        const JxlPixelFormat format{channels, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
        check(JxlEncoderAddImageFrame(settings, &format, pixels.data(), pixels.size()));
        JxlEncoderCloseInput(enc);

        std::vector<uint8_t> chunk(kOutputChunk);
        for (;;) {
            uint8_t *next = chunk.data();
            size_t room = chunk.size();
            const JxlEncoderStatus status = JxlEncoderProcessOutput(enc, &next, &room);
            const size_t used = chunk.size() - room;
            if (used > 0 && f.Write(chunk.data(), 1, used) != used)
                PxThrow("JPEG XL write error");
            if (status == JXL_ENC_SUCCESS)
                return true;
            if (status != JXL_ENC_NEED_MORE_OUTPUT)
                check(status);
        }
    });
}

} // namespace

namespace pxcodec {

std::string ExifFromJxlBox(const std::string &box)
{
    return ExifFromBox(box);
}

bool DecodeJXL(PxFile &f, PxImage &out)
{
    return DecodeOrHeader(f, out, nullptr);
}

bool HeaderJXL(PxFile &f, PxImage &out, PxHeaderInfo &info)
{
    return DecodeOrHeader(f, out, &info);
}

bool EncodeJXL(PxFile &f, PxImage &img)
{
    return Encode(f, img);
}

} // namespace pxcodec
