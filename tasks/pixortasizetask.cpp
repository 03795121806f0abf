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

CPixortaSizeTask::Plan CPixortaSizeTask::PlanFor(double w, double h) const
{
    Plan plan;
    qint32 side = 0;
    switch (m_mode) {
    case ModePercentage: {
        if (m_percentage < 1)
            return plan;
        plan.fails = false;
        if (m_percentage == 100)
            return plan;
        const double factor = m_percentage * 0.01;
        plan.fails = !ToSide(w * factor, plan.width) || !ToSide(h * factor, plan.height);
        plan.resample = !plan.fails;
        return plan;
    }
    case ModeConstant:
        plan.fails = false;
        if (m_width > 0 && m_height > 0) {
            plan = {false, true, m_width, m_height};
        } else if (m_width > 0) {
            plan.fails = !ToSide(h / (w / m_width), side);
            plan = {plan.fails, !plan.fails, m_width, side};
        } else if (m_height > 0) {
            plan.fails = !ToSide(w / (h / m_height), side);
            plan = {plan.fails, !plan.fails, side, m_height};
        }
        return plan;
    default:
        plan.fails = false;
        return plan;
    }
}

bool CPixortaSizeTask::Apply(PxImage &image, bool &modified, QString)
{
    const Plan plan = PlanFor(double(image.GetWidth()), double(image.GetHeight()));
    // A percentage of 100 changes nothing; every other successful resize counts as a change,
    // as it always has (a constant size equal to the picture's is still resampled).
    modified = !(m_mode == ModePercentage && m_percentage == 100);
    if (plan.fails)
        return false;
    return !plan.resample || ResampleTo(image, plan.width, plan.height);
}

CPixortaTask::Outcome CPixortaSizeTask::PredictOutcome(const QString &, quint32 width,
                                                       quint32 height) const
{
    const Plan plan = PlanFor(double(width), double(height));
    if (plan.fails)
        return Outcome::Fails;
    return m_mode == ModePercentage && m_percentage == 100 ? Outcome::Unchanged : Outcome::Changes;
}

void CPixortaSizeTask::PredictSize(quint32 &width, quint32 &height) const
{
    const Plan plan = PlanFor(double(width), double(height));
    if (plan.resample) {
        width = quint32(plan.width);
        height = quint32(plan.height);
    }
}

QString CPixortaSizeTask::GetDescription() const
{
    QString text = QStringLiteral("Resize to: ");
    if (m_mode == ModePercentage)
        text += QString::number(m_percentage) + u'%';
    return text;
}
