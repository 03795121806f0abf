// pixorta-batch: the batch of the processing window, from the command line, without a window.
// Files are expanded as the image list expands them and written exactly as the window writes
// them; every result line is printed as the window shows it.

#include "batch/batchplan.h"
#include "batch/batchrunner.h"
#include "batch/jobfile.h"
#include "batchoptions.h"
#include "core/bytesizes.h"
#include "core/notelookup.h"
#include "dryrun.h"
#include "headless.h"
#include "imagelist/imagepaths.h"
#include "tasks/movie/pixortasoundrecorderdlg.h"
#include "undo/backup.h"
#include "undo/journal.h"
#include "ui/uiseams.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <unistd.h>

namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int)
{
    g_interrupted = true;
}

int UsageError(const QString &message)
{
    std::fprintf(stderr, "pixorta-batch: %s\n%s%s", qPrintable(message), qPrintable(BatchUsage()),
                 "Try 'pixorta-batch --help' for more information.\n");
    return 2;
}

// Notes by path from a file of lines "path<TAB>note"; an error text when it cannot be used.
QString ReadNotes(const QString &file, NoteLookupPtr &notes)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read the notes file '") + file + u'\'';
    QList<std::pair<QString, QString>> lines;
    QString error;
    if (!NoteLookup::ParseLines(QString::fromUtf8(in.readAll()), QDir::currentPath(), lines, &error))
        return QStringLiteral("notes file '") + file + QStringLiteral("': ") + error;
    notes = std::make_shared<const NoteLookup>(lines);
    return QString();
}

// The command line as a shell would take it back, for the journal's list.
QString CommandLine(const QStringList &args)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=%+@,-]+$"));
    QStringList words = {QStringLiteral("pixorta-batch")};
    for (const QString &a : args)
        words << (plain.match(a).hasMatch()
                      ? a
                      : u'\'' + QString(a).replace(u'\'', QStringLiteral("'\\''")) + u'\'');
    return words.join(u' ');
}

QString BatchTitle(const JournalBatch &batch)
{
    return batch.date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" (") +
           batch.command + u')';
}

void Note(const QString &text)
{
    std::fprintf(stderr, "pixorta-batch: %s\n", qPrintable(text));
}

// Asks on the terminal; without one (or at its end) the answer is no.
bool AskYes(const QString &question)
{
    if (!::isatty(STDIN_FILENO))
        return false;
    std::fprintf(stderr, "%s [y/N] ", qPrintable(question));
    std::fflush(stderr);
    char line[64] = {};
    if (!std::fgets(line, sizeof line, stdin))
        return false;
    return line[0] == 'y' || line[0] == 'Y';
}

int ListJournal(const CUndoJournal &journal)
{
    const QList<JournalBatch> batches = journal.Batches();
    int shown = 0;
    for (const JournalBatch &b : batches) {
        if (b.entries.isEmpty())
            continue;
        QString state;
        if (b.running)
            state = QStringLiteral("  (still running)");
        else if (!b.finished)
            state = QStringLiteral("  (stopped half-way)");
        std::printf("%d  %s  %lld %s  %s  %s%s\n", ++shown,
                    qPrintable(b.date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))),
                    static_cast<long long>(b.entries.size()),
                    b.entries.size() == 1 ? "file" : "files", qPrintable(FormatBytes(b.bytes)),
                    qPrintable(b.command), qPrintable(state));
    }
    if (shown == 0)
        std::printf("There is nothing to undo (i.e. no file was overwritten)\n");
    return 0;
}

int Undo(CUndoJournal &journal, int times, bool yes)
{
    int status = 0;
    for (int i = 0; i < times; ++i) {
        const CUndoJournal::UndoResult r = journal.UndoNewest([yes](const QString &path) {
            if (yes)
                return true;
            return AskYes(path + QStringLiteral(" has changed since the batch. Overwrite it with "
                                                "the copy from before the batch?"));
        });
        if (!r.found) {
            std::printf("There is nothing to undo (i.e. no file was overwritten)\n");
            return 1;
        }
        const qsizetype files = r.restored.size() + r.kept.size() + r.failed.size();
        if (r.removed)
            std::printf("Undid the batch of %s: %lld %s put back\n",
                        qPrintable(BatchTitle(r.batch)), static_cast<long long>(files),
                        files == 1 ? "file" : "files");
        else
            std::printf("Undid the batch of %s in part: %lld of %lld files put back\n",
                        qPrintable(BatchTitle(r.batch)),
                        static_cast<long long>(r.restored.size()), static_cast<long long>(files));
        std::fflush(stdout);
        for (const QString &path : r.kept)
            Note(path + QStringLiteral(" was left as it is: it changed since the batch "
                                       "(--undo --yes overwrites it)"));
        for (const auto &[path, why] : r.failed)
            Note(path + QStringLiteral(" could not be put back: ") + why);
        if (!r.removed) {
            Note(QStringLiteral("the batch stays in the journal with the files not put back"));
            return 1;
        }
        if (!r.kept.isEmpty() || !r.failed.isEmpty())
            status = 1;
    }
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    UseOffscreenPlatformWithoutDisplay();
    QGuiApplication app(argc, argv);
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    BatchRequest request;
    QString parseError;
    if (!ParseBatchRequest(args, &request, &parseError))
        return UsageError(parseError);
    if (request.help) {
        std::fputs(qPrintable(BatchHelp()), stdout);
        return 0;
    }

    // The undo journal's own commands stand alone.
    if (request.undo > 0 || request.undoList || request.forget) {
        CUndoJournal journal(CUndoJournal::DefaultRoot());
        QString error;
        if (!journal.Open(&error)) {
            Note(error);
            return 1;
        }
        if (request.undoList)
            return ListJournal(journal);
        if (request.forget) {
            const QList<JournalBatch> gone = journal.Forget();
            qint64 bytes = 0;
            for (const JournalBatch &b : gone)
                bytes += b.bytes;
            std::printf("Forgot %lld %s (%s)\n", static_cast<long long>(gone.size()),
                        gone.size() == 1 ? "batch" : "batches", qPrintable(FormatBytes(bytes)));
            return 0;
        }
        return Undo(journal, request.undo, request.yes);
    }

    Job &job = request.job;
    const QStringList &paths = request.paths;
    const QString &saveJob = request.saveJob;
    const QStringList &given = request.given;
    const qint64 journalLimit = request.journalLimit;
    if (!job.notesFile.isEmpty())
        job.notesFile = QFileInfo(job.notesFile).absoluteFilePath();

    if (!saveJob.isEmpty()) {
        QString error;
        if (!WriteJobFile(saveJob, job, &error)) {
            Note(error);
            return 1;
        }
        if (paths.isEmpty()) {
            std::printf("Saved the job to %s\n", qPrintable(saveJob));
            return 0;
        }
    }
    if (job.destination == Job::Destination::Unset)
        return UsageError("choose exactly one of --output-folder DIR and --in-place");
    if (paths.isEmpty())
        return UsageError("no files or folders given");

    NoteLookupPtr notes;
    if (!job.notesFile.isEmpty())
        if (const QString error = ReadNotes(job.notesFile, notes); !error.isEmpty())
            return UsageError(error);

    // Full paths, as the window's list holds them: %fPath% and the notes see the same.
    QStringList images;
    for (const QString &path : ExpandImagePaths(paths))
        images << QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    job.notes = notes;
    if (images.isEmpty()) {
        std::fprintf(stderr, "pixorta-batch: no image files found\n");
        return 1;
    }

    if (request.dryRun)
        return PrintDryRun(job, images);

    // What this batch overwrites goes into the journal, so it can be undone after the run.
    CUndoJournal journal(CUndoJournal::DefaultRoot());
    std::unique_ptr<CJournalRecorder> recorder;
    QString journalError;
    if (journal.Open(&journalError)) {
        qint64 upTo = 0;
        for (const QString &path : std::as_const(images)) {
            bool save = true;
            upTo += std::max<qint64>(0, QFileInfo(BatchTargetPath(job, path, save)).size());
        }
        const qint64 needed =
            upTo > journalLimit ? PlannedBackupBytes(PlanBatch(job, images)) : upTo;
        if (needed > journalLimit) {
            Note(QStringLiteral("this batch would overwrite %1 of files, more than the undo "
                                "journal may keep (%2): give a larger --journal-limit to run it")
                     .arg(FormatBytes(needed), FormatBytes(journalLimit)));
            return 1;
        }
        recorder = CJournalRecorder::Begin(journal, CommandLine(given), &journalError);
    }
    if (recorder) {
        UseBackupFolder(recorder->Folder());
    } else {
        Note(journalError + QStringLiteral("; what this batch overwrites can be undone only "
                                           "while it runs"));
    }

    SetMessageHandler([](const QString &text, const QString &, MsgButtons, MsgIcon) {
        std::fprintf(stderr, "pixorta-batch: %s\n", qPrintable(text));
        return MsgAnswer::Ok;
    });
    // There is no one to speak: the recorder is never offered here.
    SetSoundRecorderRunner([](const QString &, int, int) { return QString(); });
    // A request to stop ends the batch between two images, so the backups are kept in order.
    // A closed output pipe counts as one too: the write would otherwise kill the process.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        std::signal(sig, OnInterrupt);

    CBatchRunner runner(std::move(job), images, recorder.get());
    runner.onRow = [](const ResultRow &row) {
        std::printf("%s\n", qPrintable(ResultRowText(row)));
        std::fflush(stdout);
        if (!row.success)
            std::fprintf(stderr, "pixorta-batch: %s: %s\n", qPrintable(row.sourcePath),
                         qPrintable(row.reason.isEmpty() ? row.text : row.reason));
    };
    runner.onPumpEvents = [&runner] {
        if (g_interrupted)
            runner.RequestCancel();
    };
    const bool ran = runner.RunBatch();
    if (recorder && recorder->Finish()) {
        const auto kept = std::count_if(runner.Backups().cbegin(), runner.Backups().cend(),
                                        [](const BackupEntry &e) { return !e.IsEmpty(); });
        Note(QStringLiteral("%1 overwritten %2 kept in the undo journal: pixorta-batch --undo "
                            "puts %3 back")
                 .arg(kept)
                 .arg(kept == 1 ? QStringLiteral("file is") : QStringLiteral("files are"),
                      kept == 1 ? QStringLiteral("it") : QStringLiteral("them")));
        for (const JournalBatch &b : journal.Prune(10, journalLimit))
            Note(QStringLiteral("the undo journal keeps the last 10 batches within %1: the batch "
                                "of %2 can no longer be undone")
                     .arg(FormatBytes(journalLimit), BatchTitle(b)));
    }
    // Without a journal nothing survives the process to undo with: the copies would only pile up.
    RemoveBackupFolder();
    if (!ran)
        return 1;
    return runner.ErrorCount() == 0 ? 0 : 1;
}
