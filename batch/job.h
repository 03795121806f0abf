#pragma once
// One job: every task's record, the output format, the destination and the options of a
// batch. The window makes one from its panels, a job file from its sections and the command
// line from its options; the runner, the plan and the job file read it. The images are not
// part of it: the same job runs on whatever files it is given.

#include "core/notelookup.h"
#include "core/settingdecl.h"
#include "tasks/pixortatask.h"

class PxImage;

#include <QHash>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

struct JobTask {
    // Shared, not copied: a record is only read once it is made (see CPixortaTask), so the
    // plan, the runner and every worker may hold the same one.
    std::shared_ptr<CPixortaTask> record;
    // Only a switchable task can be off; an empty slot or a task that is off takes no part.
    bool enabled = true;
};

// A further set of outputs of the same batch: the options that differ from the job's, as the
// command line gives them without their "--" ("width", "format", "name"), in order.
struct JobVariant {
    QString label;
    QList<std::pair<QString, QString>> settings;
    bool operator==(const JobVariant &) const = default;
};

struct Job {
    enum class Destination { Unset, InPlace, Folder };
    // What happens where a result's name is taken: by a file, or by another image of the batch.
    enum class IfExists { Overwrite, Skip, Rename };

    // Every task kind's record at its declared defaults, in task order, the switchable ones
    // switched as their kind declares.
    Job();
    // A job of exactly these records in this order (a batch of records made by hand).
    static Job Of(const QList<std::shared_ptr<CPixortaTask>> &records);

    // In task order.
    QList<JobTask> tasks;

    // "" keeps every file's format; otherwise an extension the engine writes ("jpg", ...).
    QString format;
    Destination destination = Destination::Unset;
    QString outputFolder;
    // A picture whose EXIF orientation is not 1 is turned upright right after loading.
    bool autoOrient = false;
    // 1 to 100 for the formats that take a quality (JPEG, WebP, HEIC, AVIF, JPEG XL); 0 leaves
    // each at its own default (JPEG 90).
    int quality = 0;
    // WebP and JPEG XL store the pixels exactly.
    bool lossless = false;
    // A source's EXIF block (without its thumbnail), XMP packet and ICC profile go into every
    // result whose format can hold them.
    bool keepMetadata = false;
    // With keepMetadata: the GPS block and the XMP location fields are left out.
    bool stripLocation = false;
    // Every written file gets its source's modification time.
    bool keepDates = false;
    // Every encoded file is read back before it replaces anything.
    bool verify = false;
    // The notes file of the command line, as given.
    QString notesFile;
    // The results' base names (see batch/namepattern.h); "" keeps each source's.
    QString namePattern;
    // What %n% counts from.
    qint64 counterStart = 1;
    // A file found inside a folder that was added goes to the same place under the output
    // folder.
    bool keepFolders = false;
    IfExists ifExists = IfExists::Overwrite;
    // Each makes its own results of every image, from one load of it; none: the job's tasks
    // make the only ones.
    QList<JobVariant> variants;

    // Not saved with the job: how it runs.
    // The notes of the images by path; when set, every record gets them before the first image.
    NoteLookupPtr notes{};
    // Images processed at once; 0 means one per core this process may use.
    int workers = 0;
    // For images found inside a folder that was added: the folder they were found in, relative
    // to it ("2026/Rome"), by path. Images added on their own are not in it.
    std::shared_ptr<const QHash<QString, QString>> foundIn{};
    QString FoundIn(const QString &path) const { return foundIn ? foundIn->value(path) : QString(); }

    // A copy whose records are copies too, so that changing them leaves this job as it is
    // (a plain copy shares the records).
    Job Detached() const;

    // The record of that kind, or none.
    CPixortaTask *Record(qint32 kind) const;
    template <class R> R *Find() const
    {
        for (const JobTask &t : tasks)
            if (auto *r = dynamic_cast<R *>(t.record.get()))
                return r;
        return nullptr;
    }
    bool IsEnabled(qint32 kind) const;
    // Puts record in the place of its kind's record.
    void SetTask(std::shared_ptr<CPixortaTask> record, bool enabled = true);
    void SetEnabled(qint32 kind, bool enabled);
    // The records a batch applies, in task order.
    QList<CPixortaTask *> Applied() const;
    // Hands image what the job asks of the encoder (quality, lossless) before it is saved.
    void PrepareForSave(PxImage &image) const;
    // The results go into a folder of their own rather than beside their sources.
    QString ResultFolder() const
    {
        return destination == Destination::Folder ? outputFolder : QString();
    }
};

// A setting of the job itself (the [Job] section of a job file).
struct JobSetting {
    SettingDecl decl;
    std::function<QString(const Job &)> get;
    std::function<void(Job &, const QString &)> set;
    // Whether a job file writes it; none: always.
    std::function<bool(const Job &)> written{};
    // Why a value the declaration lets through still cannot be used; none: every such value can.
    std::function<QString(const QString &)> problem{};
    // A variant may set it for its own outputs.
    bool perVariant = false;
};
// In the order a job file writes them.
const QList<JobSetting> &JobSettings();
const JobSetting *FindJobSetting(const QString &key);

// Why the job as a whole cannot run, though each of its settings can ("" when it can): a name
// that every image would get, without the choice to rename; variants beside a slideshow.
QString JobProblem(const Job &job);
