#pragma once
// One batch from end to end, without a window: every image is loaded, the tasks are applied,
// the result is saved (after keeping a copy of whatever it replaces) and reported as a row;
// then the tasks finish and the batch's backup store ends it as one undoable operation. The
// processing window and the command-line front end both drive this class.
//
// Several images are processed at once: loading, every task's Apply and the encoding run on
// worker threads, while everything that touches the user's files happens on the calling
// thread, in input order: the backup, replacing the target, the result rows, the output list,
// the progress and the end of the operation. The results are therefore exactly those of a
// batch that takes one image at a time, whatever finishes first.

#include "batch/job.h"
#include "undo/backupstore.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <ctime>

class CPixortaTask;
class PxImage;
struct PxMetadata;
struct BatchOutput;
class TargetClaims;


struct ResultRow {
    QString sourcePath;
    QString text;
    bool success = false;
    bool indented = false;
    // Why it failed, for the command line (the window shows only its own words).
    QString reason;
    // The variant whose result the row is about; "" for the job's own.
    QString variant;
};

// The line a result row shows: "done :a.jpg", "   Saving failed :a.jpg", "Finished. No errors",
// "done :a.jpg [large]".
QString ResultRowText(const ResultRow &row);

// How RunBatch ended; true when the batch ran.
struct BatchRunResult {
    enum class Outcome {
        Ran,
        // There were no images.
        NothingToDo,
        // The output folder could not be made: nothing was processed.
        FolderNotCreated,
    };
    Outcome outcome = Outcome::NothingToDo;
    // The output folder that could not be made.
    QString folder;

    explicit operator bool() const { return outcome == Outcome::Ran; }
};

class CBatchRunner {
public:
    // Runs job on the images, in their order. backups keeps what the batch replaces (the
    // command line's undo journal), owned by the caller; none: the window's, a folder of this
    // run and one record of the undo history ("Processing all images").
    CBatchRunner(Job job, QStringList imagePaths, CBackupStore *backups = nullptr);
    ~CBatchRunner();

    // Runs the whole batch. It tells no one itself that the output folder could not be made:
    // the window and the command line each say so in their own way.
    BatchRunResult RunBatch();
    // Stops the batch before its next image; images already being worked on are dropped
    // (nothing of them is written or listed). The finishing phase still runs. May be called
    // from any thread.
    void RequestCancel() { m_cancelRequested = true; }

    bool IsRunning() const { return m_running; }
    bool CancelRequested() const { return m_cancelRequested; }
    int ErrorCount() const { return m_errorCount; }
    // How the last RunBatch ended (NothingToDo before the first).
    const BatchRunResult &Result() const { return m_result; }
    const QList<ResultRow> &Rows() const { return m_rows; }
    // The files the batch wrote (or left as they were, as the results of their images): never
    // a target whose save failed.
    const QStringList &Outputs() const { return m_outputs; }
    const QList<BackupEntry> &Backups() const { return m_store->Entries(); }
    const QStringList &ExtraOutputs() const { return m_extraOutputs; }
    const Job &RunJob() const;
    const QStringList &ImagePaths() const;

    // Prepares even a one-at-a-time batch on a thread of its own, so that a stop request ends
    // the batch within a second whatever the image being worked on (the command line). Off,
    // one worker runs on the calling thread, as the window's tests drive it.
    bool prepareOnWorkers = false;

    // What the window (or the command line) shows. Each is optional.
    std::function<void(const ResultRow &row)> onRow;
    std::function<void(int position, int maximum)> onProgress;
    // Runs before every image so that a Cancel click can arrive.
    std::function<void()> onPumpEvents;
    // The run has finished: buttons relabelled, beep.
    std::function<void()> onFinished;

private:
    struct Prepared;
    struct PreparedOutput;
    void AddRow(const QString &path, const QString &text, bool success, bool indented,
                const QString &reason = QString(), const QString &variant = QString());
    // What the workers read, kept alive by them too.
    struct Work;
    // The part of one image that may run on any thread: nothing the user owns changes.
    // dropped: set when the result will not be wanted (the batch was stopped).
    static Prepared Prepare(const Work &work, int index, const std::atomic<bool> *dropped = nullptr);
    static void PrepareOutput(const BatchOutput &output, const QString &path, int index,
                              PxImage &image, const std::shared_ptr<const PxMetadata> &metadata,
                              PreparedOutput &p, const std::atomic<bool> *dropped);
    // The part that changes the user's files, on the calling thread, in input order.
    void Commit(int index, Prepared &prepared);
    void CommitOutput(const BatchOutput &output, const QString &path, PreparedOutput &p,
                      const std::optional<struct timespec> &sourceTime);
    class WorkerPool;
    void RunImages(int count, int workers);
    void Progress(int position);

    std::shared_ptr<Work> m_work;
    std::unique_ptr<CBackupStore> m_ownStore;
    // The places results have taken, in batch order.
    std::unique_ptr<TargetClaims> m_claims;
    CBackupStore *m_store = nullptr;
    bool m_running = false;
    std::atomic<bool> m_cancelRequested{false};
    int m_errorCount = 0;
    BatchRunResult m_result;
    QList<ResultRow> m_rows;
    QStringList m_outputs;
    QStringList m_extraOutputs;
};
