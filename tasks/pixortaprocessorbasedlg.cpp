#include "pixortaprocessorbasedlg.h"

#include "core/settingdecl.h"

#include "estaticcolor.h"

#include <QCheckBox>
#include "ui/named.h"
#include <QVBoxLayout>
#include <QLabel>

#include "pixortaspinedit.h"

#include <QAbstractButton>
#include <QChildEvent>
#include <QMouseEvent>

namespace {

bool IsUserRelease(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyRelease:
        return true;
    case QEvent::MouseButtonRelease:
        return static_cast<const QMouseEvent *>(event)->button() == Qt::LeftButton;
    default:
        return false;
    }
}

} // namespace

CPixortaProcessorBaseDlg::CPixortaProcessorBaseDlg(QWidget *parent) : QWidget(parent)
{
    Watch(this);
}

CPixortaProcessorBaseDlg::~CPixortaProcessorBaseDlg() = default;

std::unique_ptr<CPixortaTask> CPixortaProcessorBaseDlg::CreateTask()
{
    return nullptr;
}

qint32 CPixortaProcessorBaseDlg::GetTaskKind()
{
    const std::unique_ptr<CPixortaTask> task = CreateTask();
    return task ? task->Kind() : qint32(TaskNone);
}

void CPixortaProcessorBaseDlg::SetFromTask(const CPixortaTask &, bool) {}

bool CPixortaProcessorBaseDlg::IsTaskEnabled()
{
    return true;
}

void CPixortaProcessorBaseDlg::EnableFromMasterCheckBox(QAbstractButton *master)
{
    if (!master)
        return;
    const bool on = master->isChecked();
    const QList<QWidget *> controls = findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *control : controls)
        control->setEnabled(on);
    // A master nested in a container of the panel needs the whole chain enabled to be usable.
    for (QWidget *w = master; w && w != this; w = w->parentWidget())
        w->setEnabled(true);
}

CPixortaSpinEdit *CPixortaProcessorBaseDlg::CreateSpinEdit(QWidget *parent,
                                                           const QString &objectName,
                                                           const QString &text)
{
    auto *edit = new CPixortaSpinEdit(parent);
    edit->setObjectName(objectName);
    edit->SetRange(0, 2147483647);
    edit->setText(text);
    return edit;
}

CPixortaSpinEdit *CPixortaProcessorBaseDlg::CreateSpinEdit(QWidget *parent,
                                                           const QString &objectName,
                                                           const SettingDecl &setting)
{
    auto *edit = new CPixortaSpinEdit(parent);
    edit->setObjectName(objectName);
    edit->SetRange(int(setting.min), int(setting.max));
    return edit;
}

CEStaticColor *CPixortaProcessorBaseDlg::CreateSwatch(QWidget *parent, const QString &caption,
                                                     const char *objectName,
                                                     const QColor &colour)
{
    auto *swatch = new CEStaticColor(caption, parent);
    swatch->setObjectName(QLatin1String(objectName));
    swatch->setAccessibleName(caption);
    swatch->SetColor(colour);
    swatch->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    return swatch;
}

QCheckBox *CPixortaProcessorBaseDlg::CreateSwatchSwitch(QWidget *parent, const QString &spoken,
                                                       const char *objectName, bool checked)
{
    auto *box = new QCheckBox(parent);
    box->setObjectName(QLatin1String(objectName));
    box->setAccessibleName(spoken);
    box->setChecked(checked);
    return box;
}

void CPixortaProcessorBaseDlg::Watch(QObject *object)
{
    object->installEventFilter(this);
    const QList<QWidget *> descendants = object->findChildren<QWidget *>();
    for (QWidget *w : descendants)
        w->installEventFilter(this);
}

bool CPixortaProcessorBaseDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::ChildAdded) {
        // Controls made after the panel (including a subclass's own) are watched as they come.
        QObject *child = static_cast<QChildEvent *>(event)->child();
        if (child && child->isWidgetType())
            Watch(child);
    } else if (IsUserRelease(event)) {
        m_modified = true;
        // The filter sees the release before its control does (a check box toggles on release),
        // so the panel looks at its controls once the event has been handled.
        if (!m_afterInputPending) {
            m_afterInputPending = true;
            QMetaObject::invokeMethod(this, &CPixortaProcessorBaseDlg::RunAfterUserInput,
                                      Qt::QueuedConnection);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CPixortaProcessorBaseDlg::RunAfterUserInput()
{
    m_afterInputPending = false;
    AfterUserInput();
}

QLabel *CPixortaProcessorBaseDlg::CreateScenarioLine(const QString &caption)
{
    auto *line = Named(new QLabel(caption, this), "scenario");
    line->setWordWrap(true);
    line->setTextFormat(Qt::PlainText);
    return line;
}

void CPixortaProcessorBaseDlg::LayOutSwitchedPanel(QCheckBox *master, QLayout *settings,
                                                  QLabel *scenario)
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(master);
    layout->addLayout(settings);
    layout->addWidget(scenario);
    layout->addStretch(1);
}
