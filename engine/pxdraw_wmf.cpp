// Plays a parsed metafile (pxwmf_p.h) onto a QImage the way the platform's player would:
// device-context state with a save stack, an object table, window-to-viewport mapping, and
// drawing without anti-aliasing. Geometry is mapped to device pixels here, so pens keep their
// device width under anisotropic mapping and rectangles keep the player's edge rules.

#include "pxcodecs_p.h"
#include "pximage.h"
#include "pxwmf_p.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using namespace pxwmf;

// Every shape costs at least the pixels it covers; past this budget the rest of a hostile
// file's records are not drawn, so rendering time stays bounded.
constexpr double kPixelBudget = double(1u << 30);
constexpr int kCoordinateLimit = 1 << 22;

enum : int {
    kBkTransparent = 1,
    kAlternate = 1,
    kMapIsotropic = 7,
};

struct DcState {
    Pen pen{0, 0, Colour{0, 0, 0}};
    Brush brush{};
    Font font{};
    bool hasFont = false;
    Colour textColour{0, 0, 0};
    Colour bkColour{255, 255, 255};
    int bkMode = 2;
    int polyFill = kAlternate;
    int textAlign = 0;
    int rop2 = 13;
    int mapMode = 1;
    Point cp{};
    double winOrg[2] = {0, 0}, winExt[2] = {1, 1};
    double vpOrg[2] = {0, 0}, vpExt[2] = {1, 1};
};

QColor ToQColor(Colour c)
{
    return QColor(c.red, c.green, c.blue);
}

class Player {
public:
    Player(const Picture &picture, QImage &canvas)
        : m_picture(picture), m_painter(&canvas)
    {
        m_painter.setRenderHint(QPainter::Antialiasing, false);
        m_state.winOrg[0] = picture.frameLeft;
        m_state.winOrg[1] = picture.frameTop;
        m_state.winExt[0] = picture.frameWidth;
        m_state.winExt[1] = picture.frameHeight;
        m_state.vpExt[0] = picture.width;
        m_state.vpExt[1] = picture.height;
        m_textAllowed = qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
    }

    void Play()
    {
        for (const Record &rec : m_picture.records) {
            if (m_spent > kPixelBudget)
                break;
            Apply(rec);
        }
        while (!m_stack.empty()) {
            m_stack.pop_back();
            m_painter.restore();
        }
    }

private:
    void Apply(const Record &rec);

    double ScaleX() const { return m_state.vpExt[0] / m_state.winExt[0]; }
    double ScaleY() const
    {
        double sy = m_state.vpExt[1] / m_state.winExt[1];
        if (m_state.mapMode == kMapIsotropic)
            sy = std::copysign(std::min(std::abs(ScaleX()), std::abs(sy)), sy);
        return sy;
    }
    double EffectiveScaleX() const
    {
        double sx = ScaleX();
        if (m_state.mapMode == kMapIsotropic)
            sx = std::copysign(std::min(std::abs(sx), std::abs(m_state.vpExt[1] / m_state.winExt[1])),
                               sx);
        return sx;
    }
    static int Clamp(double v)
    {
        return static_cast<int>(std::lround(std::clamp<double>(v, -kCoordinateLimit, kCoordinateLimit)));
    }
    QPoint Map(double x, double y) const
    {
        return QPoint(Clamp((x - m_state.winOrg[0]) * EffectiveScaleX() + m_state.vpOrg[0]),
                      Clamp((y - m_state.winOrg[1]) * ScaleY() + m_state.vpOrg[1]));
    }
    // A logical rectangle in device pixels, normalised; right and bottom stay exclusive.
    QRect MapBox(int32_t left, int32_t top, int32_t right, int32_t bottom) const
    {
        const QPoint a = Map(left, top), b = Map(right, bottom);
        return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                     QPoint(std::max(a.x(), b.x()) - 1, std::max(a.y(), b.y()) - 1));
    }
    // The outline of a box figure as the player draws it: the pen runs through the first and
    // the last pixel inside the box, and without a pen the fill stops one pixel short.
    QRectF FigureBox(int32_t left, int32_t top, int32_t right, int32_t bottom) const
    {
        const QRect box = MapBox(left, top, right, bottom);
        return QRectF(box.x(), box.y(), std::max(0, box.width() - 1), std::max(0, box.height() - 1));
    }
    double DeviceLength(double logical) const { return std::abs(logical * EffectiveScaleX()); }

    bool Spend(const QRect &bounds)
    {
        const QRect visible = bounds.intersected(QRect(0, 0, m_picture.width, m_picture.height));
        m_spent += std::max(64.0, double(visible.width()) * visible.height());
        return !visible.isEmpty() || bounds.isEmpty();
    }

    // Sets the painter up for the current pen, brush and mix mode. False when nothing shows.
    bool Prepare(bool withBrush);
    QPen MakePen() const;
    QBrush MakeBrush() const;
    void FillBackgroundForHatch(const QPainterPath &path);
    void DrawShape(const QPainterPath &path, bool filled);
    void DrawText(const Record &rec);
    void DrawBlt(const Record &rec);
    void ResetMix() { m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver); }

    const Picture &m_picture;
    QPainter m_painter;
    double m_spent = 0;
    bool m_textAllowed = false;
    DcState m_state;
    std::vector<DcState> m_stack;
    std::vector<GdiObject> m_objects;
};

QPen Player::MakePen() const
{
    const Pen &pen = m_state.pen;
    const int style = pen.style & 0x0F;
    if (style == 5) // PS_NULL
        return QPen(Qt::NoPen);
    QColor colour = ToQColor(pen.colour);
    if (m_state.rop2 == 1)
        colour = Qt::black;
    else if (m_state.rop2 == 16)
        colour = Qt::white;
    const double width = pen.width <= 0 ? 1.0 : std::max(1.0, DeviceLength(pen.width));
    QPen qpen(colour);
    // Cosmetic: the width is in device pixels whatever the mapping does to the axes.
    qpen.setCosmetic(true);
    qpen.setWidthF(width <= 1.0 ? 0.0 : std::min(width, 4096.0));
    switch (style) {
    case 1: qpen.setStyle(Qt::DashLine); break;
    case 2: qpen.setStyle(Qt::DotLine); break;
    case 3: qpen.setStyle(Qt::DashDotLine); break;
    case 4: qpen.setStyle(Qt::DashDotDotLine); break;
    default: qpen.setStyle(Qt::SolidLine); break;
    }
    switch (pen.style & 0x0F00) {
    case 0x0100: qpen.setCapStyle(Qt::SquareCap); break;
    case 0x0200: qpen.setCapStyle(Qt::FlatCap); break;
    default: qpen.setCapStyle(Qt::RoundCap); break;
    }
    switch (pen.style & 0xF000) {
    case 0x1000: qpen.setJoinStyle(Qt::BevelJoin); break;
    case 0x2000: qpen.setJoinStyle(Qt::MiterJoin); break;
    default: qpen.setJoinStyle(Qt::RoundJoin); break;
    }
    return qpen;
}

QBrush Player::MakeBrush() const
{
    const Brush &brush = m_state.brush;
    QColor colour = ToQColor(brush.colour);
    if (m_state.rop2 == 1)
        colour = Qt::black;
    else if (m_state.rop2 == 16)
        colour = Qt::white;
    switch (brush.style) {
    case 1: return QBrush(Qt::NoBrush);
    case 2: {
        static const Qt::BrushStyle kHatches[] = {Qt::HorPattern, Qt::VerPattern, Qt::FDiagPattern,
                                                  Qt::BDiagPattern, Qt::CrossPattern,
                                                  Qt::DiagCrossPattern};
        return QBrush(colour, kHatches[std::min<int>(brush.hatch, 5)]);
    }
    case 3:
    case 5:
        if (brush.pattern) {
            const Bitmap &b = *brush.pattern;
            QImage tile(reinterpret_cast<const uchar *>(b.pixels.data()), b.width, b.height,
                        b.width * 4, QImage::Format_RGB32);
            return QBrush(tile.copy());
        }
        return QBrush(colour);
    default: return QBrush(colour);
    }
}

bool Player::Prepare(bool withBrush)
{
    switch (m_state.rop2) {
    case 11: return false; // R2_NOP
    case 6: m_painter.setCompositionMode(QPainter::RasterOp_NotDestination); break;
    case 7: m_painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination); break;
    case 9: m_painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination); break;
    case 15: m_painter.setCompositionMode(QPainter::RasterOp_SourceOrDestination); break;
    default: ResetMix(); break;
    }
    m_painter.setPen(MakePen());
    m_painter.setBrush(withBrush ? MakeBrush() : QBrush(Qt::NoBrush));
    return true;
}

void Player::FillBackgroundForHatch(const QPainterPath &path)
{
    if (m_state.brush.style != 2 || m_state.bkMode == kBkTransparent)
        return;
    m_painter.fillPath(path, ToQColor(m_state.bkColour));
}

void Player::DrawShape(const QPainterPath &path, bool filled)
{
    if (!Spend(path.boundingRect().toAlignedRect()) || !Prepare(filled))
        return;
    if (filled)
        FillBackgroundForHatch(path);
    m_painter.drawPath(path);
    ResetMix();
}

void Player::Apply(const Record &rec)
{
    const int32_t *v = rec.v;
    switch (rec.op) {
    case Op::SetWindowOrg:
        m_state.winOrg[0] = v[0];
        m_state.winOrg[1] = v[1];
        break;
    case Op::SetWindowExt:
        m_state.winExt[0] = v[0];
        m_state.winExt[1] = v[1];
        break;
    case Op::SetViewportOrg:
        // A placeable file is played into the frame its header gives; its viewport records
        // describe the device it was recorded on.
        if (!m_picture.placeable) {
            m_state.vpOrg[0] = v[0] * m_picture.outputScale;
            m_state.vpOrg[1] = v[1] * m_picture.outputScale;
        }
        break;
    case Op::SetViewportExt:
        if (!m_picture.placeable) {
            m_state.vpExt[0] = v[0] * m_picture.outputScale;
            m_state.vpExt[1] = v[1] * m_picture.outputScale;
        }
        break;
    case Op::SetMapMode: m_state.mapMode = v[0]; break;
    case Op::SaveDC:
        if (m_stack.size() < 4096) {
            m_stack.push_back(m_state);
            m_painter.save();
        }
        break;
    case Op::RestoreDC: {
        // Negative: that many levels back; positive: back to that absolute level.
        size_t pops = 0;
        if (v[0] < 0)
            pops = static_cast<size_t>(-int64_t{v[0]});
        else if (v[0] > 0 && static_cast<size_t>(v[0]) <= m_stack.size())
            pops = m_stack.size() - static_cast<size_t>(v[0]) + 1;
        if (pops == 0 || pops > m_stack.size())
            break;
        for (size_t i = 0; i < pops; ++i) {
            m_state = m_stack.back();
            m_stack.pop_back();
            m_painter.restore();
        }
        break;
    }
    case Op::CreateObject: {
        const auto slot = static_cast<size_t>(v[0]);
        if (slot >= m_objects.size())
            m_objects.resize(slot + 1);
        m_objects[slot] = rec.extra->object;
        break;
    }
    case Op::SelectObject: {
        const auto slot = static_cast<size_t>(v[0]);
        if (slot >= m_objects.size())
            break;
        const GdiObject &object = m_objects[slot];
        if (object.kind == GdiObject::PenObject)
            m_state.pen = object.pen;
        else if (object.kind == GdiObject::BrushObject)
            m_state.brush = object.brush;
        else if (object.kind == GdiObject::FontObject) {
            m_state.font = object.font;
            m_state.hasFont = true;
        }
        break;
    }
    case Op::DeleteObject:
        if (static_cast<size_t>(v[0]) < m_objects.size())
            m_objects[static_cast<size_t>(v[0])] = GdiObject{};
        break;
    case Op::SetBkMode: m_state.bkMode = v[0]; break;
    case Op::SetBkColor: m_state.bkColour = rec.colour; break;
    case Op::SetTextColor: m_state.textColour = rec.colour; break;
    case Op::SetPolyFillMode: m_state.polyFill = v[0]; break;
    case Op::SetTextAlign: m_state.textAlign = v[0]; break;
    case Op::SetRop2: m_state.rop2 = v[0]; break;
    case Op::IntersectClipRect:
        m_painter.setClipRect(MapBox(v[0], v[1], v[2], v[3]), Qt::IntersectClip);
        break;
    case Op::ExcludeClipRect: {
        QRegion region = m_painter.hasClipping()
                             ? m_painter.clipRegion()
                             : QRegion(0, 0, m_picture.width, m_picture.height);
        m_painter.setClipRegion(region.subtracted(QRegion(MapBox(v[0], v[1], v[2], v[3]))));
        break;
    }
    case Op::MoveTo: m_state.cp = Point{v[0], v[1]}; break;
    case Op::LineTo: {
        QPainterPath path(Map(m_state.cp.x, m_state.cp.y));
        path.lineTo(Map(v[0], v[1]));
        m_state.cp = Point{v[0], v[1]};
        DrawShape(path, false);
        break;
    }
    case Op::Polyline:
    case Op::Polygon: {
        QPolygon polygon;
        polygon.reserve(static_cast<int>(rec.points.size()));
        for (const Point &p : rec.points)
            polygon << Map(p.x, p.y);
        QPainterPath path;
        path.setFillRule(m_state.polyFill == kAlternate ? Qt::OddEvenFill : Qt::WindingFill);
        if (rec.op == Op::Polygon) {
            path.addPolygon(polygon);
            path.closeSubpath();
        } else {
            path.addPolygon(polygon);
        }
        DrawShape(path, rec.op == Op::Polygon);
        break;
    }
    case Op::PolyPolygon: {
        QPainterPath path;
        path.setFillRule(m_state.polyFill == kAlternate ? Qt::OddEvenFill : Qt::WindingFill);
        size_t at = 0;
        for (uint32_t count : rec.extra->counts) {
            QPolygon polygon;
            for (uint32_t i = 0; i < count && at < rec.points.size(); ++i, ++at)
                polygon << Map(rec.points[at].x, rec.points[at].y);
            path.addPolygon(polygon);
            path.closeSubpath();
        }
        DrawShape(path, true);
        break;
    }
    case Op::Rectangle: {
        QPainterPath path;
        path.addRect(FigureBox(v[0], v[1], v[2], v[3]));
        DrawShape(path, true);
        break;
    }
    case Op::RoundRect: {
        QPainterPath path;
        path.addRoundedRect(FigureBox(v[0], v[1], v[2], v[3]), DeviceLength(v[4]) / 2,
                            std::abs(v[5] * ScaleY()) / 2);
        DrawShape(path, true);
        break;
    }
    case Op::Ellipse: {
        QPainterPath path;
        path.addEllipse(FigureBox(v[0], v[1], v[2], v[3]));
        DrawShape(path, true);
        break;
    }
    case Op::Arc:
    case Op::Pie:
    case Op::Chord: {
        const QRectF box = FigureBox(v[0], v[1], v[2], v[3]);
        const QPointF centre = box.center();
        const QPointF start = Map(v[4], v[5]), end = Map(v[6], v[7]);
        auto angle = [&](QPointF p) {
            return std::atan2(-(p.y() - centre.y()), p.x() - centre.x()) * 180.0 / M_PI;
        };
        const double a0 = angle(start), a1 = angle(end);
        auto positive = [](double d) {
            d = std::fmod(d, 360.0);
            return d <= 0 ? d + 360.0 : d;
        };
        // The player turns counter-clockwise in logical space; a flipped axis reverses that.
        const bool counterClockwise = EffectiveScaleX() * ScaleY() > 0;
        const double span = counterClockwise ? positive(a1 - a0) : -positive(a0 - a1);
        QPainterPath path;
        if (rec.op == Op::Pie)
            path.moveTo(centre);
        else
            path.arcMoveTo(box, a0);
        path.arcTo(box, a0, span);
        if (rec.op != Op::Arc)
            path.closeSubpath();
        DrawShape(path, rec.op != Op::Arc);
        break;
    }
    case Op::SetPixel: {
        const QPoint p = Map(v[0], v[1]);
        m_painter.fillRect(QRect(p, QSize(1, 1)), ToQColor(rec.colour));
        m_spent += 64;
        break;
    }
    case Op::Text: DrawText(rec); break;
    case Op::Blt: DrawBlt(rec); break;
    }
}

void Player::DrawText(const Record &rec)
{
    if (!m_textAllowed || !rec.extra || rec.extra->text.empty())
        return;
    const Font &f = m_state.font;
    const double sy = std::abs(ScaleY());
    QFont font(f.face.empty() ? QStringLiteral("DejaVu Sans") : QString::fromLatin1(f.face.c_str()));
    double pixels = f.height == 0 ? 16.0 : std::abs(f.height) * sy;
    font.setPixelSize(std::clamp(static_cast<int>(std::lround(pixels)), 1, 4096));
    if (f.height > 0) {
        // A positive height is the character cell, leading included.
        const QFontMetricsF cell(font);
        if (cell.height() > 0)
            font.setPixelSize(std::clamp(
                static_cast<int>(std::lround(pixels * pixels / cell.height())), 1, 4096));
    }
    if (f.weight > 0)
        font.setWeight(static_cast<QFont::Weight>(std::clamp(f.weight, 1, 1000)));
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeOut);

    const QString text = QString::fromLatin1(rec.extra->text.data(),
                                             static_cast<qsizetype>(rec.extra->text.size()));
    const QFontMetricsF metrics(font);
    const std::vector<int32_t> &dx = rec.extra->dx;
    double advance = 0;
    std::vector<double> offsets;
    if (dx.size() == rec.extra->text.size()) {
        for (int32_t d : dx) {
            offsets.push_back(advance);
            advance += DeviceLength(d);
        }
    } else {
        advance = metrics.horizontalAdvance(text);
    }

    const bool updateCp = m_state.textAlign & 1;
    const Point ref = updateCp ? m_state.cp : Point{rec.v[0], rec.v[1]};
    const QPointF anchor = Map(ref.x, ref.y);
    double x = 0, y = 0;
    switch (m_state.textAlign & 6) {
    case 2: x = -advance; break; // TA_RIGHT
    case 6: x = -advance / 2; break; // TA_CENTER
    default: break;
    }
    switch (m_state.textAlign & 24) {
    case 24: break; // TA_BASELINE
    case 8: y = -metrics.descent(); break; // TA_BOTTOM
    default: y = metrics.ascent(); break; // TA_TOP
    }
    if (updateCp && EffectiveScaleX() != 0)
        m_state.cp.x += static_cast<int32_t>(std::lround(advance / std::abs(EffectiveScaleX())));

    if (!Spend(QRectF(anchor.x() + x, anchor.y() + y - metrics.ascent(), advance, metrics.height())
                   .toAlignedRect()))
        return;
    m_painter.save();
    ResetMix();
    const int options = rec.v[2];
    if (options & 0x0006) {
        const QRect box = MapBox(rec.v[3], rec.v[4], rec.v[5], rec.v[6]);
        if (options & 0x0002)
            m_painter.fillRect(box, ToQColor(m_state.bkColour));
        if (options & 0x0004)
            m_painter.setClipRect(box, Qt::IntersectClip);
    }
    m_painter.translate(anchor);
    if (f.escapement != 0)
        m_painter.rotate(-f.escapement / 10.0);
    if (m_state.bkMode != kBkTransparent && !(options & 0x0002))
        m_painter.fillRect(QRectF(x, y - metrics.ascent(), advance, metrics.height()),
                           ToQColor(m_state.bkColour));
    m_painter.setFont(font);
    m_painter.setPen(ToQColor(m_state.textColour));
    if (offsets.empty()) {
        m_painter.drawText(QPointF(x, y), text);
    } else {
        for (qsizetype i = 0; i < text.size(); ++i)
            m_painter.drawText(QPointF(x + offsets[static_cast<size_t>(i)], y), QString(text[i]));
    }
    m_painter.restore();
}

void Player::DrawBlt(const Record &rec)
{
    const int32_t *v = rec.v;
    QRect dest = MapBox(v[0], v[1], v[0] + v[2], v[1] + v[3]);
    if (!Spend(dest))
        return;
    const uint32_t rop = rec.rop;
    const Bitmap *bitmap = rec.extra ? rec.extra->bitmap.get() : nullptr;
    if (!bitmap) {
        switch (rop) {
        case 0x00000042: m_painter.fillRect(dest, Qt::black); break; // BLACKNESS
        case 0x00FF0062: m_painter.fillRect(dest, Qt::white); break; // WHITENESS
        case 0x00F00021: m_painter.fillRect(dest, MakeBrush()); break; // PATCOPY
        case 0x005A0049: // PATINVERT
            m_painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            m_painter.fillRect(dest, MakeBrush());
            break;
        case 0x00550009: // DSTINVERT
            m_painter.setCompositionMode(QPainter::RasterOp_NotDestination);
            m_painter.fillRect(dest, Qt::black);
            break;
        default: break;
        }
        ResetMix();
        return;
    }
    QImage image(reinterpret_cast<const uchar *>(bitmap->pixels.data()), bitmap->width,
                 bitmap->height, bitmap->width * 4, QImage::Format_RGB32);
    QRect source(v[4], v[5], v[6], v[7]);
    // Negative extents mirror the picture.
    const bool mirrorX = (v[2] < 0) != (v[6] < 0);
    const bool mirrorY = (v[3] < 0) != (v[7] < 0);
    source = source.normalized().intersected(image.rect());
    if (source.isEmpty())
        return;
    QImage part = image.copy(source);
    if (mirrorX || mirrorY)
        part = part.mirrored(mirrorX, mirrorY);
    switch (rop) {
    case 0x008800C6: m_painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination); break;
    case 0x00EE0086: m_painter.setCompositionMode(QPainter::RasterOp_SourceOrDestination); break;
    case 0x00660046: m_painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination); break;
    case 0x00330008: m_painter.setCompositionMode(QPainter::RasterOp_NotSource); break;
    case 0x00440328: m_painter.setCompositionMode(QPainter::RasterOp_SourceAndNotDestination); break;
    case 0x00BB0226: m_painter.setCompositionMode(QPainter::RasterOp_NotSourceOrDestination); break;
    default: break; // SRCCOPY and the rest are copied
    }
    m_painter.drawImage(QRectF(dest), part);
    ResetMix();
}

} // namespace

namespace pxwmf {

void Render(const Picture &picture, PxImage &out)
{
    PxCheckDimensions("WMF", static_cast<uint64_t>(picture.width),
                      static_cast<uint64_t>(picture.height), 24);
    QImage canvas(picture.width, picture.height, QImage::Format_RGB32);
    if (canvas.isNull())
        PxThrow("PxImage::Create can't allocate memory");
    canvas.fill(Qt::white);
    {
        Player player(picture, canvas);
        player.Play();
    }
    if (!out.CreateFromHBITMAP(canvas))
        PxThrow("%s", out.GetLastError());
}

} // namespace pxwmf
