#include "pixortaproccropdlg.h"

#include "pixortacroptask.h"
#include "pixortaspinedit.h"
#include "taskkinds.h"
#include "ui/named.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

// The ratios the list offers; the last entry is the custom one.
constexpr struct {
    const char *caption;
    qint32 width, height;
} kRatios[] = {{"1:1", 1, 1}, {"4:3", 4, 3}, {"3:2", 3, 2}, {"16:9", 16, 9}, {"4:5", 4, 5}};
const QString kCustom = QStringLiteral("Custom");

int ListedRatio(qint32 width, qint32 height);

const SettingDecl &Decl(const char *key)
{
    return DeclOf(CPixortaCropTask::Declared(), key);
}

} // namespace

CPixortaProcCropDlg::CPixortaProcCropDlg(QWidget *parent) : CPixortaProcessorBaseDlg(parent)
{
    m_master = Named(new QCheckBox(QStringLiteral("Crop images"), this), "cropSwitch");
    QFont masterFont = m_master->font();
    masterFont.setBold(true);
    m_master->setFont(masterFont);

    auto edit = [this](const char *name, const char *key, const QString &spoken) {
        CPixortaSpinEdit *e = CreateSpinEdit(this, QLatin1String(name), Decl(key));
        e->setAccessibleName(spoken);
        return e;
    };
    auto label = [this](const QString &text, QWidget *buddy, const char *name) {
        auto *l = Named(new QLabel(text, this), name);
        l->setBuddy(buddy);
        return l;
    };

    m_aspectMode = Named(new QRadioButton(QStringLiteral("Aspect ratio:"), this), "aspectMode");
    m_ratio = Named(new QComboBox(this), "ratio");
    m_ratio->setAccessibleName(QStringLiteral("Aspect ratio"));
    for (const auto &r : kRatios)
        m_ratio->addItem(QString::fromLatin1(r.caption));
    m_ratio->addItem(kCustom);
    m_ratioWidth = edit("ratioWidth", "aspect-width", QStringLiteral("Ratio width"));
    m_ratioHeight = edit("ratioHeight", "aspect-height", QStringLiteral("Ratio height"));
    auto *colon = Named(new QLabel(QStringLiteral(":"), this), "ratioColon");
    m_matchOrientation = Named(new QCheckBox(QStringLiteral("Match orientation"), this),
                               "matchOrientation");
    m_matchOrientation->setToolTip(SettingHelp(Decl("match-orientation")));
    m_anchor = Named(new QComboBox(this), "anchor");
    for (qsizetype i = 0; i < PlacementWords().size(); ++i)
        m_anchor->addItem(PlacementCaption(Placement(i)));
    QLabel *anchorLabel = label(QStringLiteral("Keep:"), m_anchor, "anchorLabel");
    m_anchor->setAccessibleName(QStringLiteral("Keep the part at"));

    m_rectangleMode = Named(new QRadioButton(QStringLiteral("Rectangle in pixels:"), this),
                            "rectangleMode");
    m_x = edit("cropX", "x", QStringLiteral("Left"));
    m_y = edit("cropY", "y", QStringLiteral("Top"));
    m_width = edit("cropWidth", "width", QStringLiteral("Width"));
    m_height = edit("cropHeight", "height", QStringLiteral("Height"));

    m_marginsMode = Named(new QRadioButton(QStringLiteral("Margins in percent:"), this),
                          "marginsMode");
    m_left = edit("cropLeft", "margin-left", QStringLiteral("Left margin"));
    m_top = edit("cropTop", "margin-top", QStringLiteral("Top margin"));
    m_right = edit("cropRight", "margin-right", QStringLiteral("Right margin"));
    m_bottom = edit("cropBottom", "margin-bottom", QStringLiteral("Bottom margin"));

    m_scenario = CreateScenarioLine(QStringLiteral("Scenario:"));

    auto *grid = new QGridLayout;
    grid->setColumnMinimumWidth(0, 20);
    int row = 0;
    grid->addWidget(m_aspectMode, row, 0, 1, 2);
    grid->addWidget(m_ratio, row, 2);
    auto *sides = new QHBoxLayout;
    sides->addWidget(m_ratioWidth);
    sides->addWidget(colon);
    sides->addWidget(m_ratioHeight);
    sides->addStretch(1);
    grid->addLayout(sides, row++, 3, 1, 2);
    grid->addWidget(m_matchOrientation, row, 1, 1, 2);
    grid->addWidget(anchorLabel, row, 3, Qt::AlignRight);
    grid->addWidget(m_anchor, row++, 4);
    grid->addWidget(m_rectangleMode, row++, 0, 1, 5);
    grid->addWidget(label(QStringLiteral("Left:"), m_x, "cropXLabel"), row, 1);
    grid->addWidget(m_x, row, 2);
    grid->addWidget(label(QStringLiteral("Top:"), m_y, "cropYLabel"), row, 3, Qt::AlignRight);
    grid->addWidget(m_y, row++, 4);
    grid->addWidget(label(QStringLiteral("Width:"), m_width, "cropWidthLabel"), row, 1);
    grid->addWidget(m_width, row, 2);
    grid->addWidget(label(QStringLiteral("Height:"), m_height, "cropHeightLabel"), row, 3,
                    Qt::AlignRight);
    grid->addWidget(m_height, row++, 4);
    grid->addWidget(m_marginsMode, row++, 0, 1, 5);
    grid->addWidget(label(QStringLiteral("Left:"), m_left, "cropLeftLabel"), row, 1);
    grid->addWidget(m_left, row, 2);
    grid->addWidget(label(QStringLiteral("Top:"), m_top, "cropTopLabel"), row, 3, Qt::AlignRight);
    grid->addWidget(m_top, row++, 4);
    grid->addWidget(label(QStringLiteral("Right:"), m_right, "cropRightLabel"), row, 1);
    grid->addWidget(m_right, row, 2);
    grid->addWidget(label(QStringLiteral("Bottom:"), m_bottom, "cropBottomLabel"), row, 3,
                    Qt::AlignRight);
    grid->addWidget(m_bottom, row++, 4);
    grid->setColumnStretch(5, 1);

    LayOutSwitchedPanel(m_master, grid, m_scenario);

    connect(m_master, &QCheckBox::toggled, this, &CPixortaProcCropDlg::UpdateScenario);
    for (QRadioButton *mode : {m_aspectMode, m_rectangleMode, m_marginsMode})
        connect(mode, &QRadioButton::toggled, this, &CPixortaProcCropDlg::UpdateScenario);
    connect(m_ratio, &QComboBox::activated, this, [this] {
        TakeRatioFromList();
        UpdateScenario();
    });
    connect(m_matchOrientation, &QCheckBox::toggled, this, &CPixortaProcCropDlg::UpdateScenario);
    connect(m_anchor, &QComboBox::activated, this, &CPixortaProcCropDlg::UpdateScenario);
    const TaskKindInfo *kind = FindTaskKind(TaskCrop);
    SetFromTask(CPixortaCropTask(), ParseYesNo(kind->enable.defaultValue).value_or(false));
}

std::unique_ptr<CPixortaTask> CPixortaProcCropDlg::CreateTask()
{
    auto task = std::make_unique<CPixortaCropTask>();
    task->m_mode = m_rectangleMode->isChecked() ? CPixortaCropTask::Mode::Rectangle
                   : m_marginsMode->isChecked() ? CPixortaCropTask::Mode::Margins
                                                : CPixortaCropTask::Mode::Aspect;
    task->m_aspectWidth = m_ratioWidth->Value();
    task->m_aspectHeight = m_ratioHeight->Value();
    task->m_matchOrientation = m_matchOrientation->isChecked();
    task->m_anchor = Placement(std::max(0, m_anchor->currentIndex()));
    task->m_x = m_x->Value();
    task->m_y = m_y->Value();
    task->m_width = m_width->Value();
    task->m_height = m_height->Value();
    task->m_marginLeft = m_left->Value();
    task->m_marginTop = m_top->Value();
    task->m_marginRight = m_right->Value();
    task->m_marginBottom = m_bottom->Value();
    return task;
}

void CPixortaProcCropDlg::SetFromTask(const CPixortaTask &record, bool enabled)
{
    const auto *task = dynamic_cast<const CPixortaCropTask *>(&record);
    if (!task)
        return;
    (task->m_mode == CPixortaCropTask::Mode::Rectangle ? m_rectangleMode
     : task->m_mode == CPixortaCropTask::Mode::Margins ? m_marginsMode
                                                       : m_aspectMode)
        ->setChecked(true);
    m_ratioWidth->setText(QString::number(task->m_aspectWidth));
    m_ratioHeight->setText(QString::number(task->m_aspectHeight));
    m_customRatio = ListedRatio(task->m_aspectWidth, task->m_aspectHeight) < 0;
    m_matchOrientation->setChecked(task->m_matchOrientation);
    m_anchor->setCurrentIndex(int(task->m_anchor));
    m_x->setText(QString::number(task->m_x));
    m_y->setText(QString::number(task->m_y));
    m_width->setText(QString::number(task->m_width));
    m_height->setText(QString::number(task->m_height));
    m_left->setText(QString::number(task->m_marginLeft));
    m_top->setText(QString::number(task->m_marginTop));
    m_right->setText(QString::number(task->m_marginRight));
    m_bottom->setText(QString::number(task->m_marginBottom));
    m_master->setChecked(enabled);
    UpdateScenario();
}

bool CPixortaProcCropDlg::IsTaskEnabled()
{
    return m_master->isChecked();
}

void CPixortaProcCropDlg::AfterUserInput()
{
    UpdateScenario();
}

namespace {

int ListedRatio(qint32 width, qint32 height)
{
    for (int i = 0; i < int(std::size(kRatios)); ++i)
        if (kRatios[i].width == width && kRatios[i].height == height)
            return i;
    return -1;
}

} // namespace

void CPixortaProcCropDlg::TakeRatioFromList()
{
    const int i = m_ratio->currentIndex();
    m_customRatio = i < 0 || i >= int(std::size(kRatios));
    if (m_customRatio)
        return;
    m_ratioWidth->setText(QString::number(kRatios[i].width));
    m_ratioHeight->setText(QString::number(kRatios[i].height));
}

void CPixortaProcCropDlg::UpdateScenario()
{
    EnableFromMasterCheckBox(m_master);
    const bool on = m_master->isChecked();
    const bool aspect = m_aspectMode->isChecked(), rectangle = m_rectangleMode->isChecked(),
               margins = m_marginsMode->isChecked();
    for (QWidget *w : {static_cast<QWidget *>(m_ratio), static_cast<QWidget *>(m_matchOrientation),
                       static_cast<QWidget *>(m_anchor)})
        w->setEnabled(on && aspect);
    for (CPixortaSpinEdit *e : {m_x, m_y, m_width, m_height})
        e->setEnabled(on && rectangle);
    for (CPixortaSpinEdit *e : {m_left, m_top, m_right, m_bottom})
        e->setEnabled(on && margins);

    // The two edits are typed into for a custom ratio; a listed one is shown by name.
    const qint32 rw = m_ratioWidth->Value(), rh = m_ratioHeight->Value();
    const int listed = ListedRatio(rw, rh);
    m_ratio->setCurrentIndex(m_customRatio || listed < 0 ? int(std::size(kRatios)) : listed);
    m_ratioWidth->setEnabled(on && aspect && m_customRatio);
    m_ratioHeight->setEnabled(on && aspect && m_customRatio);

    QString sentence;
    const std::unique_ptr<CPixortaTask> record = CreateTask();
    const auto &crop = static_cast<const CPixortaCropTask &>(*record);
    const QString where = PlacementCaption(crop.m_anchor).toLower();
    if (!on) {
        sentence = QStringLiteral("Images will not be cropped.");
    } else if (aspect) {
        if (rw < 1 || rh < 1) {
            sentence = QStringLiteral("The ratio needs two sides of at least 1.");
        } else {
            const QString ratio = QString::number(rw) + u':' + QString::number(rh);
            sentence = QStringLiteral("The largest ") + ratio +
                       QStringLiteral(" part of each image will be kept, at the ") + where + u'.';
            if (crop.m_matchOrientation && rw != rh)
                sentence += QStringLiteral(" A ") + (rw > rh ? QStringLiteral("portrait")
                                                             : QStringLiteral("landscape")) +
                            QStringLiteral(" image keeps a ") + QString::number(rh) + u':' +
                            QString::number(rw) + QStringLiteral(" part.");
        }
    } else if (rectangle) {
        if (crop.m_width < 1 || crop.m_height < 1)
            sentence = QStringLiteral("The rectangle needs a width and a height of at least 1.");
        else
            sentence = QString::number(crop.m_width) + QStringLiteral(" x ") +
                       QString::number(crop.m_height) + QStringLiteral(" pixels will be kept, ") +
                       QString::number(crop.m_x) + QStringLiteral(" from the left and ") +
                       QString::number(crop.m_y) +
                       QStringLiteral(" from the top; what lies beyond an image is left out, and "
                                      "an image the rectangle misses fails.");
    } else if (margins) {
        if (crop.m_marginLeft + crop.m_marginRight >= 100 ||
            crop.m_marginTop + crop.m_marginBottom >= 100)
            sentence = QStringLiteral("Nothing would be left of an image: the crop would fail.");
        else
            sentence = QString::number(crop.m_marginLeft) + QStringLiteral("% of the width will be "
                                                                           "cut on the left and ") +
                       QString::number(crop.m_marginRight) + QStringLiteral("% on the right, ") +
                       QString::number(crop.m_marginTop) +
                       QStringLiteral("% of the height at the top and ") +
                       QString::number(crop.m_marginBottom) + QStringLiteral("% at the bottom.");
    }
    m_scenario->setText(QStringLiteral("Scenario: ") + sentence);
}
