#pragma once
// The undo journal: the backups of the files a batch overwrote and the record of the files it
// made, kept in a private folder of the user's state folder so that the batch can be undone
// after the process has ended (after a reboot too). The command line and the window both keep
// their batches here. Each batch has a folder of its own holding its backup copies and
// a manifest that grows while the batch runs, so even a batch that was killed half-way can be
// undone as far as it got. A running batch holds a lock on its folder; nothing touches a
// batch that another process is still writing.

#include "backup.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

struct JournalEntry {
    // The file the batch overwrote, as an absolute path (a link's own destination: what the
    // batch really replaced).
    QString path;
    // Its copy from before the batch, inside the batch's folder.
    QString backup;
    // The file's modification time before the batch (nanoseconds), given back on undo.
    qint64 originalTime = 0;
    // What the copy holds; invalid in journals kept before it was recorded.
    FileDigest originalDigest;
    // The device and inode of the file's folder when the batch wrote there ("" when not
    // recorded): undo never writes into another folder that has taken its place.
    QString folderId;
    // The file as the batch left it; unknown (written false) when the batch stopped before it
    // replaced the file, or put the original back itself.
    bool written = false;
    qint64 writtenSize = 0;
    qint64 writtenTime = 0;
    // What the batch wrote; invalid in journals kept before it was recorded.
    FileDigest writtenDigest;
    // What the batch was about to write when it made the copy (invalid when it did not know):
    // a file that holds it is the batch's result even if the record of the write was lost.
    FileDigest willWrite;
    // When the batch replaced it (nanoseconds since the epoch; 0 when not recorded).
    qint64 writtenAt = 0;
    // Where the record stands in the batch's manifest.
    int sequence = 0;
};

// A file the batch made where there was none, as the batch left it.
struct JournalCreated {
    QString path;
    FileDigest digest;
    QString folderId;
    qint64 at = 0;
    int sequence = 0;
};

struct JournalBatch {
    QString folder;
    QDateTime date;
    QString command;
    QList<JournalEntry> entries;
    QList<JournalCreated> created;
    // Of the backup copies.
    qint64 bytes = 0;
    // Another process is still running it.
    bool running = false;
    // The batch ended normally (false: it was killed or crashed on the way).
    bool finished = false;
    // Why its record cannot be trusted (empty, cut short, not ours); "" when it is sound. A
    // damaged batch is never undone, pruned or read as "nothing": its copies stay until the
    // user forgets it.
    QString damage;
    // When it last replaced or made a file (nanoseconds; its start when nothing says): undo
    // takes batches in this order, so files two batches replaced come back in turn.
    qint64 lastActivity = 0;

    // Nothing to undo: it neither overwrote nor made a file, and its record is sound.
    bool IsEmpty() const { return entries.isEmpty() && created.isEmpty() && damage.isEmpty(); }
};

class CUndoJournal {
public:
    // $XDG_STATE_HOME/pixorta/journal, or ~/.local/state/pixorta/journal when that is unset
    // (or not an absolute path, which the convention says to ignore).
    static QString DefaultRoot();

    explicit CUndoJournal(QString root);
    const QString &Root() const { return m_root; }

    // Creates the journal's folders (only the user may enter them); false with *error when they
    // cannot be made or are not private to the user.
    bool Open(QString *error);

    // Every batch, the one that replaced a file last first.
    QList<JournalBatch> Batches() const;

    // Deletes the oldest batches until at most maxBatches remain and their copies take at most
    // maxBytes; the newest batch always stays, and so does one whose record is damaged.
    // Returns the batches deleted.
    QList<JournalBatch> Prune(int maxBatches, qint64 maxBytes);

    // Deletes every batch that is not running; returns them.
    QList<JournalBatch> Forget();

    struct UndoResult {
        bool found = false;
        JournalBatch batch;
        QStringList restored;
        // Changed since the batch and not to be overwritten: left as they are, and still in
        // the journal.
        QStringList kept;
        // path and why.
        QList<QPair<QString, QString>> failed;
        // The batch left the journal (nothing of it was kept or failed).
        bool removed = false;
        // Files the batch made, removed because they still held what it wrote.
        QStringList removedNew;
        // Files the batch made that changed since: left as they are.
        QStringList changedNew;
        // The batch's record is damaged: nothing was done, and its copies stay.
        bool damaged = false;
        // Why the record of what stays could not be written ("" when it was): the old record
        // is then still there.
        QString recordNotUpdated;

        UndoCounts Counts() const
        {
            return {restored.size(), removedNew.size(), kept.size() + changedNew.size(),
                    failed.size()};
        }
    };
    // Puts back every file of the newest batch that is not running, byte for byte, with its
    // permissions and modification time, and removes the files the batch made while they still
    // hold what it wrote (a file changed since stays). A file it overwrote that changed since
    // is overwritten only when overwriteChanged says so.
    UndoResult UndoNewest(const std::function<bool(const QString &path)> &overwriteChanged);
    // The same for the batch in folder; nothing found when it is not there or still running.
    UndoResult UndoBatch(const QString &folder,
                         const std::function<bool(const QString &path)> &overwriteChanged);

private:
    QString m_root;
};

// One batch being written into the journal, from Begin to its destruction (which finishes it).
class CJournalRecorder {
public:
    // Starts a batch in the journal for command; null with *error when no folder can be made.
    static std::unique_ptr<CJournalRecorder> Begin(const CUndoJournal &journal,
                                                   const QString &command, QString *error);
    ~CJournalRecorder();
    CJournalRecorder(const CJournalRecorder &) = delete;
    CJournalRecorder &operator=(const CJournalRecorder &) = delete;

    // Where the backup copies go.
    const QString &Folder() const { return m_folder; }
    // Before the overwritten file is replaced: its copy is in the batch folder. False, with
    // *error, when the record could not be written whole: the file must then stay as it is,
    // since nothing would bring it back.
    bool RecordBackup(const BackupEntry &entry, const std::optional<FileDigest> &willWrite = {},
                      QString *error = nullptr);
    // After: the file as the batch left it, with what it holds when that is known already
    // (otherwise it is read now).
    bool RecordWritten(const QString &path, const std::optional<FileDigest> &digest = {});
    // A file the batch made where there was none.
    bool RecordCreated(const QString &path, const std::optional<FileDigest> &digest = {});
    // Ends the batch; a batch that neither overwrote nor made a file leaves the journal. True
    // when the batch stays (something can be undone).
    bool Finish();

private:
    CJournalRecorder() = default;
    QString Manifest() const;

    QString m_folder;
    int m_lock = -1;
    // Files it replaced or made: a batch that did neither leaves no batch behind.
    int m_changed = 0;
    bool m_finished = false;
};

// "device:inode" of the folder that holds path; "" when it cannot be looked at.
QString FolderIdOf(const QString &path);
// The file a batch really replaces at path: a link's destination, otherwise path itself.
QString ReplacedFileOf(const QString &path);
