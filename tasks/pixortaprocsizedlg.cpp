#include "pixortaprocsizedlg.h"

#include "pixortasizetask.h"
#include "pixortaspinedit.h"
#include "tasksettings.h"
#include "ui/named.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

CPixortaProcSizeDlg::CPixortaProcSizeDlg(QWidget *parent) : CPixortaProcessorBaseDlg(parent)
{
    auto *heading = Named(new QLabel(QStringLiteral("Resize all images"), this), "heading");
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    heading->setFont(headingFont);

    m_percentageMode = Named(new QRadioButton(QStringLiteral("Use percentage"), this),
                             "percentageMode");
    m_percentage = CreateSpinEdit(this, QStringLiteral("percentage"),
                                  DeclOf(CPixortaSizeTask::Declared(), "percentage"));
    m_percentage->setAccessibleName(QStringLiteral("Percentage"));
    m_constantMode = Named(new QRadioButton(QStringLiteral("Use constant values"), this),
                           "constantMode");
    m_widthSwitch = Named(new QCheckBox(QStringLiteral("Specify width"), this), "widthSwitch");
    m_width = CreateSpinEdit(this, QStringLiteral("width"),
                             DeclOf(CPixortaSizeTask::Declared(), "width"));
    m_width->setAccessibleName(QStringLiteral("Width"));
    m_heightSwitch = Named(new QCheckBox(QStringLiteral("Specify height"), this), "heightSwitch");
    m_height = CreateSpinEdit(this, QStringLiteral("height"),
                              DeclOf(CPixortaSizeTask::Declared(), "height"));
    m_height->setAccessibleName(QStringLiteral("Height"));
    m_scenario = CreateScenarioLine(QStringLiteral("Result:"));

    auto *grid = new QGridLayout;
    grid->setColumnMinimumWidth(0, 20);
    grid->addWidget(m_percentageMode, 0, 0, 1, 2);
    grid->addWidget(m_percentage, 0, 2);
    grid->addWidget(m_constantMode, 1, 0, 1, 3);
    grid->addWidget(m_widthSwitch, 2, 1);
    grid->addWidget(m_width, 2, 2);
    grid->addWidget(m_heightSwitch, 3, 1);
    grid->addWidget(m_height, 3, 2);
    grid->setColumnStretch(3, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addLayout(grid);
    layout->addWidget(m_scenario);
    layout->addStretch(1);

    SetFromTask(CPixortaSizeTask());
}

std::unique_ptr<CPixortaTask> CPixortaProcSizeDlg::CreateTask()
{
    auto task = std::make_unique<CPixortaSizeTask>();
    if (m_percentageMode->isChecked()) {
        task->m_mode = CPixortaSizeTask::ModePercentage;
        task->m_percentage = m_percentage->Value();
    }
    if (m_constantMode->isChecked()) {
        task->m_mode = CPixortaSizeTask::ModeConstant;
        task->m_width = m_widthSwitch->isChecked() ? m_width->Value() : 0;
        task->m_height = m_heightSwitch->isChecked() ? m_height->Value() : 0;
    }
    return task;
}

void CPixortaProcSizeDlg::SetFromTask(const CPixortaTask &record, bool)
{
    const auto *task = dynamic_cast<const CPixortaSizeTask *>(&record);
    if (!task)
        return;
    const bool constant = task->m_mode == CPixortaSizeTask::ModeConstant;
    (constant ? m_constantMode : m_percentageMode)->setChecked(true);
    m_percentage->setText(QString::number(task->m_percentage));
    m_widthSwitch->setChecked(constant && task->m_width > 0);
    m_width->setText(constant && task->m_width > 0 ? QString::number(task->m_width) : QString());
    m_heightSwitch->setChecked(constant && task->m_height > 0);
    m_height->setText(constant && task->m_height > 0 ? QString::number(task->m_height)
                                                      : QString());
    UpdateScenario();
}

void CPixortaProcSizeDlg::AfterUserInput()
{
    UpdateScenario();
}

void CPixortaProcSizeDlg::UpdateScenario()
{
    QString sentence;

    const bool percentage = m_percentageMode->isChecked();
    m_percentage->setEnabled(percentage);
    if (percentage) {
        // A text comparison on purpose: "0100" is reported as a change.
        const QString text = m_percentage->text();
        if (text != QLatin1String("100"))
            sentence = QStringLiteral("Size will be changed to ") + text + u'%';
        else
            sentence = QStringLiteral("Size will not be changed");
    }

    const bool constant = m_constantMode->isChecked();
    m_widthSwitch->setEnabled(constant);
    m_heightSwitch->setEnabled(constant);
    m_width->setEnabled(constant);
    m_height->setEnabled(constant);
    if (constant) {
        const int w = m_width->Value();
        const int h = m_height->Value();
        if (!m_widthSwitch->isChecked()) {
            m_width->setEnabled(false);
            sentence += QStringLiteral("Width will be changed proportionally. ");
        } else if (w > 0) {
            sentence += QStringLiteral("Width will be changed to ") + QString::number(w) +
                        QStringLiteral(". ");
        }
        if (!m_heightSwitch->isChecked()) {
            m_height->setEnabled(false);
            sentence += QStringLiteral("Height will be changed proportionally. ");
        } else if (h > 0) {
            sentence += QStringLiteral("Height will be changed to ") + QString::number(h) +
                        QStringLiteral(". ");
        }
    }

    m_scenario->setText(QStringLiteral("Scenario: ") + sentence);
}
