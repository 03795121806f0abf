#include "batchrunner.h"

#include "imageio/imagefile.h"
#include "core/cores.h"
#include "core/filedigest.h"
#include "core/paths.h"
#include "core/safefile.h"
#include "undo/pathlock.h"
#include "tasks/pixortatask.h"
#include "engine/pximage.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace {

bool ExistsAnything(const QString &path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(ToFsPath(path), ec));
}


} // namespace

QString ResultRowText(const ResultRow &row)
{
    QString text = row.text;
    if (text.isEmpty())
        text = row.success ? QStringLiteral("done") : QStringLiteral("failed");
    if (!row.sourcePath.isEmpty())
        text += QStringLiteral(" :") + FileNameOf(row.sourcePath);
    if (row.indented)
        text.prepend(QStringLiteral("   "));
    return text;
}

struct CBatchRunner::Work {
    Job job;
    QStringList imagePaths;
    // The records the batch applies, in task order.
    QList<CPixortaTask *> tasks;
};

CBatchRunner::CBatchRunner(Job job, QStringList imagePaths, CBackupStore *backups)
    : m_work(std::make_shared<Work>(Work{job, std::move(imagePaths), job.Applied()})),
      m_store(backups)
{
    if (!m_store) {
        m_ownStore = std::make_unique<CHistoryBackupStore>(QStringLiteral("Processing all images"));
        m_store = m_ownStore.get();
    }
}

const Job &CBatchRunner::RunJob() const
{
    return m_work->job;
}

const QStringList &CBatchRunner::ImagePaths() const
{
    return m_work->imagePaths;
}

void CBatchRunner::AddRow(const QString &path, const QString &text, bool success, bool indented,
                          const QString &reason)
{
    m_rows.append({path, text, success, indented, reason});
    if (onRow)
        onRow(m_rows.back());
}

void CBatchRunner::Progress(int position)
{
    if (onProgress)
        onProgress(position, static_cast<int>(m_work->imagePaths.size()) + 1);
}

QString BatchTargetPath(const Job &job, const QString &source, bool &saveNeeded)
{
    QString target = source;
    if (!job.format.isEmpty()) {
        const QString extension = u'.' + job.format;
        const QString folder = GetFolderOf(source);
        target = (folder.isEmpty() ? QString() : (folder.endsWith(u'/') ? folder : folder + u'/')) +
                 GetFileBaseName(source) + extension;
        saveNeeded = true;
    }
    if (!job.ResultFolder().isEmpty())
        target = JoinPath(job.ResultFolder(), FileNameOf(target));
    return target;
}

// What a worker hands to the commit step of one image.
struct CBatchRunner::Prepared {
    bool loaded = false;
    QString loadReason;
    // The indented rows of the tasks that failed, in task order.
    QList<ResultRow> taskFailures;
    bool anySucceeded = false;
    bool save = false;
    QString target;
    PxPendingSave pending;
    bool prepared = false;
    std::string saveError;
    // Set when the encoded file was read back and did not match.
    QString verifyFailure;
    // What the encoded file holds, worked out on the worker so the undo journal need not read
    // every result again on the thread that commits them.
    std::optional<FileDigest> written;
    // The source's modification time, taken before anything replaced it, for a job that
    // keeps the dates.
    std::optional<struct timespec> sourceTime;
};


CBatchRunner::Prepared CBatchRunner::Prepare(const Work &work, const QString &path)
{
    const Job &job = work.job;
    Prepared p;
    auto image = std::make_unique<PxImage>();
    image->SetKeepMetadata(job.keepMetadata);
    if (!LoadImageFile(*image, path)) {
        p.loadReason = DescribeLoadFailure(*image, path);
        return p;
    }
    if (job.autoOrient && !image->AutoOrient()) {
        p.loadReason = QStringLiteral("the picture could not be turned upright: ") +
                       QString::fromUtf8(image->GetLastError());
        return p;
    }
    if (job.stripLocation)
        image->StripLocation();
    p.loaded = true;
    // Tasks build new pictures; what the file carried beside its pixels is given back after.
    const std::shared_ptr<const PxMetadata> metadata = image->GetMetadata();

    bool saveNeeded = false;
    for (CPixortaTask *task : work.tasks) {
        bool modified = true;
        image->SetLastError("");
        if (task->Apply(*image, modified, path)) {
            p.anySucceeded = true;
            saveNeeded = saveNeeded || modified;
        } else {
            p.taskFailures.append({path, TaskKindName(task->Kind()) + QStringLiteral(" failed"),
                                   false, true, QString::fromUtf8(image->GetLastError())});
        }
    }
    if (!p.anySucceeded)
        return p;

    p.target = BatchTargetPath(job, path, saveNeeded);
    p.save = !(job.ResultFolder().isEmpty() && !saveNeeded);
    if (p.save) {
        if (job.keepDates)
            p.sourceTime = ModificationTime(path);
        image->SetMetadata(metadata);
        job.PrepareForSave(*image);
        p.prepared = PrepareImageFileSave(*image, p.target, p.pending);
        if (!p.prepared)
            p.saveError = image->GetLastError();
        else if (job.verify && !VerifyPendingSave(p.pending, p.target, *image, &p.verifyFailure))
            p.pending.Discard();
        if (p.prepared && p.pending.IsPending()) {
            if (!p.pending.EncodedFile().empty())
                p.written = DigestOfFile(QString::fromStdString(p.pending.EncodedFile().string()));
            else
                p.written = DigestOfBytes(QByteArray(
                    reinterpret_cast<const char *>(p.pending.EncodedBytes().data()),
                    qsizetype(p.pending.EncodedBytes().size())));
        }
    }
    return p;
}

void CBatchRunner::Commit(const QString &path, Prepared &p)
{
    if (!p.loaded) {
        AddRow(path, QStringLiteral("Loading failed"), false, false, p.loadReason);
        ++m_errorCount;
        return;
    }
    for (const ResultRow &row : std::as_const(p.taskFailures)) {
        AddRow(row.sourcePath, row.text, row.success, row.indented, row.reason);
        ++m_errorCount;
    }
    AddRow(path, QString(), true, false);
    if (!p.anySucceeded)
        return;
    if (!p.save) {
        m_outputs.append(p.target); // nothing written: the source itself is the output
        return;
    }

    if (!p.verifyFailure.isEmpty()) {
        // Nothing was replaced: whatever stood at the target is as it was.
        AddRow(path, QStringLiteral("Verify failed"), false, true, p.verifyFailure);
        ++m_errorCount;
        return;
    }

    bool saved = true;
    QString reason;
    // From the look at what stands there to its replacement, no other batch touches the file:
    // two would back up the same original and replace each other's result.
    const CPathLock lock(p.target);
    if (!lock.Held()) {
        saved = false;
        reason = QStringLiteral("another batch was writing this file the whole time, so it was "
                                "left to that one");
    } else if (ExistsAnything(p.target)) {
        // A file that could not be backed up is never overwritten: undo could not bring it back.
        const BackupEntry entry = m_store->Keep(p.target, p.written);
        if (entry.IsEmpty()) {
            saved = false;
            reason = QFileInfo(p.target).isDir()
                         ? QStringLiteral("a folder stands where the file would go")
                         : QStringLiteral("the file it would replace could not be backed up, "
                                          "so it was left as it was") +
                               (entry.reason.isEmpty() ? QString() : QStringLiteral(": ") + entry.reason);
        }
    }
    if (saved && !p.prepared) {
        saved = false;
        reason = DescribeSaveFailure(p.saveError, p.target);
    }
    if (saved) {
        std::string error;
        saved = p.pending.Commit(&error);
        if (!saved)
            reason = DescribeSaveFailure(error, p.target);
        else
            m_store->Replaced(p.target, p.written);
    }
    p.pending.Discard();
    if (!saved) {
        if (ExistsAnything(p.target))
            ClearReadOnly(p.target);
        AddRow(path, QStringLiteral("Saving failed"), false, true, reason);
        ++m_errorCount;
        // A file that was never written is nobody's output.
        return;
    }
    m_outputs.append(p.target);
    if (p.sourceTime) {
        if (const QString why = SetModificationTime(p.target, *p.sourceTime); !why.isEmpty()) {
            // The picture is written and stays; only its date is not the source's.
            AddRow(path, QStringLiteral("Keeping the date failed"), false, true, why);
            ++m_errorCount;
        }
    }
}

// Prepares images on worker threads, in order, at most workers + 1 ahead of the last commit
// (each image in flight holds its decoded picture and its tasks' temporaries, so this bounds
// the memory). The task records are shared by all workers: they are immutable once made, and
// Apply only reads them (see CPixortaTask). The job is only read as well (const access: a
// QList that is written to detaches, which would race).
//
// Everything a worker touches lives in a state the workers share with the pool, never in the
// runner or the pool themselves: a worker that does not come back when a batch is stopped (a
// huge picture, a file system that hangs) is left to finish on its own, and the batch ends at
// once all the same; its result is dropped, so nothing of it is written.
class CBatchRunner::WorkerPool {
public:
    WorkerPool(std::shared_ptr<const Work> work, int count, int workers)
        : m_state(std::make_shared<State>(std::move(work), count, workers + 1))
    {
        m_threads.reserve(static_cast<size_t>(workers));
        for (int w = 0; w < workers; ++w)
            m_threads.emplace_back([state = m_state] { Run(*state); });
    }

    // Images still in flight (after a cancel) are dropped: their encoded files are deleted and
    // nothing of them is listed. Workers are waited for a second at most.
    ~WorkerPool()
    {
        {
            std::lock_guard lock(m_state->mutex);
            m_state->stop = true;
            m_state->workAvailable.notify_all();
        }
        std::unique_lock lock(m_state->mutex);
        m_state->allDone.wait_for(lock, std::chrono::seconds(1),
                                  [&] { return m_state->running == 0; });
        const bool done = m_state->running == 0;
        lock.unlock();
        for (std::thread &t : m_threads)
            if (done)
                t.join();
            else
                t.detach();
    }

    // Waits up to `slice` for image index; true with its result when it is ready.
    bool TryTake(int index, std::chrono::milliseconds slice, Prepared &out)
    {
        std::unique_lock lock(m_state->mutex);
        if (!m_state->resultReady.wait_for(lock, slice,
                                           [&] { return m_state->results.count(index) != 0; }))
            return false;
        out = std::move(m_state->results.at(index));
        m_state->results.erase(index);
        return true;
    }

    void Committed()
    {
        std::lock_guard lock(m_state->mutex);
        ++m_state->committed;
        m_state->workAvailable.notify_all();
    }

private:
    struct State {
        State(std::shared_ptr<const Work> w, int c, int window)
            : work(std::move(w)), count(c), window(window), running(0)
        {
        }
        const std::shared_ptr<const Work> work;
        const int count;
        const int window;
        std::mutex mutex;
        std::condition_variable workAvailable, resultReady, allDone;
        std::map<int, Prepared> results;
        int nextToTake = 0;
        int committed = 0;
        int running;
        bool stop = false;
    };

    static void Run(State &state)
    {
        {
            std::lock_guard lock(state.mutex);
            ++state.running;
        }
        const PxKeepBlocksOnThisThread keep;
        for (;;) {
            int index;
            {
                std::unique_lock lock(state.mutex);
                state.workAvailable.wait(lock, [&] {
                    return state.stop || (state.nextToTake < state.count &&
                                          state.nextToTake < state.committed + state.window);
                });
                if (state.stop || state.nextToTake >= state.count)
                    break;
                index = state.nextToTake++;
            }
            Prepared p;
            try {
                p = Prepare(*state.work, state.work->imagePaths.at(index));
            } catch (const std::exception &e) {
                p = Prepared{};
                p.loadReason = QString::fromLocal8Bit(e.what());
            }
            std::lock_guard lock(state.mutex);
            if (!state.stop)
                state.results.emplace(index, std::move(p));
            state.resultReady.notify_all();
        }
        std::lock_guard lock(state.mutex);
        --state.running;
        state.allDone.notify_all();
    }

    std::shared_ptr<State> m_state;
    std::vector<std::thread> m_threads;
};

// The calling thread commits the images in input order and keeps the window alive while it
// waits for the workers; with one worker it prepares each image itself.
void CBatchRunner::RunImages(int count, int workers)
{
    std::unique_ptr<WorkerPool> pool;
    std::optional<PxKeepBlocksOnThisThread> keep;
    if (workers > 1 || prepareOnWorkers)
        pool = std::make_unique<WorkerPool>(m_work, count, workers);
    else
        keep.emplace();
    for (int i = 0; i < count; ++i) {
        Progress(i);
        if (onPumpEvents)
            onPumpEvents();
        if (m_cancelRequested)
            break;
        Prepared p;
        if (!pool) {
            p = Prepare(*m_work, m_work->imagePaths.at(i));
        } else {
            // Short waits, so a click on Cancel is seen while a large image is still working.
            while (!m_cancelRequested && !pool->TryTake(i, std::chrono::milliseconds(30), p))
                if (onPumpEvents)
                    onPumpEvents();
            if (m_cancelRequested)
                break;
        }
        Commit(m_work->imagePaths.at(i), p);
        if (pool)
            pool->Committed();
    }
}

BatchRunResult CBatchRunner::RunBatch()
{
    const int count = static_cast<int>(m_work->imagePaths.size());
    if (count == 0)
        return m_result = {BatchRunResult::Outcome::NothingToDo, QString()};
    Progress(0);
    m_running = true;

    const Job &job = m_work->job;
    const QList<CPixortaTask *> &tasks = m_work->tasks;
    const QString outputFolder = job.ResultFolder();
    if (!outputFolder.isEmpty()) {
        QDir().mkdir(outputFolder);
        if (!QFileInfo(outputFolder).isDir()) {
            m_running = false;
            return m_result = {BatchRunResult::Outcome::FolderNotCreated, outputFolder};
        }
    }

    // Records are only read from here on, on every worker.
    if (job.notes)
        for (CPixortaTask *task : std::as_const(tasks))
            task->SetNoteLookup(job.notes);

    const int workers = std::min(job.workers > 0 ? job.workers : UsableCores(), count);
    RunImages(count, workers);

    QString folder = outputFolder;
    if (folder.isEmpty())
        folder = m_outputs.isEmpty() ? GetTempFolder() : GetFolderOf(m_outputs.front());
    // What the finishing step replaces (an earlier movie) goes through the same store, so it is
    // undone with the rest.
    for (CPixortaTask *task : std::as_const(tasks))
        if (!task->Finish(m_outputs, folder, *m_store, m_extraOutputs))
            ++m_errorCount;
    if (!m_extraOutputs.isEmpty())
        m_outputs = m_extraOutputs + m_outputs;

    m_store->End();

    Progress(count + 1);
    m_running = false;
    if (onFinished)
        onFinished();
    const QString summary =
        m_errorCount == 0
            ? QStringLiteral("Finished. No errors")
            : QStringLiteral("Finished. With ") + QString::number(m_errorCount) + QStringLiteral(" errors.");
    AddRow(QString(), summary, true, false);
    return m_result = {BatchRunResult::Outcome::Ran, QString()};
}
