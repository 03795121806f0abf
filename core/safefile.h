#pragma once
// The files the program keeps for itself (the undo journal's records, job files, the
// preferences) are written so that a failure never costs the file that was there: a full
// disk, a killed process or a lost write leaves either the old file or the whole new one.

#include <QByteArray>
#include <QString>
#include <optional>
#include <time.h>

// Writes data into a fresh file beside path and renames it over path only once every byte is
// written, synced and closed; path keeps its permissions (a new one is private to the user).
// False, with *error saying why, when any of that failed: path is then as it was and nothing
// of the attempt is left.
bool WriteFileWhole(const QString &path, const QByteArray &data, QString *error = nullptr);
// Appends data to path (made when missing, private to the user) and, when durable, syncs it.
// False when it could not all be written (and synced); the file is then cut back to what it
// was.
bool AppendWhole(const QString &path, const QByteArray &data, QString *error = nullptr,
                 bool durable = true);
// The whole of a regular file (a link to one too). A FIFO, a device or a folder is refused
// without blocking ("not a regular file"), and so is a file larger than maxBytes.
std::optional<QByteArray> ReadRegularFile(const QString &path, qint64 maxBytes,
                                          QString *error = nullptr);
// Why a call failed with err, in people's words: "the disk is full", "permission denied", ...
QString ErrnoText(int err);

// The modification time of path (a link's target); none when it cannot be read.
std::optional<struct timespec> ModificationTime(const QString &path);
// Gives path that modification time, not following a link that stands there; "" when it was
// set, otherwise the system's reason.
QString SetModificationTime(const QString &path, const struct timespec &time);
