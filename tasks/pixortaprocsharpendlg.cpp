#include "pixortaprocsharpendlg.h"

#include "pixortasharpentask.h"
#include "pixortaspinedit.h"
#include "taskkinds.h"
#include "ui/named.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <cmath>

namespace {

const SettingDecl &Decl(const char *key)
{
    return DeclOf(CPixortaSharpenTask::Declared(), key);
}

} // namespace

CPixortaProcSharpenDlg::CPixortaProcSharpenDlg(QWidget *parent) : CPixortaProcessorBaseDlg(parent)
{
    m_master = Named(new QCheckBox(QStringLiteral("Sharpen images"), this), "sharpenSwitch");
    QFont masterFont = m_master->font();
    masterFont.setBold(true);
    m_master->setFont(masterFont);

    m_amount = CreateSpinEdit(this, QStringLiteral("amount"), Decl("amount"));
    m_amount->setAccessibleName(QStringLiteral("Amount in percent"));
    // The radius counts in tenths of a pixel, as its declaration does.
    const SettingDecl &radius = Decl("radius");
    m_radius = Named(new QDoubleSpinBox(this), "radius");
    m_radius->setDecimals(radius.decimals);
    m_radius->setRange(radius.min / 10.0, radius.max / 10.0);
    m_radius->setSingleStep(0.1);
    m_radius->setAccessibleName(QStringLiteral("Radius in pixels"));
    m_threshold = CreateSpinEdit(this, QStringLiteral("threshold"), Decl("threshold"));
    m_threshold->setAccessibleName(QStringLiteral("Threshold in levels"));
    struct Row {
        const char *caption, *name, *unit;
        QWidget *edit;
    };
    const Row rows[] = {{"Amount:", "amountLabel", "%", m_amount},
                        {"Radius:", "radiusLabel", "pixels", m_radius},
                        {"Threshold:", "thresholdLabel", "levels", m_threshold}};
    auto *grid = new QGridLayout;
    int r = 0;
    for (const Row &row : rows) {
        auto *label = Named(new QLabel(QString::fromLatin1(row.caption), this), row.name);
        label->setBuddy(row.edit);
        grid->addWidget(label, r, 0);
        grid->addWidget(row.edit, r, 1);
        grid->addWidget(new QLabel(QString::fromLatin1(row.unit), this), r++, 2);
    }
    grid->setColumnStretch(3, 1);

    m_scenario = CreateScenarioLine(QStringLiteral("Scenario:"));

    LayOutSwitchedPanel(m_master, grid, m_scenario);

    connect(m_master, &QCheckBox::toggled, this, &CPixortaProcSharpenDlg::UpdateScenario);
    connect(m_radius, &QDoubleSpinBox::valueChanged, this, &CPixortaProcSharpenDlg::UpdateScenario);
    const TaskKindInfo *kind = FindTaskKind(TaskSharpen);
    SetFromTask(CPixortaSharpenTask(), ParseYesNo(kind->enable.defaultValue).value_or(false));
}

std::unique_ptr<CPixortaTask> CPixortaProcSharpenDlg::CreateTask()
{
    auto task = std::make_unique<CPixortaSharpenTask>();
    task->m_amount = m_amount->Value();
    task->m_radius = qint32(std::lround(m_radius->value() * 10));
    task->m_threshold = m_threshold->Value();
    return task;
}

void CPixortaProcSharpenDlg::SetFromTask(const CPixortaTask &record, bool enabled)
{
    const auto *task = dynamic_cast<const CPixortaSharpenTask *>(&record);
    if (!task)
        return;
    m_amount->setText(QString::number(task->m_amount));
    m_radius->setValue(task->m_radius / 10.0);
    m_threshold->setText(QString::number(task->m_threshold));
    m_master->setChecked(enabled);
    UpdateScenario();
}

bool CPixortaProcSharpenDlg::IsTaskEnabled()
{
    return m_master->isChecked();
}

void CPixortaProcSharpenDlg::AfterUserInput()
{
    UpdateScenario();
}

void CPixortaProcSharpenDlg::UpdateScenario()
{
    EnableFromMasterCheckBox(m_master);
    QString sentence;
    if (!m_master->isChecked()) {
        sentence = QStringLiteral("Images will not be sharpened.");
    } else {
        const std::unique_ptr<CPixortaTask> record = CreateTask();
        const auto &s = static_cast<const CPixortaSharpenTask &>(*record);
        sentence = QString::number(s.m_amount) +
                   QStringLiteral("% of every difference of more than ") +
                   QString::number(s.m_threshold) +
                   QStringLiteral(" levels from the image blurred by ") +
                   DecimalText(s.m_radius, 1) + QStringLiteral(" pixels will be added.");
        // What the batch would refuse, in the words it would use.
        if (const QString why = s.StartProblem(); !why.isEmpty())
            sentence = why + u'.';
    }
    m_scenario->setText(QStringLiteral("Scenario: ") + sentence);
}
