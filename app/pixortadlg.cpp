#include "pixortadlg.h"

#include "batch/io/backup.h"
#include "core/commandline.h"
#include "ui/uiseams.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

CPixortaDlg::CPixortaDlg(const QStringList &commandLine, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CPixortaDlg"));
    setWindowTitle(QStringLiteral("Pixorta"));

    m_menuBar = new QMenuBar(this);
    m_menuBar->setObjectName(QStringLiteral("menuBar"));
    QMenu *file = m_menuBar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("fileMenu"));
    QAction *exitAction = file->addAction(QStringLiteral("&Exit"));
    exitAction->setObjectName(QStringLiteral("exitAction"));
    // The menu's "&Exit" ends the program at once, without asking.
    connect(exitAction, &QAction::triggered, this, [this] { done(QDialog::Rejected); });

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("imageList"));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);

    m_exitButton = new QPushButton(QStringLiteral("Exit"), this);
    m_exitButton->setObjectName(QStringLiteral("exitButton"));
    m_exitButton->setAutoDefault(false);
    connect(m_exitButton, &QPushButton::clicked, this, &CPixortaDlg::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_exitButton);
    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(m_menuBar);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    resize(760, 560);

    qApp->installEventFilter(this);
    SetFileChangedNotifier(
        [this](const QString &path, const QString &note) { OnFileChanged(path, note); });

    CPixortaCommandLineInfo info;
    info.ParseCommandLine(commandLine);
    AddFiles(info.m_fileNames);
}

CPixortaDlg::~CPixortaDlg()
{
    SetFileChangedNotifier(nullptr);
    qApp->removeEventFilter(this);
}

void CPixortaDlg::AddFiles(const QStringList &paths)
{
    for (const QString &p : paths)
        m_list->addItem(p);
}

void CPixortaDlg::OnFileChanged(const QString &path, const QString &)
{
    emit fileChanged(path);
}

void CPixortaDlg::reject()
{
    if (m_list->count() > 0 &&
        ShowMessage(QStringLiteral("Are you sure you want to exit?"), QStringLiteral("Pixorta"),
                    MsgButtons::YesNo, MsgIcon::Question, this) != MsgAnswer::Yes)
        return;
    QDialog::reject();
}

bool CPixortaDlg::eventFilter(QObject *watched, QEvent *event)
{
    // Keys are caught before the window's own handling, for the window and all its controls.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget *>(watched)->window() == this) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers mods = key->modifiers();
        if (key->key() == Qt::Key_Z && (mods & Qt::ControlModifier) &&
            !(mods & (Qt::AltModifier | Qt::ShiftModifier))) {
            UndoLastOperation(this);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
