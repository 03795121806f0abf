#pragma once
// Every file the system is about to overwrite is first copied into a private backup folder of
// this run; every batch and immediate operation is recorded as one undoable operation. The
// operations themselves go through a store (backupstore.h), which builds on these.

#include "core/filedigest.h"

#include <QList>
#include <QString>
#include <functional>

class QWidget;

struct BackupEntry {
    QString overwrittenPath;
    QString backupPath;
    // What the copy holds, as it was read while it was made.
    FileDigest original{};
    // Why no backup could be made, when none could.
    QString reason{};
    // Both paths are empty when no backup could be made.
    bool IsEmpty() const { return overwrittenPath.isEmpty() && backupPath.isEmpty(); }
};

// Copies the regular file from to a new file to (which must not exist), reading from only
// once and telling what it held; the copy is synced before it counts. False, with *why, when
// it could not be made whole: nothing of it is then left.
bool CopyFileWhole(const QString &from, const QString &to, FileDigest *digest, QString *why);

// A file an operation made where there was none: undo removes it, but only while it still
// holds what the operation wrote.
struct CreatedFile {
    QString path;
    FileDigest digest;
};

struct UndoOperation {
    QList<BackupEntry> entries;
    QString description;
    QList<CreatedFile> created{};
    // The operation's batch in the undo journal, which then holds its copies and files; ""
    // when it lives only in this run (the copies are in entries).
    QString journalFolder{};
};

// What an undo did, in numbers.
struct UndoCounts {
    qsizetype putBack = 0;
    qsizetype removedNew = 0;
    // Changed since the operation and left as they are: files it overwrote, and files it made.
    qsizetype changedLeft = 0;
    qsizetype failed = 0;
};
// "4 files put back, 12 new files removed, 1 changed file left"; "the batch wrote nothing new
// and overwrote nothing" when there was nothing to do.
QString UndoCountsText(const UndoCounts &counts);

// The process-wide list of undoable operations, oldest first. Never saved.
class UndoHistory {
public:
    static UndoHistory &Instance();
    void Append(UndoOperation operation) { m_operations.append(std::move(operation)); }
    bool IsEmpty() const { return m_operations.isEmpty(); }
    qsizetype Count() const { return m_operations.size(); }
    const UndoOperation &Newest() const { return m_operations.back(); }
    void RemoveNewest() { m_operations.removeLast(); }
    void Clear() { m_operations.clear(); }

private:
    QList<UndoOperation> m_operations;
};

// Copies path into the backup folder (or to backupPath when given) and appends the entry to
// list. The entry is empty when path is a folder or the copy failed: callers must then leave
// the file alone.
BackupEntry BackupFile(QList<BackupEntry> &list, const QString &path,
                       const QString &backupPath = QString(), bool makeCopy = true);
// The same into folder (private, made by the caller: a batch of the undo journal) instead of
// the backup folder of this run; "" makes every copy fail.
BackupEntry BackupFileInto(QList<BackupEntry> &list, const QString &path, const QString &folder);

// Claims a fresh private folder "pixorta_temp..." in the temporary folder, once per process.
void EnsureBackupFolder();
// The claimed folder, or "" when none could be made (every backup then fails, so nothing is
// overwritten).
QString GetBackupFolder();
// Deletes the backup folder with every file in it, read-only ones included.
void RemoveBackupFolder();

// The undo command: asks, restores the newest operation's files, removes the files it made
// that are still as it wrote them, reports what it did. True when the operation was undone
// (also when some files could not be copied back). An operation whose journal batch is gone
// (undone from the command line, or dropped by the journal's limits) is passed over.
bool UndoLastOperation(QWidget *owner = nullptr);

// Where restored files are reported (the main window's file-changed notification); with none
// registered, nothing is notified.
using FileChangedNotifier = std::function<void(const QString &path, const QString &note)>;
void SetFileChangedNotifier(FileChangedNotifier notifier);
void NotifyFileChanged(const QString &path, const QString &note = QString());

// Gives a file owner write permission back when it lacks it ("read-only"); true when the file
// is writable by its owner afterwards or does not exist.
bool ClearReadOnly(const QString &path);
