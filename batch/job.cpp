#include "job.h"

#include "engine/pximage.h"
#include "batch/joboptions.h"
#include "batch/namepattern.h"
#include "tasks/pixortaslideshowtask.h"
#include "tasks/taskkinds.h"

#include <algorithm>

namespace {

// The words of Job::IfExists, in the order of its values.
const QStringList kIfExistsWords = {"overwrite", "skip", "rename"};

QStringList WritableExtensions()
{
    return QString::fromStdString(WritableExtensionList(",")).split(u',');
}

// onlyWhenOn: a job file carries the switch only when it is on, so the jobs written before it
// existed and those that leave it off read and write the same.
JobSetting Switch(SettingDecl decl, bool Job::*member, bool onlyWhenOn = false,
                  bool perVariant = false)
{
    decl.kind = SettingKind::Switch;
    JobSetting setting{decl, [member](const Job &j) { return YesNoText(j.*member); },
                       [member](Job &j, const QString &v) { j.*member = ParseYesNo(v).value_or(false); }};
    if (onlyWhenOn)
        setting.written = [member](const Job &j) { return j.*member; };
    setting.perVariant = perVariant;
    return setting;
}

QList<JobSetting> MakeJobSettings()
{
    return {
        {{.key = "format",
          .option = "--format",
          .kind = SettingKind::Choice,
          .choices = WritableExtensions(),
          .emptyMeans = "every file keeps its format",
          .valueName = "EXT",
          .help = "the format to write: jpg, bmp, gif, tif, png, webp, avif, heic or jxl, the "
                  "window's choices, or another extension the engine writes (see below); "
                  "without it every file keeps its format (JPEG is written at quality 90 unless "
                  "--quality says otherwise, GIF with at most 256 colours)",
          .refusal = "unknown format '%value%' (%choices%)"},
         [](const Job &j) { return j.format; }, [](Job &j, const QString &v) { j.format = v; },
         {}, {}, true},
        {{.key = "destination", .kind = SettingKind::Choice, .choices = {"in-place", "folder"}},
         [](const Job &j) {
             return j.destination == Job::Destination::InPlace ? QStringLiteral("in-place")
                                                               : QStringLiteral("folder");
         },
         [](Job &j, const QString &v) {
             j.destination = v == u"in-place" ? Job::Destination::InPlace : Job::Destination::Folder;
         },
         [](const Job &j) { return j.destination != Job::Destination::Unset; }},
        {{.key = "folder"}, [](const Job &j) { return j.outputFolder; },
         [](Job &j, const QString &v) { j.outputFolder = v; },
         [](const Job &j) { return j.destination == Job::Destination::Folder; }},
        {{.key = "name",
          .option = "--name",
          .kind = SettingKind::Text,
          .valueName = "PATTERN",
          .help = "name every result after PATTERN (the extension follows): %name% the "
                  "source's name, %ext% its extension, %n% a counter (%n:3% of three digits, "
                  "from --start), %date% the date it was taken (%date:yyyy-MM-dd hh.mm% in "
                  "any date format), %width% and %height% of the result, %folder% the name "
                  "of the source's folder, and the variables of --text; %% is a percent "
                  "sign. Characters a file name cannot hold become \"_\""},
         [](const Job &j) { return j.namePattern; }, [](Job &j, const QString &v) { j.namePattern = v; },
         [](const Job &j) { return !j.namePattern.isEmpty(); }, NamePatternProblem, true},
        {{.key = "start",
          .option = "--start",
          .kind = SettingKind::Number,
          .min = 0,
          .max = 999999999,
          .defaultValue = "1",
          .valueName = "N",
          .help = "the first number of %n% (default %default%)"},
         [](const Job &j) { return QString::number(j.counterStart); },
         [](Job &j, const QString &v) { j.counterStart = ParseWholeNumber(v).value_or(1); },
         [](const Job &j) { return j.counterStart != 1; }, {}, true},
        Switch({.key = "keep-folders",
                .option = "--keep-folders",
                .defaultValue = "no",
                .help = "put a file found inside a folder given at the same place under the "
                        "output folder, making the folders as needed (files given one by one "
                        "go to the top; no effect with --in-place)"},
               &Job::keepFolders, true),
        {{.key = "if-exists",
          .option = "--if-exists",
          .kind = SettingKind::Choice,
          .choices = kIfExistsWords,
          .defaultValue = "overwrite",
          .valueName = "WHAT",
          .help = "what happens where a result's file exists: overwrite it (after a backup; the "
                  "default), skip the image, or rename the result to a free name; where two "
                  "images of the batch would write one file the second is renamed under "
                  "overwrite"},
         [](const Job &j) { return kIfExistsWords.at(int(j.ifExists)); },
         [](Job &j, const QString &v) {
             j.ifExists = Job::IfExists(std::max<qsizetype>(0, kIfExistsWords.indexOf(v)));
         },
         [](const Job &j) { return j.ifExists != Job::IfExists::Overwrite; }},
        Switch({.key = "auto-orient",
                .option = "--auto-orient",
                .defaultValue = "no",
                .help = "turn a picture whose EXIF orientation is not 1 upright right after loading, "
                        "before any task (the mirrored orientations too); without it every "
                        "picture is taken as stored"},
               &Job::autoOrient),
        {{.key = "quality",
          .option = "--quality",
          .kind = SettingKind::Number,
          .min = 0,
          .max = 100,
          .hint = "(0: each format's own)",
          .defaultValue = "0",
          .valueName = "Q",
          .help = "the quality %min% to %max% of the formats that take one: JPEG, WebP, HEIC, "
                  "AVIF and JPEG XL; 0, the default, leaves each at its own (JPEG 90, WebP 75, "
                  "HEIC and AVIF at their encoder's, JPEG XL visually lossless)"},
         [](const Job &j) { return QString::number(j.quality); },
         [](Job &j, const QString &v) { j.quality = int(ParseWholeNumber(v).value_or(0)); },
         [](const Job &j) { return j.quality != 0; }, {}, true},
        Switch({.key = "lossless",
                .option = "--lossless",
                .defaultValue = "no",
                .help = "write WebP and JPEG XL without any loss: every pixel as it was "
                        "(--quality does not apply to them then)"},
               &Job::lossless, true, true),
        Switch({.key = "keep-metadata",
                .option = "--keep-metadata",
                .defaultValue = "no",
                .help = "copy the EXIF block (date, camera, exposure, position, ...), the XMP "
                        "packet and the ICC colour profile of a source into every result that "
                        "can hold them (JPEG, PNG, TIFF, WebP, HEIC, AVIF, JPEG XL); the EXIF "
                        "thumbnail is dropped, the pixel sizes are updated, and the orientation "
                        "becomes 1 once the picture is upright. Without it a picture with a "
                        "colour profile is brought to sRGB"},
               &Job::keepMetadata),
        Switch({.key = "strip-location",
                .option = "--strip-location",
                .defaultValue = "no",
                .help = "with --keep-metadata, leave out where a picture was taken: the EXIF "
                        "GPS block and the XMP location fields"},
               &Job::stripLocation, true),
        Switch({.key = "keep-dates",
                .option = "--keep-dates",
                .defaultValue = "no",
                .help = "give every written file its source's modification time"},
               &Job::keepDates, true),
        Switch({.key = "verify",
                .option = "--verify",
                .defaultValue = "no",
                .help = "read every written file back before it replaces anything; one that "
                        "does not come back at its size and depth is reported as \"Verify "
                        "failed :name\" and the file it would replace stays"},
               &Job::verify),
        {{.key = "notes",
          .option = "--notes",
          .kind = SettingKind::Text,
          .noun = "a file",
          .valueName = "FILE",
          .help = "notes for %Note%: one line per image, its path, a tab, the note (UTF-8; "
                  "relative paths are taken from the current folder)"},
         [](const Job &j) { return j.notesFile; }, [](Job &j, const QString &v) { j.notesFile = v; },
         [](const Job &j) { return !j.notesFile.isEmpty(); }},
    };
}

} // namespace

const QList<JobSetting> &JobSettings()
{
    static const QList<JobSetting> settings = MakeJobSettings();
    return settings;
}

const JobSetting *FindJobSetting(const QString &key)
{
    for (const JobSetting &s : JobSettings())
        if (key.compare(s.decl.key, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

Job::Job()
{
    for (const TaskKindInfo &kind : TaskKinds())
        tasks.append({std::shared_ptr<CPixortaTask>(kind.make()),
                      !kind.switchable || ParseYesNo(kind.enable.defaultValue).value_or(false)});
}

Job Job::Of(const QList<std::shared_ptr<CPixortaTask>> &records)
{
    Job job;
    job.tasks.clear();
    for (const std::shared_ptr<CPixortaTask> &record : records)
        job.tasks.append({record, true});
    return job;
}

void Job::PrepareForSave(PxImage &image) const
{
    image.SetSaveQuality(uint32_t(quality));
    if (quality > 0)
        image.SetJpegQuality(uint8_t(quality));
    image.SetLossless(lossless);
}

Job Job::Detached() const
{
    Job copy = *this;
    for (JobTask &t : copy.tasks)
        if (t.record)
            if (std::unique_ptr<CPixortaTask> clone = t.record->Clone())
                t.record = std::move(clone);
    return copy;
}

CPixortaTask *Job::Record(qint32 kind) const
{
    for (const JobTask &t : tasks)
        if (t.record && t.record->Kind() == kind)
            return t.record.get();
    return nullptr;
}

bool Job::IsEnabled(qint32 kind) const
{
    for (const JobTask &t : tasks)
        if (t.record && t.record->Kind() == kind)
            return t.enabled;
    return false;
}

void Job::SetTask(std::shared_ptr<CPixortaTask> record, bool enabled)
{
    for (JobTask &t : tasks)
        if (t.record && t.record->Kind() == record->Kind()) {
            t = {std::move(record), enabled};
            return;
        }
    tasks.append({std::move(record), enabled});
}

void Job::SetEnabled(qint32 kind, bool enabled)
{
    for (JobTask &t : tasks)
        if (t.record && t.record->Kind() == kind)
            t.enabled = enabled;
}

QList<CPixortaTask *> Job::Applied() const
{
    QList<CPixortaTask *> applied;
    for (const JobTask &t : tasks)
        if (t.record && t.enabled)
            applied << t.record.get();
    return applied;
}

QString JobProblem(const Job &job)
{
    auto sameName = [](const Job &j, const QString &where) {
        if (j.namePattern.isEmpty() || !NamePatternIsConstant(j.namePattern) ||
            j.ifExists == Job::IfExists::Rename)
            return QString();
        return where + QStringLiteral("the name pattern '") + j.namePattern +
               QStringLiteral("' gives every image the same name, which only works when a "
                              "taken name is renamed (--if-exists rename; each image after the "
                              "first gets a free name)");
    };
    if (job.variants.isEmpty())
        return sameName(job, QString());
    const auto *show = job.Find<CPixortaSlideShowTask>();
    if (show && show->m_create != 0 && job.IsEnabled(TaskCreateSlideshow))
        return QStringLiteral("a slideshow cannot be made from variants: the movie takes one "
                              "set of pictures");
    for (const JobVariant &variant : job.variants) {
        QString why;
        const std::optional<Job> j = VariantJob(job, variant, &why);
        if (!j)
            return why;
        if (const QString problem = sameName(*j, QStringLiteral("variant ") + variant.label +
                                                     QStringLiteral(": "));
            !problem.isEmpty())
            return problem;
    }
    return QString();
}
