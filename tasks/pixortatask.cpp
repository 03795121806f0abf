#include "pixortatask.h"

#include "tasksettings.h"


QString TaskKindName(qint32 kind)
{
    switch (kind) {
    case TaskNone:
        return QStringLiteral("None");
    case TaskResize:
        return QStringLiteral("Resize");
    case TaskChangeColors:
        return QStringLiteral("Change colors");
    case TaskAddBackground:
        return QStringLiteral("Add background");
    case TaskAddText:
        return QStringLiteral("Add text");
    case TaskCreateSlideshow:
        return QStringLiteral("Create slideshow");
    case TaskCrop:
        return QStringLiteral("Crop");
    case TaskSharpen:
        return QStringLiteral("Sharpen");
    case TaskWatermark:
        return QStringLiteral("Watermark");
    default:
        return QStringLiteral("Internal error, type undefined");
    }
}

bool CPixortaTask::Apply(PxImage &, bool &, QString)
{
    return false;
}

bool CPixortaTask::Finish(QStringList &, const QString &, CBackupStore &, QStringList &)
{
    return true;
}

QString CPixortaTask::GetDescription() const
{
    return QString();
}

const TaskSettingList &CPixortaTask::Settings() const
{
    static const TaskSettingList none;
    return none;
}

TaskSettings CPixortaTask::SaveSettings() const
{
    TaskSettings settings;
    for (const TaskSetting &s : Settings())
        settings.append({s.decl.key, s.get(*this)});
    return settings;
}

bool CPixortaTask::LoadSettings(const TaskSettings &settings, QString *error)
{
    for (const auto &[key, value] : settings) {
        const TaskSetting *setting = FindSetting(Settings(), key);
        QString why = setting ? TakeSetting(*this, *setting, setting->decl.key, value)
                              : QStringLiteral("unknown setting '") + key + u'\'';
        if (!why.isEmpty()) {
            if (error)
                *error = why;
            return false;
        }
    }
    return true;
}

const TaskSetting *FindSetting(const TaskSettingList &settings, const QString &key)
{
    for (const TaskSetting &s : settings)
        if (key.compare(s.decl.key, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

const SettingDecl &DeclOf(const TaskSettingList &settings, const char *key)
{
    const TaskSetting *setting = FindSetting(settings, QLatin1String(key));
    Q_ASSERT_X(setting, "DeclOf", key);
    return setting->decl;
}

QStringList AliasPartNames(const TaskOptionAlias &alias)
{
    if (alias.separator.isNull())
        return {alias.valueName};
    return QString(alias.valueName).remove(u'[').remove(u']').split(alias.separator);
}

QString SettingsProblem(const CPixortaTask &record)
{
    for (const TaskSetting &s : record.Settings())
        if (const QString value = s.get(record); !NormalizeSetting(s.decl, value))
            return SettingRefusal(s.decl.key, s.decl, value);
    return QString();
}

void ApplyDefaults(CPixortaTask &record, const TaskSettingList &settings)
{
    for (const TaskSetting &s : settings)
        s.set(record, s.decl.defaultValue);
}

QString TakeSetting(CPixortaTask &record, const TaskSetting &setting, const QString &name,
                    const QString &value)
{
    const std::optional<QString> normalized = NormalizeSetting(setting.decl, value);
    if (!normalized)
        return SettingRefusal(name, setting.decl, value);
    setting.set(record, *normalized);
    return QString();
}

CPixortaTask::Outcome CPixortaTask::PredictOutcome(const QString &, quint32, quint32) const
{
    return Outcome::Fails;
}

QString TaskColourText(const TaskColour &colour)
{
    return ColourText((quint32(colour.red) << 16) | (quint32(colour.green) << 8) | colour.blue);
}

std::optional<TaskColour> ParseTaskColour(const QString &text)
{
    const std::optional<quint32> rgb = ParseColourText(text);
    if (!rgb)
        return std::nullopt;
    return TaskColour{quint8(*rgb >> 16), quint8(*rgb >> 8), quint8(*rgb), 0, 0};
}
