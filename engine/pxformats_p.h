#pragma once
// Private to the engine: the format table with each format's codec entry points.

#include "pxcodecs_p.h"
#include "pxformats.h"

#include <span>

struct PxFormatRow {
    PxFormatInfo info;
    // Both take the format code, so one codec can serve a family of codes.
    bool (*decode)(PxFile &, PxImage &, uint32_t format);
    bool (*encode)(PxFile &, PxImage &, uint32_t format);
    // The decoder's checks up to the point where it would allocate the picture; the reason
    // for a refusal goes to the image's last error.
    bool (*header)(PxFile &, PxImage &, PxHeaderInfo &, uint32_t format);
};

std::span<const PxFormatRow> PxFormatRows();
const PxFormatRow *PxFindFormatRow(uint32_t code);
