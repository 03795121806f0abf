#include "imagepaths.h"

#include "core/paths.h"

#include <QFileInfo>
#include <QSet>

namespace {

void Walk(const QStringList &paths, const std::function<void(const QString &)> &visit,
          FolderScanGuard &guard)
{
    for (const QString &path : paths) {
        if (QFileInfo(path).isDir()) {
            if (guard.Enter(path)) {
                Walk(ListFolderEntries(path), visit, guard);
                guard.Leave();
            }
            continue;
        }
        visit(path);
    }
}

} // namespace

const QStringList &AcceptedImageExtensions()
{
    static const QStringList accepted =
        QStringLiteral("jpg;jpe;jp2;jpeg;gif;bmp;ico;tif;tiff;png;mng;tga;pcx;cur")
            .split(u';', Qt::SkipEmptyParts);
    return accepted;
}

bool IsAcceptedImageExtension(const QString &path)
{
    const QString ext = GetFileExtension(path);
    return !ext.isEmpty() && AcceptedImageExtensions().contains(ext, Qt::CaseInsensitive);
}

QString ImageFileDialogFilter()
{
    QStringList patterns;
    for (const QString &ext : AcceptedImageExtensions())
        patterns << QStringLiteral("*.") + ext;
    return QStringLiteral("Images (") + patterns.join(u' ') + QStringLiteral(");;All Files (*)");
}

void WalkPaths(const QStringList &paths, const std::function<void(const QString &)> &visit)
{
    FolderScanGuard guard;
    Walk(paths, visit, guard);
}

QStringList ExpandImagePaths(const QStringList &paths)
{
    QStringList out;
    QSet<QString> seen;
    WalkPaths(paths, [&](const QString &path) {
        if (!IsAcceptedImageExtension(path))
            return;
        const QString key = PathKey(path);
        if (!seen.contains(key)) {
            seen.insert(key);
            out << path;
        }
    });
    return out;
}
