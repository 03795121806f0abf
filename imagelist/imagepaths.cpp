#include "imagepaths.h"

#include "engine/pximage.h"

#include "core/paths.h"

#include <QSet>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

using Visit = std::function<void(const QString &, const QString &)>;

// under: where the paths lie below the folder given at the top ("" for the top itself).
void Walk(const QStringList &paths, const Visit &visit, FolderScanGuard &guard, bool top,
          const QString &under)
{
    for (const QString &path : paths) {
        std::error_code ec;
        if (std::filesystem::is_directory(ToFsPath(path), ec)) {
            if (guard.Enter(path)) {
                const QString inside =
                    top ? QString() : (under.isEmpty() ? FileNameOf(path) : under + u'/' + FileNameOf(path));
                Walk(ListFolderEntries(path), visit, guard, false, inside);
                guard.Leave();
            }
            continue;
        }
        visit(path, under);
    }
}

// Qt makes a relative path absolute through the file names' encoding, which loses the bytes of
// a name that is not UTF-8 (see FromNativeName); such a path is made absolute here instead.
QString AbsoluteIfNotUtf8(const QString &path)
{
    if (IsUtf8Path(path) || path.startsWith(u'/'))
        return path;
    char *folder = ::getcwd(nullptr, 0);
    if (!folder)
        return path;
    const QString absolute = JoinPath(FromNativeName(QByteArray(folder)), path);
    std::free(folder);
    return absolute;
}

} // namespace

const QStringList &AcceptedImageExtensions()
{
    static const QStringList accepted = [] {
        QStringList list = QStringLiteral("jpg;jpe;jp2;jpeg;gif;bmp;ico;tif;tiff;png;mng;tga;pcx;cur")
                               .split(u';', Qt::SkipEmptyParts);
        // The photo formats of phones and the web take their extensions from the format table.
        for (const PxFormatInfo &format : PxFormats())
            if (format.code >= PXFORMAT_WEBP && format.canRead)
                for (const char *e : format.extensions)
                    if (e)
                        list << QString::fromLatin1(e);
        return list;
    }();
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
    Walk(paths, [&visit](const QString &path, const QString &) { visit(path); }, guard, true,
         QString());
}

void WalkPaths(const QStringList &paths,
               const std::function<void(const QString &, const QString &)> &visit)
{
    FolderScanGuard guard;
    Walk(paths, visit, guard, true, QString());
}

QList<FoundImage> FindImageFiles(const QStringList &paths)
{
    QList<FoundImage> out;
    QSet<QString> seen;
    WalkPaths(paths, [&](const QString &path, const QString &under) {
        if (!IsAcceptedImageExtension(path))
            return;
        const QString key = PathKey(path);
        if (!seen.contains(key)) {
            seen.insert(key);
            out.append({AbsoluteIfNotUtf8(path), under});
        }
    });
    return out;
}

QStringList ExpandImagePaths(const QStringList &paths)
{
    QStringList out;
    for (const FoundImage &found : FindImageFiles(paths))
        out << found.path;
    return out;
}
