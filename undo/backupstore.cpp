#include "backupstore.h"

#include <algorithm>

BackupEntry CRunBackupStore::Keep(const QString &path)
{
    // A copy made after the operation ended would belong to no undo.
    if (m_ended) {
        m_entries.append(BackupEntry{});
        return {};
    }
    return BackupFile(m_entries, path);
}

bool CRunBackupStore::End()
{
    m_ended = true;
    return std::any_of(m_entries.cbegin(), m_entries.cend(),
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
    UndoHistory::Instance().Append({m_inner->Entries(), m_description});
    return m_undoable;
}
