// Feeds arbitrary bytes to the HEIF decoder (HEIC and AVIF): it must fail cleanly or decode,
// never crash.
#include "engine/pximage.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    PxImage image;
    image.Decode(data, size, PXFORMAT_HEIC);
    return 0;
}
