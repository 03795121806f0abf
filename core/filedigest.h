#pragma once
// What a file holds, in a few bytes: its size and a hash of its content. The undo journal
// records it for every file a batch writes, so that undo can tell a file that is still what the
// batch wrote from one that changed since.

#include <QByteArray>
#include <QString>
#include <optional>

struct FileDigest {
    qint64 size = -1;
    // BLAKE2b-256 of the content: as strong as SHA-256 for telling files apart, and about five
    // times as fast here, so hashing every result costs little beside encoding it.
    QByteArray hash;

    bool IsValid() const { return size >= 0 && !hash.isEmpty(); }
    bool operator==(const FileDigest &) const = default;
    // "size:hex", as the journal writes it.
    QString Text() const;
    static std::optional<FileDigest> FromText(const QString &text);
};

// The digest of the regular file at path, read without following a final link (but for
// "/proc/self/fd/N", this process's own open file) and without blocking on a special file;
// none when it is not a regular file or cannot be read whole.
std::optional<FileDigest> DigestOfFile(const QString &path);
// The digest of bytes held in memory.
FileDigest DigestOfBytes(const QByteArray &bytes);
