#include "jobfile.h"

#include "core/preferences.h"
#include "batch/joboptions.h"
#include "tasks/taskkinds.h"

#include <QFileInfo>
#include <optional>

namespace {

const QString kJobSection = QStringLiteral("Job");
const QString kEnabled = QStringLiteral("enabled");
const QString kVariantSection = QStringLiteral("Variant");
constexpr int kVersion = 1;

QString Where(const QString &section)
{
    return u'[' + section + QStringLiteral("] ");
}

// "" when the job takes key = value in its [Job] section, otherwise why not.
QString TakeJobSetting(Job *job, const QString &key, const QString &value)
{
    if (key.compare(QStringLiteral("version"), Qt::CaseInsensitive) == 0) {
        const std::optional<qint64> version = ParseWholeNumber(value);
        return version && *version >= 1 && *version <= kVersion
                   ? QString()
                   : key + QStringLiteral(" needs a version this program reads (1 to %1), not '")
                             .arg(kVersion) +
                         value + u'\'';
    }
    const JobSetting *setting = FindJobSetting(key);
    if (!setting)
        return QStringLiteral("has no setting '") + key + u'\'';
    const std::optional<QString> normalized = NormalizeSetting(setting->decl, value);
    if (!normalized)
        return SettingRefusal(setting->decl.key, setting->decl, value);
    if (setting->problem)
        if (const QString why = setting->problem(*normalized); !why.isEmpty())
            return key + QStringLiteral(": ") + why;
    setting->set(*job, *normalized);
    return QString();
}

// "Variant large" names a variant's section.
std::optional<QString> VariantLabel(const QString &section)
{
    if (!section.startsWith(kVariantSection, Qt::CaseInsensitive))
        return std::nullopt;
    const QString label = section.mid(kVariantSection.size()).trimmed();
    if (label.isEmpty() || section.at(kVariantSection.size()) != u' ')
        return std::nullopt;
    return label;
}

} // namespace

bool MaySaveJobAt(const QString &path, QString *why)
{
    // An existing file is replaced only when it is a job file: a slip of the command line must
    // not turn a photo into INI text.
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return true;
    QList<inifile::Section> existing;
    if (inifile::ReadSections(path, &existing) && !existing.isEmpty() &&
        existing.front().name.compare(kJobSection, Qt::CaseInsensitive) == 0)
        return true;
    if (why)
        *why = QStringLiteral("'") + path +
               QStringLiteral("' is not a job file, so it was left as it is; give the job "
                              "another name");
    return false;
}

bool WriteJobFile(const QString &path, const Job &job, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    QList<inifile::Section> sections;
    inifile::Section head{kJobSection, {{QStringLiteral("version"), QString::number(kVersion)}}};
    for (const JobSetting &s : JobSettings())
        if (!s.written || s.written(job))
            head.entries.append({s.decl.key, s.get(job)});
    sections.append(head);

    for (const TaskKindInfo &kind : TaskKinds()) {
        const CPixortaTask *record = job.Record(kind.kind);
        if (!record)
            continue;
        inifile::Section section{kind.Name(), record->SaveSettings()};
        if (!kind.alwaysWritten && !job.IsEnabled(kind.kind) &&
            section.entries == kind.make()->SaveSettings())
            continue;
        // A value the reader would refuse makes a job nobody can open again.
        for (const auto &[key, value] : std::as_const(section.entries)) {
            const TaskSetting *setting = FindSetting(record->Settings(), key);
            if (setting && !NormalizeSetting(setting->decl, value))
                return fail(QStringLiteral("cannot save the job: ") + Where(kind.Name()) +
                            SettingRefusal(key, setting->decl, value));
        }
        if (kind.switchable)
            section.entries.prepend({kEnabled, YesNoText(job.IsEnabled(kind.kind))});
        sections.append(section);
    }
    for (const JobVariant &variant : job.variants) {
        inifile::Section section{kVariantSection + u' ' + variant.label, {}};
        for (const auto &[key, value] : variant.settings)
            section.entries.append({key, value});
        sections.append(section);
    }
    QString why;
    if (!MaySaveJobAt(path, &why))
        return fail(why);
    if (inifile::WriteSections(path, sections, &why))
        return true;
    return fail(QStringLiteral("cannot write the job file '") + path + QStringLiteral("': ") + why);
}

bool ReadJobFile(const QString &path, Job *job, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("job file '") + path + QStringLiteral("': ") + why;
        return false;
    };
    QList<inifile::Section> sections;
    QString why;
    if (!inifile::ReadSectionsStrict(path, &sections, &why))
        return fail(why.startsWith(QLatin1String("line ")) ? why
                                                           : QStringLiteral("cannot be read: ") + why);
    if (sections.isEmpty() || sections.front().name.compare(kJobSection, Qt::CaseInsensitive))
        return fail(QStringLiteral("it does not start with a [Job] section"));

    // Read into a copy, so that a file that cannot be used changes nothing.
    Job read = job->Detached();
    for (const inifile::Section &section : std::as_const(sections)) {
        const QString where = Where(section.name);
        if (section.name.compare(kJobSection, Qt::CaseInsensitive) == 0) {
            for (const auto &[key, value] : section.entries)
                if (const QString why = TakeJobSetting(&read, key, value); !why.isEmpty())
                    return fail(where + why);
            continue;
        }
        if (const std::optional<QString> label = VariantLabel(section.name)) {
            JobVariant variant{*label, {}};
            for (const auto &[key, value] : section.entries)
                variant.settings.append({key, value});
            QString why;
            if (!VariantJob(Job(), variant, &why))
                return fail(where + why.section(QStringLiteral(": "), 1));
            read.variants.append(variant);
            continue;
        }
        const TaskKindInfo *kind = FindTaskKind(section.name);
        CPixortaTask *record = kind ? read.Record(kind->kind) : nullptr;
        if (!record)
            return fail(QStringLiteral("unknown section [") + section.name + u']');
        TaskSettings settings = section.entries;
        if (kind->switchable) {
            for (qsizetype i = settings.size(); i-- > 0;)
                if (settings[i].first.compare(kEnabled, Qt::CaseInsensitive) == 0) {
                    const std::optional<bool> on = ParseYesNo(settings[i].second);
                    if (!on)
                        return fail(where + SettingRefusal(kEnabled, kind->enable,
                                                           settings[i].second));
                    read.SetEnabled(kind->kind, *on);
                    settings.removeAt(i);
                }
        }
        QString why;
        if (!record->LoadSettings(settings, &why))
            return fail(where + why);
    }
    if (read.destination == Job::Destination::Folder && read.outputFolder.isEmpty())
        return fail(QStringLiteral("[Job] destination is folder, but no folder is given"));
    if (const QString why = JobProblem(read); !why.isEmpty())
        return fail(why);
    *job = std::move(read);
    return true;
}
