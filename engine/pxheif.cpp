#include "pxcodecs_p.h"

namespace pxcodec {

bool DecodeHEIF(PxFile &, PxImage &out, uint32_t)
{
    out.SetLastError("HEIF decoding is not built yet");
    return false;
}

bool HeaderHEIF(PxFile &, PxImage &out, PxHeaderInfo &, uint32_t)
{
    out.SetLastError("HEIF decoding is not built yet");
    return false;
}

bool EncodeHEIF(PxFile &, PxImage &img, uint32_t)
{
    img.SetLastError("HEIF encoding is not built yet");
    return false;
}

} // namespace pxcodec
