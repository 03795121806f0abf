#pragma once
// What a batch would do, worked out before it runs and without changing anything: for every
// image, where its result would go and what would happen there. Only each file's header is
// read (its format and size), never its pixels, and the tasks judge from their settings alone,
// so a plan of thousands of photos takes moments. The processing itself can still fail where
// the header could not tell (a file cut short after its header, a full disk).

#include "batchrunner.h"

#include <QList>
#include <QString>

struct PlanRow {
    enum class Kind {
        New,          // nothing stands at the target yet
        Overwrites,   // a file stands there and would be replaced (after a backup)
        CollidesWith, // another image of this batch writes there too, or is the file there
        Unchanged,    // nothing would be written for this image
        Unreadable,   // the file's header cannot be read
        Fails,        // the result could not be written there (a folder, a protected file)
        Skips,        // the place is taken and the job skips such images
        Renames,      // the place is taken and the result goes to a free name beside it
    };
    QString source;
    QString target;
    Kind kind = Kind::Unchanged;
    // The other image's path for CollidesWith; why, for Unreadable, Fails, Skips and Renames.
    QString detail;
    // For CollidesWith: the free name the result then gets.
    QString renamedTo;
    // The variant the row is about; "" for the job's own results.
    QString variant;
    // From the header.
    QString format;
    quint32 width = 0;
    quint32 height = 0;
};

// The plan of job on the images, one row per image in its order. Nothing is written, no folder
// is made.
QList<PlanRow> PlanBatch(const Job &job, const QStringList &imagePaths);

// "overwrites: /out/a.jpg (from /in/a.bmp, bmp 40 x 30)".
QString PlanRowText(const PlanRow &row);
// The words of a kind: "new", "overwrites", "collides with", "unchanged", "unreadable", "fails",
// "skips", "renames".
QString PlanKindText(PlanRow::Kind kind);
// What the plan says of the job as a whole before its rows: a name every image would get.
QStringList PlanNotes(const Job &job);
// "Plan for 4 images: 1 new, 2 overwrite, 1 unreadable. Nothing was written."
QString PlanSummary(const QList<PlanRow> &rows);
// The bytes of the files the batch would replace: what its backups will take.
qint64 PlannedBackupBytes(const QList<PlanRow> &rows);
// What the backups of job on the images will take, as far as it matters beside limit: the
// sizes of the files at the targets bound it, and only a bound above limit is worth the plan
// that reads every image's header.
qint64 BackupBytesWithin(const Job &job, const QStringList &imagePaths, qint64 limit);
