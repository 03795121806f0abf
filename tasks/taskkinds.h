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
    // The switch of a switchable task: key "enabled", its option and default. Every other
    // command-line option of such a task switches it on as well.
    SettingDecl enable;
    // The key of the switch every other option of this task needs on the command line
    // ("create" for the slideshow), and what the command line says when it is off.
    QString optionsNeed;
    QString optionsNeedMessage;
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
