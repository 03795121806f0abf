#pragma once
// Every task kind in the fixed order a batch applies them, with what the rest of the system
// needs to know about each without naming it: how to make its record, its settings, whether
// the user switches it on and off, and the command-line options that are not settings of
// their own.

#include "tasksettings.h"

#include <memory>

struct TaskKindInfo {
    qint32 kind = TaskNone;
    // A record at its declared defaults.
    std::unique_ptr<CPixortaTask> (*make)() = nullptr;
    const TaskSettingList &(*settings)() = nullptr;
    // A task that takes part only when switched on (its job-file section starts with
    // "enabled"); every other task always takes part.
    bool switchable = false;
    // The switch of a switchable task: key "enabled", its option (none when the task has no
    // option of its own for it) and default. Every other command-line option of such a task
    // switches it on as well.
    SettingDecl enable;
    // The key of the setting every other option of this task needs on the command line: a
    // switch that must be on ("create" for the slideshow) or a text that must be given (the
    // watermark's file), and what the command line says when it is not.
    QString optionsNeed;
    QString optionsNeedMessage;
    // Options of which the command line takes only one at a time (the crop's three ways).
    QStringList oneOf;
    // Whether a job file holds the task's section when the task is off and at its defaults.
    // The tasks added after job files were first written leave it out then, so that the
    // files written before them, and those that leave them alone, read and write the same.
    bool alwaysWritten = true;
    QList<TaskOptionAlias> aliases;
    // The lines of --help above the task's options.
    QString helpHeading;

    // "Resize", "Change colors", ...: the job file's section.
    QString Name() const { return TaskKindName(kind); }
};

// In task order.
const QList<TaskKindInfo> &TaskKinds();
// The kind's information, or none for a kind that is not one of them.
const TaskKindInfo *FindTaskKind(qint32 kind);
const TaskKindInfo *FindTaskKind(const QString &name);
