#include "batchrunner.h"

#include "batch/io/imagefile.h"
#include "core/paths.h"
#include "tasks/pixortatask.h"
#include "engine/pximage.h"
#include "ui/uiseams.h"

#include <QDir>
#include <QFileInfo>
#include <filesystem>
#include <memory>

namespace {

bool ExistsAnything(const QString &path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(ToFsPath(path), ec));
}

QString FileNameOf(const QString &path)
{
    const QString ext = GetFileExtension(path);
    return ext.isEmpty() ? GetFileBaseName(path) : GetFileBaseName(path) + u'.' + ext;
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

CBatchRunner::CBatchRunner(BatchJob job) : m_job(std::move(job))
{
    if (!m_job.outputExtension.isEmpty() && !m_job.outputExtension.startsWith(u'.'))
        m_job.outputExtension.prepend(u'.');
}

void CBatchRunner::AddRow(const QString &path, const QString &text, bool success, bool indented)
{
    m_rows.append({path, text, success, indented});
    if (onRow)
        onRow(m_rows.back());
}

void CBatchRunner::Progress(int position)
{
    if (onProgress)
        onProgress(position, static_cast<int>(m_job.imagePaths.size()) + 1);
}

QString CBatchRunner::TargetPath(const QString &source, bool &saveNeeded) const
{
    QString target = source;
    if (!m_job.outputExtension.isEmpty()) {
        const QString folder = GetFolderOf(source);
        target = (folder.isEmpty() ? QString() : (folder.endsWith(u'/') ? folder : folder + u'/')) +
                 GetFileBaseName(source) + m_job.outputExtension;
        saveNeeded = true;
    }
    if (!m_job.outputFolder.isEmpty())
        target = JoinPath(m_job.outputFolder, FileNameOf(target));
    return target;
}

void CBatchRunner::ProcessImage(const QString &path)
{
    auto image = std::make_unique<PxImage>();
    if (!LoadImageFile(*image, path)) {
        AddRow(path, QStringLiteral("Loading failed"), false, false);
        ++m_errorCount;
        return;
    }

    bool anySucceeded = false, saveNeeded = false;
    for (CPixortaTask *task : std::as_const(m_job.tasks)) {
        if (!task)
            continue;
        bool modified = true;
        if (task->Apply(*image, modified, path)) {
            anySucceeded = true;
            saveNeeded = saveNeeded || modified;
        } else {
            AddRow(path, TaskKindName(task->Kind()) + QStringLiteral(" failed"), false, true);
            ++m_errorCount;
        }
    }
    AddRow(path, QString(), true, false);
    if (!anySucceeded)
        return;

    const QString target = TargetPath(path, saveNeeded);
    if (m_job.outputFolder.isEmpty() && !saveNeeded) {
        m_outputs.append(target); // nothing written: the source itself is the output
        return;
    }

    bool saved = true;
    if (ExistsAnything(target)) {
        // A file that could not be backed up is never overwritten: undo could not bring it back.
        const BackupEntry entry = BackupFile(m_backups, target);
        if (entry.IsEmpty())
            saved = false;
    }
    if (saved)
        saved = SaveImageFile(*image, target, -1, true);
    if (!saved) {
        if (ExistsAnything(target))
            ClearReadOnly(target);
        AddRow(path, QStringLiteral("Saving failed"), false, true);
        ++m_errorCount;
    }
    m_outputs.append(target);
}

bool CBatchRunner::RunBatch()
{
    const int count = static_cast<int>(m_job.imagePaths.size());
    if (count == 0)
        return false;
    Progress(0);
    m_running = true;

    if (!m_job.outputFolder.isEmpty()) {
        QDir().mkdir(m_job.outputFolder);
        if (!QFileInfo(m_job.outputFolder).isDir()) {
            ShowMessage(QStringLiteral("Could not create folder:") + m_job.outputFolder);
            m_running = false;
            return false;
        }
    }

    // Records are only read from here on.
    if (m_job.notes)
        for (CPixortaTask *task : std::as_const(m_job.tasks))
            if (task)
                task->SetNoteLookup(m_job.notes);

    for (int i = 0; i < count; ++i) {
        Progress(i);
        if (onPumpEvents)
            onPumpEvents();
        if (m_cancelRequested)
            break;
        ProcessImage(m_job.imagePaths[i]);
    }

    QString folder = m_job.outputFolder;
    if (folder.isEmpty())
        folder = m_outputs.isEmpty() ? GetTempFolder() : GetFolderOf(m_outputs.front());
    for (CPixortaTask *task : std::as_const(m_job.tasks))
        if (task && !task->Finish(m_outputs, folder, m_backups, m_extraOutputs))
            ++m_errorCount;
    if (!m_extraOutputs.isEmpty())
        m_outputs = m_extraOutputs + m_outputs;

    EnsureBackupFolder();
    UndoHistory::Instance().Append({m_backups, QStringLiteral("Processing all images")});

    Progress(count + 1);
    m_running = false;
    if (onFinished)
        onFinished();
    const QString summary =
        m_errorCount == 0
            ? QStringLiteral("Finished. No errors")
            : QStringLiteral("Finished. With ") + QString::number(m_errorCount) + QStringLiteral(" errors.");
    AddRow(QString(), summary, true, false);
    return true;
}
