#include "backup.h"

#include "core/paths.h"
#include "ui/uiseams.h"

#include <QDir>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {
QString g_backupFolder;
bool g_backupCreated = false;
FileChangedNotifier g_notifier;

bool IsFolder(const QString &path)
{
    std::error_code ec;
    return fs::is_directory(ToFsPath(path), ec);
}

bool Exists(const QString &path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(ToFsPath(path), ec));
}

bool CopyOver(const QString &from, const QString &to)
{
    std::error_code ec;
    return fs::copy_file(ToFsPath(from), ToFsPath(to), fs::copy_options::overwrite_existing, ec) &&
           !ec;
}
} // namespace

UndoHistory &UndoHistory::Instance()
{
    static UndoHistory history;
    return history;
}

bool ClearReadOnly(const QString &path)
{
    struct stat st {};
    const QByteArray native = path.toUtf8();
    if (::lstat(native.constData(), &st) != 0)
        return true;
    if (S_ISLNK(st.st_mode) || (st.st_mode & S_IWUSR))
        return true;
    return ::chmod(native.constData(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

BackupEntry BackupFile(QList<BackupEntry> &list, const QString &path, const QString &backupPath,
                       bool makeCopy)
{
    BackupEntry entry;
    if (!IsFolder(path)) {
        if (makeCopy) {
            QString target = backupPath;
            if (target.isEmpty())
                target = MakeUniquePath(GetBackupFolder(), GetFileBaseName(path),
                                        GetFileExtension(path), true);
            if (!target.isEmpty() && CopyOver(path, target))
                entry = {path, target};
        } else {
            entry = {path, backupPath};
        }
    }
    list.append(entry);
    return entry;
}

void EnsureBackupFolder()
{
    if (g_backupCreated)
        return;
    g_backupFolder = MakeTempPath(QStringLiteral("pixorta_temp"));
    // Only the user may read the copies of their pictures.
    ::mkdir(g_backupFolder.toUtf8().constData(), 0700);
    g_backupCreated = true;
}

QString GetBackupFolder()
{
    EnsureBackupFolder();
    return g_backupFolder;
}

void RemoveBackupFolder()
{
    if (g_backupFolder.isEmpty() || !IsFolder(g_backupFolder))
        return;
    for (const QString &entry : ListFolderEntries(g_backupFolder)) {
        if (!Exists(entry))
            continue;
        ClearReadOnly(entry);
        std::error_code ec;
        fs::remove(ToFsPath(entry), ec);
    }
    QDir().rmdir(g_backupFolder);
}

void ResetBackupFolderForTests()
{
    g_backupFolder.clear();
    g_backupCreated = false;
}

void SetFileChangedNotifier(FileChangedNotifier notifier)
{
    g_notifier = std::move(notifier);
}

void NotifyFileChanged(const QString &path, const QString &note)
{
    if (g_notifier)
        g_notifier(path, note);
}

bool UndoLastOperation(QWidget *owner)
{
    UndoHistory &history = UndoHistory::Instance();
    if (history.IsEmpty()) {
        ShowMessage(QStringLiteral("There is nothing to undo (i.e. no file was overwritten)"),
                    QString(), MsgButtons::Ok, MsgIcon::Information, owner);
        return false;
    }
    const UndoOperation &operation = history.Newest();
    QString question = QStringLiteral("Are you sure you want to undo the last operation");
    if (!operation.description.isEmpty())
        question += QStringLiteral(" (") + operation.description + u')';
    question += u'?';
    if (ShowMessage(question, QString(), MsgButtons::YesNo, MsgIcon::Question, owner) !=
        MsgAnswer::Yes)
        return false;

    bool errors = false;
    for (const BackupEntry &entry : operation.entries) {
        if (entry.IsEmpty() || entry.backupPath.isEmpty()) {
            errors = true;
            continue;
        }
        if (Exists(entry.overwrittenPath))
            ClearReadOnly(entry.overwrittenPath);
        if (CopyOver(entry.backupPath, entry.overwrittenPath))
            NotifyFileChanged(entry.overwrittenPath);
        else
            errors = true;
    }
    ShowMessage(errors ? QStringLiteral(
                             "Done, but there were errors, not every file could be copied back.")
                       : QStringLiteral("Everything undo'ed OK"),
                QString(), MsgButtons::Ok, errors ? MsgIcon::Warning : MsgIcon::Information, owner);
    history.RemoveNewest();
    return true;
}
