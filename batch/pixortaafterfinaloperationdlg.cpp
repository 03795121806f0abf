#include "pixortaafterfinaloperationdlg.h"

#include "undo/backup.h"
#include "imagelist/pixortaimagelistctrl.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel *Icon(const QString &resource, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setPixmap(QIcon(resource).pixmap(16, 16));
    return label;
}

} // namespace

CPixortaAfterFinalOperationDlg::CPixortaAfterFinalOperationDlg(const QStringList &outputs,
                                                               CCompletionHost *host,
                                                               QWidget *parent)
    : QDialog(parent), m_outputs(outputs), m_host(host)
{
    setObjectName(QStringLiteral("CPixortaAfterFinalOperationDlg"));
    setWindowTitle(QStringLiteral("Done."));

    auto *intro = new QLabel(
        QStringLiteral("Operation Completed.\nHere's a list of converted images. If you want to "
                       "send them via e-mail, drag&drop them to your e-mail client's \"new "
                       "message\" window."),
        this);
    intro->setObjectName(QStringLiteral("introText"));
    intro->setWordWrap(true);
    intro->setTextFormat(Qt::PlainText);

    m_list = new CPixortaImageListCtrl(this);
    m_list->setObjectName(QStringLiteral("outputList"));
    m_list->setAccessibleName(QStringLiteral("Converted images"));
    m_list->readOnly = true;
    m_list->filterByExtension = false;
    m_list->Initialize();

    auto *question = new QLabel(QStringLiteral("What do you want to do now?"), this);
    m_emptyList = new QCheckBox(QStringLiteral("Empty files list"), this);
    m_emptyList->setObjectName(QStringLiteral("emptyFilesList"));
    m_resetTasks = new QCheckBox(QStringLiteral("Reset tasks"), this);
    m_resetTasks->setObjectName(QStringLiteral("resetTasks"));

    auto *other = new QLabel(QStringLiteral("Other:"), this);
    auto *undo = new QPushButton(QStringLiteral("I made a mistake! Please Undo it!"), this);
    undo->setObjectName(QStringLiteral("undoButton"));
    undo->setAutoDefault(false);
    auto *exitApp = new QPushButton(QStringLiteral("Exit application"), this);
    exitApp->setObjectName(QStringLiteral("exitApplicationButton"));
    exitApp->setAutoDefault(false);
    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    connect(undo, &QPushButton::clicked, this, &CPixortaAfterFinalOperationDlg::Undo);
    connect(exitApp, &QPushButton::clicked, this, &CPixortaAfterFinalOperationDlg::ExitApplication);
    connect(ok, &QPushButton::clicked, this, &CPixortaAfterFinalOperationDlg::accept);

    auto *choices = new QGridLayout;
    choices->addWidget(question, 0, 0, 1, 3);
    choices->addWidget(Icon(QStringLiteral(":/pixorta/icons/list-clear.png"), this), 1, 0);
    choices->addWidget(m_emptyList, 1, 1);
    choices->addWidget(Icon(QStringLiteral(":/pixorta/icons/tasks-reset.png"), this), 2, 0);
    choices->addWidget(m_resetTasks, 2, 1);
    choices->setColumnStretch(2, 1);
    auto *others = new QHBoxLayout;
    others->addWidget(other);
    others->addWidget(undo);
    others->addWidget(exitApp);
    others->addStretch(1);
    others->addWidget(ok);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(m_list, 1);
    layout->addLayout(choices);
    layout->addLayout(others);
    resize(560, 460);

    // Files that are gone or give no picture are reported as the list reports them; a
    // slideshow movie shows its first slide.
    m_list->AddFiles(m_outputs, 0);
}

void CPixortaAfterFinalOperationDlg::Undo()
{
    m_undone = UndoLastOperation(this);
}

void CPixortaAfterFinalOperationDlg::ExitApplication()
{
    if (m_host)
        m_host->ExitApplication();
    reject();
}

void CPixortaAfterFinalOperationDlg::accept()
{
    if (m_host) {
        if (m_emptyList->isChecked())
            m_host->EmptyFilesList();
        if (m_resetTasks->isChecked())
            m_host->ResetTasks();
        // After an undo the restored files have been refreshed already; an emptied list has
        // nothing to refresh.
        if (!m_undone && !m_emptyList->isChecked())
            for (const QString &path : std::as_const(m_outputs))
                m_host->OnFileChanged(path, QString());
    }
    QDialog::accept();
}
