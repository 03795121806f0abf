#include "pxformats_p.h"

#include <array>
#include <cctype>

namespace {

using namespace pxcodec;

bool DecodeJ2KFile(PxFile &f, PxImage &out, uint32_t format)
{
    return DecodeJ2K(f, out, format);
}
bool EncodeJ2KFile(PxFile &f, PxImage &img, uint32_t format)
{
    return EncodeJ2K(f, img, format);
}
template <bool (*Fn)(PxFile &, PxImage &)> bool Plain(PxFile &f, PxImage &img, uint32_t)
{
    return Fn(f, img);
}
template <bool (*Fn)(PxFile &, PxImage &, PxHeaderInfo &)>
bool PlainHeader(PxFile &f, PxImage &img, PxHeaderInfo &info, uint32_t)
{
    return Fn(f, img, info);
}
bool HeaderJ2KFile(PxFile &f, PxImage &img, PxHeaderInfo &info, uint32_t format)
{
    return HeaderJ2K(f, img, info, format);
}
bool RefuseWMF(PxFile &, PxImage &img, uint32_t)
{
    img.SetLastError("Save WMF not supported");
    return false;
}

// Detection tries the formats with strong signatures first; the weak ones (TGA, PCX, WBMP, WMF)
// come last so they cannot claim a file another codec recognises by its magic bytes.
// JPEG 2000 is never detected: it loads only through its extension. The PGX, PNM and RAS codes
// of the JPEG 2000 family exist, but the codec refuses them with its own text.
const PxFormatRow kRows[] = {
    {{PXFORMAT_BMP, "bmp", {"bmp"}, nullptr, true, true, 1, false, false, 0},
     Plain<DecodeBMP>, Plain<EncodeBMP>, PlainHeader<HeaderBMP>},
    {{PXFORMAT_GIF, "gif", {"gif"}, nullptr, true, true, 4, false, true, 0},
     Plain<DecodeGIF>, Plain<EncodeGIF>, PlainHeader<HeaderGIF>},
    {{PXFORMAT_JPG, "jpeg", {"jpg", "jpe", "jpeg"}, nullptr, true, true, 2, true, false, 0, true, true, true},
     Plain<DecodeJPEG>, Plain<EncodeJPEG>, PlainHeader<HeaderJPEG>},
    {{PXFORMAT_PNG, "png", {"png"}, nullptr, true, true, 5, false, false, 0, true, true},
     Plain<DecodePNG>, Plain<EncodePNG>, PlainHeader<HeaderPNG>},
    {{PXFORMAT_ICO, "ico", {"ico"}, nullptr, true, true, 3, false, false, 0},
     Plain<DecodeICO>, Plain<EncodeICO>, PlainHeader<HeaderICO>},
    {{PXFORMAT_TIF, "tiff", {"tif", "tiff"}, nullptr, true, true, 6, false, false, 0, true, true},
     Plain<DecodeTIFF>, Plain<EncodeTIFF>, PlainHeader<HeaderTIFF>},
    {{PXFORMAT_TGA, "tga", {}, "tga", true, true, 11, false, false, 8},
     Plain<DecodeTGA>, Plain<EncodeTGA>, PlainHeader<HeaderTGA>},
    {{PXFORMAT_PCX, "pcx", {"pcx"}, nullptr, true, true, 12, false, false, 0},
     Plain<DecodePCX>, Plain<EncodePCX>, PlainHeader<HeaderPCX>},
    {{PXFORMAT_WBMP, "wbmp", {}, nullptr, true, true, 13, false, false, 0},
     Plain<DecodeWBMP>, Plain<EncodeWBMP>, PlainHeader<HeaderWBMP>},
    {{PXFORMAT_WMF, "wmf", {}, nullptr, true, false, 14, false, false, 0},
     Plain<DecodeWMF>, RefuseWMF, PlainHeader<HeaderWMF>},
    {{PXFORMAT_JP2, "jp2", {"jp2", "jpeg2", "jpg2"}, nullptr, true, true, 0, true, false, 0},
     DecodeJ2KFile, EncodeJ2KFile, HeaderJ2KFile},
    {{PXFORMAT_JPC, "jpc", {}, nullptr, true, true, 0, true, false, 0}, DecodeJ2KFile,
     EncodeJ2KFile, HeaderJ2KFile},
    {{PXFORMAT_PGX, "pgx", {}, nullptr, false, false, 0, true, false, 0}, DecodeJ2KFile,
     EncodeJ2KFile, HeaderJ2KFile},
    {{PXFORMAT_PNM, "pnm", {}, nullptr, false, false, 0, true, false, 0}, DecodeJ2KFile,
     EncodeJ2KFile, HeaderJ2KFile},
    {{PXFORMAT_RAS, "ras", {}, nullptr, false, false, 0, true, false, 0}, DecodeJ2KFile,
     EncodeJ2KFile, HeaderJ2KFile},
    // Today's photo formats, each read and written through its own library. HEIC and AVIF are
    // both HEIF containers: one codec serves them, the code choosing the encoder.
    // WebP and JPEG XL as written here always hold red-green-blue: palettes read back at 24.
    {{PXFORMAT_WEBP, "webp", {"webp"}, nullptr, true, true, 7, false, false, 24, true, true, true,
      true},
     Plain<DecodeWEBP>, Plain<EncodeWEBP>, PlainHeader<HeaderWEBP>},
    {{PXFORMAT_HEIC, "heic", {"heic", "heif", "hif"}, nullptr, true, true, 8, false, false, 0,
      true, true, true},
     DecodeHEIF, EncodeHEIF, HeaderHEIF},
    {{PXFORMAT_AVIF, "avif", {"avif"}, nullptr, true, true, 9, false, false, 0, true, true, true},
     DecodeHEIF, EncodeHEIF, HeaderHEIF},
    {{PXFORMAT_JXL, "jxl", {"jxl"}, nullptr, true, true, 10, false, false, 24, true, true, true,
      true},
     Plain<DecodeJXL>, Plain<EncodeJXL>, PlainHeader<HeaderJXL>},
};

// The public view of the rows, without the codec entry points.
const auto kInfos = [] {
    std::array<PxFormatInfo, std::size(kRows)> infos{};
    for (size_t i = 0; i < infos.size(); ++i)
        infos[i] = kRows[i].info;
    return infos;
}();

std::string Lower(const std::string &s)
{
    std::string out = s;
    for (char &c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

std::span<const PxFormatRow> PxFormatRows()
{
    return kRows;
}

const PxFormatRow *PxFindFormatRow(uint32_t code)
{
    for (const PxFormatRow &row : kRows)
        if (row.info.code == code)
            return &row;
    return nullptr;
}

std::span<const PxFormatInfo> PxFormats()
{
    return kInfos;
}

const PxFormatInfo *PxFindFormat(uint32_t code)
{
    const PxFormatRow *row = PxFindFormatRow(code);
    return row ? &row->info : nullptr;
}

uint32_t FormatFromExtension(const std::string &extension)
{
    // The comparison is exact after lower-casing: "jpg " is no JPEG.
    const std::string ext = Lower(extension);
    for (const PxFormatInfo &f : kInfos)
        for (const char *e : f.extensions)
            if (e && ext == e)
                return f.code;
    return PXFORMAT_UNKNOWN;
}

uint32_t FormatForSaveExtension(const std::string &extension)
{
    if (const uint32_t mapped = FormatFromExtension(extension))
        return mapped;
    const std::string ext = Lower(extension);
    for (const PxFormatInfo &f : kInfos)
        if (f.targetExtension && ext == f.targetExtension)
            return f.code;
    return PXFORMAT_UNKNOWN;
}

std::string WritableExtensionList(const char *separator)
{
    std::string out;
    for (const PxFormatInfo &f : kInfos) {
        if (!f.canWrite)
            continue;
        auto add = [&](const char *e) {
            if (!e)
                return;
            if (!out.empty())
                out += separator;
            out += e;
        };
        for (const char *e : f.extensions)
            add(e);
        add(f.targetExtension);
    }
    return out;
}
