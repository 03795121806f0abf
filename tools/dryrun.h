#pragma once
// pixorta-batch --dry-run: the plan of a batch printed, one line per image and a summary.

#include "batch/job.h"

#include <QStringList>

// Prints the plan of job on the images; the exit status: 1 when an image is unreadable or
// would fail, 0 otherwise.
int PrintDryRun(const Job &job, const QStringList &images);
