#include "joboptions.h"

#include "tasks/pixortasizetask.h"
#include "tasks/taskkinds.h"

#include <algorithm>

namespace {

// What one declared option of a task does.
struct TaskOption {
    const TaskKindInfo *kind = nullptr;
    // One of these.
    const TaskSetting *setting = nullptr;
    const TaskOptionAlias *alias = nullptr;
    bool enable = false;

    bool TakesValue() const
    {
        if (setting)
            return setting->decl.kind != SettingKind::Switch;
        if (alias)
            return !alias->valueName.isEmpty();
        return false;
    }
};

std::optional<TaskOption> FindTaskOption(const QString &name)
{
    for (const TaskKindInfo &kind : TaskKinds()) {
        if (kind.switchable && kind.enable.option == name)
            return TaskOption{&kind, nullptr, nullptr, true};
        for (const TaskSetting &s : kind.settings())
            if (!s.decl.option.isEmpty() && s.decl.option == name)
                return TaskOption{&kind, &s, nullptr, false};
        for (const TaskOptionAlias &a : kind.aliases)
            if (a.option == name)
                return TaskOption{&kind, nullptr, &a, false};
    }
    return std::nullopt;
}

const JobSetting *FindJobOption(const QString &name)
{
    for (const JobSetting &s : JobSettings())
        if (!s.decl.option.isEmpty() && s.decl.option == name)
            return &s;
    return nullptr;
}

// A file named by an option cannot be empty; a job file writes "" for none.
bool NamesAFile(const SettingDecl &decl)
{
    return decl.kind == SettingKind::Text && !decl.noun.isEmpty();
}

// Sets "key=value" of record, as an option implies it.
void SetImplied(CPixortaTask &record, const QString &assignment)
{
    const qsizetype eq = assignment.indexOf(u'=');
    if (const TaskSetting *s = FindSetting(record.Settings(), assignment.left(eq)))
        if (const std::optional<QString> v = NormalizeSetting(s->decl, assignment.mid(eq + 1)))
            s->set(record, *v);
}

// "" when the option was taken, otherwise why not.
QString ApplyTaskOption(Job &job, const TaskOption &option, const QString &name,
                        const QString &value)
{
    CPixortaTask *record = job.Record(option.kind->kind);
    if (!record)
        return QStringLiteral("unknown option '") + name + u'\'';
    if (option.enable) {
        job.SetEnabled(option.kind->kind, option.kind->enable.optionSets);
        return QString();
    }
    if (option.kind->switchable)
        job.SetEnabled(option.kind->kind, true);
    if (option.setting) {
        const SettingDecl &decl = option.setting->decl;
        if (decl.kind == SettingKind::Switch) {
            option.setting->set(*record, YesNoText(decl.optionSets));
        } else {
            if (NamesAFile(decl) && value.isEmpty())
                return name + QStringLiteral(" needs ") + decl.noun;
            if (const QString why = TakeSetting(*record, *option.setting, name, value);
                !why.isEmpty())
                return why;
        }
        if (!decl.implies.isEmpty())
            SetImplied(*record, decl.implies);
        return QString();
    }
    const TaskOptionAlias &alias = *option.alias;
    QStringList targets, implied;
    for (const QString &target : alias.sets)
        (target.contains(u'=') ? implied : targets) << target;
    // A value in parts: each part goes to its own setting, and a part left out leaves its
    // setting as it was.
    QStringList parts(targets.size(), value);
    const QStringList names = AliasPartNames(alias);
    if (!alias.separator.isNull()) {
        parts = value.split(alias.separator);
        if (parts.size() < alias.required || parts.size() > targets.size())
            return name + QStringLiteral(" needs ") + alias.valueName + QStringLiteral(", not '") +
                   value + u'\'';
    }
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const TaskSetting *s = FindSetting(record->Settings(), targets[i]);
        if (!s)
            continue;
        const QString what = alias.separator.isNull() ? name : name + u' ' + names.value(i);
        if (const QString why = TakeSetting(*record, *s, what, parts[i]); !why.isEmpty())
            return why;
    }
    for (const QString &assignment : std::as_const(implied))
        SetImplied(*record, assignment);
    return QString();
}

QString ApplyJobOption(Job &job, const JobSetting &setting, const QString &name,
                       const QString &value)
{
    const SettingDecl &decl = setting.decl;
    if (decl.kind == SettingKind::Switch) {
        setting.set(job, YesNoText(decl.optionSets));
        return QString();
    }
    if (NamesAFile(decl) && value.isEmpty())
        return name + QStringLiteral(" needs ") + decl.noun;
    const std::optional<QString> normalized = NormalizeSetting(decl, value);
    if (!normalized)
        return SettingRefusal(name, decl, value);
    if (setting.problem)
        if (const QString why = setting.problem(*normalized); !why.isEmpty())
            return name + QStringLiteral(": ") + why;
    setting.set(job, *normalized);
    return QString();
}

// The key a variant's text may give: an option's name without its "--".
bool IsVariantKeyStart(QStringView piece)
{
    const qsizetype eq = piece.indexOf(u'=');
    if (eq <= 0)
        return false;
    for (QChar c : piece.left(eq))
        if (!(c.isLetterOrNumber() || c == u'-'))
            return false;
    return true;
}

} // namespace

std::optional<bool> JobOptions::TakesValue(const QString &name)
{
    if (const JobSetting *s = FindJobOption(name))
        return s->decl.kind != SettingKind::Switch;
    if (const std::optional<TaskOption> o = FindTaskOption(name))
        return o->TakesValue();
    return std::nullopt;
}

QString JobOptions::Take(Job &job, const QString &name, const QString &value)
{
    if (const JobSetting *setting = FindJobOption(name))
        return ApplyJobOption(job, *setting, name, value);
    const std::optional<TaskOption> option = FindTaskOption(name);
    if (!option)
        return QStringLiteral("unknown option '") + name + u'\'';
    if (const QString why = ApplyTaskOption(job, *option, name, value); !why.isEmpty())
        return why;
    m_given[option->kind->kind] << (option->setting ? option->setting->decl.key : name);
    return QString();
}

QString JobOptions::Finish(Job &job) const
{
    // A task whose options need its switch on.
    for (const TaskKindInfo &kind : TaskKinds()) {
        const QSet<QString> keys = m_given.value(kind.kind);
        const CPixortaTask *record = job.Record(kind.kind);
        const TaskSetting *master = record ? FindSetting(record->Settings(), kind.optionsNeed) : nullptr;
        const bool others = std::any_of(keys.cbegin(), keys.cend(), [&](const QString &k) {
            return k.compare(kind.optionsNeed, Qt::CaseInsensitive) != 0;
        });
        const QString given = master ? master->get(*record) : QString();
        const bool met = master && (master->decl.kind == SettingKind::Switch
                                        ? ParseYesNo(given).value_or(false)
                                        : !given.isEmpty());
        if (master && others && !met)
            return kind.optionsNeedMessage;
        // The ways of a task that exclude each other.
        QStringList ways;
        for (const QString &option : kind.oneOf)
            if (keys.contains(option))
                ways << option;
        if (ways.size() > 1)
            return QStringLiteral("choose one of ") +
                   kind.oneOf.mid(0, kind.oneOf.size() - 1).join(QStringLiteral(", ")) +
                   QStringLiteral(" and ") + kind.oneOf.back();
    }

    // A resize given here replaces the job's whole resize: one of --width and --height alone
    // leaves the other side to follow.
    if (CPixortaSizeTask *resize = job.Find<CPixortaSizeTask>()) {
        const QSet<QString> keys = m_given.value(TaskResize);
        const bool percent = keys.contains(QStringLiteral("percentage"));
        const bool width = keys.contains(QStringLiteral("width"));
        const bool height = keys.contains(QStringLiteral("height"));
        if (percent && (width || height))
            return QStringLiteral("--resize cannot be combined with --width or --height");
        if (width && !height)
            resize->m_height = 0;
        if (height && !width)
            resize->m_width = 0;
        // The window always hands over a resize record; at its defaults it changes nothing,
        // but its success is what lets a format change write the image, as in the window.
        if (resize->m_mode == CPixortaSizeTask::ModeNone)
            resize->m_mode = CPixortaSizeTask::ModePercentage;
    }
    return QString();
}

std::optional<JobVariant> ParseVariant(const QString &text, const QString &label, QString *why)
{
    JobVariant variant{label, {}};
    const QString where = QStringLiteral("variant ") + label + QStringLiteral(": ");
    if (text.trimmed().isEmpty()) {
        if (why)
            *why = where + QStringLiteral("names no setting");
        return std::nullopt;
    }
    for (const QString &piece : text.split(u',')) {
        if (IsVariantKeyStart(piece) || variant.settings.isEmpty()) {
            const qsizetype eq = piece.indexOf(u'=');
            if (eq <= 0) {
                if (why)
                    *why = where + QStringLiteral("'") + piece +
                           QStringLiteral("' is not KEY=VALUE (such as width=1600 or "
                                          "name=%name%_large)");
                return std::nullopt;
            }
            variant.settings.append({piece.left(eq).trimmed(), piece.mid(eq + 1)});
        } else {
            variant.settings.back().second += u',' + piece;
        }
    }
    // Whatever it cannot take is said now, while nothing has run.
    if (!VariantJob(Job(), variant, why))
        return std::nullopt;
    return variant;
}

QString VariantText(const JobVariant &variant)
{
    QStringList pieces;
    for (const auto &[key, value] : variant.settings)
        pieces << key + u'=' + value;
    return pieces.join(u',');
}

std::optional<Job> VariantJob(const Job &base, const JobVariant &variant, QString *why)
{
    auto fail = [&](const QString &text) -> std::optional<Job> {
        if (why)
            *why = QStringLiteral("variant ") + variant.label + QStringLiteral(": ") + text;
        return std::nullopt;
    };
    Job job = base.Detached();
    job.variants.clear();
    JobOptions options;
    for (const auto &[key, value] : variant.settings) {
        const QString name = QStringLiteral("--") + key;
        const JobSetting *jobSetting = FindJobOption(name);
        const std::optional<TaskOption> taskOption = FindTaskOption(name);
        if (!jobSetting && !taskOption)
            return fail(QStringLiteral("unknown key '") + key + u'\'');
        if (jobSetting && !jobSetting->perVariant)
            return fail(QStringLiteral("'") + key +
                        QStringLiteral("' applies to the whole batch, not to one variant"));
        if (taskOption && taskOption->kind->kind == TaskCreateSlideshow)
            return fail(QStringLiteral("a variant cannot make a slideshow"));
        const bool takesValue = jobSetting ? jobSetting->decl.kind != SettingKind::Switch
                                           : taskOption->TakesValue();
        if (!takesValue) {
            // A switch says yes or no ("grayscale=yes"); no undoes what the option sets.
            const std::optional<bool> on = value.isEmpty() ? true : ParseYesNo(value);
            if (!on)
                return fail(key + QStringLiteral(" needs yes or no, not '") + value + u'\'');
            if (!*on) {
                const SettingDecl &decl = jobSetting              ? jobSetting->decl
                                          : taskOption->enable     ? taskOption->kind->enable
                                          : taskOption->setting    ? taskOption->setting->decl
                                                                   : SettingDecl{};
                if (jobSetting)
                    jobSetting->set(job, YesNoText(!decl.optionSets));
                else if (taskOption->enable)
                    job.SetEnabled(taskOption->kind->kind, !decl.optionSets);
                else if (taskOption->setting)
                    taskOption->setting->set(*job.Record(taskOption->kind->kind),
                                             YesNoText(!decl.optionSets));
                continue;
            }
        }
        if (const QString refusal = options.Take(job, name, value); !refusal.isEmpty())
            return fail(refusal);
    }
    if (const QString refusal = options.Finish(job); !refusal.isEmpty())
        return fail(refusal);
    return job;
}
