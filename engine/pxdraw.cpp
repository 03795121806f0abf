// The crossings between PxImage and Qt's drawing layer: drawing an image through a QPainter,
// and converting to and from QImage. This unit and the metafile renderer are the engine's only
// users of QtGui.

#include "pximage.h"

#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QRect>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

uint8_t IndexAt(const uint8_t *row, uint32_t bpp, uint32_t x)
{
    switch (bpp) {
    case 8: return row[x];
    case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
    default: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
}

// Where each pixel of a drawn rectangle takes its source pixel. Without scaling it is one to
// one; with scaling the columns sample floor(c * sx) and the rows are counted from the bottom
// edge of the drawn rectangle, both factors in single precision.
class PixelMap {
public:
    PixelMap(uint32_t imageW, uint32_t imageH, int drawnW, int drawnH)
        : m_w(imageW), m_h(imageH), m_drawnW(drawnW), m_drawnH(drawnH),
          m_scaled(static_cast<uint32_t>(drawnW) != imageW ||
                   static_cast<uint32_t>(drawnH) != imageH),
          m_sx(static_cast<float>(imageW) / static_cast<float>(drawnW)),
          m_sy(static_cast<float>(imageH) / static_cast<float>(drawnH))
    {
    }
    bool Scaled() const { return m_scaled; }
    // c: column inside the drawn rectangle, left = 0.
    uint32_t Column(int c) const
    {
        if (!m_scaled)
            return static_cast<uint32_t>(c);
        const auto sc = static_cast<int64_t>(std::floor(static_cast<float>(c) * m_sx));
        return static_cast<uint32_t>(std::clamp<int64_t>(sc, 0, m_w - 1));
    }
    // r: row inside the drawn rectangle, top = 0; the result is a stored row (bottom = 0).
    uint32_t Row(int r) const
    {
        const int k = m_drawnH - 1 - r;
        if (!m_scaled)
            return static_cast<uint32_t>(k);
        const auto up = static_cast<int64_t>(std::ceil(static_cast<float>(m_drawnH - k) * m_sy));
        return static_cast<uint32_t>(std::clamp<int64_t>(int64_t{m_h} - up, 0, m_h - 1));
    }

private:
    uint32_t m_w, m_h;
    int m_drawnW, m_drawnH;
    bool m_scaled;
    float m_sx, m_sy;
};

QRgb ColourAt(const PxImage &img, uint32_t x, uint32_t row)
{
    const uint8_t *bits = img.GetBits(row);
    if (img.GetBpp() == 24) {
        const uint8_t *p = bits + 3 * size_t{x};
        return qRgb(p[2], p[1], p[0]);
    }
    const uint32_t n = img.GetNumColors();
    const PxRGBQuad c = img.GetPalette()[std::min<uint32_t>(IndexAt(bits, img.GetBpp(), x), n - 1)];
    return qRgb(c.red, c.green, c.blue);
}

// The visible part of the target rectangle in the painter's logical coordinates.
QRect VisiblePart(QPainter &painter, const QRect &target)
{
    QRect visible = target;
    if (painter.hasClipping())
        visible &= painter.clipBoundingRect().toAlignedRect();
    if (const QPaintDevice *device = painter.device()) {
        bool invertible = false;
        const QTransform toLogical = painter.deviceTransform().inverted(&invertible);
        if (invertible)
            visible &= toLogical.mapRect(QRect(0, 0, device->width(), device->height()));
    }
    return visible;
}

// The surface under the painter when its pixels can be read back one to one: a QImage painted
// without scaling or rotation. Returns the offset from logical to device coordinates.
const QImage *ReadableSurface(QPainter &painter, QPoint *offset)
{
    QPaintDevice *device = painter.device();
    if (!device || device->devType() != QInternal::Image)
        return nullptr;
    const QTransform t = painter.deviceTransform();
    if (t.type() > QTransform::TxTranslate)
        return nullptr;
    *offset = QPoint(qRound(t.dx()), qRound(t.dy()));
    return static_cast<const QImage *>(device);
}

void DrawBlended(const PxImage &img, QPainter &painter, const QRect &target, const QRect &visible)
{
    const PixelMap map(img.GetWidth(), img.GetHeight(), target.width(), target.height());
    const uint32_t w = img.GetWidth();
    const bool indexed = img.IsIndexed();
    const int32_t transIndex = img.GetTransIndex();
    const PxRGBQuad transColour = img.GetTransColor();
    const uint32_t alphaScale = uint32_t{img.AlphaGetMax()} + 1;
    const bool paletteAlpha = indexed && img.AlphaPaletteIsEnabled();
    const uint8_t *alpha = img.AlphaIsValid() ? img.AlphaGetPointer(0, 0) : nullptr;
    const PxRGBQuad *palette = img.GetPalette();
    const uint32_t colours = img.GetNumColors();

    QPoint offset;
    const QImage *surface = ReadableSurface(painter, &offset);
    // Without a readable surface the combination is left to Qt's own blending, which rounds
    // differently; every engine user draws onto QImages, where the exact rule holds.
    QImage canvas = surface ? surface->copy(visible.translated(offset)).convertToFormat(QImage::Format_RGB32)
                            : QImage(visible.size(), QImage::Format_ARGB32);
    if (canvas.size() != visible.size())
        return;
    if (!surface)
        canvas.fill(Qt::transparent);

    for (int r = 0; r < visible.height(); ++r) {
        const uint32_t row = map.Row(visible.top() + r - target.top());
        const uint8_t *bits = img.GetBits(row);
        auto *out = reinterpret_cast<QRgb *>(canvas.scanLine(r));
        for (int c = 0; c < visible.width(); ++c) {
            const uint32_t x = map.Column(visible.left() + c - target.left());
            uint32_t a = alpha ? alpha[size_t{row} * w + x] : 255;
            a = a * alphaScale / 256;
            PxRGBQuad src;
            if (indexed) {
                const uint8_t index = IndexAt(bits, img.GetBpp(), x);
                if (index == transIndex)
                    continue;
                src = palette[std::min<uint32_t>(index, colours - 1)];
                if (paletteAlpha)
                    a = a * (uint32_t{src.reserved} + 1) / 256;
            } else {
                const uint8_t *p = bits + 3 * size_t{x};
                src = PxRGBQuad{p[0], p[1], p[2], 0};
                if (transIndex >= 0 && src.blue == transColour.blue &&
                    src.green == transColour.green && src.red == transColour.red)
                    continue;
            }
            if (a == 0)
                continue;
            if (!surface) {
                out[c] = qRgba(src.red, src.green, src.blue, static_cast<int>(a));
                continue;
            }
            if (a >= 255) {
                out[c] = qRgb(src.red, src.green, src.blue);
                continue;
            }
            const QRgb t = out[c];
            const uint32_t keep = 255 - a;
            out[c] = qRgb(static_cast<int>((src.red * a + qRed(t) * keep) >> 8),
                          static_cast<int>((src.green * a + qGreen(t) * keep) >> 8),
                          static_cast<int>((src.blue * a + qBlue(t) * keep) >> 8));
        }
    }
    if (surface)
        painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(visible.topLeft(), canvas);
}

void DrawScaled(const PxImage &img, QPainter &painter, const QRect &target, const QRect &visible)
{
    const PixelMap map(img.GetWidth(), img.GetHeight(), target.width(), target.height());
    QImage canvas(visible.size(), QImage::Format_RGB32);
    if (canvas.isNull())
        return;
    for (int r = 0; r < visible.height(); ++r) {
        const uint32_t row = map.Row(visible.top() + r - target.top());
        auto *out = reinterpret_cast<QRgb *>(canvas.scanLine(r));
        for (int c = 0; c < visible.width(); ++c)
            out[c] = ColourAt(img, map.Column(visible.left() + c - target.left()), row);
    }
    painter.drawImage(visible.topLeft(), canvas);
}

} // namespace

int PxImage::Draw(QPainter &painter, int x, int y, int width, int height, const QRect *clip)
{
    if (!IsValid() || !painter.isActive() || width == 0 || height == 0 || !IsEnabled())
        return 0;
    if (width < 0)
        width = static_cast<int>(GetWidth());
    if (height < 0)
        height = static_cast<int>(GetHeight());

    painter.save();
    if (clip)
        painter.setClipRect(*clip, Qt::IntersectClip);
    const QRect target(x, y, width, height);
    const QRect visible = VisiblePart(painter, target);
    if (!visible.isEmpty()) {
        const bool blend = GetTransIndex() >= 0 || AlphaIsValid() || AlphaPaletteIsEnabled();
        const bool ownSize = static_cast<uint32_t>(width) == GetWidth() &&
                             static_cast<uint32_t>(height) == GetHeight();
        if (blend)
            DrawBlended(*this, painter, target, visible);
        else if (ownSize)
            painter.drawImage(QPoint(x, y), MakeBitmap());
        else
            DrawScaled(*this, painter, target, visible);
    }
    painter.restore();
    return 1;
}

QImage PxImage::MakeBitmap() const
{
    if (!IsValid())
        return QImage();
    const uint32_t w = GetWidth();
    const uint32_t h = GetHeight();
    QImage bitmap(static_cast<int>(w), static_cast<int>(h), QImage::Format_RGB32);
    if (bitmap.isNull())
        return bitmap;
    for (uint32_t row = 0; row < h; ++row) {
        auto *out = reinterpret_cast<QRgb *>(bitmap.scanLine(static_cast<int>(h - 1 - row)));
        for (uint32_t x = 0; x < w; ++x)
            out[x] = ColourAt(*this, x, row);
    }
    bitmap.setDotsPerMeterX(GetHeader().xPelsPerMeter);
    bitmap.setDotsPerMeterY(GetHeader().yPelsPerMeter);
    return bitmap;
}

bool PxImage::CreateFromHBITMAP(const QImage &bitmap)
{
    Destroy();
    if (bitmap.isNull()) {
        SetLastError("GetDIBits failed");
        return false;
    }
    QImage source = bitmap;
    uint32_t bpp = 24;
    switch (bitmap.format()) {
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8:
        bpp = 8;
        break;
    case QImage::Format_Mono:
        bpp = 1;
        break;
    case QImage::Format_MonoLSB:
        // The engine packs pixels most significant bit first.
        source = bitmap.convertToFormat(QImage::Format_Mono);
        bpp = 1;
        break;
    default:
        source = bitmap.convertToFormat(QImage::Format_RGB32);
        break;
    }
    if (source.isNull()) {
        SetLastError("GetDIBits failed");
        return false;
    }
    const auto w = static_cast<uint32_t>(source.width());
    const auto h = static_cast<uint32_t>(source.height());
    if (!Create(w, h, bpp, 0))
        return false;

    if (bpp == 24) {
        for (uint32_t row = 0; row < h; ++row) {
            const auto *in =
                reinterpret_cast<const QRgb *>(source.constScanLine(static_cast<int>(h - 1 - row)));
            uint8_t *out = GetBits(row);
            for (uint32_t x = 0; x < w; ++x) {
                out[3 * x] = static_cast<uint8_t>(qBlue(in[x]));
                out[3 * x + 1] = static_cast<uint8_t>(qGreen(in[x]));
                out[3 * x + 2] = static_cast<uint8_t>(qRed(in[x]));
            }
        }
        return true;
    }

    if (source.format() == QImage::Format_Grayscale8) {
        SetGrayPalette();
    } else {
        const QList<QRgb> table = source.colorTable();
        const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(table.size()), GetNumColors());
        for (uint32_t i = 0; i < n; ++i)
            SetPaletteColor(static_cast<uint8_t>(i), static_cast<uint8_t>(qRed(table[i])),
                            static_cast<uint8_t>(qGreen(table[i])),
                            static_cast<uint8_t>(qBlue(table[i])));
    }
    const size_t rowBytes = (size_t{w} * bpp + 7) / 8;
    for (uint32_t row = 0; row < h; ++row)
        std::memcpy(GetBits(row), source.constScanLine(static_cast<int>(h - 1 - row)), rowBytes);
    return true;
}

std::string PxImage::CopyToHandle() const
{
    if (!IsValid())
        return std::string();
    return std::string(static_cast<const char *>(GetDIB()), GetSize());
}
