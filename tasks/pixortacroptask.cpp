#include "pixortacroptask.h"

#include "engine/pximage.h"
#include "tasksettings.h"

#include <cmath>

namespace {

// side x numerator / denominator in double precision, truncated to pixels. The product comes
// first, so that a share that is a whole number of pixels (two thirds of 90) stays one.
qint64 Share(quint32 side, qint64 numerator, qint64 denominator)
{
    return qint64(std::trunc(double(side) * double(numerator) / double(denominator)));
}

} // namespace

CPixortaCropTask::CPixortaCropTask() : CPixortaTask(TaskCrop)
{
    ApplyDefaults(*this, Declared());
}

const TaskSettingList &CPixortaCropTask::Declared()
{
    using R = CPixortaCropTask;
    static const TaskSettingList settings = {
        EnumSetting<R>({.key = "mode",
                        .choices = {"aspect", "rectangle", "margins"},
                        .defaultValue = "aspect"},
                       &R::m_mode),
        NumberSetting<R>({.key = "aspect-width", .min = 1, .max = 100000, .defaultValue = "1"},
                         &R::m_aspectWidth),
        NumberSetting<R>({.key = "aspect-height", .min = 1, .max = 100000, .defaultValue = "1"},
                         &R::m_aspectHeight),
        BoolSetting<R>({.key = "match-orientation",
                        .option = "--crop-match-orientation",
                        .defaultValue = "no",
                        .help = "turn the ratio to each picture's orientation: 3:2 crops a "
                                "portrait picture to 2:3"},
                       &R::m_matchOrientation),
        EnumSetting<R>({.key = "anchor",
                        .option = "--crop-anchor",
                        .choices = PlacementWords(),
                        .defaultValue = "center",
                        .valueName = "WHERE",
                        .help = "where in each image the part of the ratio is kept: "
                                "%choices% (default %default%)"},
                       &R::m_anchor),
        NumberSetting<R>({.key = "x", .noun = "a number of pixels", .defaultValue = "0"}, &R::m_x),
        NumberSetting<R>({.key = "y", .noun = "a number of pixels", .defaultValue = "0"}, &R::m_y),
        NumberSetting<R>({.key = "width", .min = 1, .noun = "a number of pixels", .defaultValue = "640"},
                         &R::m_width),
        NumberSetting<R>({.key = "height", .min = 1, .noun = "a number of pixels", .defaultValue = "480"},
                         &R::m_height),
        NumberSetting<R>({.key = "margin-left", .max = 100, .percent = true, .noun = "a percentage",
                          .defaultValue = "10"},
                         &R::m_marginLeft),
        NumberSetting<R>({.key = "margin-top", .max = 100, .percent = true, .noun = "a percentage",
                          .defaultValue = "10"},
                         &R::m_marginTop),
        NumberSetting<R>({.key = "margin-right", .max = 100, .percent = true, .noun = "a percentage",
                          .defaultValue = "10"},
                         &R::m_marginRight),
        NumberSetting<R>({.key = "margin-bottom", .max = 100, .percent = true, .noun = "a percentage",
                          .defaultValue = "10"},
                         &R::m_marginBottom),
    };
    return settings;
}

std::optional<CPixortaCropTask::Part> CPixortaCropTask::PartOf(quint32 width, quint32 height,
                                                               QString *why) const
{
    auto none = [why](const char *reason) -> std::optional<Part> {
        if (why)
            *why = QString::fromLatin1(reason);
        return std::nullopt;
    };
    if (why)
        why->clear();
    Part part;
    switch (m_mode) {
    case Mode::Aspect: {
        if (m_aspectWidth < 1 || m_aspectHeight < 1)
            return none("the aspect ratio has a side of 0");
        qint64 a = m_aspectWidth, b = m_aspectHeight;
        // A square picture or ratio has no orientation to match.
        if (m_matchOrientation && width != height && a != b && (width > height) != (a > b))
            std::swap(a, b);
        // The largest part of the ratio: the picture's full height where the picture is wider
        // than the ratio, its full width otherwise.
        if (qint64(width) * b > qint64(height) * a) {
            part.height = height;
            part.width = Share(height, a, b);
        } else {
            part.width = width;
            part.height = Share(width, b, a);
        }
        part.left = PlaceAcross(m_anchor, qint64(width) - part.width, 0);
        part.top = PlaceDown(m_anchor, qint64(height) - part.height, 0);
        break;
    }
    case Mode::Rectangle:
        if (m_width < 1 || m_height < 1 || m_x < 0 || m_y < 0)
            return none("the rectangle has no pixels");
        if (qint64(m_x) >= width || qint64(m_y) >= height)
            return none("the rectangle lies outside the picture");
        // What lies beyond the picture is left out.
        part = {m_x, m_y, std::min<qint64>(m_width, qint64(width) - m_x),
                std::min<qint64>(m_height, qint64(height) - m_y)};
        break;
    case Mode::Margins: {
        const qint64 left = Share(width, m_marginLeft, 100);
        const qint64 right = Share(width, m_marginRight, 100);
        const qint64 top = Share(height, m_marginTop, 100);
        const qint64 bottom = Share(height, m_marginBottom, 100);
        part = {left, top, qint64(width) - left - right, qint64(height) - top - bottom};
        break;
    }
    }
    if (part.width < 1 || part.height < 1)
        return none("the crop leaves less than a pixel of the picture");
    return part;
}

bool CPixortaCropTask::Apply(PxImage &image, bool &modified, QString)
{
    modified = false;
    if (!image.IsValid())
        return false;
    const quint32 w = image.GetWidth(), h = image.GetHeight();
    QString why;
    const std::optional<Part> part = PartOf(w, h, &why);
    if (!part) {
        image.SetLastError(why.toUtf8().constData());
        return false;
    }
    if (*part == Part{0, 0, w, h})
        return true;
    modified = true;
    return image.Crop(quint32(part->left), quint32(part->top), quint32(part->width),
                      quint32(part->height));
}

CPixortaTask::Outcome CPixortaCropTask::PredictOutcome(const QString &, quint32 width,
                                                       quint32 height) const
{
    const std::optional<Part> part = PartOf(width, height);
    if (!part)
        return Outcome::Fails;
    return *part == Part{0, 0, width, height} ? Outcome::Unchanged : Outcome::Changes;
}

void CPixortaCropTask::PredictSize(quint32 &width, quint32 &height) const
{
    if (const std::optional<Part> part = PartOf(width, height)) {
        width = quint32(part->width);
        height = quint32(part->height);
    }
}

QString CPixortaCropTask::StartProblem() const
{
    return SettingsProblem(*this);
}

QString CPixortaCropTask::GetDescription() const
{
    return QStringLiteral("Crop");
}
