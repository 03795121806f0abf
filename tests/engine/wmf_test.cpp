#include "engine/pxfile.h"
#include "engine/pximage.h"
#include "tests/support/testsupport.h"

#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Builds metafiles record by record. Parameters are given in file order (a rectangle as
// bottom, right, top, left), exactly as the records store them.
class WmfBuilder {
public:
    WmfBuilder &Placeable(int16_t left, int16_t top, int16_t right, int16_t bottom, uint16_t inch)
    {
        m_placeable.clear();
        Put32(m_placeable, 0x9AC6CDD7);
        Put16(m_placeable, 0);
        for (int16_t v : {left, top, right, bottom})
            Put16(m_placeable, static_cast<uint16_t>(v));
        Put16(m_placeable, inch);
        Put32(m_placeable, 0);
        Put16(m_placeable, 0);
        return *this;
    }
    WmfBuilder &Record(uint16_t function, std::vector<int> params)
    {
        Put32(m_records, static_cast<uint32_t>(3 + params.size()));
        Put16(m_records, function);
        for (int p : params)
            Put16(m_records, static_cast<uint16_t>(p));
        m_boundaries.push_back(m_records.size());
        return *this;
    }
    WmfBuilder &Raw(const std::vector<uint8_t> &bytes)
    {
        m_records.insert(m_records.end(), bytes.begin(), bytes.end());
        m_boundaries.push_back(m_records.size());
        return *this;
    }
    // Colour as the two words of a COLORREF.
    static std::vector<int> Ref(int r, int g, int b) { return {r | (g << 8), b}; }
    WmfBuilder &SolidBrush(int r, int g, int b)
    {
        std::vector<int> p = {0};
        for (int v : Ref(r, g, b))
            p.push_back(v);
        p.push_back(0);
        return Record(0x02FC, p);
    }
    WmfBuilder &Pen(int style, int width, int r, int g, int b)
    {
        std::vector<int> p = {style, width, 0};
        for (int v : Ref(r, g, b))
            p.push_back(v);
        return Record(0x02FA, p);
    }
    WmfBuilder &Select(int slot) { return Record(0x012D, {slot}); }

    std::vector<uint8_t> Bytes(bool withEof = true) const
    {
        std::vector<uint8_t> out = m_placeable;
        std::vector<uint8_t> body = m_records;
        if (withEof) {
            Put32(body, 3);
            Put16(body, 0);
        }
        Put16(out, 1);
        Put16(out, 9);
        Put16(out, 0x0300);
        Put32(out, static_cast<uint32_t>((18 + body.size()) / 2));
        Put16(out, 16);
        Put32(out, 0);
        Put16(out, 0);
        out.insert(out.end(), body.begin(), body.end());
        return out;
    }
    // Offsets in Bytes(false) at which a record ends.
    std::vector<size_t> Boundaries() const
    {
        std::vector<size_t> out;
        for (size_t b : m_boundaries)
            out.push_back(m_placeable.size() + 18 + b);
        return out;
    }

    static void Put16(std::vector<uint8_t> &v, uint16_t x)
    {
        v.push_back(static_cast<uint8_t>(x));
        v.push_back(static_cast<uint8_t>(x >> 8));
    }
    static void Put32(std::vector<uint8_t> &v, uint32_t x)
    {
        Put16(v, static_cast<uint16_t>(x));
        Put16(v, static_cast<uint16_t>(x >> 16));
    }

private:
    std::vector<uint8_t> m_placeable;
    std::vector<uint8_t> m_records;
    std::vector<size_t> m_boundaries;
};

constexpr uint16_t kSetWindowExt = 0x020C, kSetWindowOrg = 0x020B, kRectangle = 0x041B,
                   kPolygon = 0x0324, kMoveTo = 0x0214, kLineTo = 0x0213,
                   kDeleteObject = 0x01F0, kSaveDC = 0x001E, kRestoreDC = 0x0127,
                   kEllipse = 0x0418, kPolyPolygon = 0x0538, kSetPolyFillMode = 0x0106;

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb &) const = default;
};
std::ostream &operator<<(std::ostream &os, const Rgb &c)
{
    return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

// Pixel with y counted from the top, as the picture is seen.
Rgb At(const PxImage &img, int x, int y)
{
    const uint8_t *p = img.GetBits(img.GetHeight() - 1 - static_cast<uint32_t>(y)) + 3 * x;
    return Rgb{p[2], p[1], p[0]};
}

bool Decode(PxImage &img, const std::vector<uint8_t> &bytes, uint32_t format = PXFORMAT_WMF)
{
    return img.Decode(bytes.data(), bytes.size(), format);
}

constexpr Rgb kWhite{255, 255, 255};

WmfBuilder Canvas40x30()
{
    WmfBuilder b;
    b.Record(kSetWindowOrg, {0, 0}).Record(kSetWindowExt, {30, 40});
    return b;
}

TEST(WmfDecode, RectangleWithKnownBrushAndPen)
{
    WmfBuilder b = Canvas40x30();
    b.SolidBrush(10, 200, 30).Pen(0, 1, 0, 0, 255).Select(0).Select(1);
    b.Record(kRectangle, {20, 25, 5, 5});
    PxImage img;
    ASSERT_TRUE(Decode(img, b.Bytes())) << img.GetLastError();
    EXPECT_EQ(img.GetWidth(), 40u);
    EXPECT_EQ(img.GetHeight(), 30u);
    EXPECT_EQ(img.GetBpp(), 24u);
    EXPECT_EQ(img.GetType(), PXFORMAT_WMF);
    const struct {
        int x, y;
        Rgb colour;
    } points[] = {
        {10, 10, {10, 200, 30}}, {20, 15, {10, 200, 30}}, // inside
        {5, 12, {0, 0, 255}},    {15, 5, {0, 0, 255}},    // left and top border
        {24, 12, {0, 0, 255}},   {15, 19, {0, 0, 255}},   // right and bottom border (exclusive)
        {26, 12, kWhite},        {15, 21, kWhite},        {3, 3, kWhite}, {39, 29, kWhite},
    };
    for (const auto &p : points)
        EXPECT_EQ(At(img, p.x, p.y), p.colour) << p.x << "," << p.y;
}

TEST(WmfDecode, PolygonLineAndEllipse)
{
    WmfBuilder b = Canvas40x30();
    b.SolidBrush(0, 0, 255).Pen(5, 0, 0, 0, 0).Select(0).Select(1);
    b.Record(kPolygon, {3, 0, 0, 20, 0, 0, 20});  // triangle (0,0) (20,0) (0,20)
    b.Pen(0, 1, 255, 0, 0).Select(2);
    b.Record(kMoveTo, {25, 0}).Record(kLineTo, {25, 39});  // horizontal line at y = 25
    b.SolidBrush(0, 128, 0).Select(3).Pen(5, 0, 0, 0, 0).Select(4);
    b.Record(kEllipse, {20, 39, 0, 25});  // box (25,0)-(39,20)
    PxImage img;
    ASSERT_TRUE(Decode(img, b.Bytes())) << img.GetLastError();
    EXPECT_EQ(At(img, 3, 3), (Rgb{0, 0, 255}));
    EXPECT_EQ(At(img, 16, 16), kWhite);   // beyond the hypotenuse
    EXPECT_EQ(At(img, 20, 25), (Rgb{255, 0, 0}));
    EXPECT_EQ(At(img, 20, 27), kWhite);
    EXPECT_EQ(At(img, 32, 10), (Rgb{0, 128, 0}));  // centre of the ellipse
    EXPECT_EQ(At(img, 26, 1), kWhite);             // corner of its box
}

TEST(WmfDecode, PolyPolygonFillModes)
{
    // An outer square with an inner square: alternate leaves the hole, winding fills it.
    for (int mode : {1, 2}) {
        SCOPED_TRACE(mode);
        WmfBuilder b = Canvas40x30();
        b.SolidBrush(200, 0, 0).Pen(5, 0, 0, 0, 0).Select(0).Select(1);
        b.Record(kSetPolyFillMode, {mode});
        b.Record(kPolyPolygon, {2, 4, 4, 0, 0, 30, 0, 30, 30, 0, 30, 10, 10, 20, 10, 20, 20, 10, 20});
        PxImage img;
        ASSERT_TRUE(Decode(img, b.Bytes())) << img.GetLastError();
        EXPECT_EQ(At(img, 5, 5), (Rgb{200, 0, 0}));
        EXPECT_EQ(At(img, 15, 15), (mode == 1 ? kWhite : Rgb{200, 0, 0}));
    }
}

TEST(WmfDecode, ObjectTableAndSavedStates)
{
    WmfBuilder b = Canvas40x30();
    b.Pen(5, 0, 0, 0, 0).Select(0);
    b.SolidBrush(255, 0, 0);                 // slot 1
    b.Record(kDeleteObject, {1});            // frees slot 1
    b.SolidBrush(0, 255, 0).Select(1);       // reuses slot 1: green
    b.Select(57).Record(kDeleteObject, {300});  // unknown slots are ignored
    b.Record(kRectangle, {10, 10, 0, 0});
    b.Record(kSaveDC, {});
    b.SolidBrush(0, 0, 255).Select(2);
    b.Record(kRectangle, {10, 20, 0, 10});
    b.Record(kRestoreDC, {-1});
    b.Record(kRectangle, {10, 30, 0, 20});  // green again
    PxImage img;
    ASSERT_TRUE(Decode(img, b.Bytes())) << img.GetLastError();
    EXPECT_EQ(At(img, 5, 5), (Rgb{0, 255, 0}));
    EXPECT_EQ(At(img, 15, 5), (Rgb{0, 0, 255}));
    EXPECT_EQ(At(img, 25, 5), (Rgb{0, 255, 0}));
}

TEST(WmfDecode, PlaceableFrameSetsSizeAndMapping)
{
    // 200 x 100 units at 192 units per inch: 100 x 50 pixels at 96 dpi.
    WmfBuilder b;
    b.Placeable(0, 0, 200, 100, 192);
    b.SolidBrush(0, 0, 0).Pen(5, 0, 0, 0, 0).Select(0).Select(1);
    b.Record(kRectangle, {100, 200, 0, 100});
    PxImage img;
    ASSERT_TRUE(Decode(img, b.Bytes())) << img.GetLastError();
    EXPECT_EQ(img.GetWidth(), 100u);
    EXPECT_EQ(img.GetHeight(), 50u);
    EXPECT_EQ(At(img, 75, 25), (Rgb{0, 0, 0}));
    EXPECT_EQ(At(img, 25, 25), kWhite);
    EXPECT_EQ(At(img, 49, 25), kWhite);
    EXPECT_EQ(At(img, 51, 25), (Rgb{0, 0, 0}));
}

TEST(WmfDecode, WindowOriginAndExtentMapOntoTheOutput)
{
    // The window (100,100)-(120,115) maps onto the 40 x 30 pixel frame: two pixels per unit.
    WmfBuilder b;
    b.Placeable(0, 0, 40, 30, 96);
    b.Record(kSetWindowOrg, {100, 100}).Record(kSetWindowExt, {15, 20});
    b.SolidBrush(9, 9, 9).Pen(5, 0, 0, 0, 0).Select(0).Select(1);
    b.Record(kRectangle, {115, 120, 110, 110});
    PxImage img;
    ASSERT_TRUE(Decode(img, b.Bytes())) << img.GetLastError();
    EXPECT_EQ(img.GetWidth(), 40u);
    EXPECT_EQ(At(img, 30, 25), (Rgb{9, 9, 9}));
    EXPECT_EQ(At(img, 18, 18), kWhite);
    EXPECT_EQ(At(img, 21, 21), (Rgb{9, 9, 9}));
}

// A bottom-up 2 x 2 24-bit device-independent bitmap: top row red, green; bottom row blue,
// white.
std::vector<uint8_t> Dib2x2()
{
    std::vector<uint8_t> d;
    WmfBuilder::Put32(d, 40);
    WmfBuilder::Put32(d, 2);
    WmfBuilder::Put32(d, 2);
    WmfBuilder::Put16(d, 1);
    WmfBuilder::Put16(d, 24);
    for (int i = 0; i < 6; ++i)
        WmfBuilder::Put32(d, 0);
    const uint8_t rows[2][8] = {{255, 0, 0, 255, 255, 255, 0, 0},  // bottom: blue, white
                                {0, 0, 255, 0, 255, 0, 0, 0}};     // top: red, green
    for (const auto &row : rows)
        d.insert(d.end(), row, row + 8);
    return d;
}

std::vector<int> Words(const std::vector<uint8_t> &bytes)
{
    std::vector<int> w;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        w.push_back(bytes[i] | (bytes[i + 1] << 8));
    return w;
}

TEST(WmfDecode, BitmapRecordsAreStretchedIntoPlace)
{
    const int srccopyLow = 0x0020, srccopyHigh = 0x00CC;
    const struct {
        const char *name;
        uint16_t function;
        std::vector<int> params;
    } cases[] = {
        // rop, src h, src w, src y, src x, dest h, dest w, dest y, dest x
        {"DIBSTRETCHBLT", 0x0B41, {srccopyLow, srccopyHigh, 2, 2, 0, 0, 20, 20, 5, 10}},
        // rop, usage, src h, src w, src y, src x, dest h, dest w, dest y, dest x
        {"STRETCHDIB", 0x0F43, {srccopyLow, srccopyHigh, 0, 2, 2, 0, 0, 20, 20, 5, 10}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> params = c.params;
        for (int w : Words(Dib2x2()))
            params.push_back(w);
        WmfBuilder b = Canvas40x30();
        b.Record(c.function, params);
        PxImage img;
        ASSERT_TRUE(Decode(img, b.Bytes())) << img.GetLastError();
        EXPECT_EQ(At(img, 14, 9), (Rgb{255, 0, 0}));
        EXPECT_EQ(At(img, 25, 9), (Rgb{0, 255, 0}));
        EXPECT_EQ(At(img, 14, 20), (Rgb{0, 0, 255}));
        EXPECT_EQ(At(img, 25, 20), kWhite);
        EXPECT_EQ(At(img, 8, 9), kWhite);
        EXPECT_EQ(At(img, 31, 9), kWhite);
    }

    // DIBBITBLT copies at the bitmap's own size: rop, src y, src x, h, w, dest y, dest x.
    std::vector<int> params = {srccopyLow, srccopyHigh, 0, 0, 2, 2, 3, 4};
    for (int w : Words(Dib2x2()))
        params.push_back(w);
    WmfBuilder b = Canvas40x30();
    b.Record(0x0940, params);
    PxImage img;
    ASSERT_TRUE(Decode(img, b.Bytes())) << img.GetLastError();
    EXPECT_EQ(At(img, 4, 3), (Rgb{255, 0, 0}));
    EXPECT_EQ(At(img, 5, 3), (Rgb{0, 255, 0}));
    EXPECT_EQ(At(img, 4, 4), (Rgb{0, 0, 255}));
    EXPECT_EQ(At(img, 6, 3), kWhite);
}

TEST(WmfDecode, ContentDetectionFindsMetafiles)
{
    WmfBuilder standard = Canvas40x30();
    WmfBuilder placeable;
    placeable.Placeable(0, 0, 96, 96, 96).SolidBrush(1, 2, 3);
    for (WmfBuilder *b : {&standard, &placeable}) {
        PxImage img;
        ASSERT_TRUE(Decode(img, b->Bytes(), PXFORMAT_UNKNOWN)) << img.GetLastError();
        EXPECT_EQ(img.GetType(), PXFORMAT_WMF);
    }
}

TEST(WmfDecode, HostileAndBrokenFilesFailCleanly)
{
    PxImage huge;
    WmfBuilder bigFrame;
    bigFrame.Placeable(-32000, -32000, 32000, 32000, 1);
    ASSERT_TRUE(Decode(huge, bigFrame.Bytes())) << huge.GetLastError();
    EXPECT_LE(std::max(huge.GetWidth(), huge.GetHeight()), 4096u);
    EXPECT_EQ(huge.GetWidth(), huge.GetHeight());

    const struct {
        const char *name;
        std::vector<uint8_t> bytes;
        const char *error; // nullptr: the file still loads
    } cases[] = {
        {"empty", {}, "too short"},
        {"garbage", std::vector<uint8_t>(64, 0x5A), "not a metafile"},
        {"zero units per inch", WmfBuilder().Placeable(0, 0, 10, 10, 0).Bytes(), "units per inch"},
        {"empty frame", WmfBuilder().Placeable(5, 0, 5, 10, 96).Bytes(), "bounding box"},
        {"record past the end", Canvas40x30().Raw({0xFF, 0xFF, 0xFF, 0xFF, 0x1B, 0x04}).Bytes(),
         "claims"},
        {"nothing drawn, no size", WmfBuilder().SolidBrush(1, 1, 1).Bytes(), "no size"},
        {"standard file sized by the extent in force when drawing starts",
         Canvas40x30().Record(kSetWindowExt, {15, 20}).Record(kRectangle, {2, 2, 1, 1}).Bytes(),
         nullptr},
        {"ends inside a record header", [] {
             auto bytes = Canvas40x30().Bytes(false);
             bytes.insert(bytes.end(), {3, 0, 0});
             return bytes;
         }(), "ends inside a record"},
        {"zero-size record stops", Canvas40x30().Raw({0, 0, 0, 0, 0x1B, 0x04, 1, 2}).Bytes(),
         nullptr},
        {"polygon count beyond its record", Canvas40x30().Record(kPolygon, {30000, 1, 2}).Bytes(),
         nullptr},
        {"poly-polygon counts beyond its record",
         Canvas40x30().Record(kPolyPolygon, {2, 65535, 65535, 1, 1}).Bytes(), nullptr},
        {"bitmap larger than its record",
         Canvas40x30()
             .Record(0x0B41, {0x20, 0xCC, 2, 2, 0, 0, 20, 20, 0, 0, 40, 0, 30000, 0, 30000, 0, 1,
                              24, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3})
             .Bytes(),
         nullptr},
        {"restore beyond saved states", Canvas40x30().Record(kRestoreDC, {-5}).Record(kRestoreDC, {7}).Bytes(),
         nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PxImage img;
        const bool ok = Decode(img, c.bytes);
        if (c.error) {
            EXPECT_FALSE(ok);
            EXPECT_NE(std::string(img.GetLastError()).find(c.error), std::string::npos)
                << img.GetLastError();
        } else {
            EXPECT_TRUE(ok) << img.GetLastError();
        }
    }
}

TEST(WmfDecode, EveryTruncationFailsOrEndsOnARecord)
{
    WmfBuilder b;
    b.Placeable(0, 0, 40, 30, 96).SolidBrush(10, 20, 30).Select(0);
    b.Record(kRectangle, {20, 25, 5, 5}).Record(kPolygon, {3, 0, 0, 20, 0, 0, 20});
    const std::vector<uint8_t> full = b.Bytes(false);
    const std::vector<size_t> ends = b.Boundaries();
    for (size_t cut = 0; cut < full.size(); ++cut) {
        SCOPED_TRACE(cut);
        PxImage img;
        const bool ok = img.Decode(full.data(), cut, PXFORMAT_WMF);
        const bool atRecordEnd = std::find(ends.begin(), ends.end(), cut) != ends.end();
        if (!atRecordEnd && cut > 22 + 18 + 6) {
            EXPECT_FALSE(ok);
        }
        if (ok) {
            EXPECT_EQ(img.GetWidth(), 40u);
        }
    }
}

TEST(WmfEncode, SavingIsRefused)
{
    PxImage img;
    ASSERT_NE(img.Create(2, 2, 24), nullptr);
    PxMemFile out;
    EXPECT_FALSE(img.Encode(out, PXFORMAT_WMF));
    EXPECT_STREQ(img.GetLastError(), "Save WMF not supported");
}

// Mean absolute difference per channel between a decoded picture and a reference rendering.
double MeanDifference(const PxImage &img, const QImage &reference)
{
    double sum = 0;
    for (int y = 0; y < reference.height(); ++y)
        for (int x = 0; x < reference.width(); ++x) {
            const Rgb a = At(img, x, y);
            const QRgb b = reference.pixel(x, y);
            sum += std::abs(a.r - qRed(b)) + std::abs(a.g - qGreen(b)) + std::abs(a.b - qBlue(b));
        }
    return sum / (3.0 * reference.width() * reference.height());
}

TEST(WmfTestData, EveryMetafileLoadsOrIsRefusedCleanly)
{
    PX_REQUIRE_TESTDATA();
    // Expected sizes by hand: placeable frames at 96 dpi (telescope 3096 x 4127 units at 606
    // per inch, libgdiplus 8016 x 6756 at 1000, Pillow's drawing 1369 x 1369 at 1200); the
    // standard file's window extent 324 x 252 equals the platform renderer's output size.
    const struct {
        const char *path;
        uint32_t width, height;
    } wmf[] = {
        {"dotnet/gdiwmfboundariesbug.wmf", 324, 252},
        {"dotnet/telescope_01.wmf", 490, 654},
        {"libgdiplus/test.wmf", 770, 649},
        {"pillow/wmf/drawing.wmf", 110, 110},
    };
    for (const auto &f : wmf) {
        SCOPED_TRACE(f.path);
        PxImage img;
        ASSERT_TRUE(img.Load(TestDataDir() / f.path, PXFORMAT_WMF)) << img.GetLastError();
        EXPECT_EQ(img.GetWidth(), f.width);
        EXPECT_EQ(img.GetHeight(), f.height);
        EXPECT_EQ(img.GetBpp(), 24u);
    }
    for (const auto &ref : LoadTestImageRefs()) {
        if (ref.format != "emf" && ref.format != "wmf")
            continue;
        SCOPED_TRACE(ref.path);
        PxImage img;
        const bool ok = img.Load(TestDataDir() / ref.path, PXFORMAT_WMF);
        if (ref.format == "emf") {
            EXPECT_FALSE(ok);
            EXPECT_STREQ(img.GetLastError(), "WMF decoder: EMF not supported");
        } else {
            EXPECT_TRUE(ok) << img.GetLastError();
        }
    }
}

TEST(WmfTestData, CloseToThePlatformRendering)
{
    PX_REQUIRE_TESTDATA();
    PxImage img;
    ASSERT_TRUE(img.Load(TestDataDir() / "dotnet/gdiwmfboundariesbug.wmf", PXFORMAT_WMF));
    const QImage reference(QString::fromStdString(
        (TestDataDir() / "dotnet/gdiwmfboundariesbug-output.png").string()));
    ASSERT_FALSE(reference.isNull());
    ASSERT_EQ(img.GetWidth(), static_cast<uint32_t>(reference.width()));
    ASSERT_EQ(img.GetHeight(), static_cast<uint32_t>(reference.height()));
    // Measured 4.2: fonts, text placement and line end points differ by a pixel here and there.
    EXPECT_LT(MeanDifference(img, reference), 8.0);

    // Pillow's Windows reference for drawing.wmf is fitted to the drawn shapes (its circle
    // overhangs the frame the header declares), so only the frame's content is checked: the
    // circle's centre (925, 925 in 1369 units) is red, the frame's corner is white.
    PxImage drawing;
    ASSERT_TRUE(drawing.Load(TestDataDir() / "pillow/wmf/drawing.wmf", PXFORMAT_WMF));
    EXPECT_EQ(At(drawing, 74, 74), (Rgb{255, 0, 0}));
    EXPECT_EQ(At(drawing, 2, 2), kWhite);
}

TEST(WmfTestData, TruncatedRealFilesFailCleanly)
{
    PX_REQUIRE_TESTDATA();
    for (const char *path : {"dotnet/telescope_01.wmf", "libgdiplus/test.wmf",
                             "dotnet/gdiwmfboundariesbug.wmf"}) {
        const std::vector<uint8_t> bytes = ReadFileBytes(TestDataDir() / path);
        for (size_t cut : {size_t{10}, size_t{30}, bytes.size() / 3, bytes.size() / 2 + 1,
                           bytes.size() - 7}) {
            SCOPED_TRACE(std::string(path) + " cut at " + std::to_string(cut));
            PxImage img;
            // Either a clean failure or a picture of the records before the cut.
            if (img.Decode(bytes.data(), cut, PXFORMAT_WMF)) {
                EXPECT_GT(img.GetWidth(), 0u);
            } else {
                EXPECT_NE(img.GetLastError()[0], '\0');
            }
        }
    }
}

} // namespace
