#include "batchplan.h"

#include "core/paths.h"
#include "engine/pxfile.h"
#include "engine/pximage.h"
#include "imageio/imagefile.h"
#include "tasks/pixortatask.h"
#include "batch/namepattern.h"
#include "batch/targets.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <optional>
#include <sys/stat.h>

namespace {

QString FormatName(uint32_t code)
{
    const PxFormatInfo *info = PxFindFormat(code);
    return info ? QString::fromLatin1(info->name) : QString();
}

// Why a result could not be written where something other than a plain file stands, or where
// a protected file stands; "" when it could.
QString Obstacle(const QString &target)
{
    struct stat st {};
    if (::stat(ToFsPath(target).c_str(), &st) != 0)
        return QString();
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("a folder stands where the file would go");
    if (!S_ISREG(st.st_mode))
        return QString::fromUtf8(kPxNotRegularFile);
    if (!(st.st_mode & S_IWUSR))
        return QStringLiteral("the file is write-protected");
    return QString();
}

// Why the output folder could not be made (one level, as the batch makes it); "" when it can.
QString FolderObstacle(const QString &folder)
{
    const QFileInfo info(folder);
    if (info.isDir())
        return QString();
    if (info.exists())
        return QStringLiteral("the output folder ") + folder + QStringLiteral(" is a file");
    if (!QFileInfo(info.absolutePath()).isDir())
        return QStringLiteral("the output folder ") + folder +
               QStringLiteral(" cannot be made: the folder above it does not exist");
    return QString();
}

} // namespace

QList<PlanRow> PlanBatch(const Job &job, const QStringList &imagePaths)
{
    QList<PlanRow> rows;
    const QString outputFolder = job.ResultFolder();
    const QString folderProblem = outputFolder.isEmpty() ? QString() : FolderObstacle(outputFolder);
    const QList<BatchOutput> outputs = BatchOutputsOf(job);
    TargetClaims claims(imagePaths);
    // The text task's %Note% reads the job's notes, as in the batch itself.
    if (job.notes)
        for (const BatchOutput &output : outputs)
            for (CPixortaTask *task : output.tasks)
                task->SetNoteLookup(job.notes);
    auto exists = [](const QString &path) {
        return QFileInfo::exists(path) || QFileInfo(path).isSymLink();
    };

    for (int index = 0; index < imagePaths.size(); ++index) {
        const QString &path = imagePaths[index];
        PlanRow header;
        header.source = path;
        PxImage probe;
        PxHeaderInfo info;
        if (!LoadImageFileHeader(probe, path, info)) {
            header.kind = PlanRow::Kind::Unreadable;
            header.detail = probe.GetLastError()[0] ? QString::fromUtf8(probe.GetLastError())
                                                    : QStringLiteral("cannot open the file");
            rows.append(header);
            continue;
        }
        header.format = FormatName(info.format);
        header.width = info.width;
        header.height = info.height;
        // One date for every output of the image.
        std::optional<QDateTime> date;

        for (const BatchOutput &output : outputs) {
            PlanRow row = header;
            row.variant = output.label;
            bool anySucceeds = false, saveNeeded = false;
            quint32 width = info.width, height = info.height;
            for (const CPixortaTask *task : output.tasks) {
                const CPixortaTask::Outcome outcome = task->PredictOutcome(path, width, height);
                anySucceeds = anySucceeds || outcome != CPixortaTask::Outcome::Fails;
                saveNeeded = saveNeeded || outcome == CPixortaTask::Outcome::Changes;
                if (outcome != CPixortaTask::Outcome::Fails)
                    task->PredictSize(width, height);
            }
            NameFacts facts = FactsOf(output.job, path, index, width, height);
            facts.date = [&date, &path] {
                if (!date)
                    date = CaptureDateOf(path);
                return *date;
            };
            const QString wanted = BatchTargetPath(output.job, path, facts, saveNeeded);
            if (!anySucceeds || (outputFolder.isEmpty() && !saveNeeded)) {
                row.kind = PlanRow::Kind::Unchanged;
                rows.append(row);
                continue;
            }
            row.target = QDir::cleanPath(QFileInfo(wanted).absoluteFilePath());
            if (!folderProblem.isEmpty()) {
                row.kind = PlanRow::Kind::Fails;
                row.detail = folderProblem;
                rows.append(row);
                continue;
            }
            const TargetClaims::Decision d =
                claims.Claim(row.target, path, output.job.ifExists, exists);
            using Kind = TargetClaims::Decision::Kind;
            if (!d.takenBy.isEmpty() && output.job.ifExists == Job::IfExists::Overwrite) {
                row.kind = PlanRow::Kind::CollidesWith;
                row.detail = d.takenBy;
                row.renamedTo = d.path;
            } else if (d.kind == Kind::Skip) {
                row.kind = PlanRow::Kind::Skips;
                row.detail = d.takenBy.isEmpty() ? QStringLiteral("a file stands there")
                                                 : d.takenBy + QStringLiteral(" writes it too");
            } else if (d.kind == Kind::Rename) {
                row.kind = PlanRow::Kind::Renames;
                row.detail = d.takenBy.isEmpty()
                                 ? row.target + QStringLiteral(" exists")
                                 : d.takenBy + QStringLiteral(" writes ") + row.target;
                row.target = d.path;
            } else if (const QString obstacle = Obstacle(row.target); !obstacle.isEmpty()) {
                row.kind = PlanRow::Kind::Fails;
                row.detail = obstacle;
            } else {
                row.kind = d.kind == Kind::Overwrite ? PlanRow::Kind::Overwrites : PlanRow::Kind::New;
            }
            if (d.path.isEmpty() && d.kind != Kind::Skip) {
                row.kind = PlanRow::Kind::Fails;
                row.detail = QStringLiteral("no free name was found");
            }
            rows.append(row);
        }
    }
    return rows;
}

QStringList PlanNotes(const Job &job)
{
    QStringList notes;
    for (const BatchOutput &output : BatchOutputsOf(job))
        if (!output.job.namePattern.isEmpty() && NamePatternIsConstant(output.job.namePattern))
            notes << (output.label.isEmpty() ? QString() : QStringLiteral("Variant ") + output.label + QStringLiteral(": ")) +
                         QStringLiteral("every image is named '") + output.job.namePattern +
                         QStringLiteral("': each after the first gets a free name.");
    return notes;
}

QString PlanKindText(PlanRow::Kind kind)
{
    switch (kind) {
    case PlanRow::Kind::New: return QStringLiteral("new");
    case PlanRow::Kind::Overwrites: return QStringLiteral("overwrites");
    case PlanRow::Kind::CollidesWith: return QStringLiteral("collides with");
    case PlanRow::Kind::Unchanged: return QStringLiteral("unchanged");
    case PlanRow::Kind::Unreadable: return QStringLiteral("unreadable");
    case PlanRow::Kind::Fails: return QStringLiteral("fails");
    case PlanRow::Kind::Skips: return QStringLiteral("skips");
    case PlanRow::Kind::Renames: return QStringLiteral("renames");
    }
    return QString();
}

QString PlanRowText(const PlanRow &row)
{
    const QString picture = row.format + QStringLiteral(" %1 x %2").arg(row.width).arg(row.height);
    switch (row.kind) {
    case PlanRow::Kind::Unreadable:
        return PlanKindText(row.kind) + QStringLiteral(": ") + row.source + QStringLiteral(" (") +
               row.detail + u')';
    case PlanRow::Kind::Unchanged:
        return PlanKindText(row.kind) + QStringLiteral(": ") + row.source + QStringLiteral(" (") +
               picture + u')';
    case PlanRow::Kind::CollidesWith:
        return PlanKindText(row.kind) + u' ' + row.detail + QStringLiteral(": ") + row.target +
               QStringLiteral(" (from ") + row.source + QStringLiteral(", ") + picture + u')';
    case PlanRow::Kind::Fails:
        return PlanKindText(row.kind) + QStringLiteral(": ") + row.target + QStringLiteral(" (") +
               row.detail + QStringLiteral("; from ") + row.source + u')';
    case PlanRow::Kind::Skips:
    case PlanRow::Kind::Renames:
        return PlanKindText(row.kind) + QStringLiteral(": ") + row.target + QStringLiteral(" (") +
               row.detail + QStringLiteral("; from ") + row.source + QStringLiteral(", ") +
               picture + u')';
    default:
        return PlanKindText(row.kind) + QStringLiteral(": ") + row.target +
               QStringLiteral(" (from ") + row.source + QStringLiteral(", ") + picture + u')';
    }
}

QString PlanSummary(const QList<PlanRow> &rows)
{
    constexpr int kKinds = int(PlanRow::Kind::Renames) + 1;
    int counts[kKinds] = {};
    for (const PlanRow &row : rows)
        ++counts[int(row.kind)];
    QStringList parts;
    for (int kind = 0; kind < kKinds; ++kind)
        if (counts[kind])
            parts << QString::number(counts[kind]) + u' ' + PlanKindText(PlanRow::Kind(kind)) +
                         (PlanRow::Kind(kind) == PlanRow::Kind::CollidesWith
                              ? QStringLiteral(" another")
                              : QString());
    return QStringLiteral("Plan for %1 %2")
               .arg(rows.size())
               .arg(rows.size() == 1 ? QStringLiteral("image") : QStringLiteral("images")) +
           (parts.isEmpty() ? QString() : QStringLiteral(": ") + parts.join(QStringLiteral(", "))) +
           QStringLiteral(". Nothing was written.");
}

qint64 PlannedBackupBytes(const QList<PlanRow> &rows)
{
    qint64 bytes = 0;
    for (const PlanRow &row : rows)
        if (row.kind == PlanRow::Kind::Overwrites)
            bytes += std::max<qint64>(0, QFileInfo(row.target).size());
    return bytes;
}

qint64 BackupBytesWithin(const Job &job, const QStringList &imagePaths, qint64 limit)
{
    // Names of their own and further results are known only from the plan.
    if (!job.namePattern.isEmpty() || !job.variants.isEmpty())
        return PlannedBackupBytes(PlanBatch(job, imagePaths));
    qint64 upTo = 0;
    for (const QString &path : imagePaths) {
        bool save = true;
        upTo += std::max<qint64>(
            0, QFileInfo(BatchTargetPath(job, path, FactsOf(job, path, 0, 0, 0), save)).size());
    }
    return upTo > limit ? PlannedBackupBytes(PlanBatch(job, imagePaths)) : upTo;
}
