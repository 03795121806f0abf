#include "imagefile.h"

#include "octreequantizer.h"
#include "core/paths.h"

namespace {

uint32_t ResolveFormat(const QString &path, int format)
{
    if (format >= 0)
        return static_cast<uint32_t>(format);
    return FormatFromExtension(GetFileExtension(path).toStdString());
}

bool IsJpeg2000(uint32_t format)
{
    return format >= PXFORMAT_JP2 && format <= PXFORMAT_RAS;
}

} // namespace

bool LoadImageFile(PxImage &image, const QString &path, int format)
{
    return image.Load(ToFsPath(path), ResolveFormat(path, format));
}

bool SaveImageFile(PxImage &image, const QString &path, int format, bool convert)
{
    const uint32_t fmt = ResolveFormat(path, format);

    // A TIFF reader leaves the file's compression code in the codec option; LZW (5) and JPEG (7)
    // mean nothing to the JPEG writer, which reads the option as its own flags.
    if (fmt == PXFORMAT_JPG && (image.GetCodecOption() == 5 || image.GetCodecOption() == 7))
        image.SetCodecOption(0);

    if (convert) {
        if (fmt == PXFORMAT_GIF && image.GetBpp() > 8)
            QuantizeToPalette(image, 8);
        else if ((fmt == PXFORMAT_JPG || IsJpeg2000(fmt)) && image.GetBpp() < 24)
            image.IncreaseBpp(24);
    }
    return image.Save(ToFsPath(path), fmt);
}
