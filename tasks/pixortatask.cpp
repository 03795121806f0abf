#include "pixortatask.h"

QString TaskKindName(qint32 kind)
{
    switch (kind) {
    case TaskNone:
        return QStringLiteral("None");
    case TaskResize:
        return QStringLiteral("Resize");
    case TaskChangeColors:
        return QStringLiteral("Change colors");
    case TaskAddBackground:
        return QStringLiteral("Add background");
    case TaskAddText:
        return QStringLiteral("Add text");
    case TaskCreateSlideshow:
        return QStringLiteral("Create slideshow");
    default:
        return QStringLiteral("Internal error, type undefined");
    }
}

bool CPixortaTask::Apply(PxImage &, bool &, QString)
{
    return false;
}

bool CPixortaTask::Finish(QStringList &, const QString &, QList<BackupEntry> &, QStringList &)
{
    return true;
}

QString CPixortaTask::GetDescription() const
{
    return QString();
}
