#include "slideshowrenderer.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kBilinear = 0;

// A black canvas of the movie's size with the image drawn centred on it.
bool DrawCentred(PxImage &image, int width, int height)
{
    PxImage canvas;
    const int left = (width - static_cast<int>(image.GetWidth())) / 2;
    const int top = (height - static_cast<int>(image.GetHeight())) / 2;
    return DrawOnBlack(image, left, top, width, height, canvas) && image.Transfer(canvas);
}

bool DrawAt(PxImage &image, int x, int y, int width, int height)
{
    PxImage canvas;
    return DrawOnBlack(image, x, y, width, height, canvas) && image.Transfer(canvas);
}

// A side of a zoom target: fractions truncate when they become pixel counts.
uint32_t Side(double value)
{
    return static_cast<uint32_t>(std::max(0.0, std::trunc(value)));
}

bool Zoom(PxImage &frame, double targetWidth, double targetHeight, int width, int height)
{
    uint32_t w = Side(targetWidth), h = Side(targetHeight);
    if (w == 0)
        w = 10;
    if (h == 0)
        h = 10;
    return frame.ResampleToFit(w, h, kBilinear) && DrawCentred(frame, width, height);
}

struct Move {
    const char *name;
    int dx, dy;     // direction: W / dx and H / dy per step (0: no move on that axis)
    bool entering;  // distance shrinks with i (6 - i steps) or grows (i steps)
};

// Applied in this order.
const Move kMoves[] = {
    {"enter from left", -6, 0, true},  {"enter from right", 6, 0, true},
    {"away to left", -6, 0, false},    {"away to right", 6, 0, false},
    {"enter from top", 0, -6, true},   {"enter from bottom", 0, 6, true},
    {"away to top", 0, -6, false},     {"away to bottom", 0, 6, false},
};

} // namespace

QStringList SplitEffects(const QString &list)
{
    QStringList names = list.toLower().split(u',', Qt::SkipEmptyParts);
    for (QString &name : names)
        name = name.trimmed();
    return names;
}

bool DrawOnBlack(const PxImage &image, int x, int y, int width, int height, PxImage &result)
{
    if (!image.IsValid() || width <= 0 || height <= 0)
        return false;
    const bool plain = image.GetBpp() == 24 && !image.AlphaIsValid() &&
                       image.GetTransIndex() < 0 && !image.AlphaPaletteIsEnabled() &&
                       image.IsEnabled();
    if (!plain) {
        // Transparency and palettes take the engine's drawing path through a surface.
        QImage canvas(width, height, QImage::Format_RGB32);
        if (canvas.isNull())
            return false;
        canvas.fill(Qt::black);
        {
            QPainter painter(&canvas);
            const_cast<PxImage &>(image).Draw(painter, x, y);
        }
        return result.CreateFromHBITMAP(canvas);
    }
    // Rows copied as they are: what drawing a plain 24-bit image on black and reading the
    // surface back gives, without the two conversions.
    if (!result.Create(static_cast<uint32_t>(width), static_cast<uint32_t>(height), 24))
        return false;
    const int w = static_cast<int>(image.GetWidth()), h = static_cast<int>(image.GetHeight());
    const int left = std::max(x, 0), right = std::min(x + w, width);
    const int top = std::max(y, 0), bottom = std::min(y + h, height);
    if (left >= right || top >= bottom)
        return true;
    const size_t bytes = 3 * static_cast<size_t>(right - left);
    for (int ty = top; ty < bottom; ++ty) {
        const uint8_t *from = image.GetBits(static_cast<uint32_t>(h - 1 - (ty - y))) +
                              3 * static_cast<size_t>(left - x);
        uint8_t *to = result.GetBits(static_cast<uint32_t>(height - 1 - ty)) +
                      3 * static_cast<size_t>(left);
        std::memcpy(to, from, bytes);
    }
    return true;
}

bool Letterbox(PxImage &image, int width, int height)
{
    if (!image.IsValid() || width <= 0 || height <= 0)
        return false;
    const auto w = static_cast<int64_t>(image.GetWidth());
    const auto h = static_cast<int64_t>(image.GetHeight());
    if (w != width || h != height) {
        // Smaller images are not enlarged.
        if ((w > width || h > height) &&
            !image.ResampleToFit(static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                 kBilinear))
            return false;
        if (!DrawCentred(image, width, height))
            return false;
    }
    return image.GetBpp() >= 24 || image.IncreaseBpp(24);
}

bool RenderTransitionFrame(const PxImage &slide, TransitionMode mode, const QStringList &effects,
                           int width, int height, int i, PxImage &frame)
{
    frame.Copy(slide);
    if (!frame.IsValid())
        return false;
    const auto chosen = [&effects](const char *name) {
        return effects.contains(QLatin1String(name));
    };
    const bool appear = mode == TransitionMode::Appear;

    if (chosen("lighten") && !frame.Light(46 * (i - 6), 0))
        return false;
    if (chosen("darken") && !frame.Light(-46 * i, 0))
        return false;

    const bool right = chosen("rotate right"), left = chosen("rotate left");
    if (right || left) {
        float angle = 60.0f * static_cast<float>(i);
        if (left)
            angle = -angle;
        // Rotate fills the corners it uncovers with the colour of the bottom-left pixel.
        frame.SetPixelColor(0, static_cast<int32_t>(frame.GetHeight()) - height, PxRGBQuad{});
        if (!frame.Rotate(angle) || !DrawCentred(frame, width, height))
            return false;
    }

    if (chosen("zoom in")) {
        const double s = appear ? i / 6.0 : 1 + 0.5 * i;
        if (!Zoom(frame, s * width, s * height, width, height))
            return false;
    }
    if (chosen("zoom out")) {
        bool zoomed;
        if (appear) {
            const double s = 1 + 0.5 * (6 - i);
            zoomed = Zoom(frame, s * width, s * height, width, height);
        } else {
            zoomed = Zoom(frame, width / (i + 1), height / (i + 1), width, height);
        }
        if (!zoomed)
            return false;
    }

    for (const Move &move : kMoves) {
        if (!chosen(move.name))
            continue;
        const int steps = move.entering ? 6 - i : i;
        const int x = move.dx ? (width / move.dx) * steps : 0;
        const int y = move.dy ? (height / move.dy) * steps : 0;
        if (!DrawAt(frame, x, y, width, height))
            return false;
    }
    return true;
}
