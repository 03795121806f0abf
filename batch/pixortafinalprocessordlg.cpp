#include "pixortafinalprocessordlg.h"

#include "ui/uiseams.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

CPixortaFinalProcessorDlg::CPixortaFinalProcessorDlg(Job job, QStringList imagePaths,
                                                     CBackupStore *backups, QWidget *parent)
    : QDialog(parent), m_runner(std::move(job), std::move(imagePaths), backups)
{
    setObjectName(QStringLiteral("CPixortaFinalProcessorDlg"));
    setWindowTitle(QStringLiteral("Pixorta image processor"));

    m_results = new QTreeWidget(this);
    m_results->setObjectName(QStringLiteral("resultList"));
    m_results->setAccessibleName(QStringLiteral("Results"));
    m_results->setColumnCount(1);
    m_results->setHeaderLabels({QString()});
    m_results->setRootIsDecorated(false);
    m_results->setSelectionMode(QAbstractItemView::SingleSelection);
    m_results->header()->setStretchLastSection(true);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setAccessibleName(QStringLiteral("Progress"));
    m_progress->setRange(0, static_cast<int>(m_runner.ImagePaths().size()) + 1);
    m_progress->setValue(0);

    m_doIt = new QPushButton(QStringLiteral("Do it!"), this);
    m_doIt->setObjectName(QStringLiteral("doItButton"));
    m_doIt->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_cancel->setAutoDefault(false);
    connect(m_doIt, &QPushButton::clicked, this, &CPixortaFinalProcessorDlg::OnDoIt);
    connect(m_cancel, &QPushButton::clicked, this, &CPixortaFinalProcessorDlg::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_doIt);
    buttons->addWidget(m_cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_results, 1);
    layout->addWidget(m_progress);
    layout->addLayout(buttons);
    resize(420, 360);

    m_runner.onRow = [this](const ResultRow &row) { AddResultLine(row); };
    m_runner.onProgress = [this](int position, int maximum) {
        m_progress->setRange(0, maximum);
        m_progress->setValue(position);
    };
    // Lets a click on Cancel arrive between two images.
    m_runner.onPumpEvents = [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); };
    m_runner.onFinished = [this] {
        m_cancel->setText(QStringLiteral("Close"));
        m_doIt->setText(QStringLiteral("Done!"));
        QApplication::beep();
    };
}

void CPixortaFinalProcessorDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_autoStart && !m_started) {
        m_started = true;
        QTimer::singleShot(0, m_doIt, &QPushButton::click);
    }
}

void CPixortaFinalProcessorDlg::AddResultLine(const ResultRow &row)
{
    auto *item = new QTreeWidgetItem(m_results, {ResultRowText(row)});
    // The row keeps its designed words; why it failed, or why an image was skipped or renamed,
    // is one hover away.
    if (!row.success)
        item->setToolTip(0, row.reason.isEmpty() ? ResultRowText(row).trimmed() : row.reason);
    else if (!row.reason.isEmpty())
        item->setToolTip(0, row.reason);
    m_results->scrollToItem(item);
}

void CPixortaFinalProcessorDlg::OnDoIt()
{
    m_started = true;
    m_doIt->setEnabled(false);
    m_cancel->setText(QStringLiteral("Cancel"));
    const BatchRunResult result = m_runner.RunBatch();
    if (result.outcome == BatchRunResult::Outcome::FolderNotCreated) {
        ShowMessage(QStringLiteral("Could not create folder:") + result.folder, QString(),
                    MsgButtons::Ok, MsgIcon::None, this);
        reject();
        return;
    }
    // A batch with errors stays in its finished state, so its failed rows and its summary can
    // be read; "Close" then goes on.
    if (m_runner.ErrorCount() > 0)
        return;
    accept();
}

void CPixortaFinalProcessorDlg::reject()
{
    if (m_runner.IsRunning()) {
        if (ShowMessage(QStringLiteral("Are you sure you want to cancel the operation?"),
                        QStringLiteral("Cancel"), MsgButtons::YesNo, MsgIcon::Question, this) !=
            MsgAnswer::No)
            m_runner.RequestCancel();
        return;
    }
    QDialog::reject();
}
