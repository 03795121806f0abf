#include "batchplan.h"

#include "core/paths.h"
#include "engine/pxfile.h"
#include "engine/pximage.h"
#include "imageio/imagefile.h"
#include "tasks/pixortatask.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
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
    const QList<CPixortaTask *> tasks = job.Applied();
    const QString folderProblem = outputFolder.isEmpty() ? QString() : FolderObstacle(outputFolder);
    // Targets by the cleaned path, to the image that writes there first.
    QHash<QString, QString> writers;
    QHash<QString, int> sources;
    for (const QString &path : imagePaths)
        sources[QDir::cleanPath(QFileInfo(path).absoluteFilePath())]++;
    // The text task's %Note% reads the job's notes, as in the batch itself.
    if (job.notes)
        for (CPixortaTask *task : tasks)
            task->SetNoteLookup(job.notes);

    for (const QString &path : imagePaths) {
        PlanRow row;
        row.source = path;
        PxImage probe;
        PxHeaderInfo header;
        if (!LoadImageFileHeader(probe, path, header)) {
            row.kind = PlanRow::Kind::Unreadable;
            row.detail = probe.GetLastError()[0] ? QString::fromUtf8(probe.GetLastError())
                                                 : QStringLiteral("cannot open the file");
            rows.append(row);
            continue;
        }
        row.format = FormatName(header.format);
        row.width = header.width;
        row.height = header.height;

        bool anySucceeds = false, saveNeeded = false;
        for (const CPixortaTask *task : tasks) {
            const CPixortaTask::Outcome outcome =
                task->PredictOutcome(path, header.width, header.height);
            anySucceeds = anySucceeds || outcome != CPixortaTask::Outcome::Fails;
            saveNeeded = saveNeeded || outcome == CPixortaTask::Outcome::Changes;
        }
        row.target = BatchTargetPath(job, path, saveNeeded);
        if (!anySucceeds || (outputFolder.isEmpty() && !saveNeeded)) {
            row.kind = PlanRow::Kind::Unchanged;
            row.target.clear();
            rows.append(row);
            continue;
        }

        const QString self = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
        const QString target = QDir::cleanPath(QFileInfo(row.target).absoluteFilePath());
        row.target = target;
        if (!folderProblem.isEmpty()) {
            row.kind = PlanRow::Kind::Fails;
            row.detail = folderProblem;
        } else if (writers.contains(target)) {
            row.kind = PlanRow::Kind::CollidesWith;
            row.detail = writers.value(target);
        } else if (target != self && sources.contains(target)) {
            row.kind = PlanRow::Kind::CollidesWith;
            row.detail = target;
        } else if (const QString obstacle = Obstacle(target); !obstacle.isEmpty()) {
            row.kind = PlanRow::Kind::Fails;
            row.detail = obstacle;
        } else {
            row.kind = QFileInfo::exists(target) || QFileInfo(target).isSymLink()
                           ? PlanRow::Kind::Overwrites
                           : PlanRow::Kind::New;
        }
        if (!writers.contains(target))
            writers.insert(target, path);
        rows.append(row);
    }
    return rows;
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
    default:
        return PlanKindText(row.kind) + QStringLiteral(": ") + row.target +
               QStringLiteral(" (from ") + row.source + QStringLiteral(", ") + picture + u')';
    }
}

QString PlanSummary(const QList<PlanRow> &rows)
{
    int counts[6] = {};
    for (const PlanRow &row : rows)
        ++counts[int(row.kind)];
    QStringList parts;
    for (int kind = 0; kind < 6; ++kind)
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
        if (row.kind == PlanRow::Kind::Overwrites || row.kind == PlanRow::Kind::CollidesWith)
            bytes += std::max<qint64>(0, QFileInfo(row.target).size());
    return bytes;
}

qint64 BackupBytesWithin(const Job &job, const QStringList &imagePaths, qint64 limit)
{
    qint64 upTo = 0;
    for (const QString &path : imagePaths) {
        bool save = true;
        upTo += std::max<qint64>(0, QFileInfo(BatchTargetPath(job, path, save)).size());
    }
    return upTo > limit ? PlannedBackupBytes(PlanBatch(job, imagePaths)) : upTo;
}
