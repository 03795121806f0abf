#include "pixortasharpentask.h"

#include "engine/pximage.h"
#include "tasksettings.h"

CPixortaSharpenTask::CPixortaSharpenTask() : CPixortaTask(TaskSharpen)
{
    ApplyDefaults(*this, Declared());
}

const TaskSettingList &CPixortaSharpenTask::Declared()
{
    using R = CPixortaSharpenTask;
    static const TaskSettingList settings = {
        NumberSetting<R>({.key = "amount",
                          .min = 1,
                          .max = 500,
                          .percent = true,
                          .noun = "a percentage",
                          .defaultValue = "100"},
                         &R::m_amount),
        DecimalSetting<R>({.key = "radius",
                           .min = 3,
                           .max = 50,
                           .decimals = 1,
                           .noun = "a radius in pixels",
                           .defaultValue = "1.0"},
                          &R::m_radius),
        NumberSetting<R>({.key = "threshold",
                          .max = 255,
                          .noun = "a number of levels",
                          .defaultValue = "2"},
                         &R::m_threshold),
    };
    return settings;
}

bool CPixortaSharpenTask::Apply(PxImage &image, bool &modified, QString)
{
    modified = true;
    if (!image.IsValid())
        return false;
    if (image.UnsharpMask(m_radius / 10.0, m_amount, m_threshold))
        return true;
    if (!image.GetLastError()[0])
        image.SetLastError("the picture could not be sharpened");
    return false;
}

CPixortaTask::Outcome CPixortaSharpenTask::PredictOutcome(const QString &, quint32, quint32) const
{
    return Outcome::Changes;
}

QString CPixortaSharpenTask::StartProblem() const
{
    return SettingsProblem(*this);
}

QString CPixortaSharpenTask::GetDescription() const
{
    return QStringLiteral("Sharpen");
}
