#include "pxcodecs_p.h"

namespace pxcodec {

bool DecodeWEBP(PxFile &, PxImage &out)
{
    out.SetLastError("WEBP decoding is not built yet");
    return false;
}

bool HeaderWEBP(PxFile &, PxImage &out, PxHeaderInfo &)
{
    out.SetLastError("WEBP decoding is not built yet");
    return false;
}

bool EncodeWEBP(PxFile &, PxImage &img)
{
    img.SetLastError("WEBP encoding is not built yet");
    return false;
}

} // namespace pxcodec
