#pragma once
// A saved job: every task's settings, the output format and the destination, in a small INI
// file that the command line and the window both read and write. The images are not part of
// it: the same job runs on whatever files it is given.

#include "tasks/pixortabackgroundtask.h"
#include "tasks/pixortacolorstask.h"
#include "tasks/pixortasizetask.h"
#include "tasks/pixortaslideshowtask.h"
#include "tasks/pixortatexttask.h"

#include <QList>
#include <QString>

struct SavedJob {
    enum class Destination { Unset, InPlace, Folder };

    // Every record starts at its panel's defaults.
    CPixortaSizeTask resize;
    CPixortaColorsTask colours;
    CPixortaBackgroundTask background;
    // The only task that can be left out of a batch.
    bool backgroundEnabled = false;
    CPixortaTextTask text;
    CPixortaSlideShowTask slideshow;

    // "" keeps every file's format; otherwise an extension the engine writes ("jpg", ...).
    QString format;
    Destination destination = Destination::Unset;
    QString outputFolder;

    // How the command line runs it; the window has no controls for these and leaves them.
    bool autoOrient = false;
    bool keepMetadata = false;
    bool verify = false;
    QString notesFile;

    // The records a batch applies, in task order (the background only when enabled).
    QList<CPixortaTask *> Tasks();
    // Every record, the background's too, in task order.
    QList<CPixortaTask *> AllRecords();
};

// False, with *error saying what went wrong, when the file cannot be written.
bool WriteJobFile(const QString &path, const SavedJob &job, QString *error);
// Fills job from the file; what the file leaves out stays as job had it. False, with *error
// naming the section, the key and what it needs, for a file that cannot be read or holds
// something the job cannot take.
bool ReadJobFile(const QString &path, SavedJob *job, QString *error);
