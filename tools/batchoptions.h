#pragma once
// pixorta-batch's command line: every option becomes part of one request. The task options,
// the job's own options, their checks and their lines of --help and of the manual page come
// from the declarations of the tasks (tasks/taskkinds.h) and of the job (batch/job.h).

#include "batch/job.h"

#include <QString>
#include <QStringList>

struct BatchRequest {
    // What the run is to do, each standing alone.
    bool help = false;
    int undo = 0;
    bool yes = false;
    bool undoList = false;
    bool forget = false;

    // The batch: the job (a --job file with the options beside it on top), the files and
    // folders given, and how it runs.
    Job job;
    QStringList paths;
    bool dryRun = false;
    QString saveJob;
    qint64 journalLimit = qint64(2) << 30;
    // Run without the undo journal: what the batch overwrites cannot be undone.
    bool noJournal = false;
    // The arguments as given, for the journal's list of batches.
    QStringList given;
};

// Reads args (without the program's name). False, with *error saying what is wrong, for a
// usage error (the tool prints it with the usage and exits with 2). Files named by options
// are read only as far as the options need (a --job file); what the batch needs of the others
// is checked when it runs.
bool ParseBatchRequest(const QStringList &args, BatchRequest *request, QString *error);

// The three lines of usage.
QString BatchUsage();
// Prints message with the usage on standard error; the exit status of a usage error, 2.
int UsageError(const QString &message);
// The whole of --help.
QString BatchHelp();
// The manual page: the template's markers "@task NAME@" and "@job KEY@" replaced by the
// entries of that task's or job setting's options.
QString BatchManPage(const QString &manTemplate);
