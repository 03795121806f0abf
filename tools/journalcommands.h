#pragma once
// pixorta-batch's commands on the undo journal (--undo, --undo-list, --forget) and the words the
// tool uses for the journal's batches.

#include "undo/journal.h"

#include <QString>
#include <QStringList>

struct JournalCommand {
    // How often --undo was given: each undoes the batch before the last one undone.
    int undo = 0;
    // With --undo: files changed since the batch are overwritten without asking.
    bool yes = false;
    bool list = false;
    bool forget = false;
};

// Runs the one command of command in the journal at root; the exit status.
int RunJournalCommand(const JournalCommand &command,
                      const QString &root = CUndoJournal::DefaultRoot());

// "2024-05-01 14:03:22 (pixorta-batch --in-place a.jpg)": a batch as the notes name it.
QString BatchTitle(const JournalBatch &batch);

// The command line as a shell would take it back, for the journal's list.
QString CommandLine(const QStringList &args);

// "pixorta-batch: text" on standard error.
void Note(const QString &text);
