#include "jobfiles.h"

#include "batch/jobfile.h"
#include "tasks/pixortaprocessorbasedlg.h"
#include "ui/uiseams.h"

namespace {

const QString kFilter = QStringLiteral("Pixorta jobs (*.ini);;All Files (*)");

} // namespace

bool SaveJobCommand(QWidget *owner, const Job &job)
{
    QString path = ChooseSaveFile(owner, {QStringLiteral("Save job"), kFilter,
                                          QStringLiteral("job.ini")});
    if (path.isEmpty())
        return false;
    QString error;
    if (WriteJobFile(path, job, &error))
        return true;
    ShowMessage(QStringLiteral("The job could not be saved: ") + error, QString(), MsgButtons::Ok,
                MsgIcon::Warning, owner);
    return false;
}

std::optional<Job> OpenJobCommand(QWidget *owner)
{
    const QStringList chosen =
        ChooseOpenFiles(owner, {QStringLiteral("Open job"), kFilter, QString()});
    if (chosen.isEmpty())
        return std::nullopt;
    Job job;
    QString error;
    if (ReadJobFile(chosen.front(), &job, &error))
        return job;
    ShowMessage(QStringLiteral("The job could not be opened: ") + error, QString(),
                MsgButtons::Ok, MsgIcon::Warning, owner);
    return std::nullopt;
}

void ShowJobInPanels(const Job &job, const QList<CPixortaProcessorBaseDlg *> &panels)
{
    for (CPixortaProcessorBaseDlg *panel : panels)
        if (const CPixortaTask *record = job.Record(panel->GetTaskKind()))
            panel->SetFromTask(*record, job.IsEnabled(panel->GetTaskKind()));
}
