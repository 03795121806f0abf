#pragma once
// The entries of an image list, apart from any widget: the files in list order, each with its
// note and what the list knows of its thumbnail, and the lookups that keep one file from
// standing in the list twice.

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <optional>

// What the list knows of an entry's thumbnail. It lives with the entry rather than in the
// widget's item, so it follows the entry as rows shift when others are removed.
struct EntryThumbnail {
    // The entry's cell in the thumbnail store; -1 when the store refused the thumbnail.
    int cell = -1;
    enum class State {
        Ready,   // the cell is what the entry shows (or the store had no room for it)
        Waiting, // the thumbnail is being made
        Broken,  // the file's header reads, but its picture does not
    };
    State state = State::Ready;
};

struct ImageEntry {
    QString path;
    QString note;
    EntryThumbnail thumbnail;
    // For a file found inside a folder that was added: the folder it lies in, relative to the
    // added one ("2026/Rome"); "" for a file added on its own or lying directly in the folder.
    QString foundIn;
    // Given by the list when the entry is added, never used again: work done for an entry in
    // the background finds it by this, whatever rows were removed in the meantime.
    quint64 id = 0;
};

class CImageListModel {
public:
    // The path as the list keeps it: absolute ones as written, relative ones joined to the
    // working folder.
    static QString AbsolutePathOf(const QString &path);

    // True when the file (at its AbsolutePathOf) is in the list already: under an equal path
    // (PathsEqual), or as the same file reached another way (a symbolic link, a hard link), as
    // far as the identities last taken tell.
    bool Holds(const QString &path) const;
    // Appends the file unless it is empty or Holds it. Returns whether it was added.
    bool Add(const QString &path, EntryThumbnail thumbnail = {}, const QString &foundIn = {});
    // Takes every entry's identity from the disk again. Saving a file replaces it, which gives
    // it a new inode, and the old one may since have gone to another file.
    void RefreshIdentities();

    void RemoveAll();
    // Removes the entries at these rows; rows outside the list are ignored.
    void Remove(const QList<int> &rows);

    int Count() const { return static_cast<int>(m_entries.size()); }
    const QList<ImageEntry> &Entries() const { return m_entries; }
    // The row of the entry whose path equals this one as written (a relative path is not
    // joined to the working folder), or -1.
    int Find(const QString &path) const;
    // The row of the entry with that id, or -1 when it is gone.
    int RowOfId(quint64 id) const { return m_byId.value(id, -1); }
    // The entry's path, or "" for a row outside the list.
    QString Path(int row) const;
    // Every path in list order, or those of the given rows (each once, in list order; rows
    // outside the list are ignored).
    QStringList Paths() const;
    QStringList Paths(const QList<int> &rows) const;

    // The note of the entry with this path, or "" when it has none or is not in the list.
    QString Note(const QString &path) const;
    // Every entry that has a note, as (path, note), in list order.
    QList<QPair<QString, QString>> Notes() const;
    // The folder each entry found inside an added folder was found in, by path; the entries
    // added on their own are not in it.
    QHash<QString, QString> FoundIn() const;
    // False, changing nothing, for a row outside the list.
    bool SetNote(int row, const QString &note);
    bool SetThumbnail(int row, EntryThumbnail thumbnail);

private:
    struct FileId {
        quint64 device = 0, inode = 0;
        bool operator==(const FileId &) const = default;
    };
    friend size_t qHash(const FileId &id, size_t seed) { return qHashMulti(seed, id.device, id.inode); }
    static std::optional<FileId> IdentityOf(const QString &path);

    void Reindex();

    QList<ImageEntry> m_entries;
    // Row for row with m_entries; empty where the file could not be looked at.
    QList<std::optional<FileId>> m_identities;
    QHash<QString, int> m_byPlace;
    QHash<FileId, int> m_byIdentity;
    QHash<quint64, int> m_byId;
    quint64 m_lastId = 0;
};
