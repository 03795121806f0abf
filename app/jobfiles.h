#pragma once
// The window's "Open job..." and "Save job...": the job the window makes (CPixortaDlg::MakeJob)
// goes into a job file, and a job file's job fills the task panels, in the files the command
// line reads and writes (batch/jobfile.h).

#include "batch/job.h"

#include <QList>
#include <optional>

class CPixortaProcessorBaseDlg;
class QWidget;

// A chooser (through the ui seams), then the job into the chosen file; a failure is shown in
// a message box. True when the job was saved.
bool SaveJobCommand(QWidget *owner, const Job &job);
// A chooser, then the chosen file read into a job that starts at every declared default;
// none when the chooser was cancelled or the file cannot be used (which is shown).
std::optional<Job> OpenJobCommand(QWidget *owner);
// Every panel takes its task's record of job, switched on or off as the job has it.
void ShowJobInPanels(const Job &job, const QList<CPixortaProcessorBaseDlg *> &panels);
