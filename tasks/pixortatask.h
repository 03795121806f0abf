#pragma once
// A task record: the settings of one task kind, copied out of its panel, that know how to
// change one loaded image and, once per batch, how to finish.

#include "batch/io/backup.h"

#include <QList>
#include <QString>
#include <QStringList>

class PxImage;

enum TaskKind : qint32 {
    TaskNone = 0,
    TaskResize = 1,
    TaskChangeColors = 2,
    TaskAddBackground = 3,
    TaskAddText = 4,
    TaskCreateSlideshow = 5,
};

// "Resize", "Change colors", ... ; "None" for 0 and "Internal error, type undefined" for
// anything unknown.
QString TaskKindName(qint32 kind);

class CPixortaTask {
public:
    explicit CPixortaTask(qint32 kind = TaskNone) : m_kind(kind) {}
    virtual ~CPixortaTask() = default;

    // Changes image in place. The caller sets modified to true before the call; a task that
    // left the image unchanged sets it to false.
    virtual bool Apply(PxImage &image, bool &modified, QString sourcePath);
    // Called once after the last image of a batch, also after a cancelled one. Files the task
    // creates are appended to extraOutputs.
    virtual bool Finish(QStringList &outputs, const QString &folder, QList<BackupEntry> &backups,
                        QStringList &extraOutputs);
    virtual QString GetDescription() const;

    qint32 Kind() const { return m_kind; }

protected:
    qint32 m_kind;
};
