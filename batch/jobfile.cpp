#include "jobfile.h"

#include "core/preferences.h"
#include "engine/pxformats.h"

#include <QFileInfo>

namespace {

const QString kJobSection = QStringLiteral("Job");
constexpr int kVersion = 1;

QString YesNo(bool on)
{
    return on ? QStringLiteral("yes") : QStringLiteral("no");
}

bool ReadSwitch(const QString &value, bool *on)
{
    const QString v = value.trimmed().toLower();
    if (v == u"yes" || v == u"1" || v == u"true" || v == u"on")
        *on = true;
    else if (v == u"no" || v == u"0" || v == u"false" || v == u"off")
        *on = false;
    else
        return false;
    return true;
}

// The [Job] section: what a value of each key has to be, "" when it was taken.
QString TakeJobSetting(SavedJob *job, const QString &key, const QString &value)
{
    const QString k = key.toLower();
    if (k == u"version") {
        bool ok = false;
        const int version = value.trimmed().toInt(&ok);
        return ok && version >= 1 && version <= kVersion
                   ? QString()
                   : QStringLiteral("a version this program reads (1 to %1)").arg(kVersion);
    }
    if (k == u"format") {
        const QString format = value.trimmed().toLower();
        const QStringList known =
            QString::fromStdString(WritableExtensionList(",")).split(u',');
        if (!format.isEmpty() && !known.contains(format))
            return QStringLiteral("nothing (every file keeps its format) or one of ") +
                   known.join(QStringLiteral(", "));
        job->format = format;
        return QString();
    }
    if (k == u"destination") {
        const QString d = value.trimmed().toLower();
        if (d == u"in-place")
            job->destination = SavedJob::Destination::InPlace;
        else if (d == u"folder")
            job->destination = SavedJob::Destination::Folder;
        else
            return QStringLiteral("in-place or folder");
        return QString();
    }
    if (k == u"folder") {
        job->outputFolder = value;
        return QString();
    }
    if (k == u"notes") {
        job->notesFile = value;
        return QString();
    }
    bool *flag = k == u"auto-orient"     ? &job->autoOrient
                 : k == u"keep-metadata" ? &job->keepMetadata
                 : k == u"verify"        ? &job->verify
                                         : nullptr;
    if (!flag)
        return QStringLiteral("?");
    return ReadSwitch(value, flag) ? QString() : QStringLiteral("yes or no");
}

} // namespace

QList<CPixortaTask *> SavedJob::Tasks()
{
    QList<CPixortaTask *> tasks = {&resize, &colours};
    if (backgroundEnabled)
        tasks << &background;
    tasks << &text << &slideshow;
    return tasks;
}

QList<CPixortaTask *> SavedJob::AllRecords()
{
    return {&resize, &colours, &background, &text, &slideshow};
}

bool WriteJobFile(const QString &path, const SavedJob &job, QString *error)
{
    QList<inifile::Section> sections;
    inifile::Section head{kJobSection, {{QStringLiteral("version"), QString::number(kVersion)},
                                        {QStringLiteral("format"), job.format}}};
    if (job.destination != SavedJob::Destination::Unset)
        head.entries.append({QStringLiteral("destination"),
                             job.destination == SavedJob::Destination::InPlace
                                 ? QStringLiteral("in-place")
                                 : QStringLiteral("folder")});
    if (job.destination == SavedJob::Destination::Folder)
        head.entries.append({QStringLiteral("folder"), job.outputFolder});
    head.entries.append({QStringLiteral("auto-orient"), YesNo(job.autoOrient)});
    head.entries.append({QStringLiteral("keep-metadata"), YesNo(job.keepMetadata)});
    head.entries.append({QStringLiteral("verify"), YesNo(job.verify)});
    if (!job.notesFile.isEmpty())
        head.entries.append({QStringLiteral("notes"), job.notesFile});
    sections.append(head);

    const CPixortaTask *const records[] = {&job.resize, &job.colours, &job.background, &job.text,
                                           &job.slideshow};
    for (const CPixortaTask *record : records) {
        inifile::Section section{TaskKindName(record->Kind()), record->SaveSettings()};
        if (record == &job.background)
            section.entries.prepend({QStringLiteral("enabled"), YesNo(job.backgroundEnabled)});
        sections.append(section);
    }
    if (inifile::WriteSections(path, sections))
        return true;
    if (error)
        *error = QStringLiteral("cannot write the job file '") + path + u'\'';
    return false;
}

bool ReadJobFile(const QString &path, SavedJob *job, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("job file '") + path + QStringLiteral("': ") + why;
        return false;
    };
    QList<inifile::Section> sections;
    if (QFileInfo(path).isDir() || !inifile::ReadSections(path, &sections))
        return fail(QStringLiteral("cannot be read"));
    if (sections.isEmpty() || sections.front().name.compare(kJobSection, Qt::CaseInsensitive))
        return fail(QStringLiteral("it does not start with a [Job] section"));

    for (const inifile::Section &section : std::as_const(sections)) {
        const QString where = u'[' + section.name + QStringLiteral("] ");
        if (section.name.compare(kJobSection, Qt::CaseInsensitive) == 0) {
            for (const auto &[key, value] : section.entries) {
                const QString need = TakeJobSetting(job, key, value);
                if (need == u"?")
                    return fail(where + QStringLiteral("has no setting '") + key + u'\'');
                if (!need.isEmpty())
                    return fail(where + key + QStringLiteral(" needs ") + need +
                                QStringLiteral(", not '") + value + u'\'');
            }
            continue;
        }
        CPixortaTask *record = nullptr;
        for (CPixortaTask *r : job->AllRecords())
            if (section.name.compare(TaskKindName(r->Kind()), Qt::CaseInsensitive) == 0)
                record = r;
        if (!record)
            return fail(QStringLiteral("unknown section [") + section.name + u']');
        TaskSettings settings = section.entries;
        if (record == &job->background) {
            for (qsizetype i = settings.size(); i-- > 0;)
                if (settings[i].first.compare(QStringLiteral("enabled"), Qt::CaseInsensitive) ==
                    0) {
                    if (!ReadSwitch(settings[i].second, &job->backgroundEnabled))
                        return fail(where + QStringLiteral("enabled needs yes or no, not '") +
                                    settings[i].second + u'\'');
                    settings.removeAt(i);
                }
        }
        QString why;
        if (!record->LoadSettings(settings, &why))
            return fail(where + why);
    }
    if (job->destination == SavedJob::Destination::Folder && job->outputFolder.isEmpty())
        return fail(QStringLiteral("[Job] destination is folder, but no folder is given"));
    return true;
}
