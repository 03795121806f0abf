#pragma once
// A saved job (batch/job.h) in a small INI file that the command line and the window both read
// and write: a [Job] section with the job's own settings, then one section per task kind with
// its declared settings.

#include "job.h"

#include <QString>

// Whether a job may be saved at path: where nothing is, or over a job file. False, with *why,
// for anything else, which must stay as it is.
bool MaySaveJobAt(const QString &path, QString *why);
// False, with *error saying what went wrong, when the file cannot be written, the job holds a
// value that reading the file back would refuse, or path is a file that is not a job file
// (which is never overwritten). On any failure the file at path stays as it was.
bool WriteJobFile(const QString &path, const Job &job, QString *error);
// Fills job from the file; what the file leaves out stays as job had it. False, with *error
// naming the section, the key and what it needs (or the line that is none of a section, a
// setting or a comment), for a file that cannot be read or holds something the job cannot
// take; job is then as it was.
bool ReadJobFile(const QString &path, Job *job, QString *error);
