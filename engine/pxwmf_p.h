#pragma once
// Private to the metafile codec: the checked display list that the plain C++ parser
// (pxwmf.cpp) hands to the renderer in the drawing unit (pxdraw_wmf.cpp). Every index, count
// and size in here has been validated; the renderer trusts it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class PxImage;

namespace pxwmf {

struct Point {
    int32_t x = 0, y = 0;
};

struct Colour {
    uint8_t red = 0, green = 0, blue = 0;
};

// A device-independent bitmap from the file, converted to 0xFFRRGGBB, top row first.
struct Bitmap {
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

struct Pen {
    uint16_t style = 0; // PS_* with end cap and join bits
    int32_t width = 0;  // logical units; 0 is one device pixel
    Colour colour{};
};

struct Brush {
    uint16_t style = 0; // BS_SOLID 0, BS_NULL 1, BS_HATCHED 2, pattern 3 or 5
    Colour colour{255, 255, 255};
    uint16_t hatch = 0;
    std::shared_ptr<const Bitmap> pattern;
};

struct Font {
    int32_t height = 0, width = 0, escapement = 0, weight = 0;
    bool italic = false, underline = false, strikeOut = false;
    uint8_t charset = 0;
    std::string face;
};

struct GdiObject {
    enum Kind : uint8_t { Other, PenObject, BrushObject, FontObject } kind = Other;
    Pen pen;
    Brush brush;
    Font font;
};

enum class Op : uint8_t {
    SetWindowOrg,   // v0 x, v1 y
    SetWindowExt,   // v0 x, v1 y
    SetViewportOrg, // v0 x, v1 y
    SetViewportExt, // v0 x, v1 y
    SetMapMode,     // v0
    SaveDC,
    RestoreDC,       // v0 (negative: relative)
    CreateObject,    // v0 slot, extra->object
    SelectObject,    // v0 slot (known to hold an object)
    DeleteObject,    // v0 slot
    SetBkMode,       // v0
    SetBkColor,      // colour
    SetTextColor,    // colour
    SetPolyFillMode, // v0
    SetTextAlign,    // v0
    SetRop2,         // v0
    IntersectClipRect, // v0..v3 left, top, right, bottom
    ExcludeClipRect,   // v0..v3
    MoveTo,          // v0 x, v1 y
    LineTo,          // v0 x, v1 y
    Polyline,        // points
    Polygon,         // points
    PolyPolygon,     // points, extra->counts
    Rectangle,       // v0..v3 left, top, right, bottom
    RoundRect,       // v0..v3, v4 corner width, v5 corner height
    Ellipse,         // v0..v3
    Arc,             // v0..v3 box, v4,v5 start point, v6,v7 end point
    Pie,
    Chord,
    SetPixel,        // v0 x, v1 y, colour
    Text,            // v0 x, v1 y, v2 options, v3..v6 rectangle, extra->text/dx
    Blt,             // rop; v0..v3 dest x,y,w,h; v4..v7 source x,y,w,h (top-down); extra->bitmap or none
};

struct Extra {
    std::vector<uint32_t> counts;
    std::string text;
    std::vector<int32_t> dx;
    std::shared_ptr<const Bitmap> bitmap;
    GdiObject object;
};

struct Record {
    Op op{};
    Colour colour{};
    uint32_t rop = 0;
    int32_t v[8] = {};
    std::vector<Point> points;
    std::shared_ptr<const Extra> extra;
};

struct Picture {
    int32_t width = 0, height = 0; // output pixels
    // The logical rectangle that maps onto the output until the file sets its own window.
    int32_t frameLeft = 0, frameTop = 0, frameWidth = 1, frameHeight = 1;
    bool placeable = false;
    // Output pixels per device unit of the recording device (below 1 when the size was capped).
    double outputScale = 1.0;
    std::vector<Record> records;
};

// Draws the picture on white into a 24-bit image (pxdraw_wmf.cpp). Throws PxError.
void Render(const Picture &picture, PxImage &out);

} // namespace pxwmf
