#pragma once

#include "batchrunner.h"

#include <QDialog>

class QProgressBar;
class QPushButton;
class QTreeWidget;

// The processing window: runs one batch and lists each image as done or failed.
class CPixortaFinalProcessorDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPixortaFinalProcessorDlg(BatchJob job, QWidget *parent = nullptr);

    const CBatchRunner &Runner() const { return m_runner; }
    // The files the batch produced, for the completion dialog.
    const QStringList &Outputs() const { return m_runner.Outputs(); }

    // "Cancel" and the close box: while running, ask and only request the cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void OnDoIt();
    void AddResultLine(const ResultRow &row);

    CBatchRunner m_runner;
    QTreeWidget *m_results = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_doIt = nullptr;
    QPushButton *m_cancel = nullptr;
    bool m_started = false;
};
