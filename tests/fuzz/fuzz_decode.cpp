// Feeds arbitrary bytes to content detection, which tries every codec in turn, to the header
// reads, which stop each codec before its pixels, and to the capture date's container walks.
#include "engine/pxfile.h"
#include "engine/pximage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    PxImage image;
    const bool decoded = image.Decode(data, size, PXFORMAT_UNKNOWN);
    if (decoded && image.GetWidth() > 0 && image.GetHeight() > 0) {
        // A decoded image must be whole: touch its first and last row.
        volatile uint8_t sink = image.GetBits(0)[0];
        sink = image.GetBits(image.GetHeight() - 1)[image.GetEffWidth() - 1];
        (void)sink;
    }
    PxMemFile file(data, size);
    PxImage probe;
    PxHeaderInfo info;
    const bool headed = probe.DecodeHeader(file, PXFORMAT_UNKNOWN, info);
    // What decodes has a header that reads, and of the same size.
    if (decoded && (!headed || info.width != image.GetWidth() || info.height != image.GetHeight()))
        std::abort();
    // A date comes back whole or not at all.
    PxMemFile dated(data, size);
    if (const std::string date = PxReadCaptureDate(dated); !date.empty() && date.size() != 19)
        std::abort();
    // Whatever a file kept beside its pixels (EXIF, XMP, a profile) goes through losing its
    // location, turning upright and into every writer of the three formats that carry it all.
    PxImage kept;
    kept.SetKeepMetadata(true);
    if (kept.Decode(data, size, PXFORMAT_UNKNOWN) && kept.GetMetadata() &&
        uint64_t{kept.GetWidth()} * kept.GetHeight() <= 1u << 20) {
        kept.StripLocation();
        if (kept.AutoOrient())
            for (uint32_t format : {PXFORMAT_JPG, PXFORMAT_PNG, PXFORMAT_TIF}) {
                PxImage copy(kept);
                if (format == PXFORMAT_JPG && copy.GetBpp() < 24)
                    copy.IncreaseBpp(24);
                PxMemFile out;
                copy.Encode(out, format);
            }
    }
    return 0;
}
