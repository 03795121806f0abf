#include "batchoptions.h"

#include "batch/jobfile.h"
#include "batch/joboptions.h"
#include "core/bytesizes.h"
#include "engine/pxformats.h"
#include "tasks/movie/voicetrack.h"
#include "batch/targets.h"
#include "tasks/pixortaslideshowtask.h"
#include "tasks/pixortawatermarktask.h"
#include "tasks/taskkinds.h"

#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <cstdio>

namespace {

const char *const kUsage =
    "Usage: pixorta-batch [OPTIONS] (--output-folder DIR | --in-place | --job FILE) PATH...\n"
    "       pixorta-batch [OPTIONS] --save-job FILE\n"
    "       pixorta-batch (--undo [--yes] | --undo-list | --forget)\n";

// The help around the declared options: "@task NAME@" stands for a task's heading and
// options, "@job KEY@" for the option of one of the job's own settings, "@order@" for the
// order the tasks run in.
const char *const kHelpTemplate =
    "Processes image files the way Pixorta's \"Start!\" does, without a window.\n"
    "\n"
    "Each PATH is an image file or a folder; folders are searched with all their sub-folders\n"
    "for files with the extensions jpg, jpe, jp2, jpeg, gif, bmp, ico, tif, tiff, png, mng,\n"
    "tga, pcx, cur, webp, heic, heif, hif, avif and jxl (in any letter case). Every image is\n"
    "loaded, the tasks are applied and the result is saved. Every file that is overwritten is\n"
    "first backed up into the undo journal (see Undo below).\n"
    "\n"
    "Destination (exactly one):\n"
    "  --output-folder DIR  write every result into DIR (created if missing, one level)\n"
    "  --in-place           write results next to their sources; with the same format the\n"
    "                       source itself is replaced, and only when a task changed it\n"
    "\n"
    "Names and places:\n"
    "@job name@\n"
    "@job start@\n"
    "@job keep-folders@\n"
    "@job if-exists@\n"
    "  --variant SETTINGS   make a further result of every image, from the same load of it:\n"
    "                       SETTINGS are options without their \"--\", as KEY=VALUE\n"
    "                       separated by commas, that differ for this result (the task\n"
    "                       options, format, quality, lossless, name and start), such as\n"
    "                       'width=1600,name=%name%_large'; give it once per result. A\n"
    "                       switch takes yes or no (grayscale=yes).\n"
    "\n"
    "Output format:\n"
    "@job format@\n"
    "@job quality@\n"
    "@job lossless@\n"
    "\n"
    "@task Crop@\n"
    "\n"
    "@task Resize@\n"
    "\n"
    "@task Sharpen@\n"
    "\n"
    "@task Change colors@\n"
    "\n"
    "@task Add background@\n"
    "\n"
    "@task Add text@\n"
    "@job notes@\n"
    "\n"
    "@task Watermark@\n"
    "\n"
    "@order@ A colour C is #RRGGBB or R,G,B (each 0 to 255).\n"
    "\n"
    "@task Create slideshow@\n"
    "\n"
    "Before and after the tasks:\n"
    "  --dry-run            read only each file's header and print, for every image, where\n"
    "                       its result would go and what would happen there: \"new\",\n"
    "                       \"overwrites\", \"collides with\" another image of this batch\n"
    "                       (the result then gets a free name), \"skips\" or \"renames\"\n"
    "                       (with --if-exists), \"unchanged\" (nothing would be written)\n"
    "                       or \"unreadable\"; then a summary. Nothing is written and no\n"
    "                       folder is made.\n"
    "@job verify@\n"
    "@job auto-orient@\n"
    "@job keep-metadata@\n"
    "@job strip-location@\n"
    "@job keep-dates@\n"
    "\n"
    "Saved jobs:\n"
    "  --save-job FILE      write the task settings, the output format, the destination and\n"
    "                       the options above into FILE, a small INI file; without PATHs\n"
    "                       nothing else is done\n"
    "  --job FILE           run the job FILE holds; options given beside it override it\n"
    "\n"
    "Undo: before a file is overwritten it is copied into the undo journal, a folder only\n"
    "you may open: $XDG_STATE_HOME/pixorta/journal, or ~/.local/state/pixorta/journal; the\n"
    "files a batch makes are recorded there too. It keeps the last 10 batches, the window's\n"
    "among them, and survives the end of the run and a restart.\n"
    "  --undo               put back, byte for byte, every file the most recent batch\n"
    "                       overwrote, and remove the files it made that are still as it\n"
    "                       wrote them; again (or twice on one line) for the batch before.\n"
    "                       A file changed since the batch is overwritten only when you\n"
    "                       answer yes; a file it made that changed since stays.\n"
    "  --yes                with --undo: overwrite changed files without asking\n"
    "  --undo-list          list the batches that can be undone, newest first\n"
    "  --forget             delete every batch from the journal\n"
    "  --journal-limit SIZE the journal's batches may take SIZE together (default 2G; K, M,\n"
    "                       G and T count in 1024s); the oldest go first, and a batch\n"
    "                       that alone would back up more is not started\n"
    "  --no-journal         run without the undo journal: nothing the batch overwrites is\n"
    "                       kept (without a journal that can be used, and without this\n"
    "                       option, nothing is overwritten at all)\n"
    "\n"
    "Speed:\n"
    "  --jobs N             process up to N images at once (default: one per core this\n"
    "                       process may use; 1 processes one image at a time). The results,\n"
    "                       the lines printed and their order are the same for every N.\n"
    "\n"
    "  --help               show this text\n"
    "\n"
    "Output: one line per image as the processing window shows it (\"done :a.jpg\",\n"
    "\"   Saving failed :a.jpg\", ...), then the summary (\"Finished. No errors\").\n"
    "Exit status: 0 when there were no errors; 1 when an image failed (or would fail, with\n"
    "--dry-run), no image file was found, the output folder could not be created or an\n"
    "undo left a file as it was; 2 for bad options. Ctrl+C (or SIGTERM) stops before the\n"
    "next image and still prints the summary; what was overwritten until then can be\n"
    "undone. Why an image failed is printed on standard error.\n"
    "\n"
    "Examples:\n"
    "  pixorta-batch --format jpg --output-folder ~/converted ~/Pictures/holiday\n"
    "  pixorta-batch --resize 50% --output-folder small photo1.png photo2.png\n"
    "  pixorta-batch --width 800 --in-place ~/Pictures/web\n"
    "  pixorta-batch --grayscale --blue 120 --output-folder toned ~/Pictures/holiday\n"
    "  pixorta-batch --margins 5 --background-color '#f0e8d8' --output-folder framed *.jpg\n"
    "  pixorta-batch --crop-aspect 3:2 --crop-match-orientation --output-folder prints *.jpg\n"
    "  pixorta-batch --crop-rect 100,50,1200,800 --output-folder cut *.jpg\n"
    "  pixorta-batch --crop-margins 5,10,5,10 --output-folder trimmed *.jpg\n"
    "  pixorta-batch --sharpen 80,1.0,2 --width 1600 --output-folder web ~/Pictures/holiday\n"
    "  pixorta-batch --watermark logo.png --watermark-opacity 60 --output-folder marked *.jpg\n"
    "  pixorta-batch --text '%fTitle%' --text-halign right --output-folder named *.jpg\n"
    "  pixorta-batch --slideshow --appear \"Lighten,Zoom in\" --disappear Darken --pause 3 \\\n"
    "                --output-folder ~/show ~/Pictures/holiday\n"
    "  pixorta-batch --dry-run --format jpg --output-folder ~/converted ~/Pictures/holiday\n"
    "  pixorta-batch --verify --resize 50% --in-place ~/Pictures/web\n"
    "  pixorta-batch --auto-orient --keep-metadata --width 1600 --output-folder ~/small \\\n"
    "                ~/Pictures/camera\n"
    "  pixorta-batch --name '%date% Rome %n:3%' --output-folder ~/rome ~/Pictures/rome\n"
    "  pixorta-batch --keep-folders --width 1600 --output-folder ~/small ~/Pictures/holiday\n"
    "  pixorta-batch --variant 'width=1600,name=%name%_large' \\\n"
    "                --variant 'width=400,name=%name%_thumb' --output-folder web *.jpg\n"
    "  pixorta-batch --resize 50% --format jpg --output-folder web --save-job web.ini\n"
    "  pixorta-batch --job web.ini --output-folder web-new ~/Pictures/new\n"
    "  pixorta-batch --undo-list\n"
    "  pixorta-batch --undo\n"
    "  pixorta-batch --undo --yes\n"
    "  pixorta-batch --forget\n"
    "  pixorta-batch --journal-limit 500M --width 800 --in-place ~/Pictures/web\n";

// A number option of the tool itself, refused in the words of a declared number.
std::optional<qint64> ToolNumber(const SettingDecl &decl, const QString &value, QString *error)
{
    const std::optional<QString> n = NormalizeSetting(decl, value);
    if (!n) {
        *error = SettingRefusal(decl.option, decl, value);
        return std::nullopt;
    }
    return n->toLongLong();
}

// --- help ----------------------------------------------------------------------------------

QString AliasHelp(const TaskKindInfo &kind, const TaskOptionAlias &alias)
{
    SettingDecl decl;
    QStringList defaults;
    for (const QString &target : alias.sets)
        if (const TaskSetting *s = FindSetting(kind.settings(), target.section(u'=', 0, 0))) {
            decl = s->decl;
            if (!target.contains(u'='))
                defaults << SettingDisplayValue(s->decl, s->decl.defaultValue);
        }
    // A value in parts has the parts' defaults for its default ("1:1").
    if (!alias.separator.isNull()) {
        decl.kind = SettingKind::Text;
        decl.defaultValue = defaults.join(alias.separator);
    }
    decl.help = alias.help;
    // "%range:KEY%" stands for the range one of the settings it sets declares.
    QString help = SettingHelp(decl);
    static const QRegularExpression range(QStringLiteral("%range:([a-z-]+)%"));
    for (QRegularExpressionMatch m = range.match(help); m.hasMatch(); m = range.match(help)) {
        const TaskSetting *s = FindSetting(kind.settings(), m.captured(1));
        const QString text = s ? DecimalText(s->decl.min, s->decl.decimals) + QStringLiteral(" to ") +
                                     DecimalText(s->decl.max, s->decl.decimals)
                               : QString();
        help.replace(m.capturedStart(), m.capturedLength(), text);
    }
    return help;
}

// Each option of the task, in declared order, as format(option, value name, help) gives it.
template <class Format> QString TaskOptions(const TaskKindInfo &kind, Format format)
{
    QString out;
    if (kind.switchable && !kind.enable.option.isEmpty())
        out += format(kind.enable.option, QString(), SettingHelp(kind.enable));
    auto aliasesBefore = [&](const QString &key) {
        for (const TaskOptionAlias &a : kind.aliases)
            if (a.before == key)
                out += format(a.option, a.valueName, AliasHelp(kind, a));
    };
    for (const TaskSetting &s : kind.settings()) {
        aliasesBefore(s.decl.key);
        if (!s.decl.option.isEmpty())
            out += format(s.decl.option, s.decl.valueName, SettingHelp(s.decl));
    }
    aliasesBefore(QString());
    return out;
}

template <class Format>
QString FillTemplate(const QString &text, Format format, bool headings)
{
    QString out;
    qsizetype at = 0;
    for (;;) {
        const qsizetype open = text.indexOf(u'@', at);
        const qsizetype close = open < 0 ? -1 : text.indexOf(u'@', open + 1);
        if (close < 0) {
            out += text.mid(at);
            return out;
        }
        const QString marker = text.mid(open + 1, close - open - 1);
        QString filled;
        if (marker.startsWith(QLatin1String("task "))) {
            const TaskKindInfo *kind = FindTaskKind(marker.mid(5));
            if (kind) {
                if (headings)
                    filled = kind->helpHeading + u'\n';
                filled += TaskOptions(*kind, format);
            }
        } else if (marker.startsWith(QLatin1String("job "))) {
            if (const JobSetting *s = FindJobSetting(marker.mid(4)))
                filled = format(s->decl.option, s->decl.valueName, SettingHelp(s->decl));
        } else if (marker == u"order") {
            QStringList names;
            for (const TaskKindInfo &kind : TaskKinds())
                if (kind.kind != TaskCreateSlideshow)
                    names << kind.Name();
            filled = QStringLiteral("Tasks run in the order ") + names.join(QStringLiteral(", ")) +
                     QStringLiteral(", so the text is placed on the background's canvas and the "
                                    "watermark over both.");
        } else {
            // Not a marker: an "@" of the text itself.
            out += text.mid(at, close - at);
            at = close;
            continue;
        }
        out += text.mid(at, open - at) + filled;
        at = close + 1;
        // A marker stands on a line of its own.
        if (at < text.size() && text[at] == u'\n')
            ++at;
    }
}

QStringList WritableExtensions()
{
    return QString::fromStdString(WritableExtensionList(",")).split(u',');
}

} // namespace

QString BatchUsage()
{
    return QString::fromLatin1(kUsage);
}

int UsageError(const QString &message)
{
    std::fprintf(stderr, "pixorta-batch: %s\n%s%s", qPrintable(message), qPrintable(BatchUsage()),
                 "Try 'pixorta-batch --help' for more information.\n");
    return 2;
}

QString BatchHelp()
{
    QString help = FillTemplate(QString::fromUtf8(kHelpTemplate), HelpLines, true);
    // Long headings are wrapped like everything else.
    QStringList lines;
    for (const QString &line : help.split(u'\n')) {
        if (line.size() <= 88 || line.startsWith(u' ')) {
            lines << line;
            continue;
        }
        QString rest = line;
        while (rest.size() > 88) {
            qsizetype cut = rest.lastIndexOf(u' ', 88);
            if (cut <= 0)
                break;
            lines << rest.left(cut);
            rest = rest.mid(cut + 1);
        }
        lines << rest;
    }
    return BatchUsage() + u'\n' + lines.join(u'\n') +
           QStringLiteral("\nExtensions --format accepts: ") +
           WritableExtensions().join(QStringLiteral(", ")) + u'\n';
}

QString BatchManPage(const QString &manTemplate)
{
    return FillTemplate(manTemplate, ManEntry, false);
}

bool ParseBatchRequest(const QStringList &arguments, BatchRequest *request, QString *error)
{
    BatchRequest &r = *request;
    r.given = arguments;
    QStringList args = arguments;
    auto fail = [error](const QString &why) {
        *error = why;
        return false;
    };

    // A saved job first: every option beside it overrides what it holds.
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--"))
            break;
        if (args[i] != QLatin1String("--job"))
            continue;
        if (i + 1 >= args.size())
            return fail(QStringLiteral("--job needs a job file"));
        QString why;
        if (!ReadJobFile(args[i + 1], &r.job, &why))
            return fail(why);
        args.remove(i, 2);
        --i;
    }

    static const SettingDecl jobs = {.option = "--jobs",
                                     .kind = SettingKind::Number,
                                     .min = 1,
                                     .max = 1024,
                                     .noun = "a number of images"};
    bool inPlace = false, folder = false, optionsEnded = false, variantsGiven = false;
    JobOptions options;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        QString v;
        auto value = [&](QString *out) {
            if (i + 1 >= args.size())
                return false;
            *out = args[++i];
            return true;
        };
        if (optionsEnded || !a.startsWith(u'-') || a == QLatin1String("-")) {
            r.paths << a;
        } else if (a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            r.help = true;
            return true;
        } else if (a == QLatin1String("--output-folder")) {
            if (!value(&v) || v.isEmpty())
                return fail(QStringLiteral("--output-folder needs a folder"));
            r.job.destination = Job::Destination::Folder;
            r.job.outputFolder = v;
            folder = true;
        } else if (a == QLatin1String("--in-place")) {
            r.job.destination = Job::Destination::InPlace;
            inPlace = true;
        } else if (a == QLatin1String("--jobs")) {
            if (!value(&v))
                return fail(SettingRefusal(a, jobs, v));
            QString why;
            const std::optional<qint64> n = ToolNumber(jobs, v, &why);
            if (!n)
                return fail(why);
            r.job.workers = int(*n);
        } else if (a == QLatin1String("--dry-run")) {
            r.dryRun = true;
        } else if (a == QLatin1String("--save-job")) {
            if (!value(&v) || v.isEmpty())
                return fail(QStringLiteral("--save-job needs a file"));
            if (QString why; !MaySaveJobAt(v, &why))
                return fail(QStringLiteral("--save-job: ") + why);
            r.saveJob = v;
        } else if (a == QLatin1String("--undo")) {
            ++r.undo;
        } else if (a == QLatin1String("--yes")) {
            r.yes = true;
        } else if (a == QLatin1String("--undo-list")) {
            r.undoList = true;
        } else if (a == QLatin1String("--forget")) {
            r.forget = true;
        } else if (a == QLatin1String("--no-journal")) {
            r.noJournal = true;
        } else if (a == QLatin1String("--journal-limit")) {
            if (!value(&v) || (r.journalLimit = ParseByteSize(v)) < 0)
                return fail(QStringLiteral("--journal-limit needs a size such as 2G, 500M or 1048576"));
        } else if (a == QLatin1String("--variant")) {
            if (!value(&v))
                return fail(QStringLiteral("--variant needs settings such as "
                                           "'width=1600,name=%name%_large'"));
            if (!variantsGiven) {
                // Variants given here replace those of a job file.
                r.job.variants.clear();
                variantsGiven = true;
            }
            QString why;
            const std::optional<JobVariant> variant =
                ParseVariant(v, QString::number(r.job.variants.size() + 1), &why);
            if (!variant)
                return fail(why);
            r.job.variants.append(*variant);
        } else if (const std::optional<bool> takesValue = JobOptions::TakesValue(a)) {
            if (*takesValue && !value(&v))
                return fail(a + QStringLiteral(" needs a value"));
            if (const QString why = options.Take(r.job, a, v); !why.isEmpty())
                return fail(why);
        } else {
            return fail(QStringLiteral("unknown option '") + a + u'\'');
        }
    }

    // The undo journal's own commands stand alone.
    if (r.undo > 0 || r.undoList || r.forget) {
        if (int(r.undo > 0) + int(r.undoList) + int(r.forget) > 1)
            return fail(QStringLiteral("choose one of --undo, --undo-list and --forget"));
        if (!r.paths.isEmpty())
            return fail(QStringLiteral("--undo, --undo-list and --forget take no files"));
        return true;
    }
    if (r.yes)
        return fail(QStringLiteral("--yes goes with --undo"));
    if (inPlace && folder)
        return fail(QStringLiteral("choose exactly one of --output-folder DIR and --in-place"));

    if (const QString why = options.Finish(r.job); !why.isEmpty())
        return fail(why);
    if (const QString why = JobProblem(r.job); !why.isEmpty())
        return fail(why);
    const QMap<qint32, QSet<QString>> &given = options.Given();

    // The voice track, named here or in the job, is checked now, while the batch has written
    // nothing, by the movie writer's own rules: a track the movie could not carry would
    // otherwise leave it silent.
    for (CPixortaTask *task : r.job.Applied())
        if (auto *show = dynamic_cast<CPixortaSlideShowTask *>(task); show && show->UsesVoiceFile()) {
            const QString name = given.value(TaskCreateSlideshow).contains(QStringLiteral("voice"))
                                     ? QStringLiteral("--voice")
                                     : QStringLiteral("voice");
            if (const QString problem = VoiceTrackProblem(show->m_voiceFile); !problem.isEmpty())
                return fail(name + QStringLiteral(": ") +
                            VoiceTrackRefusal(show->m_voiceFile, problem));
            show->m_voiceFile = QFileInfo(show->m_voiceFile).absoluteFilePath();
        }

    // So is the watermark's picture, in the job and in every variant: a batch that could lay
    // it over no image at all is not begun. Whether the file holds a picture is found out by
    // the batch, which then says so for every image.
    for (const BatchOutput &output : BatchOutputsOf(r.job))
        for (CPixortaTask *task : output.tasks)
            if (const auto *mark = dynamic_cast<const CPixortaWatermarkTask *>(task))
                if (const QString why = WatermarkFileProblem(mark->m_file); !why.isEmpty())
                    return fail((given.value(TaskWatermark).contains(QStringLiteral("file"))
                                     ? QStringLiteral("--watermark: ")
                                     : QStringLiteral("watermark: ")) +
                                why);
    for (CPixortaTask *task : r.job.Applied())
        if (auto *mark = dynamic_cast<CPixortaWatermarkTask *>(task))
            mark->m_file = QFileInfo(mark->m_file).absoluteFilePath();

    return true;
}
