// JPEG through libjpeg-turbo. Rows are decoded straight into the image's block and encoded
// straight from it: the library converts to and from blue-green-red itself, so no picture-sized
// buffer ever exists beside the image.
//
// The ICC profile (APP2 markers) is always read, so that Decode can settle the colours. On
// request the EXIF block, the profile and the XMP packet travel with the picture: they are
// taken from the APP1 and APP2 markers when reading and written back as markers of the same
// kind.
//
// libjpeg reports errors by calling error_exit, which must not return. Each entry point keeps
// one setjmp landing pad in a frame that holds only trivially destructible state, and the
// callbacks into PxFile never let an exception out (pxlibio_p.h).

#include "pxcodecs_p.h"
#include "pxexif_p.h"
#include "pxlibio_p.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace {

constexpr size_t kStreamBuffer = 64 * 1024;
// A progressive file can ask for an unbounded number of scans, each one a pass over the whole
// coefficient buffer; real encoders use about ten.
constexpr int kMaxScans = 1000;
// Rows handed to the library per call; it takes what it can.
constexpr int kRowBatch = 16;
// The smoothing factor (1..100) that codec option bit 64 selects.
constexpr int kSmoothing = 25;

constexpr uint32_t kOptionForceBaseline = 1;
constexpr uint32_t kOptionGreyscale = 4;
constexpr uint32_t kOptionSmoothing = 64;

// An ICC profile is cut into APP2 markers of at most this many bytes, each behind the 12-byte
// "ICC_PROFILE\0" signature and its sequence number and count.
constexpr char kIccSignature[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
constexpr size_t kIccOverhead = sizeof kIccSignature + 2;
constexpr size_t kMarkerPayload = 65533;
constexpr size_t kIccChunk = kMarkerPayload - kIccOverhead;
// An XMP packet is the payload of one APP1 marker behind this namespace name; a packet too
// large for one marker (the extended form) is not kept.
constexpr char kXmpSignature[] = "http://ns.adobe.com/xap/1.0/";
constexpr size_t kXmpOverhead = sizeof kXmpSignature; // with its terminating zero

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf landing;
    char text[JMSG_LENGTH_MAX];
};

[[noreturn]] void OnError(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->text);
    longjmp(err->landing, 1);
}

// Warnings (corrupt but decodable data) are neither printed nor fatal; truncation is caught in
// the source manager, where it is certain.
void OnMessage(j_common_ptr cinfo, int level)
{
    if (level < 0)
        cinfo->err->num_warnings++;
}

void OnOutput(j_common_ptr) {}

void InitErrors(ErrorManager *err)
{
    jpeg_std_error(&err->pub);
    err->pub.error_exit = OnError;
    err->pub.emit_message = OnMessage;
    err->pub.output_message = OnOutput;
    err->text[0] = '\0';
}

void OnProgress(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
        std::snprintf(reinterpret_cast<ErrorManager *>(cinfo->err)->text, JMSG_LENGTH_MAX,
                      "JPEG file has more than %d scans", kMaxScans);
        longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->landing, 1);
    }
}

// --- reading ---------------------------------------------------------------------------------

struct Source {
    jpeg_source_mgr pub;
    PxFile *file;
    JOCTET *buffer;
    bool anyData;
};

void SourceInit(j_decompress_ptr) {}

boolean SourceFill(j_decompress_ptr cinfo)
{
    auto *src = reinterpret_cast<Source *>(cinfo->src);
    const size_t got = pxlibio::Read(src->file, src->buffer, kStreamBuffer);
    if (got == 0) {
        // The library would pad with a fake end marker and decode grey blocks; a cut file is a
        // broken file here, not a picture with a grey bottom.
        if (src->anyData)
            ERREXIT(cinfo, JERR_INPUT_EOF);
        ERREXIT(cinfo, JERR_INPUT_EMPTY);
    }
    src->anyData = true;
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = got;
    return TRUE;
}

void SourceSkip(j_decompress_ptr cinfo, long count)
{
    auto *src = reinterpret_cast<Source *>(cinfo->src);
    if (count <= 0)
        return;
    const size_t want = static_cast<size_t>(count);
    if (want <= src->pub.bytes_in_buffer) {
        src->pub.next_input_byte += want;
        src->pub.bytes_in_buffer -= want;
        return;
    }
    const size_t rest = want - src->pub.bytes_in_buffer;
    src->pub.bytes_in_buffer = 0;
    if (!pxlibio::Seek(src->file, static_cast<int64_t>(rest), SEEK_CUR))
        ERREXIT(cinfo, JERR_INPUT_EOF);
}

void SourceTerm(j_decompress_ptr) {}

// --- what the markers carry -------------------------------------------------------------------

void TakeResolution(j_decompress_ptr cinfo, PxImage *out)
{
    int32_t x = 0, y = 0;
    if (cinfo->saw_JFIF_marker && (cinfo->density_unit == 1 || cinfo->density_unit == 2)) {
        x = pxlibio::DpiFrom(cinfo->X_density, cinfo->density_unit == 2);
        y = pxlibio::DpiFrom(cinfo->Y_density, cinfo->density_unit == 2);
    }
    // A camera's EXIF values describe the picture; a JFIF density is often an editor's default.
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && pxexif::ReadResolution(m->data, m->data_length, &x, &y))
            break;
    }
    if (x > 0 && y > 0) {
        out->SetXDPI(x);
        out->SetYDPI(y);
    }
}

// The numerator n of the scale n/8 at which a width x height picture still covers its fit into
// boxWidth x boxHeight on both sides: the fit's factor is the smaller of the two side ratios,
// and a decoded side is ceil(side * n / 8).
unsigned FitScaleEighths(uint32_t width, uint32_t height, uint32_t boxWidth, uint32_t boxHeight)
{
    auto eighths = [](uint64_t box, uint64_t side) -> uint64_t {
        return side == 0 ? 8 : (8 * box + side - 1) / side;
    };
    const uint64_t n = std::min(eighths(boxWidth, width), eighths(boxHeight, height));
    return static_cast<unsigned>(std::clamp<uint64_t>(n, 1, 8));
}

void ChooseScale(j_decompress_ptr cinfo, const PxImage &request)
{
    const uint32_t boxWidth = request.GetDecodeFitWidth();
    const uint32_t boxHeight = request.GetDecodeFitHeight();
    if (boxWidth > 0 && boxHeight > 0) {
        cinfo->scale_num =
            FitScaleEighths(cinfo->image_width, cinfo->image_height, boxWidth, boxHeight);
        cinfo->scale_denom = 8;
        // A picture shown this small cannot show the difference to the exact transform.
        cinfo->dct_method = JDCT_IFAST;
    } else if (request.GetJpegScale() > 1) {
        cinfo->scale_num = 1;
        cinfo->scale_denom = std::min<unsigned>(request.GetJpegScale(), 8);
    }
}

// Everything the decoding frame touches after setjmp lives here, outside that frame.
struct DecodeJob {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    Source src;
    jpeg_progress_mgr progress;
    PxFile *file;
    PxImage *out;
    // Set for a header read: the decode stops where the picture would be allocated.
    PxHeaderInfo *header;
};

bool IsXmp(jpeg_saved_marker_ptr m)
{
    return m->marker == JPEG_APP0 + 1 && m->data_length >= kXmpOverhead &&
           std::memcmp(m->data, kXmpSignature, kXmpOverhead) == 0;
}

// The ICC profile put together from its markers in sequence order; "" when there is none or a
// piece is missing or repeated.
std::string CollectIcc(jpeg_saved_marker_ptr markers)
{
    const jpeg_saved_marker_ptr none = nullptr;
    jpeg_saved_marker_ptr pieces[256];
    unsigned expected = 0;
    for (jpeg_saved_marker_ptr m = markers; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 2 || m->data_length < kIccOverhead ||
            std::memcmp(m->data, kIccSignature, sizeof kIccSignature) != 0)
            continue;
        const unsigned sequence = m->data[12], count = m->data[13];
        if (expected == 0) {
            expected = count;
            std::fill(pieces, pieces + 256, none);
        }
        if (count != expected || sequence < 1 || sequence > count || pieces[sequence - 1])
            return {};
        pieces[sequence - 1] = m;
    }
    if (expected == 0 || std::find(pieces, pieces + expected, none) != pieces + expected)
        return {};
    size_t size = 0;
    for (unsigned i = 0; i < expected; ++i)
        size += pieces[i]->data_length - kIccOverhead;
    std::string icc;
    icc.reserve(size);
    for (unsigned i = 0; i < expected; ++i)
        icc.append(reinterpret_cast<const char *>(pieces[i]->data) + kIccOverhead,
                   pieces[i]->data_length - kIccOverhead);
    return icc;
}

// The EXIF orientation and the colour profile, and with keep set the EXIF block without its
// thumbnail, the profile and the XMP packet. Kept out of the frame that owns the landing pad:
// it allocates.
void TakeMarkers(jpeg_saved_marker_ptr markers, bool keep, PxImage *out) noexcept
{
    const uint8_t *exif = nullptr;
    size_t exifLength = 0;
    for (jpeg_saved_marker_ptr m = markers; m && !exif; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && pxexif::IsExif(m->data, m->data_length)) {
            exif = m->data;
            exifLength = m->data_length;
        }
    out->SetExifOrientation(exif ? pxexif::ReadOrientation(exif, exifLength) : 0);
    try {
        std::string icc = CollectIcc(markers);
        if (!keep) {
            out->SetColourProfile(std::move(icc));
            return;
        }
        out->SetColourProfile(icc);
        auto metadata = std::make_shared<PxMetadata>();
        if (exif)
            metadata->exif = pxexif::WithoutThumbnail(
                std::string(reinterpret_cast<const char *>(exif), exifLength));
        metadata->icc = std::move(icc);
        for (jpeg_saved_marker_ptr m = markers; m; m = m->next)
            if (IsXmp(m)) {
                metadata->xmp.assign(reinterpret_cast<const char *>(m->data) + kXmpOverhead,
                                     m->data_length - kXmpOverhead);
                break;
            }
        if (!metadata->exif.empty() || !metadata->icc.empty() || !metadata->xmp.empty())
            out->SetMetadata(std::move(metadata));
    } catch (...) {
        // Without memory for the metadata the picture still loads, as it would without asking.
    }
}
bool HeaderFits(uint32_t width, uint32_t height, uint32_t bpp, char *text, size_t textSize) noexcept
{
    try {
        PxCheckDimensions("JPEG", width, height, bpp);
        return true;
    } catch (const PxError &e) {
        std::snprintf(text, textSize, "%.*s", static_cast<int>(textSize - 1), e.text.c_str());
    } catch (...) {
        std::snprintf(text, textSize, "PxImage::Create can't allocate memory");
    }
    return false;
}

// Size check and allocation, which report through C++ exceptions, kept out of the frame that
// owns the landing pad.
bool CreateImage(PxImage *out, uint32_t width, uint32_t height, uint32_t bpp, char *text,
                 size_t textSize) noexcept
{
    try {
        PxCheckDimensions("JPEG", width, height, bpp);
        // Every row is written by the decoder (or the image is dropped with the error).
        if (out->CreateForOverwrite(width, height, bpp, PXFORMAT_JPG))
            return true;
        std::snprintf(text, textSize, "%.*s", static_cast<int>(textSize - 1), out->GetLastError());
    } catch (const PxError &e) {
        std::snprintf(text, textSize, "%.*s", static_cast<int>(textSize - 1), e.text.c_str());
    } catch (...) {
        std::snprintf(text, textSize, "PxImage::Create can't allocate memory");
    }
    return false;
}

bool RunDecode(DecodeJob *job)
{
    j_decompress_ptr cinfo = &job->cinfo;
    InitErrors(&job->err);
    cinfo->err = &job->err.pub;
    if (setjmp(job->err.landing)) {
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    jpeg_create_decompress(cinfo);

    job->src.pub.init_source = SourceInit;
    job->src.pub.fill_input_buffer = SourceFill;
    job->src.pub.skip_input_data = SourceSkip;
    job->src.pub.resync_to_restart = jpeg_resync_to_restart;
    job->src.pub.term_source = SourceTerm;
    job->src.pub.bytes_in_buffer = 0;
    job->src.pub.next_input_byte = nullptr;
    job->src.file = job->file;
    job->src.anyData = false;
    job->src.buffer = static_cast<JOCTET *>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT,
                                   kStreamBuffer));
    cinfo->src = &job->src.pub;
    job->progress.progress_monitor = OnProgress;
    cinfo->progress = &job->progress;

    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
    const bool keep = job->out->GetKeepMetadata() && !job->header;
    if (!job->header)
        jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(cinfo, TRUE);
    if (job->header) {
        const uint32_t bpp = cinfo->jpeg_color_space == JCS_GRAYSCALE ? 8 : 24;
        const bool fits = HeaderFits(cinfo->image_width, cinfo->image_height, bpp, job->err.text,
                                     sizeof job->err.text);
        job->header->width = cinfo->image_width;
        job->header->height = cinfo->image_height;
        // A progressive file is decoded from every coefficient of the picture at once,
        // whatever the scale: libjpeg keeps them all for the whole decode.
        if (jpeg_has_multiple_scans(cinfo)) {
            uint64_t blocks = 0;
            for (int c = 0; c < cinfo->num_components; ++c)
                blocks += uint64_t(cinfo->comp_info[c].width_in_blocks) *
                          cinfo->comp_info[c].height_in_blocks;
            job->header->decodeMemory = blocks * DCTSIZE2 * sizeof(JCOEF);
        }
        jpeg_destroy_decompress(cinfo);
        return fits;
    }

    bool cmyk = false;
    uint32_t bpp = 24;
    switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
        cinfo->out_color_space = JCS_GRAYSCALE;
        bpp = 8;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo->out_color_space = JCS_CMYK;
        cmyk = true;
        break;
    default:
        cinfo->out_color_space = JCS_EXT_BGR;
        break;
    }
    ChooseScale(cinfo, *job->out);
    jpeg_start_decompress(cinfo);

    const uint32_t width = cinfo->output_width;
    const uint32_t height = cinfo->output_height;
    if (!CreateImage(job->out, width, height, bpp, job->err.text, sizeof job->err.text)) {
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    PxImage *out = job->out;
    if (bpp == 8)
        out->SetGrayPalette();
    TakeResolution(cinfo, out);
    TakeMarkers(cinfo->marker_list, keep, out);

    uint8_t *const bottom = out->GetBits(0);
    const size_t stride = out->GetEffWidth();
    JSAMPARRAY cmykRow = nullptr;
    if (cmyk)
        cmykRow = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                              width * 4, 1);
    const bool adobeInverted = cmyk && cinfo->saw_Adobe_marker;

    JSAMPROW rows[kRowBatch];
    while (cinfo->output_scanline < height) {
        const uint32_t y = cinfo->output_scanline;
        if (cmyk) {
            jpeg_read_scanlines(cinfo, cmykRow, 1);
            pxlibio::CmykToBgr(cmykRow[0], bottom + (height - 1 - y) * stride, width,
                               adobeInverted);
            continue;
        }
        // Rows are stored bottom-up: scanline y of the file is block row height-1-y.
        const uint32_t batch = std::min<uint32_t>(kRowBatch, height - y);
        for (uint32_t i = 0; i < batch; ++i)
            rows[i] = bottom + (height - 1 - y - i) * stride;
        jpeg_read_scanlines(cinfo, rows, batch);
    }
    jpeg_finish_decompress(cinfo);
    jpeg_destroy_decompress(cinfo);
    return true;
}

// --- writing ---------------------------------------------------------------------------------

struct Destination {
    jpeg_destination_mgr pub;
    PxFile *file;
    JOCTET *buffer;
};

void DestinationInit(j_compress_ptr cinfo)
{
    auto *dst = reinterpret_cast<Destination *>(cinfo->dest);
    dst->pub.next_output_byte = dst->buffer;
    dst->pub.free_in_buffer = kStreamBuffer;
}

boolean DestinationEmpty(j_compress_ptr cinfo)
{
    auto *dst = reinterpret_cast<Destination *>(cinfo->dest);
    // The library asks only when the whole buffer is full, whatever free_in_buffer says.
    if (pxlibio::Write(dst->file, dst->buffer, kStreamBuffer) != kStreamBuffer)
        ERREXIT(cinfo, JERR_FILE_WRITE);
    dst->pub.next_output_byte = dst->buffer;
    dst->pub.free_in_buffer = kStreamBuffer;
    return TRUE;
}

void DestinationTerm(j_compress_ptr cinfo)
{
    auto *dst = reinterpret_cast<Destination *>(cinfo->dest);
    const size_t used = kStreamBuffer - dst->pub.free_in_buffer;
    if (used > 0 && pxlibio::Write(dst->file, dst->buffer, used) != used)
        ERREXIT(cinfo, JERR_FILE_WRITE);
}

struct EncodeJob {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    Destination dst;
    PxFile *file;
    const PxImage *img;
    bool grey;
    // The kept EXIF block as this file's picture needs it (prepared outside the landing frame).
    const std::string *exif;
};

bool RunEncode(EncodeJob *job)
{
    j_compress_ptr cinfo = &job->cinfo;
    InitErrors(&job->err);
    cinfo->err = &job->err.pub;
    if (setjmp(job->err.landing)) {
        jpeg_destroy_compress(cinfo);
        return false;
    }
    jpeg_create_compress(cinfo);

    const PxImage *img = job->img;
    const uint32_t width = img->GetWidth();
    const uint32_t height = img->GetHeight();

    job->dst.pub.init_destination = DestinationInit;
    job->dst.pub.empty_output_buffer = DestinationEmpty;
    job->dst.pub.term_destination = DestinationTerm;
    job->dst.file = job->file;
    job->dst.buffer = static_cast<JOCTET *>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT,
                                   kStreamBuffer));
    cinfo->dest = &job->dst.pub;

    cinfo->image_width = width;
    cinfo->image_height = height;
    cinfo->input_components = job->grey ? 1 : 3;
    cinfo->in_color_space = job->grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(cinfo);

    const uint32_t option = img->GetCodecOption();
    if (option & kOptionGreyscale)
        jpeg_set_colorspace(cinfo, JCS_GRAYSCALE);
    if (option & kOptionSmoothing)
        cinfo->smoothing_factor = kSmoothing;
    jpeg_set_quality(cinfo, img->GetJpegQuality(), (option & kOptionForceBaseline) ? TRUE : FALSE);
    cinfo->write_JFIF_header = TRUE;
    cinfo->density_unit = 1;
    cinfo->X_density = static_cast<UINT16>(std::clamp(img->GetXDPI(), 1, 65535));
    cinfo->Y_density = static_cast<UINT16>(std::clamp(img->GetYDPI(), 1, 65535));

    jpeg_start_compress(cinfo, TRUE);
    if (job->exif && !job->exif->empty())
        jpeg_write_marker(cinfo, JPEG_APP0 + 1, reinterpret_cast<const JOCTET *>(job->exif->data()),
                          static_cast<unsigned>(job->exif->size()));
    if (const PxMetadata *metadata = img->GetMetadata().get()) {
        if (!metadata->xmp.empty() && metadata->xmp.size() <= kMarkerPayload - kXmpOverhead) {
            jpeg_write_m_header(cinfo, JPEG_APP0 + 1,
                                static_cast<unsigned>(metadata->xmp.size() + kXmpOverhead));
            for (size_t k = 0; k < kXmpOverhead; ++k)
                jpeg_write_m_byte(cinfo, static_cast<unsigned char>(kXmpSignature[k]));
            for (char c : metadata->xmp)
                jpeg_write_m_byte(cinfo, static_cast<unsigned char>(c));
        }
        // The sequence numbers are single bytes: a larger profile cannot be stored.
        const size_t pieces = (metadata->icc.size() + kIccChunk - 1) / kIccChunk;
        for (size_t i = 0; pieces <= 255 && i < pieces; ++i) {
            const size_t length = std::min(kIccChunk, metadata->icc.size() - i * kIccChunk);
            jpeg_write_m_header(cinfo, JPEG_APP0 + 2, static_cast<unsigned>(length + kIccOverhead));
            for (char c : kIccSignature)
                jpeg_write_m_byte(cinfo, c);
            jpeg_write_m_byte(cinfo, static_cast<int>(i + 1));
            jpeg_write_m_byte(cinfo, static_cast<int>(pieces));
            for (size_t k = 0; k < length; ++k)
                jpeg_write_m_byte(cinfo, static_cast<unsigned char>(metadata->icc[i * kIccChunk + k]));
        }
    }

    uint8_t *const bottom = img->GetBits(0);
    const size_t stride = img->GetEffWidth();
    // Grey images whose indices are not already the grey levels (1 and 4 bits) go through one
    // row of levels; 8-bit grey rows are fed as they are.
    const uint32_t bpp = img->GetBpp();
    JSAMPARRAY levels = nullptr;
    const PxRGBQuad *palette = img->GetPalette();
    if (job->grey && bpp != 8)
        levels = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                             width, 1);
    JSAMPROW rows[kRowBatch];
    while (cinfo->next_scanline < height) {
        const uint32_t y = cinfo->next_scanline;
        if (levels) {
            const uint8_t *src = bottom + (height - 1 - y) * stride;
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t index = bpp == 4 ? (src[x >> 1] >> ((~x & 1) * 4)) & 15
                                                : (src[x >> 3] >> (7 - (x & 7))) & 1;
                levels[0][x] = palette[index].red;
            }
            jpeg_write_scanlines(cinfo, levels, 1);
            continue;
        }
        const uint32_t batch = std::min<uint32_t>(kRowBatch, height - y);
        for (uint32_t i = 0; i < batch; ++i)
            rows[i] = bottom + (height - 1 - y - i) * stride;
        jpeg_write_scanlines(cinfo, rows, batch);
    }
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return true;
}

bool DecodeOrHeader(PxFile &f, PxImage &out, PxHeaderInfo *header)
{
    auto *job = new (std::nothrow) DecodeJob{};
    if (!job) {
        out.SetLastError("PxImage::Create can't allocate memory");
        return false;
    }
    job->file = &f;
    job->out = &out;
    job->header = header;
    const bool ok = RunDecode(job);
    if (!ok)
        out.SetLastError(job->err.text[0] ? job->err.text : "JPEG decoding failed");
    delete job;
    return ok;
}

} // namespace

namespace pxcodec {

bool DecodeJPEG(PxFile &f, PxImage &out)
{
    return DecodeOrHeader(f, out, nullptr);
}

bool HeaderJPEG(PxFile &f, PxImage &out, PxHeaderInfo &info)
{
    return DecodeOrHeader(f, out, &info);
}

bool EncodeJPEG(PxFile &f, PxImage &img)
{
    if (!img.IsValid()) {
        img.SetLastError("null image!!!");
        return false;
    }
    const bool grey = img.IsIndexed();
    // IsGrayScale demands the exact level ramp, so every grey image maps index -> level.
    if (grey && !img.IsGrayScale()) {
        img.SetLastError("JPEG can save only RGB or GreyScale images");
        return false;
    }
    auto *job = new (std::nothrow) EncodeJob{};
    if (!job) {
        img.SetLastError("PxImage::Create can't allocate memory");
        return false;
    }
    job->file = &f;
    job->img = &img;
    job->grey = grey;
    std::string exif;
    if (const PxMetadata *metadata = img.GetMetadata().get();
        metadata && metadata->exif.size() <= kMarkerPayload) {
        try {
            exif = metadata->exif;
            pxexif::SetPixelSize(exif, img.GetWidth(), img.GetHeight());
        } catch (const std::bad_alloc &) {
            delete job;
            img.SetLastError("PxImage::Create can't allocate memory");
            return false;
        }
    }
    job->exif = &exif;
    const bool ok = RunEncode(job);
    if (!ok)
        img.SetLastError(job->err.text[0] ? job->err.text : "JPEG encoding failed");
    delete job;
    return ok;
}

} // namespace pxcodec
