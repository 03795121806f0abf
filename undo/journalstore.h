#pragma once
// The store of a batch whose undo outlives the process: every copy goes into a batch of its own
// in the undo journal, recorded as it is made, so that even a batch that is killed half-way can
// be undone as far as it got. The journal is held to a policy: it keeps the newest batches
// within a size, and a batch that alone would back up more is not started.

#include "backupstore.h"
#include "journal.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>

struct JournalPolicy {
    int maxBatches = 10;
    // Of all the batches' copies together.
    qint64 maxBytes = qint64(2) << 30;
};

class CJournalBackupStore final : public CBackupStore {
public:
    enum class Start {
        Started,
        // The batch's backups alone would take more than the policy allows.
        Refused,
        // The journal cannot be used or cannot take a new batch.
        Unavailable,
    };

    // Opens the journal at root and starts a batch of command (what --undo-list shows) in it.
    // backupBytes tells what the batch's copies will take; it is asked only when the journal
    // can be used. Null when the batch was not started: *start says why and *error says it in
    // words (each may be null).
    static std::unique_ptr<CJournalBackupStore> Begin(const QString &root, const QString &command,
                                                      const JournalPolicy &policy,
                                                      const std::function<qint64()> &backupBytes,
                                                      QString *error, Start *start = nullptr);
    // A store destroyed before End finishes its batch all the same, without pruning.
    ~CJournalBackupStore() override = default;
    CJournalBackupStore(const CJournalBackupStore &) = delete;
    CJournalBackupStore &operator=(const CJournalBackupStore &) = delete;

    BackupEntry Keep(const QString &path, const std::optional<FileDigest> &willWrite = {}) override;
    void Replaced(const QString &path, const std::optional<FileDigest> &written = {}) override;
    // Finishes the batch; one that kept nothing leaves the journal. When it stays, the oldest
    // batches go until the policy holds (the newest always stays).
    bool End() override;
    const QList<BackupEntry> &Entries() const override { return m_entries; }
    const QList<CreatedFile> &Created() const override { return m_created; }
    // Once ended, the batch's folder when it stayed in the journal.
    QString JournalFolder() const override { return m_ended && m_stays ? Folder() : QString(); }

    // How many files it overwrote: kept first and then replaced (a copy whose file was never
    // replaced, as when its save failed, does not count).
    int Overwritten() const { return m_overwritten; }

    // The batch's folder in the journal.
    const QString &Folder() const { return m_recorder->Folder(); }
    const JournalPolicy &Policy() const { return m_policy; }
    // What End deleted to keep the policy, oldest first.
    const QList<JournalBatch> &Pruned() const { return m_pruned; }

private:
    CJournalBackupStore(CUndoJournal journal, const JournalPolicy &policy,
                        std::unique_ptr<CJournalRecorder> recorder);

    CUndoJournal m_journal;
    JournalPolicy m_policy;
    std::unique_ptr<CJournalRecorder> m_recorder;
    QList<BackupEntry> m_entries;
    QList<CreatedFile> m_created;
    QSet<QString> m_kept;
    QSet<QString> m_overwrittenPaths;
    int m_overwritten = 0;
    QList<JournalBatch> m_pruned;
    bool m_ended = false;
    bool m_stays = false;
};
