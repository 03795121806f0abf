#pragma once
// The window's store: an operation (a batch, a rotation) goes into the lasting undo journal,
// the one the command line uses, with its limits, and becomes one record of this run's undo
// history on top of it. Ctrl+Z and "Done." undo it as they always did, and closing the window,
// or a crash, loses no way back: pixorta-batch --undo can still undo it. Without a journal that
// can be used the copies live in this run only, as before.

#include "backupstore.h"
#include "journalstore.h"

#include <functional>
#include <memory>

class CWindowBackupStore final : public CBackupStore {
public:
    // Starts the operation described ("Processing all images"). backupBytes tells what its
    // copies will take; null, with *refusal saying why, when that is more than the journal may
    // keep (nothing may then be overwritten: the operation must not run). When the journal
    // cannot be used, runInThisRun decides, told why: true keeps the copies in this run only,
    // false gives null with the reason in *refusal. Without it, this run only.
    static std::unique_ptr<CWindowBackupStore>
    Begin(const QString &description, const std::function<qint64()> &backupBytes,
          QString *refusal, const QString &journalRoot = CUndoJournal::DefaultRoot(),
          const std::function<bool(const QString &why)> &runInThisRun = {});

    BackupEntry Keep(const QString &path, const std::optional<FileDigest> &willWrite = {}) override
    {
        return m_history.Keep(path, willWrite);
    }
    void Replaced(const QString &path, const std::optional<FileDigest> &written = {}) override
    {
        m_history.Replaced(path, written);
    }
    bool End() override { return m_history.End(); }
    const QList<BackupEntry> &Entries() const override { return m_history.Entries(); }
    const QList<CreatedFile> &Created() const override { return m_history.Created(); }
    QString JournalFolder() const override { return m_history.JournalFolder(); }

    // Whether the operation goes into the journal (false: this run only).
    bool InJournal() const { return m_journal != nullptr; }

private:
    CWindowBackupStore(const QString &description, std::unique_ptr<CJournalBackupStore> journal);

    std::unique_ptr<CJournalBackupStore> m_journal;
    CHistoryBackupStore m_history;
};
