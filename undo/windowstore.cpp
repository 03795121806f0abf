#include "windowstore.h"

std::unique_ptr<CWindowBackupStore>
CWindowBackupStore::Begin(const QString &description, const std::function<qint64()> &backupBytes,
                          QString *refusal, const QString &journalRoot,
                          const std::function<bool(const QString &why)> &runInThisRun)
{
    QString why;
    CJournalBackupStore::Start start = CJournalBackupStore::Start::Unavailable;
    std::unique_ptr<CJournalBackupStore> journal = CJournalBackupStore::Begin(
        journalRoot, QStringLiteral("Pixorta: ") + description, JournalPolicy{}, backupBytes, &why,
        &start);
    if (start == CJournalBackupStore::Start::Refused ||
        (start == CJournalBackupStore::Start::Unavailable && runInThisRun && !runInThisRun(why))) {
        if (refusal)
            *refusal = why;
        return nullptr;
    }
    return std::unique_ptr<CWindowBackupStore>(
        new CWindowBackupStore(description, std::move(journal)));
}

CWindowBackupStore::CWindowBackupStore(const QString &description,
                                       std::unique_ptr<CJournalBackupStore> journal)
    : m_journal(std::move(journal)), m_history(description, m_journal.get())
{
}
