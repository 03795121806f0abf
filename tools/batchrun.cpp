#include "batchrun.h"

#include "batch/batchplan.h"
#include "batch/batchrunner.h"
#include "batch/jobfile.h"
#include "core/bytesizes.h"
#include "core/paths.h"
#include "core/notelookup.h"
#include "dryrun.h"
#include "engine/pxfile.h"
#include "imagelist/imagepaths.h"
#include "journalcommands.h"
#include "tasks/movie/pixortasoundrecorderdlg.h"
#include "ui/uiseams.h"
#include "undo/backup.h"
#include "undo/journalstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

// Notes by path from a file of lines "path<TAB>note"; an error text when it cannot be used.
QString ReadNotes(const QString &file, NoteLookupPtr &notes)
{
    // Only a regular file: a pipe without a writer would hold the batch up before it began.
    bool special = false;
    const int fd = PxOpenRegularFile(ToFsPath(file), &special);
    const bool notRegular = special || (fd < 0 && errno == EISDIR);
    QFile in;
    if (fd < 0 || !in.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return QStringLiteral("cannot read the notes file '") + file + u'\'' +
               (notRegular ? QStringLiteral(": ") + QString::fromUtf8(kPxNotRegularFile)
                           : QString());
    }
    QList<std::pair<QString, QString>> lines;
    QString error;
    if (!NoteLookup::ParseLines(QString::fromUtf8(in.readAll()), QDir::currentPath(), lines, &error))
        return QStringLiteral("notes file '") + file + QStringLiteral("': ") + error;
    notes = std::make_shared<const NoteLookup>(lines);
    return QString();
}

} // namespace

int RunBatchRequest(BatchRequest &request, const std::atomic<bool> &interrupted)
{
    Job &job = request.job;
    if (!job.notesFile.isEmpty())
        job.notesFile = QFileInfo(job.notesFile).absoluteFilePath();

    if (!request.saveJob.isEmpty()) {
        QString error;
        if (!WriteJobFile(request.saveJob, job, &error)) {
            Note(error);
            return 1;
        }
        if (request.paths.isEmpty()) {
            std::printf("Saved the job to %s\n", qPrintable(request.saveJob));
            return 0;
        }
    }
    if (job.destination == Job::Destination::Unset)
        return UsageError("choose exactly one of --output-folder DIR and --in-place");
    if (request.paths.isEmpty())
        return UsageError("no files or folders given");

    if (!job.notesFile.isEmpty())
        if (const QString error = ReadNotes(job.notesFile, job.notes); !error.isEmpty())
            return UsageError(error);

    // Full paths, as the window's list holds them: %fPath% and the notes see the same.
    QStringList images;
    auto foundIn = std::make_shared<QHash<QString, QString>>();
    for (const FoundImage &found : FindImageFiles(request.paths)) {
        images << QDir::cleanPath(QFileInfo(found.path).absoluteFilePath());
        if (!found.foundIn.isEmpty())
            foundIn->insert(images.back(), found.foundIn);
    }
    job.foundIn = std::move(foundIn);
    if (images.isEmpty()) {
        std::fprintf(stderr, "pixorta-batch: no image files found\n");
        return 1;
    }
    if (request.dryRun)
        return PrintDryRun(job, images);

    // What this batch overwrites goes into the journal, so it can be undone after the run.
    const qint64 journalLimit = request.journalLimit;
    auto backupBytes = [&job, &images, journalLimit] {
        return BackupBytesWithin(job, images, journalLimit);
    };
    QString journalError;
    CJournalBackupStore::Start start = CJournalBackupStore::Start::Unavailable;
    std::unique_ptr<CJournalBackupStore> journal;
    if (!request.noJournal)
        journal = CJournalBackupStore::Begin(CUndoJournal::DefaultRoot(),
                                             CommandLine(request.given), {10, journalLimit},
                                             backupBytes, &journalError, &start);
    if (start == CJournalBackupStore::Start::Refused) {
        Note(journalError + QStringLiteral(": give a larger --journal-limit to run it"));
        return 1;
    }
    // Nothing of a command-line run outlives it but the journal: without one, nothing may be
    // overwritten, unless the user says so.
    if (!journal && !request.noJournal) {
        Note(journalError + QStringLiteral(", so nothing was overwritten: make ") +
             CUndoJournal::DefaultRoot() +
             QStringLiteral(" a folder only you can write into (move away what stands there), "
                            "or give --no-journal to run without undo"));
        return 1;
    }
    // Without the journal the copies live in a folder of this run, which goes with it.
    CRunBackupStore runOnly;
    CBackupStore *backups = journal ? static_cast<CBackupStore *>(journal.get()) : &runOnly;

    SetMessageHandler([](const QString &text, const QString &, MsgButtons, MsgIcon) {
        std::fprintf(stderr, "pixorta-batch: %s\n", qPrintable(text));
        return MsgAnswer::Ok;
    });
    // There is no one to speak: the recorder is never offered here.
    SetSoundRecorderRunner([](const QString &, int, int) { return QString(); });

    CBatchRunner runner(std::move(job), images, backups);
    // Ctrl+C ends the batch within a second, even while an image is still being worked on.
    runner.prepareOnWorkers = true;
    runner.onRow = [](const ResultRow &row) {
        std::printf("%s\n", qPrintable(ResultRowText(row)));
        std::fflush(stdout);
        if (!row.success)
            std::fprintf(stderr, "pixorta-batch: %s: %s\n", qPrintable(row.sourcePath),
                         qPrintable(row.reason.isEmpty() ? row.text : row.reason));
    };
    runner.onPumpEvents = [&runner, &interrupted] {
        if (interrupted)
            runner.RequestCancel();
    };
    const BatchRunResult result = runner.RunBatch();
    if (result.outcome == BatchRunResult::Outcome::FolderNotCreated)
        Note(QStringLiteral("Could not create folder:") + result.folder);
    if (journal && journal->End()) {
        const int kept = journal->Overwritten();
        const qsizetype made = journal->Created().size();
        if (kept > 0)
            Note(QStringLiteral("%1 overwritten %2 kept in the undo journal: pixorta-batch --undo "
                                "puts %3 back")
                     .arg(kept)
                     .arg(kept == 1 ? QStringLiteral("file is") : QStringLiteral("files are"),
                          kept == 1 ? QStringLiteral("it") : QStringLiteral("them")));
        else if (made > 0)
            Note(QStringLiteral("the %1 new %2 recorded in the undo journal: pixorta-batch --undo "
                                "removes %3")
                     .arg(made)
                     .arg(made == 1 ? QStringLiteral("file is") : QStringLiteral("files are"),
                          made == 1 ? QStringLiteral("it") : QStringLiteral("them")));
        for (const JournalBatch &b : journal->Pruned())
            Note(QStringLiteral("the undo journal keeps the last 10 batches within %1: the batch "
                                "of %2 can no longer be undone")
                     .arg(FormatBytes(journalLimit), BatchTitle(b)));
    }
    if (request.noJournal) {
        const auto kept = std::count_if(runner.Backups().cbegin(), runner.Backups().cend(),
                                        [](const BackupEntry &e) { return !e.IsEmpty(); });
        if (kept > 0)
            Note(QStringLiteral("--no-journal: the %1 overwritten %2 not kept, so this batch "
                                "cannot be undone")
                     .arg(kept)
                     .arg(kept == 1 ? QStringLiteral("file was") : QStringLiteral("files were")));
    }
    // Without a journal nothing survives the process to undo with: the copies would only pile up.
    RemoveBackupFolder();
    if (!result)
        return 1;
    return runner.ErrorCount() == 0 ? 0 : 1;
}
