#include "pixortasizetask.h"

#include "engine/pximage.h"
#include "tasksettings_p.h"

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

const QStringList &ModeNames()
{
    static const QStringList names = {QStringLiteral("none"), QStringLiteral("percentage"),
                                      QStringLiteral("constant")};
    return names;
}

const QList<SettingField<CPixortaSizeTask>> &Fields()
{
    using R = CPixortaSizeTask;
    static const QList<SettingField<R>> fields = {
        {"mode",
         [](const R &r) { return ModeNames().value(r.m_mode, ModeNames().front()); },
         [](R &r, const QString &v) {
             const qsizetype mode = ModeNames().indexOf(v.trimmed().toLower());
             if (mode < 0)
                 return ModeNames().join(QStringLiteral(", "));
             r.m_mode = qint32(mode);
             return QString();
         }},
        NumberField<R>("percentage", &R::m_percentage),
        NumberField<R>("width", &R::m_width),
        NumberField<R>("height", &R::m_height),
    };
    return fields;
}

bool ResampleTo(PxImage &image, qint32 width, qint32 height)
{
    return image.Resample(width, height, kBilinear);
}

} // namespace

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

TaskSettings CPixortaSizeTask::SaveSettings() const
{
    return SaveFields(*this, Fields());
}

bool CPixortaSizeTask::LoadSettings(const TaskSettings &settings, QString *error)
{
    return LoadFields(*this, Fields(), settings, error);
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
