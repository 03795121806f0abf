#pragma once
// A saved job (batch/job.h) in a small INI file that the command line and the window both read
// and write: a [Job] section with the job's own settings, then one section per task kind with
// its declared settings.

#include "job.h"

#include <QString>

// False, with *error saying what went wrong, when the file cannot be written or the job holds
// a value that reading the file back would refuse.
bool WriteJobFile(const QString &path, const Job &job, QString *error);
// Fills job from the file; what the file leaves out stays as job had it. False, with *error
// naming the section, the key and what it needs, for a file that cannot be read or holds
// something the job cannot take.
bool ReadJobFile(const QString &path, Job *job, QString *error);
