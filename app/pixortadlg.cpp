#include "pixortadlg.h"

#include "batch/io/backup.h"
#include "core/commandline.h"
#include "ui/uiseams.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
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

    m_list = new CPixortaImageListCtrl(this);
    m_list->SetHost(this);
    m_list->Initialize();

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
    m_list->AddFiles(info.m_fileNames, 0);
}

CPixortaDlg::~CPixortaDlg()
{
    SetFileChangedNotifier(nullptr);
    qApp->removeEventFilter(this);
}

void CPixortaDlg::AddFilesCommand()
{
    AddFilesThroughDialog(*m_list, this);
}

void CPixortaDlg::AddFolderCommand()
{
    AddFolderThroughDialog(*m_list, this);
}

void CPixortaDlg::OnFileChanged(const QString &path)
{
    m_list->RefreshEntry(path);
    emit fileChanged(path);
}

void CPixortaDlg::OnFileChanged(const QString &path, const QString &)
{
    OnFileChanged(path);
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
        // Ctrl+V pastes files into the list, except into a text field that has the focus.
        const bool textField = qobject_cast<QLineEdit *>(watched) ||
                               qobject_cast<QTextEdit *>(watched) ||
                               qobject_cast<QPlainTextEdit *>(watched);
        if (key->key() == Qt::Key_V && (mods & Qt::ControlModifier) && !textField) {
            m_list->PasteFiles();
            return true;
        }
        if (key->key() == Qt::Key_Z && (mods & Qt::ControlModifier) &&
            !(mods & (Qt::AltModifier | Qt::ShiftModifier))) {
            UndoLastOperation(this);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
