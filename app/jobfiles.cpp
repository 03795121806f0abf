#include "jobfiles.h"

#include "batch/jobfile.h"
#include "tasks/pixortaprocessorbasedlg.h"
#include "ui/uiseams.h"

#include <memory>

namespace {

const QString kFilter = QStringLiteral("Pixorta jobs (*.ini);;All Files (*)");

// The record of job that a panel of this kind shows.
CPixortaTask *RecordFor(SavedJob &job, qint32 kind)
{
    for (CPixortaTask *record : job.AllRecords())
        if (record->Kind() == kind)
            return record;
    return nullptr;
}

} // namespace

bool SaveJobFromPanels(const QString &path, const QList<CPixortaProcessorBaseDlg *> &panels,
                       const JobOutput &output, QString *error)
{
    SavedJob job;
    for (CPixortaProcessorBaseDlg *panel : panels) {
        const std::unique_ptr<CPixortaTask> made = panel->CreateTask();
        CPixortaTask *record = made ? RecordFor(job, made->Kind()) : nullptr;
        if (!record)
            continue;
        QString ignored;
        record->LoadSettings(made->SaveSettings(), &ignored);
        if (record == &job.background)
            job.backgroundEnabled = panel->IsTaskEnabled();
    }
    job.format = output.format;
    job.destination = output.inPlace ? SavedJob::Destination::InPlace
                                     : SavedJob::Destination::Folder;
    job.outputFolder = output.inPlace ? QString() : output.folder;
    return WriteJobFile(path, job, error);
}

bool OpenJobIntoPanels(const QString &path, const QList<CPixortaProcessorBaseDlg *> &panels,
                       JobOutput *output, QString *error)
{
    SavedJob job;
    if (!ReadJobFile(path, &job, error))
        return false;
    for (CPixortaProcessorBaseDlg *panel : panels)
        if (const CPixortaTask *record = RecordFor(job, panel->GetTaskKind()))
            panel->SetFromTask(*record, record != &job.background || job.backgroundEnabled);
    output->format = job.format;
    if (job.destination != SavedJob::Destination::Unset)
        output->inPlace = job.destination == SavedJob::Destination::InPlace;
    output->folder = job.outputFolder;
    return true;
}

bool SaveJobCommand(QWidget *owner, const QList<CPixortaProcessorBaseDlg *> &panels,
                    const JobOutput &output)
{
    QString path = ChooseSaveFile(owner, {QStringLiteral("Save job"), kFilter,
                                          QStringLiteral("job.ini")});
    if (path.isEmpty())
        return false;
    QString error;
    if (SaveJobFromPanels(path, panels, output, &error))
        return true;
    ShowMessage(QStringLiteral("The job could not be saved: ") + error, QString(), MsgButtons::Ok,
                MsgIcon::Warning, owner);
    return false;
}

bool OpenJobCommand(QWidget *owner, const QList<CPixortaProcessorBaseDlg *> &panels,
                    JobOutput *output)
{
    const QStringList chosen =
        ChooseOpenFiles(owner, {QStringLiteral("Open job"), kFilter, QString()});
    if (chosen.isEmpty())
        return false;
    QString error;
    if (OpenJobIntoPanels(chosen.front(), panels, output, &error))
        return true;
    ShowMessage(QStringLiteral("The job could not be opened: ") + error, QString(),
                MsgButtons::Ok, MsgIcon::Warning, owner);
    return false;
}
