#include "imagelistmodel.h"

#include "core/paths.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <sys/stat.h>

QString CImageListModel::AbsolutePathOf(const QString &path)
{
    if (path.isEmpty() || path.startsWith(u'/'))
        return path;
    return JoinPath(QDir::currentPath(), path);
}

std::optional<CImageListModel::FileId> CImageListModel::IdentityOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileId{static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino)};
}

bool CImageListModel::Holds(const QString &path) const
{
    const QString absolute = AbsolutePathOf(path);
    if (Find(absolute) >= 0)
        return true;
    const std::optional<FileId> id = IdentityOf(absolute);
    return id && m_byIdentity.contains(*id);
}

bool CImageListModel::Add(const QString &path, EntryThumbnail thumbnail, const QString &foundIn)
{
    const QString absolute = AbsolutePathOf(path);
    if (absolute.isEmpty() || Find(absolute) >= 0)
        return false;
    const std::optional<FileId> id = IdentityOf(absolute);
    if (id && m_byIdentity.contains(*id))
        return false;
    const int row = Count();
    m_entries.append({absolute, QString(), thumbnail, foundIn, ++m_lastId});
    m_identities.append(id);
    m_byPlace.insert(PathKey(absolute), row);
    m_byId.insert(m_lastId, row);
    if (id)
        m_byIdentity.insert(*id, row);
    return true;
}

void CImageListModel::RefreshIdentities()
{
    for (int i = 0; i < Count(); ++i)
        m_identities[i] = IdentityOf(m_entries[i].path);
    Reindex();
}

void CImageListModel::Reindex()
{
    m_byPlace.clear();
    m_byIdentity.clear();
    m_byId.clear();
    for (int i = 0; i < Count(); ++i) {
        m_byPlace.insert(PathKey(m_entries[i].path), i);
        m_byId.insert(m_entries[i].id, i);
        // Two entries may have come to share a file since they were added (one replaced by a
        // link to the other); the first keeps it.
        if (m_identities[i] && !m_byIdentity.contains(*m_identities[i]))
            m_byIdentity.insert(*m_identities[i], i);
    }
}

void CImageListModel::RemoveAll()
{
    m_entries.clear();
    m_identities.clear();
    m_byPlace.clear();
    m_byIdentity.clear();
    m_byId.clear();
}

void CImageListModel::Remove(const QList<int> &rows)
{
    QList<bool> removed(m_entries.size(), false);
    bool any = false;
    for (int row : rows)
        if (row >= 0 && row < Count())
            removed[row] = any = true;
    if (!any)
        return;
    QList<ImageEntry> keptEntries;
    QList<std::optional<FileId>> keptIdentities;
    keptEntries.reserve(m_entries.size());
    keptIdentities.reserve(m_entries.size());
    for (int i = 0; i < Count(); ++i) {
        if (removed[i])
            continue;
        keptEntries << m_entries[i];
        keptIdentities << m_identities[i];
    }
    m_entries = std::move(keptEntries);
    m_identities = std::move(keptIdentities);
    Reindex();
}

int CImageListModel::Find(const QString &path) const
{
    return m_byPlace.value(PathKey(path), -1);
}

QString CImageListModel::Path(int row) const
{
    return row >= 0 && row < Count() ? m_entries[row].path : QString();
}

QStringList CImageListModel::Paths() const
{
    QStringList paths;
    paths.reserve(m_entries.size());
    for (const ImageEntry &entry : m_entries)
        paths << entry.path;
    return paths;
}

QStringList CImageListModel::Paths(const QList<int> &rows) const
{
    QList<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    QStringList paths;
    for (int row : std::as_const(sorted))
        if (row >= 0 && row < Count())
            paths << m_entries[row].path;
    return paths;
}

QString CImageListModel::Note(const QString &path) const
{
    const int row = Find(path);
    return row < 0 ? QString() : m_entries[row].note;
}

QList<QPair<QString, QString>> CImageListModel::Notes() const
{
    QList<QPair<QString, QString>> notes;
    for (const ImageEntry &entry : m_entries)
        if (!entry.note.isEmpty())
            notes.append({entry.path, entry.note});
    return notes;
}

QHash<QString, QString> CImageListModel::FoundIn() const
{
    QHash<QString, QString> found;
    for (const ImageEntry &entry : m_entries)
        if (!entry.foundIn.isEmpty())
            found.insert(entry.path, entry.foundIn);
    return found;
}

bool CImageListModel::SetNote(int row, const QString &note)
{
    if (row < 0 || row >= Count())
        return false;
    m_entries[row].note = note;
    return true;
}

bool CImageListModel::SetThumbnail(int row, EntryThumbnail thumbnail)
{
    if (row < 0 || row >= Count())
        return false;
    m_entries[row].thumbnail = thumbnail;
    return true;
}
