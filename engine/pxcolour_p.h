#pragma once
// Private to the engine: colour profiles through LittleCMS. A picture whose file describes its
// colours (an ICC profile, or a container's primaries and transfer curve) is either written on
// with that description or brought to sRGB; it never silently changes its colours.

#include "pximage.h"

#include <cstdint>
#include <string>

namespace pxcolour {

// Whether icc describes sRGB closely enough that its pixels need no conversion; an empty or
// unreadable profile counts as sRGB (the picture is left alone).
bool IsSrgb(const std::string &icc);

// An ICC profile for the colour description of an nclx box (ITU-T H.273 colour primaries and
// transfer characteristics); "" when it is sRGB, unspecified or not one LittleCMS can build.
std::string ProfileFromNclx(uint16_t primaries, uint16_t transfer);

// Converts the picture's pixels (24-bit rows or the palette; alpha stays) from icc to sRGB.
// True, with nothing changed, when icc is sRGB or empty; false with the image's last error
// set when the profile cannot be used.
bool ConvertToSrgb(PxImage &image, const std::string &icc);

// Whether icc is a profile LittleCMS reads for RGB pixels, whose header states its own size:
// one a writer may embed in a file of colour pixels.
bool IsRgbProfile(const std::string &icc);

// What Decode does with the profile a decoder found: without kept metadata the pixels are
// brought to sRGB (a profile that cannot be used leaves them as they are); with it the pixels
// stay and the profile travels on in the kept metadata. The colour profile field is cleared.
void SettleDecodedColours(PxImage &image);

} // namespace pxcolour
