#include "batchrunner.h"

#include "imageio/imagefile.h"
#include "core/cores.h"
#include "core/filedigest.h"
#include "core/paths.h"
#include "core/safefile.h"
#include "undo/pathlock.h"
#include "batch/joboptions.h"
#include "batch/targets.h"
#include "tasks/pixortatask.h"
#include "engine/pximage.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
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
    if (!row.variant.isEmpty())
        text += QStringLiteral(" [") + row.variant + u']';
    if (row.indented)
        text.prepend(QStringLiteral("   "));
    return text;
}

struct CBatchRunner::Work {
    Job job;
    QStringList imagePaths;
    // The job's own outputs, or one per variant.
    QList<BatchOutput> outputs;
};

CBatchRunner::CBatchRunner(Job job, QStringList imagePaths, CBackupStore *backups)
    : m_work(std::make_shared<Work>(Work{job, std::move(imagePaths), BatchOutputsOf(job)})),
      m_store(backups)
{
    if (!m_store) {
        m_ownStore = std::make_unique<CHistoryBackupStore>(QStringLiteral("Processing all images"));
        m_store = m_ownStore.get();
    }
}

CBatchRunner::~CBatchRunner() = default;

const Job &CBatchRunner::RunJob() const
{
    return m_work->job;
}

const QStringList &CBatchRunner::ImagePaths() const
{
    return m_work->imagePaths;
}

void CBatchRunner::AddRow(const QString &path, const QString &text, bool success, bool indented,
                          const QString &reason, const QString &variant)
{
    m_rows.append({path, text, success, indented, reason, variant});
    if (onRow)
        onRow(m_rows.back());
}

void CBatchRunner::Progress(int position)
{
    if (onProgress)
        onProgress(position, static_cast<int>(m_work->imagePaths.size()) + 1);
}

// What a worker hands to the commit step: one result of an image.
struct CBatchRunner::PreparedOutput {
    // The indented rows of the tasks that failed, in task order.
    QList<ResultRow> taskFailures;
    bool anySucceeded = false;
    bool save = false;
    // Where the job wants the result; the commit step decides where it goes.
    QString target;
    // Its place was taken when the image was worked on, and the job skips such images: nothing
    // was encoded.
    bool skippedEarly = false;
    PxPendingSave pending;
    bool prepared = false;
    std::string saveError;
    // Set when the encoded file was read back and did not match.
    QString verifyFailure;
    // What the encoded file holds, worked out on the worker so the undo journal need not read
    // every result again on the thread that commits them.
    std::optional<FileDigest> written;
};

// ... and of one image.
struct CBatchRunner::Prepared {
    bool loaded = false;
    QString loadReason;
    // One per output of the batch, in their order.
    std::vector<PreparedOutput> outputs;
    // The source's modification time, taken before anything replaced it, for a job that
    // keeps the dates.
    std::optional<struct timespec> sourceTime;
};

void CBatchRunner::PrepareOutput(const BatchOutput &output, const QString &path, int index,
                                 PxImage &image,
                                 const std::shared_ptr<const PxMetadata> &metadata,
                                 PreparedOutput &p, const std::atomic<bool> *dropped)
{
    const Job &job = output.job;
    bool saveNeeded = false;
    for (CPixortaTask *task : output.tasks) {
        if (dropped && *dropped)
            return;
        bool modified = true;
        image.SetLastError("");
        if (task->Apply(image, modified, path)) {
            p.anySucceeded = true;
            saveNeeded = saveNeeded || modified;
        } else {
            p.taskFailures.append({path, TaskKindName(task->Kind()) + QStringLiteral(" failed"),
                                   false, true, QString::fromUtf8(image.GetLastError()), output.label});
        }
    }
    if (!p.anySucceeded || (dropped && *dropped))
        return;

    p.target = BatchTargetPath(job, path, FactsOf(job, path, index, image.GetWidth(), image.GetHeight()),
                               saveNeeded);
    p.save = !(job.ResultFolder().isEmpty() && !saveNeeded);
    if (!p.save)
        return;
    if (job.ifExists == Job::IfExists::Skip && ExistsAnything(p.target)) {
        p.skippedEarly = true;
        return;
    }
    image.SetMetadata(metadata);
    job.PrepareForSave(image);
    p.prepared = PrepareImageFileSave(image, p.target, p.pending);
    if (!p.prepared)
        p.saveError = image.GetLastError();
    else if (job.verify && !VerifyPendingSave(p.pending, p.target, image, &p.verifyFailure))
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

CBatchRunner::Prepared CBatchRunner::Prepare(const Work &work, int index,
                                             const std::atomic<bool> *dropped)
{
    const Job &job = work.job;
    const QString &path = work.imagePaths.at(index);
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
    if (job.keepDates)
        p.sourceTime = ModificationTime(path);
    // Tasks build new pictures; what the file carried beside its pixels is given back after.
    const std::shared_ptr<const PxMetadata> metadata = image->GetMetadata();

    // Every output starts from the one loaded picture; the last one may have it.
    p.outputs.resize(size_t(work.outputs.size()));
    for (qsizetype o = 0; o < work.outputs.size(); ++o) {
        // A result that is dropped is not worth making (a stopped batch whose worker was held
        // up by a picture ends that picture here).
        if (dropped && *dropped)
            break;
        if (o + 1 < work.outputs.size()) {
            PxImage copy(*image);
            PrepareOutput(work.outputs[o], path, index, copy, metadata, p.outputs[size_t(o)],
                          dropped);
        } else {
            PrepareOutput(work.outputs[o], path, index, *image, metadata, p.outputs[size_t(o)],
                          dropped);
        }
    }
    return p;
}

void CBatchRunner::Commit(int index, Prepared &prepared)
{
    const QString &path = m_work->imagePaths.at(index);
    if (!prepared.loaded) {
        AddRow(path, QStringLiteral("Loading failed"), false, false, prepared.loadReason);
        ++m_errorCount;
        return;
    }
    for (qsizetype o = 0; o < m_work->outputs.size(); ++o)
        CommitOutput(m_work->outputs[o], path, prepared.outputs[size_t(o)], prepared.sourceTime);
}

void CBatchRunner::CommitOutput(const BatchOutput &output, const QString &path, PreparedOutput &p,
                                const std::optional<struct timespec> &sourceTime)
{
    const QString &label = output.label;
    for (const ResultRow &row : std::as_const(p.taskFailures)) {
        AddRow(row.sourcePath, row.text, row.success, row.indented, row.reason, label);
        ++m_errorCount;
    }
    if (!p.anySucceeded) {
        AddRow(path, QString(), true, false, QString(), label);
        return;
    }
    if (!p.save) {
        AddRow(path, QString(), true, false, QString(), label);
        m_outputs.append(p.target); // nothing written: the source itself is the output
        return;
    }

    const TargetClaims::Decision decision =
        m_claims->Claim(p.target, path, output.job.ifExists, ExistsAnything);
    // Why the wanted place could not be had, for a skipped or renamed result.
    const QString taken = decision.takenBy.isEmpty()
                              ? QStringLiteral("a file stands at ") + p.target
                              : QStringLiteral("another image of this batch writes ") + p.target;
    if (decision.kind == TargetClaims::Decision::Kind::Skip || p.skippedEarly) {
        p.pending.Discard();
        AddRow(path, QStringLiteral("Skipped (exists)"), true, false, taken, label);
        return;
    }
    AddRow(path, QString(), true, false, QString(), label);

    if (!p.verifyFailure.isEmpty()) {
        // Nothing was replaced: whatever stood at the target is as it was.
        AddRow(path, QStringLiteral("Verify failed"), false, true, p.verifyFailure, label);
        ++m_errorCount;
        return;
    }

    bool saved = true;
    QString reason;
    const QString target = decision.path;
    if (target.isEmpty()) {
        saved = false;
        reason = QStringLiteral("no free name was found beside ") + p.target;
    } else if (decision.kind == TargetClaims::Decision::Kind::Rename) {
        AddRow(path, QStringLiteral("Renamed to ") + FileNameOf(target), true, true, taken, label);
        if (p.prepared && !p.pending.Retarget(ToFsPath(target))) {
            saved = false;
            reason = QStringLiteral("the result could not be given the free name ") + target;
        }
    }
    // From the look at what stands there to its replacement, no other batch touches the file:
    // two would back up the same original and replace each other's result.
    std::optional<CPathLock> lock;
    if (saved)
        lock.emplace(target);
    if (saved && !lock->Held()) {
        saved = false;
        reason = QStringLiteral("another batch was writing this file the whole time, so it was "
                                "left to that one");
    } else if (saved && ExistsAnything(target)) {
        // A file that could not be backed up is never overwritten: undo could not bring it back.
        const BackupEntry entry = m_store->Keep(target, p.written);
        if (entry.IsEmpty()) {
            saved = false;
            reason = QFileInfo(target).isDir()
                         ? QStringLiteral("a folder stands where the file would go")
                         : QStringLiteral("the file it would replace could not be backed up, "
                                          "so it was left as it was") +
                               (entry.reason.isEmpty() ? QString() : QStringLiteral(": ") + entry.reason);
        }
    }
    if (saved && !p.prepared) {
        saved = false;
        reason = DescribeSaveFailure(p.saveError, target);
    }
    if (saved) {
        std::string error;
        saved = p.pending.Commit(&error);
        if (!saved)
            reason = DescribeSaveFailure(error, target);
        else
            m_store->Replaced(target, p.written);
    }
    p.pending.Discard();
    if (!saved) {
        if (!target.isEmpty() && ExistsAnything(target))
            ClearReadOnly(target);
        AddRow(path, QStringLiteral("Saving failed"), false, true, reason, label);
        ++m_errorCount;
        // A file that was never written is nobody's output.
        return;
    }
    m_outputs.append(target);
    if (sourceTime) {
        if (const QString why = SetModificationTime(target, *sourceTime); !why.isEmpty()) {
            // The picture is written and stays; only its date is not the source's.
            AddRow(path, QStringLiteral("Keeping the date failed"), false, true, why, label);
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
            m_state->dropped = true;
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
        // Set with stop, read without the lock by a worker in the middle of an image.
        std::atomic<bool> dropped{false};
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
                p = Prepare(*state.work, index, &state.dropped);
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
            p = Prepare(*m_work, i);
        } else {
            // Short waits, so a click on Cancel is seen while a large image is still working.
            while (!m_cancelRequested && !pool->TryTake(i, std::chrono::milliseconds(30), p))
                if (onPumpEvents)
                    onPumpEvents();
            if (m_cancelRequested)
                break;
        }
        Commit(i, p);
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
    const QString outputFolder = job.ResultFolder();
    if (!outputFolder.isEmpty()) {
        QDir().mkdir(outputFolder);
        if (!QFileInfo(outputFolder).isDir()) {
            m_running = false;
            return m_result = {BatchRunResult::Outcome::FolderNotCreated, outputFolder};
        }
        // The folders results go into are made before the workers write beside them; one
        // that cannot be made fails the saves into it, each with its reason.
        if (job.keepFolders && job.foundIn) {
            QSet<QString> made;
            for (const QString &path : std::as_const(m_work->imagePaths))
                if (const QString sub = job.FoundIn(path); !sub.isEmpty() && !made.contains(sub)) {
                    made.insert(sub);
                    QDir(outputFolder).mkpath(sub);
                }
        }
    }
    m_claims = std::make_unique<TargetClaims>(m_work->imagePaths);

    // Records are only read from here on, on every worker.
    if (job.notes)
        for (const BatchOutput &output : std::as_const(m_work->outputs))
            for (CPixortaTask *task : output.tasks)
                task->SetNoteLookup(job.notes);

    const int workers = std::min(job.workers > 0 ? job.workers : UsableCores(), count);
    RunImages(count, workers);

    QString folder = outputFolder;
    if (folder.isEmpty())
        folder = m_outputs.isEmpty() ? GetTempFolder() : GetFolderOf(m_outputs.front());
    // What the finishing step replaces (an earlier movie) goes through the same store, so it is
    // undone with the rest.
    for (CPixortaTask *task : m_work->outputs.front().tasks)
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
