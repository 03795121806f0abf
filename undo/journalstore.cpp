#include "journalstore.h"

#include "core/bytesizes.h"

#include <QFile>
#include <algorithm>

std::unique_ptr<CJournalBackupStore>
CJournalBackupStore::Begin(const QString &root, const QString &command, const JournalPolicy &policy,
                           const std::function<qint64()> &backupBytes, QString *error, Start *start)
{
    QString why;
    auto fail = [&](Start reason) {
        if (error)
            *error = why;
        if (start)
            *start = reason;
        return nullptr;
    };
    CUndoJournal journal(root);
    if (!journal.Open(&why))
        return fail(Start::Unavailable);
    // Pruning never deletes the newest batch, so one larger than the whole journal would
    // stay there beyond the limit.
    const qint64 needed = backupBytes ? backupBytes() : 0;
    if (needed > policy.maxBytes) {
        why = QStringLiteral("this batch would overwrite %1 of files, more than the undo journal "
                             "may keep (%2)")
                  .arg(FormatBytes(needed), FormatBytes(policy.maxBytes));
        return fail(Start::Refused);
    }
    std::unique_ptr<CJournalRecorder> recorder = CJournalRecorder::Begin(journal, command, &why);
    if (!recorder)
        return fail(Start::Unavailable);
    if (start)
        *start = Start::Started;
    return std::unique_ptr<CJournalBackupStore>(
        new CJournalBackupStore(std::move(journal), policy, std::move(recorder)));
}

CJournalBackupStore::CJournalBackupStore(CUndoJournal journal, const JournalPolicy &policy,
                                         std::unique_ptr<CJournalRecorder> recorder)
    : m_journal(std::move(journal)), m_policy(policy), m_recorder(std::move(recorder))
{
}

BackupEntry CJournalBackupStore::Keep(const QString &path, const std::optional<FileDigest> &willWrite)
{
    // The batch's folder is gone, or no longer ours, once it has ended.
    if (m_ended) {
        m_entries.append(BackupEntry{});
        return {};
    }
    // What the batch replaces at a link is the link's destination: that is what comes back.
    const QString real = ReplacedFileOf(path);
    QList<BackupEntry> made;
    BackupEntry entry = BackupFileInto(made, real, m_recorder->Folder());
    QString why;
    if (!entry.IsEmpty() && !m_recorder->RecordBackup(entry, willWrite, &why)) {
        // A copy nobody knows of brings nothing back: the file must stay as it is.
        QFile::remove(entry.backupPath);
        entry = BackupEntry{};
        entry.reason = QStringLiteral("the undo journal could not record its copy (") + why +
                       u')';
    }
    if (!entry.IsEmpty()) {
        entry.overwrittenPath = path;
        m_kept.insert(path);
    }
    m_entries.append(entry);
    return entry;
}

void CJournalBackupStore::Replaced(const QString &path, const std::optional<FileDigest> &written)
{
    if (m_ended)
        return;
    if (m_kept.contains(path)) {
        m_recorder->RecordWritten(ReplacedFileOf(path), written);
        if (!m_overwrittenPaths.contains(path) &&
            std::none_of(m_created.cbegin(), m_created.cend(),
                         [&path](const CreatedFile &c) { return c.path == path; })) {
            m_overwrittenPaths.insert(path);
            ++m_overwritten;
        }
        return;
    }
    const std::optional<FileDigest> digest = written ? written : DigestOfFile(path);
    m_recorder->RecordCreated(path, digest);
    if (digest)
        m_created.append({path, *digest});
    // Overwritten again by a later image of the same batch, it is still a file the batch made.
    m_kept.insert(path);
}

bool CJournalBackupStore::End()
{
    if (m_ended)
        return m_stays;
    m_ended = true;
    m_stays = m_recorder->Finish();
    if (m_stays)
        m_pruned = m_journal.Prune(m_policy.maxBatches, m_policy.maxBytes);
    return m_stays;
}
