#include "backupstore.h"

#include <algorithm>

BackupEntry CRunBackupStore::Keep(const QString &path, const std::optional<FileDigest> &)
{
    // A copy made after the operation ended would belong to no undo.
    if (m_ended) {
        m_entries.append(BackupEntry{});
        return {};
    }
    const BackupEntry entry = BackupFile(m_entries, path);
    if (!entry.IsEmpty())
        m_kept.insert(path);
    return entry;
}

void CRunBackupStore::Replaced(const QString &path, const std::optional<FileDigest> &written)
{
    if (m_ended)
        return;
    // A file this operation made and then overwrote itself is still one it made: undo removes
    // it if it holds what was written last.
    for (CreatedFile &c : m_created)
        if (c.path == path) {
            c.digest = (written ? written : DigestOfFile(path)).value_or(FileDigest{});
            return;
        }
    if (m_kept.contains(path))
        return;
    // Undo removes a file the operation made only while it holds what was written: without
    // knowing that, the file is never removed.
    if (const std::optional<FileDigest> digest = written ? written : DigestOfFile(path))
        m_created.append({path, *digest});
}

bool CRunBackupStore::End()
{
    m_ended = true;
    return !m_created.isEmpty() || std::any_of(m_entries.cbegin(), m_entries.cend(),
                                               [](const BackupEntry &e) { return !e.IsEmpty(); });
}

CHistoryBackupStore::CHistoryBackupStore(QString description, CBackupStore *inner)
    : m_description(std::move(description)), m_inner(inner ? inner : &m_own)
{
}

bool CHistoryBackupStore::End()
{
    if (m_ended)
        return m_undoable;
    m_ended = true;
    m_undoable = m_inner->End();
    UndoHistory::Instance().Append(
        {m_inner->Entries(), m_description, m_inner->Created(), m_inner->JournalFolder()});
    return m_undoable;
}
