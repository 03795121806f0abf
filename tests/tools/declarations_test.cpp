// Every declared setting, walked once: the command line, a job file and the task's panel start
// at the declared default, take both ends of a range, and refuse one step beyond each end in
// the same words.
#include "batch/jobfile.h"
#include "tasks/pixortaspinedit.h"
#include "tasks/taskkinds.h"
#include "tasks/taskpanels.h"
#include "tests/support/testsupport.h"
#include "tools/batchoptions.h"
#include "tooltests.h"

#include <QAbstractButton>
#include <QFile>
#include <gtest/gtest.h>

namespace {

// The master switch of a switchable task's panel.
const char *MasterOf(qint32 kind)
{
    switch (kind) {
    case TaskAddBackground: return "addBackground";
    case TaskCrop: return "cropSwitch";
    case TaskSharpen: return "sharpenSwitch";
    case TaskWatermark: return "watermarkSwitch";
    default: return nullptr;
    }
}

// Settings a panel has no control of their own for: the font's lines are only a job's, and
// the canvas follows the background's switch. The voice track has no control either, but the
// panel keeps an opened job's, so it is checked like the rest.
bool PanelLeavesIt(qint32 kind, const QString &key)
{
    return (kind == TaskAddText && (key == u"underline" || key == u"strikeout")) ||
           (kind == TaskAddBackground && key == u"background");
}

struct Parsed {
    bool ok = false;
    QString error;
    Job job;
};

Parsed Parse(QStringList args)
{
    Parsed p;
    BatchRequest request;
    p.ok = ParseBatchRequest(args << "--in-place" << "x.jpg", &request, &p.error);
    p.job = request.job;
    return p;
}

// A job file of a [Job] section and, when key is given, one line in the task's section.
Parsed ReadJob(const TempFolder &dir, const QString &section, const QString &key,
               const QString &value)
{
    QFile file(dir.File("job.ini"));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QString text = QStringLiteral("[Job]\nversion=1\n");
    if (!key.isEmpty())
        text += u'[' + section + QStringLiteral("]\n") + key + u'=' + value + u'\n';
    file.write(text.toUtf8());
    file.close();
    Parsed p;
    p.ok = ReadJobFile(dir.File("job.ini"), &p.job, &p.error);
    return p;
}

QString ValueIn(const Job &job, qint32 kind, const TaskSetting &setting)
{
    const CPixortaTask *record = job.Record(kind);
    return record ? setting.get(*record) : QStringLiteral("<no record>");
}

// What each kind of setting takes and what it refuses.
struct Probe {
    QStringList accepted, refused;
};

Probe ProbeOf(const SettingDecl &decl)
{
    switch (decl.kind) {
    case SettingKind::Number:
        if (decl.decimals > 0)
            return {{DecimalText(decl.min, decl.decimals), DecimalText(decl.max, decl.decimals)},
                    {DecimalText(decl.min - 1, decl.decimals),
                     DecimalText(decl.max + 1, decl.decimals), "12x",
                     DecimalText(decl.min, decl.decimals) + u'1'}};
        return {{QString::number(decl.min), QString::number(decl.max)},
                {QString::number(decl.min - 1), QString::number(decl.max + 1), "12x"}};
    case SettingKind::Switch:
        return {{"yes", "no"}, {"maybe"}};
    case SettingKind::Colour:
        return {{"#000000", "#ffffff", "12,34,56"}, {"#12345", "1,2,256"}};
    case SettingKind::Choice:
        return {{decl.choices.front(), decl.choices.back()}, {"nonsense"}};
    case SettingKind::Font:
        return {{"DejaVu Serif"}, {""}};
    case SettingKind::Text:
        return {{"some words"}, {}};
    }
    return {};
}

class Declarations : public ::testing::Test {
protected:
    TempFolder dir;
};

TEST_F(Declarations, EveryTaskSettingStartsAtItsDefaultEverywhere)
{
    const Parsed cli = Parse({});
    ASSERT_TRUE(cli.ok) << cli.error.toStdString();
    const Parsed file = ReadJob(dir, QString(), QString(), QString());
    ASSERT_TRUE(file.ok) << file.error.toStdString();
    QWidget window;
    for (const TaskKindInfo &kind : TaskKinds()) {
        SCOPED_TRACE(kind.Name().toStdString());
        const std::unique_ptr<CPixortaProcessorBaseDlg> panel = CreateTaskPanel(kind.kind, &window);
        ASSERT_TRUE(panel);
        EXPECT_EQ(panel->IsTaskEnabled(), ParseYesNo(kind.enable.defaultValue).value_or(true));
        EXPECT_EQ(cli.job.IsEnabled(kind.kind), panel->IsTaskEnabled());
        EXPECT_EQ(file.job.IsEnabled(kind.kind), panel->IsTaskEnabled());
        // A switched-off panel hands out its colours switched off; switched on, its defaults.
        if (const char *master = MasterOf(kind.kind))
            panel->findChild<QAbstractButton *>(QLatin1String(master))->setChecked(true);
        const std::unique_ptr<CPixortaTask> fromPanel = panel->CreateTask();
        const std::unique_ptr<CPixortaTask> fresh = kind.make();
        for (const TaskSetting &s : kind.settings()) {
            SCOPED_TRACE(s.decl.key.toStdString());
            ASSERT_TRUE(NormalizeSetting(s.decl, s.decl.defaultValue)) << "a default it refuses";
            EXPECT_EQ(s.get(*fresh), s.decl.defaultValue);
            EXPECT_EQ(ValueIn(cli.job, kind.kind, s), s.decl.defaultValue);
            EXPECT_EQ(ValueIn(file.job, kind.kind, s), s.decl.defaultValue);
            EXPECT_EQ(s.get(*fromPanel), s.decl.defaultValue);
        }
    }
}

TEST_F(Declarations, CommandLineAndJobFileTakeAndRefuseAlike)
{
    for (const TaskKindInfo &kind : TaskKinds()) {
        for (const TaskSetting &s : kind.settings()) {
            SCOPED_TRACE((kind.Name() + u' ' + s.decl.key).toStdString());
            const Probe probe = ProbeOf(s.decl);
            const bool valueOption = !s.decl.option.isEmpty() && s.decl.kind != SettingKind::Switch;
            // The slideshow's options need it switched on, the watermark's a picture.
            QStringList before;
            if (!kind.optionsNeed.isEmpty()) {
                const SettingDecl &need = FindSetting(kind.settings(), kind.optionsNeed)->decl;
                before << need.option;
                if (need.kind != SettingKind::Switch) {
                    MakeImage(dir.File("mark.png"), 4, 3);
                    before << dir.File("mark.png");
                }
            }
            // Files the command line looks for at once are checked apart.
            const bool looksForFile = s.decl.key == u"voice" || kind.optionsNeed == s.decl.key;
            for (const QString &v : probe.accepted) {
                SCOPED_TRACE(v.toStdString());
                const QString expected = *NormalizeSetting(s.decl, v);
                const Parsed file = ReadJob(dir, kind.Name(), s.decl.key, v);
                EXPECT_TRUE(file.ok) << file.error.toStdString();
                EXPECT_EQ(ValueIn(file.job, kind.kind, s), expected);
                if (valueOption && !looksForFile) {
                    const Parsed cli = Parse(before + QStringList{s.decl.option, v});
                    EXPECT_TRUE(cli.ok) << cli.error.toStdString();
                    EXPECT_EQ(ValueIn(cli.job, kind.kind, s), expected);
                }
            }
            for (const QString &v : probe.refused) {
                SCOPED_TRACE(v.toStdString());
                const Parsed file = ReadJob(dir, kind.Name(), s.decl.key, v);
                EXPECT_FALSE(file.ok);
                const QString words = SettingRefusal(s.decl.key, s.decl, v);
                EXPECT_TRUE(file.error.endsWith(u'[' + kind.Name() + QStringLiteral("] ") + words))
                    << file.error.toStdString();
                if (valueOption) {
                    const Parsed cli = Parse(before + QStringList{s.decl.option, v});
                    EXPECT_FALSE(cli.ok);
                    EXPECT_EQ(cli.error, SettingRefusal(s.decl.option, s.decl, v));
                    // The same words after the name of what was given.
                    EXPECT_EQ(cli.error.mid(s.decl.option.size()), words.mid(s.decl.key.size()));
                }
            }
            // A switch's option takes no value: it sets what its declaration says.
            if (!s.decl.option.isEmpty() && s.decl.kind == SettingKind::Switch) {
                const Parsed cli = Parse({s.decl.option});
                ASSERT_TRUE(cli.ok) << cli.error.toStdString();
                EXPECT_EQ(ValueIn(cli.job, kind.kind, s), YesNoText(s.decl.optionSets));
            }
        }
    }
}

TEST_F(Declarations, PanelsTakeBothEndsAndTheirEditsStopThere)
{
    QWidget window;
    for (const TaskKindInfo &kind : TaskKinds()) {
        const std::unique_ptr<CPixortaProcessorBaseDlg> panel = CreateTaskPanel(kind.kind, &window);
        ASSERT_TRUE(panel);
        for (const TaskSetting &s : kind.settings()) {
            if (PanelLeavesIt(kind.kind, s.decl.key))
                continue;
            SCOPED_TRACE((kind.Name() + u' ' + s.decl.key).toStdString());
            for (const QString &v : ProbeOf(s.decl).accepted) {
                SCOPED_TRACE(v.toStdString());
                std::unique_ptr<CPixortaTask> record = kind.make();
                // The sizes of a resize are shown only in constant mode.
                if (kind.kind == TaskResize && s.decl.key != u"percentage" && s.decl.key != u"mode")
                    FindSetting(kind.settings(), "mode")->set(*record, "constant");
                if (kind.kind == TaskResize && s.decl.key == u"mode" && v == u"none")
                    continue; // the panel has no control for "no resize"
                s.set(*record, *NormalizeSetting(s.decl, v));
                panel->SetFromTask(*record, true);
                const std::unique_ptr<CPixortaTask> back = panel->CreateTask();
                EXPECT_EQ(s.get(*back), s.get(*record));
            }
            if (s.decl.kind != SettingKind::Number)
                continue;
            // The edit showing this setting: the one that changes with it.
            std::unique_ptr<CPixortaTask> record = kind.make();
            if (kind.kind == TaskResize && s.decl.key != u"percentage")
                FindSetting(kind.settings(), "mode")->set(*record, "constant");
            const qint64 marker = s.decl.max > 900000 ? 987654 : (s.decl.min + s.decl.max) / 2;
            s.set(*record, DecimalText(marker, s.decl.decimals));
            panel->SetFromTask(*record, true);
            CPixortaSpinEdit *edit = nullptr;
            for (CPixortaSpinEdit *e : panel->findChildren<CPixortaSpinEdit *>())
                if (e->text() == QString::number(marker))
                    edit = e;
            if (!edit)
                continue; // not a spin edit: a slider's edit or the font chooser
            EXPECT_EQ(edit->Minimum(), s.decl.min);
            EXPECT_EQ(edit->Maximum(), s.decl.max);
            edit->setText(QString::number(s.decl.min));
            edit->stepBy(-1);
            EXPECT_EQ(edit->Value(), s.decl.min);
            edit->setText(QString::number(s.decl.max));
            edit->stepBy(1);
            EXPECT_EQ(edit->Value(), s.decl.max);
        }
    }
}

TEST_F(Declarations, TheJobsOwnSettingsStartAtTheirDefaults)
{
    const Parsed cli = Parse({});
    ASSERT_TRUE(cli.ok);
    const Job fresh;
    for (const JobSetting &s : JobSettings()) {
        SCOPED_TRACE(s.decl.key.toStdString());
        if (s.decl.key == u"destination" || s.decl.key == u"folder")
            continue; // the command line's --in-place sets them
        EXPECT_EQ(s.get(fresh), s.decl.defaultValue);
        EXPECT_EQ(s.get(cli.job), s.decl.defaultValue);
        if (!s.decl.option.isEmpty() && s.decl.kind == SettingKind::Switch) {
            const Parsed on = Parse({s.decl.option});
            ASSERT_TRUE(on.ok);
            EXPECT_EQ(s.get(on.job), "yes");
        }
    }
}

// The ranges the two once disagreed about, end to end: exit status 2, nothing written.
TEST_F(Declarations, AMovieOutOfRangeIsRefusedByTheToolAndInAJob)
{
    MakeImage(dir.File("a.png"), 8, 6);
    const struct {
        const char *option;
        const char *key;
        const char *value;
    } cases[] = {{"--movie-width", "width", "0"},
                 {"--movie-quality", "quality", "200"},
                 {"--movie-quality", "quality", "4"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + c.value);
        const Outcome cli = PixortaBatch({"--slideshow", c.option, c.value, "--output-folder",
                                          dir.File("out"), dir.File("a.png")});
        EXPECT_EQ(cli.status, 2);
        QFile job(dir.File("movie.ini"));
        ASSERT_TRUE(job.open(QIODevice::WriteOnly | QIODevice::Truncate));
        job.write(QStringLiteral("[Job]\nversion=1\n[Create slideshow]\ncreate=yes\n%1=%2\n")
                      .arg(QLatin1String(c.key), QLatin1String(c.value))
                      .toUtf8());
        job.close();
        const Outcome file = PixortaBatch(
            {"--job", dir.File("movie.ini"), "--output-folder", dir.File("out"), dir.File("a.png")});
        EXPECT_EQ(file.status, 2);
        const QString words = QStringLiteral(" needs ") +
                              (QLatin1String(c.key) == u"width" ? "a number of pixels from 1 to 16384"
                                                                : "a percentage from 5 to 100") +
                              QStringLiteral(", not '") + c.value + u'\'';
        EXPECT_TRUE(cli.err.contains(QLatin1String(c.option) + words)) << cli.err.toStdString();
        EXPECT_TRUE(file.err.contains(QLatin1String(c.key) + words)) << file.err.toStdString();
        EXPECT_FALSE(QFile::exists(dir.File("out")));
    }
}

} // namespace
