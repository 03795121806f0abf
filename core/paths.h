#pragma once
// Path and file-name functions shared by the whole system. Both "\" and "/" are accepted as
// separators; every path built for the file system uses "/".

#include <QString>
#include <QStringList>
#include <filesystem>
#include <functional>

QString JoinPath(const QString &first, const QString &second);
// Folder part without a trailing separator, or "" when the path has none.
QString GetFolderOf(const QString &path);
QString GetProgramFolder();
QString GetFileBaseName(const QString &path);
// Extension without the dot, letter case kept, or "".
QString GetFileExtension(const QString &path);
// The name without its folder: base name, then "." and the extension when there is one.
QString FileNameOf(const QString &path);
// True when both name the same place. Letter case counts: Linux file names are case-sensitive.
bool PathsEqual(const QString &a, const QString &b);
// A key under which two paths are equal exactly when PathsEqual says so, for hash lookups:
// every separator becomes "/" and one leading and one trailing separator are dropped.
QString PathKey(QString path);
// Size in bytes; -1 for a missing path, and for a folder unless folderCountsAsZero.
qint64 QueryFileSize(const QString &path, bool folderCountsAsZero);
// A path in folder that names nothing yet, or "" after 60 000 tries.
QString MakeUniquePath(const QString &folder, const QString &baseName, const QString &extension,
                       bool alwaysSuffix);
// The same, where taken also names the paths that are not free (names handed out but not yet
// written).
QString MakeUniquePath(const QString &folder, const QString &baseName, const QString &extension,
                       bool alwaysSuffix, const std::function<bool(const QString &)> &taken);
QString MakeUniquePathLike(const QString &path, bool alwaysSuffix);
// A fresh name in the user's temporary folder; always carries a suffix.
QString MakeTempPath(const QString &name);
// The user's temporary folder with a trailing "/", or "" when there is none.
QString GetTempFolder();
// Full paths of the folder's entries, one level, sorted by name; "." and ".." left out. Names
// that are not UTF-8 are listed too (see FromNativeName).
QStringList ListFolderEntries(const QString &folder);

// Keeps a recursive folder scan from following a symbolic link back into a folder that it is
// already inside: folders are compared by their real location.
class FolderScanGuard {
public:
    // False when the folder is already being scanned; otherwise it is entered.
    bool Enter(const QString &folder);
    void Leave();

private:
    QStringList m_inside;
};

// File names on Linux are bytes, almost always UTF-8. A name that is not UTF-8 (made on a
// system with another character set) still has to be reached: its stray bytes are held in a
// QString as the lone surrogates U+DC80 to U+DCFF, which no decoded name contains, and come
// back out as the same bytes. Qt's own file functions turn such a QString into other bytes, so
// these paths reach the file system only through ToFsPath.
QString FromNativeName(const QByteArray &bytes);
// The bytes of path for the file system; the inverse of FromNativeName.
std::filesystem::path ToFsPath(const QString &path);
// False when path holds bytes that are not UTF-8 (see FromNativeName).
bool IsUtf8Path(const QString &path);
