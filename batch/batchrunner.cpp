#include "batchrunner.h"

#include "imageio/imagefile.h"
#include "core/cores.h"
#include "core/filedigest.h"
#include "core/paths.h"
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

CBatchRunner::CBatchRunner(Job job, QStringList imagePaths, CBackupStore *backups)
    : m_job(std::move(job)), m_imagePaths(std::move(imagePaths)), m_tasks(m_job.Applied()),
      m_store(backups)
{
    if (!m_store) {
        m_ownStore = std::make_unique<CHistoryBackupStore>(QStringLiteral("Processing all images"));
        m_store = m_ownStore.get();
    }
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
        onProgress(position, static_cast<int>(m_imagePaths.size()) + 1);
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
};

CBatchRunner::Prepared CBatchRunner::Prepare(const QString &path) const
{
    Prepared p;
    auto image = std::make_unique<PxImage>();
    image->SetKeepMetadata(m_job.keepMetadata);
    if (!LoadImageFile(*image, path)) {
        p.loadReason = DescribeLoadFailure(*image, path);
        return p;
    }
    if (m_job.autoOrient && !image->AutoOrient()) {
        p.loadReason = QStringLiteral("the picture could not be turned upright: ") +
                       QString::fromUtf8(image->GetLastError());
        return p;
    }
    p.loaded = true;
    // Tasks build new pictures; what the file carried beside its pixels is given back after.
    const std::shared_ptr<const PxMetadata> metadata = image->GetMetadata();

    bool saveNeeded = false;
    for (CPixortaTask *task : m_tasks) {
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

    p.target = BatchTargetPath(m_job, path, saveNeeded);
    p.save = !(m_job.ResultFolder().isEmpty() && !saveNeeded);
    if (p.save) {
        image->SetMetadata(metadata);
        p.prepared = PrepareImageFileSave(*image, p.target, p.pending);
        if (!p.prepared)
            p.saveError = image->GetLastError();
        else if (m_job.verify && !VerifyPendingSave(p.pending, p.target, *image, &p.verifyFailure))
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
    if (ExistsAnything(p.target)) {
        // A file that could not be backed up is never overwritten: undo could not bring it back.
        const BackupEntry entry = m_store->Keep(p.target);
        if (entry.IsEmpty()) {
            saved = false;
            reason = QFileInfo(p.target).isDir()
                         ? QStringLiteral("a folder stands where the file would go")
                         : QStringLiteral("the file it would replace could not be backed up, "
                                          "so it was left as it was");
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
}

// Prepares images on worker threads, in order, at most workers + 1 ahead of the last commit
// (each image in flight holds its decoded picture and its tasks' temporaries, so this bounds
// the memory). The task records are shared by all workers: they are immutable once made, and
// Apply only reads them (see CPixortaTask). The job is only read as well (const access: a
// QList that is written to detaches, which would race).
class CBatchRunner::WorkerPool {
public:
    WorkerPool(const CBatchRunner &runner, int count, int workers)
        : m_runner(runner), m_count(count), m_window(workers + 1)
    {
        m_threads.reserve(static_cast<size_t>(workers));
        for (int w = 0; w < workers; ++w)
            m_threads.emplace_back([this] { Work(); });
    }

    // Images still in flight (after a cancel) are dropped: their encoded files are deleted and
    // nothing of them is listed.
    ~WorkerPool()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
            m_workAvailable.notify_all();
        }
        for (std::thread &t : m_threads)
            t.join();
    }

    // Waits up to `slice` for image index; true with its result when it is ready.
    bool TryTake(int index, std::chrono::milliseconds slice, Prepared &out)
    {
        std::unique_lock lock(m_mutex);
        if (!m_resultReady.wait_for(lock, slice, [&] { return m_results.count(index) != 0; }))
            return false;
        out = std::move(m_results.at(index));
        m_results.erase(index);
        return true;
    }

    void Committed()
    {
        std::lock_guard lock(m_mutex);
        ++m_committed;
        m_workAvailable.notify_all();
    }

private:
    void Work()
    {
        const PxKeepBlocksOnThisThread keep;
        for (;;) {
            int index;
            {
                std::unique_lock lock(m_mutex);
                m_workAvailable.wait(lock, [&] {
                    return m_stop ||
                           (m_nextToTake < m_count && m_nextToTake < m_committed + m_window);
                });
                if (m_stop || m_nextToTake >= m_count)
                    return;
                index = m_nextToTake++;
            }
            Prepared p;
            try {
                p = m_runner.Prepare(m_runner.m_imagePaths.at(index));
            } catch (const std::exception &e) {
                p = Prepared{};
                p.loadReason = QString::fromLocal8Bit(e.what());
            }
            std::lock_guard lock(m_mutex);
            m_results.emplace(index, std::move(p));
            m_resultReady.notify_all();
        }
    }

    const CBatchRunner &m_runner;
    const int m_count;
    const int m_window;
    std::mutex m_mutex;
    std::condition_variable m_workAvailable, m_resultReady;
    std::map<int, Prepared> m_results;
    int m_nextToTake = 0;
    int m_committed = 0;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

// The calling thread commits the images in input order and keeps the window alive while it
// waits for the workers; with one worker it prepares each image itself.
void CBatchRunner::RunImages(int count, int workers)
{
    std::unique_ptr<WorkerPool> pool;
    std::optional<PxKeepBlocksOnThisThread> keep;
    if (workers > 1)
        pool = std::make_unique<WorkerPool>(*this, count, workers);
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
            p = Prepare(m_imagePaths.at(i));
        } else {
            // Short waits, so a click on Cancel is seen while a large image is still working.
            while (!m_cancelRequested && !pool->TryTake(i, std::chrono::milliseconds(30), p))
                if (onPumpEvents)
                    onPumpEvents();
            if (m_cancelRequested)
                break;
        }
        Commit(m_imagePaths.at(i), p);
        if (pool)
            pool->Committed();
    }
}

BatchRunResult CBatchRunner::RunBatch()
{
    const int count = static_cast<int>(m_imagePaths.size());
    if (count == 0)
        return m_result = {BatchRunResult::Outcome::NothingToDo, QString()};
    Progress(0);
    m_running = true;

    const QString outputFolder = m_job.ResultFolder();
    if (!outputFolder.isEmpty()) {
        QDir().mkdir(outputFolder);
        if (!QFileInfo(outputFolder).isDir()) {
            m_running = false;
            return m_result = {BatchRunResult::Outcome::FolderNotCreated, outputFolder};
        }
    }

    // Records are only read from here on, on every worker.
    if (m_job.notes)
        for (CPixortaTask *task : std::as_const(m_tasks))
            task->SetNoteLookup(m_job.notes);

    const int workers = std::min(m_job.workers > 0 ? m_job.workers : UsableCores(), count);
    RunImages(count, workers);

    QString folder = outputFolder;
    if (folder.isEmpty())
        folder = m_outputs.isEmpty() ? GetTempFolder() : GetFolderOf(m_outputs.front());
    // What the finishing step replaces (an earlier movie) goes through the same store, so it is
    // undone with the rest.
    for (CPixortaTask *task : std::as_const(m_tasks))
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
