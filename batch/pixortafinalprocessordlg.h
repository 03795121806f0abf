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
    // backups keeps what the batch replaces (owned by the caller); none: this run's history.
    CPixortaFinalProcessorDlg(Job job, QStringList imagePaths, CBackupStore *backups = nullptr,
                              QWidget *parent = nullptr);
    // Starts the batch as soon as the window shows, as Start! does.
    void SetAutoStart(bool on) { m_autoStart = on; }
    bool AutoStart() const { return m_autoStart; }

    const CBatchRunner &Runner() const { return m_runner; }
    // The files the batch produced, for the completion dialog.
    const QStringList &Outputs() const { return m_runner.Outputs(); }
    // The batch did nothing because its output folder could not be made.
    bool FolderNotCreated() const
    {
        return m_runner.Result().outcome == BatchRunResult::Outcome::FolderNotCreated;
    }

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
    bool m_autoStart = false;
    bool m_started = false;
};
