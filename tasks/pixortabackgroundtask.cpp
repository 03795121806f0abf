#include "pixortabackgroundtask.h"

#include "engine/pximage.h"
#include "tasksettings.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// A margin of p percent of the width, in double precision as the canvas arithmetic needs it.
double Margin(double width, qint32 percent)
{
    return width / (100.0 / percent);
}

// A rectangle in canvas coordinates, rows counted from the top, right and bottom exclusive.
struct Box {
    qint64 left, top, right, bottom;
};

// Paints rows [top, bottom) and columns [left, right) of a 24-bit image, clipped to it, with
// rows counted from the top.
void FillBox(PxImage &canvas, Box box, const TaskColour &colour)
{
    const qint64 w = canvas.GetWidth(), h = canvas.GetHeight();
    box.left = std::max<qint64>(box.left, 0);
    box.top = std::max<qint64>(box.top, 0);
    box.right = std::min(box.right, w);
    box.bottom = std::min(box.bottom, h);
    if (box.left >= box.right || box.top >= box.bottom)
        return;
    std::vector<uint8_t> pattern(size_t(box.right - box.left) * 3);
    for (size_t i = 0; i < pattern.size(); i += 3) {
        pattern[i] = colour.blue;
        pattern[i + 1] = colour.green;
        pattern[i + 2] = colour.red;
    }
    for (qint64 y = box.top; y < box.bottom; ++y)
        std::memcpy(canvas.GetBits(uint32_t(h - 1 - y)) + box.left * 3, pattern.data(),
                    pattern.size());
}

// The outline of a rectangle (right and bottom exclusive) drawn with a pen of width w centred
// on its border, as the system draws wide rectangle outlines: the border runs through the
// rectangle's outermost columns and rows, and the pen covers w pixels across it, the odd pixel
// of an even width falling outside.
void Outline(PxImage &canvas, const Box &r, qint64 w, const TaskColour &colour)
{
    if (r.right <= r.left || r.bottom <= r.top)
        return;
    const qint64 out = w / 2, in = (w - 1) / 2;
    const qint64 l = r.left - out, t = r.top - out;
    const qint64 rr = r.right + out, bb = r.bottom + out;
    FillBox(canvas, {l, t, rr, r.top + in + 1}, colour);
    FillBox(canvas, {l, r.bottom - 1 - in, rr, bb}, colour);
    FillBox(canvas, {l, t, r.left + in + 1, bb}, colour);
    FillBox(canvas, {r.right - 1 - in, t, rr, bb}, colour);
}

// A 24-bit picture with neither transparency nor alpha covers its place exactly as drawing it
// unscaled would, so it is copied row by row.
bool IsPlain(const PxImage &image)
{
    return image.GetBpp() == 24 && !image.AlphaIsValid() && image.GetTransIndex() < 0 &&
           !image.AlphaPaletteIsEnabled() && image.IsEnabled();
}

// Anything but a plain picture is drawn through the engine onto the canvas pixels under it, so
// that transparent and translucent pixels show the background.
void PlaceImage(PxImage &canvas, PxImage &image, qint64 x, qint64 y)
{
    const qint64 cw = canvas.GetWidth(), ch = canvas.GetHeight();
    const qint64 w = image.GetWidth(), h = image.GetHeight();
    const qint64 left = std::max<qint64>(x, 0), top = std::max<qint64>(y, 0);
    const qint64 right = std::min(x + w, cw), bottom = std::min(y + h, ch);
    if (left >= right || top >= bottom || !image.IsEnabled())
        return;

    if (IsPlain(image)) {
        for (qint64 cy = top; cy < bottom; ++cy)
            std::memcpy(canvas.GetBits(uint32_t(ch - 1 - cy)) + left * 3,
                        image.GetBits(uint32_t(h - 1 - (cy - y))) + (left - x) * 3,
                        size_t(right - left) * 3);
        return;
    }

    QImage under(int(right - left), int(bottom - top), QImage::Format_RGB32);
    if (under.isNull())
        return;
    for (qint64 cy = top; cy < bottom; ++cy) {
        const uint8_t *in = canvas.GetBits(uint32_t(ch - 1 - cy)) + left * 3;
        auto *out = reinterpret_cast<QRgb *>(under.scanLine(int(cy - top)));
        for (qint64 cx = 0; cx < right - left; ++cx, in += 3)
            out[cx] = qRgb(in[2], in[1], in[0]);
    }
    {
        QPainter painter(&under);
        image.Draw(painter, int(x - left), int(y - top));
    }
    for (qint64 cy = top; cy < bottom; ++cy) {
        uint8_t *out = canvas.GetBits(uint32_t(ch - 1 - cy)) + left * 3;
        const auto *in = reinterpret_cast<const QRgb *>(under.constScanLine(int(cy - top)));
        for (qint64 cx = 0; cx < right - left; ++cx, out += 3) {
            out[0] = uint8_t(qBlue(in[cx]));
            out[1] = uint8_t(qGreen(in[cx]));
            out[2] = uint8_t(qRed(in[cx]));
        }
    }
}

} // namespace

std::optional<CPixortaBackgroundTask::Canvas> CPixortaBackgroundTask::CanvasFor(double w,
                                                                              double h) const
{
    double lm = 0, rm = 0, tm = 0, bm = 0;
    if (m_background.IsOn()) {
        lm = Margin(w, m_left);
        rm = Margin(w, m_right);
        tm = Margin(w, m_top);
        bm = Margin(w, m_bottom);
    }
    const double cwExact = std::trunc(w + rm + lm);
    const double chExact = std::trunc(h + bm + tm);
    constexpr double kMaxSide = std::numeric_limits<int32_t>::max();
    if (!(cwExact >= 1 && cwExact <= kMaxSide && chExact >= 1 && chExact <= kMaxSide))
        return std::nullopt;
    return Canvas{qint64(cwExact), qint64(chExact), qint64(std::trunc(lm)), qint64(std::trunc(tm))};
}

void CPixortaBackgroundTask::PredictSize(quint32 &width, quint32 &height) const
{
    if (const std::optional<Canvas> c = CanvasFor(double(width), double(height))) {
        width = quint32(c->width);
        height = quint32(c->height);
    }
}

bool CPixortaBackgroundTask::Apply(PxImage &image, bool &modified, QString)
{
    modified = true;
    if (!image.IsValid())
        return false;
    const double w = image.GetWidth(), h = image.GetHeight();
    const std::optional<Canvas> c = CanvasFor(w, h);
    if (!c)
        return false;
    const qint64 cw = c->width, ch = c->height, x = c->x, y = c->y;

    PxImage canvas;
    if (!canvas.Create(uint32_t(cw), uint32_t(ch), 24))
        return false;

    // What the picture does not cover is background (or the black of a fresh surface when the
    // background is off).
    if (m_background.IsOn()) {
        if (IsPlain(image)) {
            const qint64 iw = qint64(w), ih = qint64(h);
            FillBox(canvas, {0, 0, cw, y}, m_background);
            FillBox(canvas, {0, y + ih, cw, ch}, m_background);
            FillBox(canvas, {0, y, x, y + ih}, m_background);
            FillBox(canvas, {x + iw, y, cw, y + ih}, m_background);
        } else {
            FillBox(canvas, {0, 0, cw, ch}, m_background);
        }
    }
    PlaceImage(canvas, image, x, y);

    const qint64 lineWidth = std::max<qint64>(1, qint64(std::trunc(w * 0.002)));
    const qint64 inset = std::max<qint64>(0, lineWidth / 2 - 1);
    if (m_frame.IsOn())
        Outline(canvas, {inset, inset, cw - inset, ch - inset}, lineWidth, m_frame);
    if (m_imageFrame.IsOn())
        Outline(canvas, {x - inset, y - inset, x + qint64(w) + inset, y + qint64(h) + inset},
                lineWidth, m_imageFrame);

    return image.AdoptPixels(canvas);
}

CPixortaBackgroundTask::CPixortaBackgroundTask() : CPixortaTask(TaskAddBackground)
{
    ApplyDefaults(*this, Declared());
}

const TaskSettingList &CPixortaBackgroundTask::Declared()
{
    using R = CPixortaBackgroundTask;
    static const TaskSettingList settings = {
        NumberSetting<R>({.key = "margin-left",
                          .option = "--margin-left",
                          .percent = true,
                          .defaultValue = "3",
                          .valueName = "P",
                          .help = "the left margin (default %default%)"},
                         &R::m_left),
        NumberSetting<R>({.key = "margin-top",
                          .option = "--margin-top",
                          .percent = true,
                          .defaultValue = "3",
                          .valueName = "P",
                          .help = "the top margin (default %default%)"},
                         &R::m_top),
        NumberSetting<R>({.key = "margin-right",
                          .option = "--margin-right",
                          .percent = true,
                          .defaultValue = "3",
                          .valueName = "P",
                          .help = "the right margin (default %default%)"},
                         &R::m_right),
        NumberSetting<R>({.key = "margin-bottom",
                          .option = "--margin-bottom",
                          .percent = true,
                          .defaultValue = "3",
                          .valueName = "P",
                          .help = "the bottom margin (default %default%)"},
                         &R::m_bottom),
        ColourSetting<R>({.key = "background-color",
                          .option = "--background-color",
                          .defaultValue = "#ffffff",
                          .valueName = "C",
                          .help = "canvas colour (default %default%)"},
                         &R::m_background),
        // Whether the canvas and its margins are drawn; the panel switches it with the task.
        ColourSwitchSetting<R>({.key = "background", .defaultValue = "yes"}, &R::m_background),
        ColourSetting<R>({.key = "frame-color",
                          .option = "--frame-color",
                          .defaultValue = "#646464",
                          .valueName = "C",
                          .help = "colour of the line along the canvas edge (default %default%)"},
                         &R::m_frame),
        ColourSwitchSetting<R>({.key = "frame",
                                .option = "--no-frame",
                                .defaultValue = "yes",
                                .help = "no line along the canvas edge",
                                .optionSets = false},
                               &R::m_frame),
        ColourSetting<R>({.key = "image-frame-color",
                          .option = "--image-frame-color",
                          .defaultValue = "#000000",
                          .valueName = "C",
                          .help = "colour of the line around the picture (default %default%)"},
                         &R::m_imageFrame),
        ColourSwitchSetting<R>({.key = "image-frame",
                                .option = "--no-image-frame",
                                .defaultValue = "yes",
                                .help = "no line around the picture",
                                .optionSets = false},
                               &R::m_imageFrame),
    };
    return settings;
}

CPixortaTask::Outcome CPixortaBackgroundTask::PredictOutcome(const QString &, quint32,
                                                             quint32) const
{
    return Outcome::Changes;
}

QString CPixortaBackgroundTask::GetDescription() const
{
    return QStringLiteral("Add background");
}
