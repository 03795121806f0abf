#pragma once
// A task record: the settings of one task kind, copied out of its panel, that know how to
// change one loaded image and, once per batch, how to finish.

#include "undo/backupstore.h"
#include "core/notelookup.h"

#include <QColor>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class PxImage;

enum TaskKind : qint32 {
    TaskNone = 0,
    TaskResize = 1,
    TaskChangeColors = 2,
    TaskAddBackground = 3,
    TaskAddText = 4,
    TaskCreateSlideshow = 5,
    // Kinds added later take the next codes; the order tasks run in is TaskKinds()'s.
    TaskCrop = 6,
    TaskSharpen = 7,
    TaskWatermark = 8,
};

// "Resize", "Change colors", ... ; "None" for 0 and "Internal error, type undefined" for
// anything unknown.
QString TaskKindName(qint32 kind);

// A colour setting of a record: red, green, blue, a reserved byte and a flag byte whose bit 0
// switches the colour on where the record says so.
struct TaskColour {
    quint8 red = 0;
    quint8 green = 0;
    quint8 blue = 0;
    quint8 reserved = 0;
    quint8 flag = 0;

    bool IsOn() const { return (flag & 1) != 0; }
    QColor ToQColor() const { return QColor(red, green, blue); }
    static TaskColour From(const QColor &colour, bool on)
    {
        return {quint8(colour.red()), quint8(colour.green()), quint8(colour.blue()), 0,
                quint8(on ? 1 : 0)};
    }
    bool operator==(const TaskColour &) const = default;
};

// "#rrggbb", how saved jobs write a colour.
QString TaskColourText(const TaskColour &colour);
// "#RRGGBB" or "R,G,B" with each channel 0 to 255; the flag byte of the result is 0.
std::optional<TaskColour> ParseTaskColour(const QString &text);

// A record's settings as a saved job keeps them: keys and values as text, in the record's
// own order.
using TaskSettings = QList<QPair<QString, QString>>;

// The declared settings of a record kind (tasks/tasksettings.h).
struct TaskSetting;
using TaskSettingList = QList<TaskSetting>;

// A record is filled while it is made and then only read: Apply never changes it, so one record
// may be applied to several images on several threads at once.
class CPixortaTask {
public:
    explicit CPixortaTask(qint32 kind = TaskNone) : m_kind(kind) {}
    virtual ~CPixortaTask() = default;

    // Changes image in place. The caller sets modified to true before the call; a task that
    // left the image unchanged sets it to false.
    virtual bool Apply(PxImage &image, bool &modified, QString sourcePath);
    // Called once after the last image of a batch, also after a cancelled one. Files the task
    // creates are appended to extraOutputs; a file it replaces goes through backups, the
    // batch's own store, so that it is undone with the batch.
    virtual bool Finish(QStringList &outputs, const QString &folder, CBackupStore &backups,
                        QStringList &extraOutputs);
    virtual QString GetDescription() const;

    // The settings the record's kind declares; none for a record without settings.
    virtual const TaskSettingList &Settings() const;
    // The settings, for a saved job, in their declared order.
    TaskSettings SaveSettings() const;
    // Takes a saved job's settings; keys left out keep their values. False, with *error naming
    // the key and what it needs, for a key the record does not have or a value it cannot take.
    bool LoadSettings(const TaskSettings &settings, QString *error);
    // A record of the same kind with the same settings (and notes); none for a record that
    // cannot be copied.
    virtual std::unique_ptr<CPixortaTask> Clone() const { return nullptr; }

    // What Apply would do to the image of sourcePath, width x height pixels, judged from the
    // settings alone (for a plan of the batch that decodes nothing).
    enum class Outcome { Changes, Unchanged, Fails };
    virtual Outcome PredictOutcome(const QString &sourcePath, quint32 width,
                                   quint32 height) const;
    // Why a batch should not begin with the record as it is ("" when it may), in words for
    // the user: a value its declaration refuses (a panel's edit lets any digits be typed), a
    // file it needs that is not there. The tasks that judge each picture as it comes say
    // nothing here.
    virtual QString StartProblem() const { return QString(); }
    // The size Apply makes of a picture of width x height, for names that hold it; most tasks
    // keep the size.
    virtual void PredictSize(quint32 &width, quint32 &height) const
    {
        (void)width;
        (void)height;
    }

    qint32 Kind() const { return m_kind; }
    // Records of one kind with the same settings are equal; the notes do not count.
    bool operator==(const CPixortaTask &other) const { return m_kind == other.m_kind; }

    // The notes of the job's images (the text record's %Note%). Whoever makes the record may set
    // them; in a batch the runner hands every record the job's lookup before the first image.
    // Never set while the record is being applied.
    void SetNoteLookup(NoteLookupPtr notes) { m_notes = std::move(notes); }
    // None when the record was given no notes.
    const NoteLookup *Notes() const { return m_notes.get(); }

protected:
    qint32 m_kind;
    NoteLookupPtr m_notes;
};
