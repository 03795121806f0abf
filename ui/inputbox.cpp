#include "inputbox.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
InputBoxHandler g_handler;
const QString kDefaultCaption = QStringLiteral("Pixorta input box");
} // namespace

CPixortaInputBoxDlg::CPixortaInputBoxDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CPixortaInputBoxDlg"));
    setWindowTitle(kDefaultCaption);
    m_prompt = new QLabel(QStringLiteral("Input:"), this);
    m_prompt->setObjectName(QStringLiteral("prompt"));
    m_prompt->setWordWrap(true);
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("text"));
    m_prompt->setBuddy(m_edit);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    QPushButton *cancel =
        buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_edit);
    layout->addWidget(buttons);
    setMinimumWidth(430);
}

void CPixortaInputBoxDlg::InitDialog()
{
    if (!title.isEmpty())
        setWindowTitle(title);
    m_prompt->setText(prompt);
    // A screen reader names the field by the question it answers.
    m_edit->setAccessibleName(prompt.isEmpty() ? QStringLiteral("Input") : prompt);
    m_edit->setText(text);
    m_edit->setFocus();
}

int CPixortaInputBoxDlg::exec()
{
    InitDialog();
    return QDialog::exec();
}

void CPixortaInputBoxDlg::accept()
{
    text = m_edit->text();
    QDialog::accept();
}

int ShowInputBox(const QString &title, const QString &prompt, QString &text)
{
    if (g_handler) {
        const std::optional<QString> entered = g_handler(title, prompt, text);
        if (!entered)
            return 2;
        text = *entered;
        return 1;
    }
    CPixortaInputBoxDlg dlg;
    dlg.title = title;
    dlg.prompt = prompt;
    dlg.text = text;
    if (dlg.exec() == QDialog::Rejected)
        return 2;
    text = dlg.text;
    return 1;
}

InputBoxHandler SetInputBoxHandler(InputBoxHandler handler)
{
    InputBoxHandler old = std::move(g_handler);
    g_handler = std::move(handler);
    return old;
}
