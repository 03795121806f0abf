#pragma once
// Private to the GIF codec and its tests.

#include "engine/pxfile.h"
#include "engine/pximage.h"

#include <cstdint>

namespace pxgif {
// Writes a GIF colour table of exactly `declared` entries (the count the packed byte's size field
// announces) as red, green, blue. Entries beyond the `used` ones are written black, so that a
// palette shorter than its size field still gives a table decoders can read.
void WriteColorTable(PxFile &file, const PxRGBQuad *palette, uint32_t used, uint32_t declared);
} // namespace pxgif
