#include "immediateoperation.h"

#include "undo/backupstore.h"
#include "imageio/imagefile.h"
#include "core/paths.h"

#include <cstdlib>

QString ImmediateOperationName(ImmediateOperation operation)
{
    switch (operation) {
    case ImmediateOperation::RotateRight: return QStringLiteral("Rotate right");
    case ImmediateOperation::RotateLeft: return QStringLiteral("Rotate left");
    }
    return QString();
}

QString RotateFilesInPlace(const QStringList &paths, ImmediateOperation operation,
                           const std::function<void(const QString &)> &fileChanged)
{
    CHistoryBackupStore backups(QStringLiteral("Immediate operation: ") +
                                ImmediateOperationName(operation));
    QString failures;
    for (const QString &path : paths) {
        PxImage image;
        if (!LoadImageFile(image, path)) {
            failures += QStringLiteral("Failed loading:") + FileNameOf(path) + QStringLiteral("\r\n");
            continue;
        }
        const bool turned = operation == ImmediateOperation::RotateLeft ? image.RotateLeft()
                                                                        : image.RotateRight();
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

std::optional<ImmediateOperation> GestureOf(int x0, int y0, int x, int y)
{
    const int threshold = std::abs(y - y0) <= 20 ? 15 : 5;
    if (x < x0 - threshold)
        return ImmediateOperation::RotateLeft;
    if (x > x0 + threshold)
        return ImmediateOperation::RotateRight;
    return std::nullopt;
}
