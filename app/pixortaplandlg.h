#pragma once
// "Preview plan...": what the batch that "Start!" would run is going to do, image by image,
// worked out from the files' headers before anything is written. Read-only; OK closes it.

#include "batch/batchplan.h"

#include <QDialog>

class QLabel;
class QTreeWidget;

class CPixortaPlanDlg : public QDialog {
    Q_OBJECT
public:
    // notes: what is said of the job as a whole, above the rows (none: nothing is shown there).
    explicit CPixortaPlanDlg(const QList<PlanRow> &rows, const QStringList &notes = {},
                             QWidget *parent = nullptr);

    QTreeWidget *List() const { return m_list; }
    QLabel *Summary() const { return m_summary; }
    QLabel *Notes() const { return m_notes; }
    // The list's column of that heading ("Result"), or -1: a column for the variants is there
    // only when the job has variants.
    int Column(const QString &heading) const;

    // The sentences shown above the plan of job: the job's own notes (PlanNotes), and which
    // variants it makes.
    static QStringList NotesOf(const Job &job);
    // Works out the plan of job under the wait cursor and shows it modally.
    static void ShowPlan(const Job &job, const QStringList &imagePaths, QWidget *owner);

private:
    QTreeWidget *m_list = nullptr;
    QLabel *m_summary = nullptr;
    QLabel *m_notes = nullptr;
};
