// The window's batch without the window: a resize in place through the window's own store
// (the lasting journal with the run's history on top), for the tests that make the disk fail
// under it. A journal that cannot be used is answered as a user keeping their originals
// would: the batch does not run.
//   window_batch_driver PERCENT FILE...
#include "batch/batchplan.h"
#include "batch/batchrunner.h"
#include "tasks/pixortasizetask.h"
#include "undo/windowstore.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() < 2)
        return 2;
    Job job;
    job.destination = Job::Destination::InPlace;
    job.workers = 1;
    job.Find<CPixortaSizeTask>()->m_percentage = args.takeFirst().toInt();
    QString refusal;
    const std::unique_ptr<CWindowBackupStore> store = CWindowBackupStore::Begin(
        QStringLiteral("Processing all images"),
        [&] { return BackupBytesWithin(job, args, JournalPolicy{}.maxBytes); }, &refusal,
        CUndoJournal::DefaultRoot(), [](const QString &) { return false; });
    if (!store) {
        std::printf("refused: %s\n", qPrintable(refusal));
        return 1;
    }
    CBatchRunner runner(job, args, store.get());
    runner.onRow = [](const ResultRow &row) { std::printf("%s\n", qPrintable(ResultRowText(row))); };
    runner.RunBatch();
    return runner.ErrorCount() == 0 ? 0 : 1;
}
