// Feeds arbitrary bytes to the WEBP decoder: it must fail cleanly or decode, never crash.
#include "engine/pximage.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    PxImage image;
    image.Decode(data, size, PXFORMAT_WEBP);
    return 0;
}
