#pragma once
// Private to the engine: reading and mending the EXIF block of a JPEG (the payload of an APP1
// marker that starts with "Exif\0\0", a small TIFF structure). Every offset in it comes from
// the file and is checked before use; a block that does not hold together is left as it is.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// The block without where the picture was taken: the GPSInfo link leaves IFD0 (the entries
// behind it move up, so the directory stays whole) and the GPS directory's bytes are cleared
// where nothing else uses them. Nothing else moves, so every other offset stays valid.
std::string WithoutLocation(const std::string &app1);

// The XMP packet without location properties: GPS fields of any namespace (exif:GPS* and the
// like drones and phones write), the IPTC location structures and photoshop:City, State and
// Country, as attributes and as elements. A packet in which one of them cannot be cut out
// cleanly (an element that is never closed, an unterminated value) is dropped whole: "" .
std::string XmpWithoutLocation(const std::string &xmp);

// A TIFF file's description of where and with what it was taken, as an EXIF block: IFD0's
// descriptive fields (Make, Model, DateTime, Orientation, Software...) and the EXIF and GPS
// directories with their values, copied in the file's byte order. read(offset, out, size)
// fills size bytes from the TIFF header's position on; "" when the file has none of it or
// does not hold together. BigTIFF files are not read.
using ReadAt = std::function<bool(uint64_t offset, void *out, size_t size)>;
std::string FromTiffFile(const ReadAt &read, uint64_t fileSize);

// One field of a block's directory, its values inside the block.
struct Field {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    const uint8_t *data = nullptr; // count values of the type, in the block's byte order
    bool bigEndian = false;
    // Value i as a number (a rational's quotient; 0 for a zero denominator or an undefined
    // type) and the field as text, up to its first zero.
    double Number(uint32_t i = 0) const;
    int64_t Integer(uint32_t i = 0) const;
    std::string Text() const;
};
inline constexpr uint16_t kExifDirectory = 0x8769;
inline constexpr uint16_t kGpsDirectory = 0x8825;
// The fields of IFD0 (directory 0) or of the sub-directory IFD0 links with that tag; fields
// whose values lie outside the block or whose type is unknown are left out. The pointers
// point into app1.
std::vector<Field> ReadFields(const std::string &app1, uint16_t directory);

} // namespace pxexif
