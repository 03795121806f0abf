#include "pixortaprocbackgrounddlg.h"

#include "estaticcolor.h"
#include "pixortabackgroundtask.h"
#include "pixortaspinedit.h"
#include "taskkinds.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <utility>

namespace {

// The colour of a swatch, bit 0 of its flag telling whether the swatch is usable now.
TaskColour ColourOf(const CEStaticColor *swatch, const QWidget *panel)
{
    TaskColour colour = TaskColour::From(swatch->GetColor(), false);
    colour.reserved = swatch->GetReserved();
    colour.flag = quint8((swatch->GetFlag() & ~1) | (swatch->isEnabledTo(panel) ? 1 : 0));
    return colour;
}

} // namespace

CPixortaProcBackgroundDlg::CPixortaProcBackgroundDlg(QWidget *parent)
    : CPixortaProcessorBaseDlg(parent)
{
    m_master = new QCheckBox(QStringLiteral("Add background"), this);
    m_master->setObjectName(QStringLiteral("addBackground"));
    QFont masterFont = m_master->font();
    masterFont.setBold(true);
    m_master->setFont(masterFont);

    auto *coloursLabel = new QLabel(QStringLiteral("Colors:"), this);
    coloursLabel->setObjectName(QStringLiteral("coloursLabel"));
    // Colours, switches and margins show the record's defaults once the panel is built.
    m_background = CreateSwatch(this, QStringLiteral("Background"), "backgroundColour", QColor());
    m_frameSwitch = CreateSwatchSwitch(this, QStringLiteral("Frame"), "frameSwitch", false);
    m_frame = CreateSwatch(this, QStringLiteral("Frame"), "frameColour", QColor());
    m_imageFrameSwitch = CreateSwatchSwitch(this, QStringLiteral("Image frame"),
            "imageFrameSwitch", false);
    m_imageFrame = CreateSwatch(this, QStringLiteral("Image frame"), "imageFrameColour", QColor());

    auto *sizesLabel = new QLabel(QStringLiteral("Sizes (percentage of image width):"), this);
    sizesLabel->setObjectName(QStringLiteral("sizesLabel"));
    auto margin = [this](const char *name, const QString &caption, QLabel **label) {
        const QByteArray key = QByteArrayLiteral("margin-") + name;
        CPixortaSpinEdit *edit = CreateSpinEdit(
            this, QLatin1String(name), DeclOf(CPixortaBackgroundTask::Declared(), key.constData()));
        edit->setAccessibleName(caption);
        *label = new QLabel(caption, this);
        (*label)->setObjectName(QLatin1String(name) + QStringLiteral("Label"));
        (*label)->setBuddy(edit);
        return edit;
    };
    QLabel *leftLabel = nullptr, *topLabel = nullptr, *rightLabel = nullptr, *bottomLabel = nullptr;
    m_left = margin("left", QStringLiteral("Left"), &leftLabel);
    m_top = margin("top", QStringLiteral("Top"), &topLabel);
    m_right = margin("right", QStringLiteral("Right"), &rightLabel);
    m_bottom = margin("bottom", QStringLiteral("Bottom"), &bottomLabel);
    // The picture the margins surround.
    auto *picture = new QFrame(this);
    picture->setObjectName(QStringLiteral("picture"));
    picture->setFrameShape(QFrame::Box);
    picture->setMinimumSize(60, 40);

    auto *colours = new QGridLayout;
    colours->addWidget(coloursLabel, 0, 0, 1, 2);
    colours->addWidget(m_background, 1, 1);
    colours->addWidget(m_frameSwitch, 2, 0);
    colours->addWidget(m_frame, 2, 1);
    colours->addWidget(m_imageFrameSwitch, 3, 0);
    colours->addWidget(m_imageFrame, 3, 1);
    colours->setColumnStretch(2, 1);

    auto labelled = [](QLabel *label, QWidget *edit) {
        auto *box = new QVBoxLayout;
        box->addWidget(label, 0, Qt::AlignHCenter);
        box->addWidget(edit, 0, Qt::AlignHCenter);
        return box;
    };
    auto *sizes = new QGridLayout;
    sizes->addLayout(labelled(topLabel, m_top), 0, 1);
    sizes->addLayout(labelled(leftLabel, m_left), 1, 0);
    sizes->addWidget(picture, 1, 1);
    sizes->addLayout(labelled(rightLabel, m_right), 1, 2);
    sizes->addLayout(labelled(bottomLabel, m_bottom), 2, 1);
    sizes->setColumnStretch(3, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_master);
    layout->addLayout(colours);
    layout->addWidget(sizesLabel);
    layout->addLayout(sizes);
    layout->addStretch(1);

    for (QCheckBox *box : {m_master, m_frameSwitch, m_imageFrameSwitch})
        connect(box, &QCheckBox::toggled, this, &CPixortaProcBackgroundDlg::UpdateEnabling);
    const TaskKindInfo *kind = FindTaskKind(TaskAddBackground);
    SetFromTask(CPixortaBackgroundTask(), ParseYesNo(kind->enable.defaultValue).value_or(false));
}

std::unique_ptr<CPixortaTask> CPixortaProcBackgroundDlg::CreateTask()
{
    auto task = std::make_unique<CPixortaBackgroundTask>();
    task->m_left = m_left->Value();
    task->m_right = m_right->Value();
    task->m_top = m_top->Value();
    task->m_bottom = m_bottom->Value();
    task->m_background = ColourOf(m_background, this);
    task->m_frame = ColourOf(m_frame, this);
    task->m_imageFrame = ColourOf(m_imageFrame, this);
    return task;
}

void CPixortaProcBackgroundDlg::SetFromTask(const CPixortaTask &record, bool enabled)
{
    const auto *task = dynamic_cast<const CPixortaBackgroundTask *>(&record);
    if (!task)
        return;
    m_left->setText(QString::number(task->m_left));
    m_right->setText(QString::number(task->m_right));
    m_top->setText(QString::number(task->m_top));
    m_bottom->setText(QString::number(task->m_bottom));
    // Bit 0 of each flag is the swatch's being usable, which the check boxes decide.
    for (auto [swatch, colour] : {std::pair{m_background, task->m_background},
                                  std::pair{m_frame, task->m_frame},
                                  std::pair{m_imageFrame, task->m_imageFrame}}) {
        swatch->SetColor(colour.ToQColor(), colour.reserved);
        swatch->SetFlag(quint8(colour.flag & ~1));
    }
    m_frameSwitch->setChecked(task->m_frame.IsOn());
    m_imageFrameSwitch->setChecked(task->m_imageFrame.IsOn());
    m_master->setChecked(enabled);
    UpdateEnabling();
}

bool CPixortaProcBackgroundDlg::IsTaskEnabled()
{
    return m_master->isChecked();
}

void CPixortaProcBackgroundDlg::AfterUserInput()
{
    UpdateEnabling();
}

void CPixortaProcBackgroundDlg::UpdateEnabling()
{
    EnableFromMasterCheckBox(m_master);
    if (m_master->isChecked()) {
        m_frame->setEnabled(m_frameSwitch->isChecked());
        m_imageFrame->setEnabled(m_imageFrameSwitch->isChecked());
    }
}
