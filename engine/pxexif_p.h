#pragma once
// Private to the engine: reading and mending the EXIF block of a JPEG (the payload of an APP1
// marker that starts with "Exif\0\0", a small TIFF structure). Every offset in it comes from
// the file and is checked before use; a block that does not hold together is left as it is.

#include <cstddef>
#include <cstdint>
#include <string>

namespace pxexif {

inline constexpr size_t kHeaderSize = 6; // "Exif\0\0"

// Whether the payload starts like an EXIF block.
bool IsExif(const uint8_t *app1, size_t length);

// XResolution, YResolution and ResolutionUnit of IFD0, in dots per inch; false when absent,
// malformed or not usable.
bool ReadResolution(const uint8_t *app1, size_t length, int32_t *xdpi, int32_t *ydpi);

// The Orientation tag of IFD0, 1 to 8; 0 when the block has none or a value outside that range.
uint32_t ReadOrientation(const uint8_t *app1, size_t length);

// Rewrites the Orientation tag in place; false (and nothing changed) when there is none.
bool SetOrientation(std::string &app1, uint16_t orientation);

// Rewrites PixelXDimension and PixelYDimension of the EXIF sub-directory where they exist, so
// the block describes the picture it travels with: in the type each is stored in (SHORT,
// SSHORT, LONG or SLONG) when the size fits it, as LONG otherwise.
void SetPixelSize(std::string &app1, uint32_t width, uint32_t height);

// The block without its thumbnail: the link to the second directory is cut, and the thumbnail's
// bytes are dropped when they lie behind everything else (as cameras write them) or cleared
// otherwise. Offsets inside maker notes stay valid: nothing before the thumbnail moves.
std::string WithoutThumbnail(const std::string &app1);

} // namespace pxexif
