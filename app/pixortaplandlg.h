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
    explicit CPixortaPlanDlg(const QList<PlanRow> &rows, QWidget *parent = nullptr);

    QTreeWidget *List() const { return m_list; }
    QLabel *Summary() const { return m_summary; }

    // Works out the plan of job under the wait cursor and shows it modally.
    static void ShowPlan(const Job &job, const QStringList &imagePaths, QWidget *owner);

private:
    QTreeWidget *m_list = nullptr;
    QLabel *m_summary = nullptr;
};
