#pragma once
// A job of records a test keeps itself, so it can look at them after the batch: the job holds
// them without owning them, and they must outlive it.

#include "batch/job.h"

#include <memory>

inline Job TestJob(const QList<CPixortaTask *> &records, const QString &format = QString(),
                   const QString &folder = QString(), int workers = 0)
{
    QList<std::shared_ptr<CPixortaTask>> held;
    for (CPixortaTask *record : records)
        held << (record ? std::shared_ptr<CPixortaTask>(record, [](CPixortaTask *) {}) : nullptr);
    Job job = Job::Of(held);
    job.format = format;
    if (!folder.isEmpty()) {
        job.destination = Job::Destination::Folder;
        job.outputFolder = folder;
    }
    job.workers = workers;
    return job;
}
