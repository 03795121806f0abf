#include "backup.h"

#include "core/paths.h"
#include "core/safefile.h"
#include "ui/uiseams.h"
#include "backup_testhooks.h"
#include "journal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

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

// A folder we may keep copies of the user's pictures in: a real folder (not a link to one),
// owned by us and closed to everybody else.
bool IsPrivateFolder(const QString &path)
{
    struct stat st {};
    return ::lstat(path.toUtf8().constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
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

bool CopyFileWhole(const QString &from, const QString &to, FileDigest *digest, QString *why)
{
    auto fail = [why](const QString &text) {
        if (why)
            *why = text;
        return false;
    };
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (in < 0)
        return fail(QStringLiteral("it cannot be read: ") + ErrnoText(errno));
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return fail(QStringLiteral("not a regular file"));
    }
    const int out = ::open(QFile::encodeName(to).constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return fail(QStringLiteral("the copy cannot be made: ") + ErrnoText(err));
    }
    QCryptographicHash hash(QCryptographicHash::Blake2b_256);
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    qint64 total = 0;
    QString problem;
    for (;;) {
        ssize_t n = ::read(in, buffer.data(), size_t(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            problem = QStringLiteral("it cannot be read: ") + ErrnoText(errno);
            break;
        }
        if (n == 0)
            break;
        hash.addData(QByteArrayView(buffer.constData(), n));
        total += n;
        for (const char *p = buffer.constData(); n > 0;) {
            const ssize_t w = ::write(out, p, size_t(n));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                problem = QStringLiteral("the copy cannot be made: ") + ErrnoText(w < 0 ? errno : EIO);
                break;
            }
            p += w;
            n -= w;
        }
        if (!problem.isEmpty())
            break;
    }
    // The copy keeps the file's permissions (a read-only photo comes back read-only); the
    // folder it lies in is private all the same.
    if (problem.isEmpty() && ::fchmod(out, st.st_mode & 07777) != 0)
        problem = QStringLiteral("the copy cannot be made: ") + ErrnoText(errno);
    if (problem.isEmpty() && ::fsync(out) != 0)
        problem = QStringLiteral("the copy cannot be made: ") + ErrnoText(errno);
    if (::close(out) != 0 && problem.isEmpty())
        problem = QStringLiteral("the copy cannot be made: ") + ErrnoText(errno);
    ::close(in);
    if (!problem.isEmpty()) {
        // A copy cut short (a full disk) would look like a backup and bring back half a file.
        ::unlink(QFile::encodeName(to).constData());
        return fail(problem);
    }
    if (digest)
        *digest = {total, hash.result()};
    return true;
}

namespace {
BackupEntry Backup(QList<BackupEntry> &list, const QString &path, const QString &backupPath,
                   const QString &folder)
{
    BackupEntry entry;
    if (IsFolder(path)) {
        entry.reason = QStringLiteral("a folder stands where the file would go");
    } else {
        QString target = backupPath;
        // Without a folder of our own there is nowhere safe to copy to: the entry stays empty,
        // so the caller leaves the file alone.
        if (target.isEmpty() && !folder.isEmpty())
            target = MakeUniquePath(folder, GetFileBaseName(path), GetFileExtension(path), true);
        FileDigest digest;
        QString why = QStringLiteral("there is no private folder to keep the copy in");
        if (!target.isEmpty() && CopyFileWhole(path, target, &digest, &why)) {
            entry = {path, target, digest, QString()};
        } else {
            entry.reason = why;
        }
    }
    list.append(entry);
    return entry;
}
} // namespace

BackupEntry BackupFile(QList<BackupEntry> &list, const QString &path, const QString &backupPath,
                       bool makeCopy)
{
    if (!makeCopy) {
        BackupEntry entry;
        if (!IsFolder(path))
            entry = {path, backupPath};
        list.append(entry);
        return entry;
    }
    const QString folder = GetBackupFolder();
    return Backup(list, path, backupPath, folder);
}

BackupEntry BackupFileInto(QList<BackupEntry> &list, const QString &path, const QString &folder)
{
    return Backup(list, path, QString(), folder);
}

void EnsureBackupFolder()
{
    if (g_backupCreated)
        return;
    g_backupCreated = true;
    // mkdir is the claim: two processes started in the same second draw the same random
    // suffixes, and only one of them can create a given folder. The loser takes the next name.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString candidate = MakeTempPath(QStringLiteral("pixorta_temp"));
        if (candidate.isEmpty())
            break;
        // Only the user may read the copies of their pictures.
        if (::mkdir(candidate.toUtf8().constData(), 0700) == 0) {
            if (IsPrivateFolder(candidate))
                g_backupFolder = candidate;
            return;
        }
        if (errno != EEXIST)
            break;
    }
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

void ResetUndoStateForTests()
{
    RemoveBackupFolder();
    ResetBackupFolderForTests();
    UndoHistory::Instance().Clear();
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

QString UndoCountsText(const UndoCounts &counts)
{
    auto files = [](qsizetype n, const char *one, const char *many) {
        return QString::number(n) + u' ' + QLatin1String(n == 1 ? one : many);
    };
    QStringList parts;
    if (counts.putBack > 0)
        parts << files(counts.putBack, "file put back", "files put back");
    if (counts.removedNew > 0)
        parts << files(counts.removedNew, "new file removed", "new files removed");
    if (counts.changedLeft > 0)
        parts << files(counts.changedLeft, "changed file left", "changed files left");
    if (counts.failed > 0)
        parts << files(counts.failed, "file could not be undone", "files could not be undone");
    if (parts.isEmpty())
        return QStringLiteral("the batch wrote nothing new and overwrote nothing");
    return parts.join(QStringLiteral(", "));
}

namespace {

// Undoes an operation that lived only in this run: its copies are in the backup folder.
UndoCounts UndoInThisRun(const UndoOperation &operation, QStringList *left)
{
    UndoCounts counts;
    QSet<QString> made;
    for (const CreatedFile &c : operation.created)
        made.insert(c.path);
    for (const BackupEntry &entry : operation.entries) {
        if (entry.IsEmpty() || entry.backupPath.isEmpty()) {
            ++counts.failed;
            continue;
        }
        // A file the operation made was not there before it: it is removed below, not put back
        // to what the operation wrote first.
        if (made.contains(entry.overwrittenPath))
            continue;
        if (Exists(entry.overwrittenPath))
            ClearReadOnly(entry.overwrittenPath);
        if (CopyOver(entry.backupPath, entry.overwrittenPath)) {
            ++counts.putBack;
            NotifyFileChanged(entry.overwrittenPath);
        } else {
            ++counts.failed;
        }
    }
    for (const CreatedFile &c : operation.created) {
        if (!Exists(c.path))
            continue;
        if (DigestOfFile(c.path) != std::optional<FileDigest>(c.digest)) {
            ++counts.changedLeft;
            *left << c.path;
        } else if (::unlink(c.path.toUtf8().constData()) == 0) {
            ++counts.removedNew;
            NotifyFileChanged(c.path);
        } else {
            ++counts.failed;
        }
    }
    return counts;
}

} // namespace

bool UndoLastOperation(QWidget *owner)
{
    UndoHistory &history = UndoHistory::Instance();
    // A batch undone from the command line, or dropped by the journal's limits, is no longer
    // there to undo.
    while (!history.IsEmpty() && !history.Newest().journalFolder.isEmpty() &&
           !IsFolder(history.Newest().journalFolder))
        history.RemoveNewest();
    if (history.IsEmpty()) {
        ShowMessage(QStringLiteral("There is nothing to undo (i.e. no file was overwritten)"),
                    QString(), MsgButtons::Ok, MsgIcon::Information, owner);
        return false;
    }
    const UndoOperation operation = history.Newest();
    QString question = QStringLiteral("Are you sure you want to undo the last operation");
    if (!operation.description.isEmpty())
        question += QStringLiteral(" (") + operation.description + u')';
    question += u'?';
    if (ShowMessage(question, QString(), MsgButtons::YesNo, MsgIcon::Question, owner) !=
        MsgAnswer::Yes)
        return false;

    UndoCounts counts;
    QStringList left;
    if (operation.journalFolder.isEmpty()) {
        counts = UndoInThisRun(operation, &left);
    } else {
        // The user asked for the undo: what the operation overwrote goes back whatever became
        // of it since, as in this run; files it made that changed since stay.
        CUndoJournal journal(QFileInfo(operation.journalFolder).absolutePath());
        const CUndoJournal::UndoResult r =
            journal.UndoBatch(operation.journalFolder, [](const QString &) { return true; });
        counts = r.Counts();
        left = r.changedNew;
    }
    history.RemoveNewest();
    QString text;
    if (counts.failed > 0)
        text = QStringLiteral("Done, but there were errors, not every file could be copied back: ") +
               UndoCountsText(counts) + u'.';
    else if (!left.isEmpty())
        text = QStringLiteral("Undone: ") + UndoCountsText(counts) +
               QStringLiteral(". Changed since, and left as they are:\n") + left.join(u'\n');
    else
        text = QStringLiteral("Everything undo'ed OK: ") + UndoCountsText(counts) + u'.';
    ShowMessage(text, QString(), MsgButtons::Ok,
                counts.failed > 0 ? MsgIcon::Warning : MsgIcon::Information, owner);
    return true;
}
