// Feeds arbitrary bytes to content detection, which tries every codec in turn.
#include "engine/pximage.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    PxImage image;
    if (image.Decode(data, size, PXFORMAT_UNKNOWN) && image.GetWidth() > 0 && image.GetHeight() > 0) {
        // A decoded image must be whole: touch its first and last row.
        volatile uint8_t sink = image.GetBits(0)[0];
        sink = image.GetBits(image.GetHeight() - 1)[image.GetEffWidth() - 1];
        (void)sink;
    }
    return 0;
}
