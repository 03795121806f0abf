#include "dryrun.h"

#include "batch/batchplan.h"

#include <cstdio>

int PrintDryRun(const Job &job, const QStringList &images)
{
    const QList<PlanRow> plan = PlanBatch(job, images);
    for (const QString &note : PlanNotes(job))
        std::printf("%s\n", qPrintable(note));
    bool failing = false;
    for (const PlanRow &row : plan) {
        std::printf("%s\n", qPrintable(PlanRowText(row)));
        failing = failing || row.kind == PlanRow::Kind::Unreadable ||
                  row.kind == PlanRow::Kind::Fails;
    }
    std::printf("%s\n", qPrintable(PlanSummary(plan)));
    return failing ? 1 : 0;
}
