#include "pxcodecs_p.h"

namespace pxcodec {

bool DecodeJXL(PxFile &, PxImage &out)
{
    out.SetLastError("JXL decoding is not built yet");
    return false;
}

bool HeaderJXL(PxFile &, PxImage &out, PxHeaderInfo &)
{
    out.SetLastError("JXL decoding is not built yet");
    return false;
}

bool EncodeJXL(PxFile &, PxImage &img)
{
    img.SetLastError("JXL encoding is not built yet");
    return false;
}

} // namespace pxcodec
