#include "immediateoperation.h"

#include "undo/pathlock.h"
#include "undo/windowstore.h"
#include "imageio/imagefile.h"
#include "core/paths.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

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
    // As a batch of the window's, the rotation goes into the lasting undo journal.
    QString refusal;
    const std::unique_ptr<CWindowBackupStore> store = CWindowBackupStore::Begin(
        QStringLiteral("Immediate operation: ") + ImmediateOperationName(operation),
        [&paths] {
            qint64 bytes = 0;
            for (const QString &path : paths)
                bytes += std::max<qint64>(0, QueryFileSize(path, false));
            return bytes;
        },
        &refusal);
    if (!store)
        return refusal + QStringLiteral("\r\n");
    CBackupStore &backups = *store;
    QString failures;
    for (const QString &path : paths) {
        PxImage image;
        // The date, the camera and the colour profile stay with the turned picture; the turn
        // is made on the rows as the list shows them, so it replaces the camera's orientation.
        image.SetKeepMetadata(true);
        if (!LoadImageFile(image, path)) {
            failures += QStringLiteral("Failed loading:") + FileNameOf(path) + QStringLiteral("\r\n");
            continue;
        }
        const bool turned = operation == ImmediateOperation::RotateLeft ? image.RotateLeft()
                                                                        : image.RotateRight();
        if (turned)
            image.TakeAsUpright();
        // Undo could not bring back a file whose copy failed, so such a file stays as it is; a
        // batch writing the same file waits for the rotation, and the other way round.
        const CPathLock lock(path);
        const bool saved = turned && lock.Held() && !backups.Keep(path).IsEmpty() &&
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
