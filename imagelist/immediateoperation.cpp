#include "immediateoperation.h"

#include "undo/backupstore.h"
#include "imageio/imagefile.h"
#include "core/paths.h"

#include <cstdlib>

QString RotateFilesInPlace(const QStringList &paths, const QString &operationName,
                           const std::function<void(const QString &)> &fileChanged)
{
    CHistoryBackupStore backups(QStringLiteral("Immediate operation: ") + operationName);
    const QString name = operationName.toLower();
    QString failures;
    for (const QString &path : paths) {
        PxImage image;
        if (!LoadImageFile(image, path)) {
            failures += QStringLiteral("Failed loading:") + FileNameOf(path) + QStringLiteral("\r\n");
            continue;
        }
        bool turned = true;
        if (name == QLatin1String("rotate left"))
            turned = image.RotateLeft();
        else if (name == QLatin1String("rotate right"))
            turned = image.RotateRight();
        // Undo could not bring back a file whose copy failed, so such a file stays as it is.
        const bool saved = turned && !backups.Keep(path).IsEmpty() &&
                           SaveImageFile(image, path, -1, true);
        if (!saved) {
            failures += QStringLiteral("Failed saving:") + FileNameOf(path) + QStringLiteral("\r\n");
            continue;
        }
        backups.Replaced(path);
        if (fileChanged)
            fileChanged(path);
    }
    backups.End();
    return failures;
}

QString GestureOf(int x0, int y0, int x, int y)
{
    const int threshold = std::abs(y - y0) <= 20 ? 15 : 5;
    if (x < x0 - threshold)
        return QStringLiteral("Rotate left");
    if (x > x0 + threshold)
        return QStringLiteral("Rotate right");
    return QString();
}
