#include "pixortasizetask.h"

#include "engine/pximage.h"
#include "tasksettings.h"

#include <cmath>
#include <limits>

namespace {

constexpr int kBilinear = 0;

// A side computed in double precision becomes a pixel count by truncation toward zero; a side
// that is 0, negative or beyond the int range cannot be resampled to.
bool ToSide(double value, qint32 &side)
{
    const double t = std::trunc(value);
    if (!(t >= 1.0) || t > double(std::numeric_limits<qint32>::max()))
        return false;
    side = qint32(t);
    return true;
}

bool ResampleTo(PxImage &image, qint32 width, qint32 height)
{
    return image.Resample(width, height, kBilinear);
}

} // namespace

CPixortaSizeTask::CPixortaSizeTask() : CPixortaTask(TaskResize)
{
    ApplyDefaults(*this, Declared());
}

const TaskSettingList &CPixortaSizeTask::Declared()
{
    using R = CPixortaSizeTask;
    static const TaskSettingList settings = {
        EnumSetting<R>({.key = "mode",
                        .choices = {"none", "percentage", "constant"},
                        .defaultValue = "percentage"},
                       &R::m_mode),
        NumberSetting<R>({.key = "percentage",
                          .option = "--resize",
                          .min = 1,
                          .percent = true,
                          .defaultValue = "100",
                          .valueName = "P%",
                          .help = "scale by P percent (the % sign is optional; 100 leaves the size)",
                          .implies = "mode=percentage"},
                         &R::m_percentage),
        NumberSetting<R>({.key = "width",
                          .option = "--width",
                          .defaultValue = "0",
                          .valueName = "W",
                          .help = "scale to W pixels wide; alone, the height follows "
                                  "proportionally (0: not given)",
                          .implies = "mode=constant"},
                         &R::m_width),
        NumberSetting<R>({.key = "height",
                          .option = "--height",
                          .defaultValue = "0",
                          .valueName = "H",
                          .help = "scale to H pixels high; alone, the width follows "
                                  "proportionally (0: not given)",
                          .implies = "mode=constant"},
                         &R::m_height),
    };
    return settings;
}

bool CPixortaSizeTask::Apply(PxImage &image, bool &modified, QString)
{
    modified = true;
    const double w = double(image.GetWidth());
    const double h = double(image.GetHeight());
    qint32 newWidth = 0;
    qint32 newHeight = 0;

    switch (m_mode) {
    case ModePercentage: {
        if (m_percentage < 1)
            return false;
        if (m_percentage == 100) {
            modified = false;
            return true;
        }
        const double factor = m_percentage * 0.01;
        if (!ToSide(w * factor, newWidth) || !ToSide(h * factor, newHeight))
            return false;
        return ResampleTo(image, newWidth, newHeight);
    }
    case ModeConstant:
        if (m_width > 0 && m_height > 0)
            return ResampleTo(image, m_width, m_height);
        if (m_width > 0) {
            if (!ToSide(h / (w / m_width), newHeight))
                return false;
            return ResampleTo(image, m_width, newHeight);
        }
        if (m_height > 0) {
            if (!ToSide(w / (h / m_height), newWidth))
                return false;
            return ResampleTo(image, newWidth, m_height);
        }
        return true;
    default:
        return true;
    }
}

CPixortaTask::Outcome CPixortaSizeTask::PredictOutcome(const QString &, quint32 width,
                                                       quint32 height) const
{
    const double w = double(width), h = double(height);
    qint32 side = 0;
    switch (m_mode) {
    case ModePercentage:
        if (m_percentage < 1)
            return Outcome::Fails;
        if (m_percentage == 100)
            return Outcome::Unchanged;
        return ToSide(w * m_percentage * 0.01, side) && ToSide(h * m_percentage * 0.01, side)
                   ? Outcome::Changes
                   : Outcome::Fails;
    case ModeConstant:
        if (m_width > 0 && m_height <= 0)
            return ToSide(h / (w / m_width), side) ? Outcome::Changes : Outcome::Fails;
        if (m_height > 0 && m_width <= 0)
            return ToSide(w / (h / m_height), side) ? Outcome::Changes : Outcome::Fails;
        return Outcome::Changes;
    default:
        return Outcome::Changes;
    }
}

QString CPixortaSizeTask::GetDescription() const
{
    QString text = QStringLiteral("Resize to: ");
    if (m_mode == ModePercentage)
        text += QString::number(m_percentage) + u'%';
    return text;
}
