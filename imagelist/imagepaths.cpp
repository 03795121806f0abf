#include "imagepaths.h"

#include "core/paths.h"

#include <QFileInfo>
#include <QSet>

namespace {

// Two paths name the same entry exactly when PathsEqual says so; this key makes the check a
// set lookup, so adding a folder of thousands of files stays linear.
QString SamePlaceKey(QString path)
{
    path.replace(u'\\', u'/');
    if (path.endsWith(u'/'))
        path.chop(1);
    if (path.startsWith(u'/'))
        path.remove(0, 1);
    return path;
}

void Expand(const QStringList &paths, QStringList &out, QSet<QString> &seen,
            FolderScanGuard &guard)
{
    for (const QString &path : paths) {
        if (QFileInfo(path).isDir()) {
            if (guard.Enter(path)) {
                Expand(ListFolderEntries(path), out, seen, guard);
                guard.Leave();
            }
            continue;
        }
        if (!IsAcceptedImageExtension(path))
            continue;
        if (!seen.contains(SamePlaceKey(path))) {
            seen.insert(SamePlaceKey(path));
            out << path;
        }
    }
}

} // namespace

bool IsAcceptedImageExtension(const QString &path)
{
    static const QStringList accepted =
        QStringLiteral("jpg;jpe;jp2;jpeg;gif;bmp;ico;tif;tiff;png;mng;tga;pcx;cur")
            .split(u';', Qt::SkipEmptyParts);
    const QString ext = GetFileExtension(path);
    return !ext.isEmpty() && accepted.contains(ext, Qt::CaseInsensitive);
}

QStringList ExpandImagePaths(const QStringList &paths)
{
    QStringList out;
    QSet<QString> seen;
    FolderScanGuard guard;
    Expand(paths, out, seen, guard);
    return out;
}
