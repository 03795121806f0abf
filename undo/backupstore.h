#pragma once
// What an operation that replaces the user's files (a batch, a rotation) talks to: it keeps a
// copy of a file before replacing it, says when the file has been replaced and ends the
// operation. Where the copies go and what makes them undoable is the store's affair: a folder of
// this run under the window's undo history, or the undo journal that outlives the process. A
// store may sit on top of another and add to what that one does.

#include "backup.h"

#include <QList>
#include <QSet>
#include <QString>
#include <optional>

class CBackupStore {
public:
    virtual ~CBackupStore() = default;

    // Before path is replaced. An empty entry (path is a folder, no copy could be made, or the
    // operation has ended) means the caller must leave the file as it is: nothing could bring
    // it back. willWrite is what the caller is about to put there, when it knows already: then
    // even a replacement whose record is lost can be told from somebody's later change.
    virtual BackupEntry Keep(const QString &path,
                             const std::optional<FileDigest> &willWrite = {}) = 0;
    // After: path now holds what the operation wrote there, whether it was kept before or is
    // new (a path never kept is a file the operation made). written is what it holds, when the
    // caller knows it already; otherwise the store reads the file if it needs to.
    virtual void Replaced(const QString &path, const std::optional<FileDigest> &written = {}) = 0;
    // The operation is over, also when it stopped half-way. True when it left something that
    // can be undone. Later calls change nothing and give the same answer.
    virtual bool End() = 0;
    // What Keep returned, in order, the empty entries too.
    virtual const QList<BackupEntry> &Entries() const = 0;
    // The files the operation made where there was none, in order.
    virtual const QList<CreatedFile> &Created() const = 0;
    // The operation's batch in the undo journal once it has ended there; "" for a store whose
    // copies live only in this run.
    virtual QString JournalFolder() const { return QString(); }
};

// Copies into the private backup folder of this run (GetBackupFolder), which goes with the
// process.
class CRunBackupStore final : public CBackupStore {
public:
    BackupEntry Keep(const QString &path, const std::optional<FileDigest> &willWrite = {}) override;
    void Replaced(const QString &path, const std::optional<FileDigest> &written = {}) override;
    bool End() override;
    const QList<BackupEntry> &Entries() const override { return m_entries; }
    const QList<CreatedFile> &Created() const override { return m_created; }

private:
    QList<BackupEntry> m_entries;
    QList<CreatedFile> m_created;
    QSet<QString> m_kept;
    bool m_ended = false;
};

// The window's: the operation becomes one record of the undo history under its description
// ("Processing all images", "Immediate operation: Rotate left"), also when it kept nothing. The
// copies are inner's (not owned) or, without one, in the backup folder of this run. A store
// destroyed before End leaves no record.
class CHistoryBackupStore final : public CBackupStore {
public:
    explicit CHistoryBackupStore(QString description, CBackupStore *inner = nullptr);

    BackupEntry Keep(const QString &path, const std::optional<FileDigest> &willWrite = {}) override
    {
        return m_inner->Keep(path, willWrite);
    }
    void Replaced(const QString &path, const std::optional<FileDigest> &written = {}) override
    {
        m_inner->Replaced(path, written);
    }
    bool End() override;
    const QList<BackupEntry> &Entries() const override { return m_inner->Entries(); }
    const QList<CreatedFile> &Created() const override { return m_inner->Created(); }
    QString JournalFolder() const override { return m_inner->JournalFolder(); }

private:
    QString m_description;
    CRunBackupStore m_own;
    CBackupStore *m_inner;
    bool m_ended = false;
    bool m_undoable = false;
};
