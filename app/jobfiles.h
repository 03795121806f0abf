#pragma once
// The window's "Open job..." and "Save job...": a saved job fills the task panels and the
// output settings, and the panels and output settings make a saved job, in the files the
// command line reads and writes (batch/jobfile.h).

#include <QList>
#include <QString>

class CPixortaProcessorBaseDlg;
class QWidget;

// The output panel's settings.
struct JobOutput {
    // "" for "Don't change", otherwise the extension in lower case ("jpg", ...). A job may
    // name one the window's list does not offer (a command-line job for "tga").
    QString format;
    // "Change original images, or..." rather than "Specify output folder:".
    bool inPlace = true;
    QString folder;
};

// Writes the panels' settings (all five, an unchecked background's too) and output.
bool SaveJobFromPanels(const QString &path, const QList<CPixortaProcessorBaseDlg *> &panels,
                       const JobOutput &output, QString *error);
// Reads path and fills the panels and output; when the file cannot be used, nothing changes.
bool OpenJobIntoPanels(const QString &path, const QList<CPixortaProcessorBaseDlg *> &panels,
                       JobOutput *output, QString *error);

// The File menu's commands: a chooser (through the ui seams), then the file; a failure is
// shown in a message box. True when a job was saved or opened.
bool SaveJobCommand(QWidget *owner, const QList<CPixortaProcessorBaseDlg *> &panels,
                    const JobOutput &output);
bool OpenJobCommand(QWidget *owner, const QList<CPixortaProcessorBaseDlg *> &panels,
                    JobOutput *output);
