#include "pixortaproccolorsdlg.h"

#include "numbertext_p.h"
#include "pixortacolorstask.h"
#include "pixortaslideedit.h"
#include "tasksettings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

// Each row's control is named after the setting it shows.
struct RowText {
    const char *name;
    const char *caption;
};
constexpr RowText kRowTexts[] = {
    {"light", "Light:"}, {"contrast", "Contrast:"}, {"red", "Red:"},
    {"green", "Green:"}, {"blue", "Blue:"},
};

QString DefaultOf(const char *key)
{
    return DeclOf(CPixortaColorsTask::Declared(), key).defaultValue;
}

} // namespace

CPixortaProcColorsDlg::CPixortaProcColorsDlg(QWidget *parent) : CPixortaProcessorBaseDlg(parent)
{
    auto *heading = new QLabel(QStringLiteral("Change light, contrast and colors"), this);
    heading->setObjectName(QStringLiteral("heading"));
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    heading->setFont(headingFont);

    auto *grid = new QGridLayout;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        const QString name = QLatin1String(kRowTexts[i].name);
        const QString caption = QLatin1String(kRowTexts[i].caption);
        const QString spoken = caption.chopped(1);
        Row &row = m_rows[i];

        auto *label = new QLabel(caption, this);
        label->setObjectName(name + QStringLiteral("Label"));
        row.slider = new QSlider(Qt::Horizontal, this);
        row.slider->setObjectName(name + QStringLiteral("Slider"));
        row.slider->setAccessibleName(spoken);
        row.edit = new CPixortaSlideEdit(this);
        row.edit->setObjectName(name);
        row.edit->setAccessibleName(spoken);
        row.edit->setMaximumWidth(row.edit->fontMetrics().horizontalAdvance(QStringLiteral("00000000")));
        label->setBuddy(row.edit);
        row.reset = new QPushButton(QStringLiteral("Reset"), this);
        row.reset->setObjectName(name + QStringLiteral("Reset"));
        row.reset->setAccessibleName(QStringLiteral("Reset ") + spoken.toLower());

        row.edit->AttachSlider(row.slider);
        connect(row.reset, &QPushButton::clicked, this,
                [edit = row.edit, key = kRowTexts[i].name] { edit->setText(DefaultOf(key)); });

        const int r = int(i);
        grid->addWidget(label, r, 0);
        grid->addWidget(row.slider, r, 1);
        grid->addWidget(row.edit, r, 2);
        grid->addWidget(row.reset, r, 3);
    }
    grid->setColumnStretch(1, 1);

    m_grayScale = new QCheckBox(QStringLiteral("Grey scale"), this);
    m_grayScale->setObjectName(QStringLiteral("grayScale"));
    m_resetAll = new QPushButton(QStringLiteral("Reset all"), this);
    m_resetAll->setObjectName(QStringLiteral("resetAll"));
    connect(m_resetAll, &QPushButton::clicked, this, [this] { SetFromTask(CPixortaColorsTask()); });

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_grayScale);
    bottom->addStretch(1);
    bottom->addWidget(m_resetAll);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addLayout(grid);
    layout->addLayout(bottom);
    layout->addStretch(1);

    // Shown at once rather than after the first tick, so a record made straight away is
    // neutral instead of asking for light and contrast 0.
    SetFromTask(CPixortaColorsTask());
}

void CPixortaProcColorsDlg::SetFromTask(const CPixortaTask &record, bool)
{
    const auto *task = dynamic_cast<const CPixortaColorsTask *>(&record);
    if (!task)
        return;
    const qint32 values[5] = {task->m_light, task->m_contrast, task->m_red, task->m_green,
                              task->m_blue};
    for (size_t i = 0; i < m_rows.size(); ++i)
        m_rows[i].edit->setText(QString::number(values[i]));
    m_grayScale->setChecked(task->m_grayScale != 0);
}

std::unique_ptr<CPixortaTask> CPixortaProcColorsDlg::CreateTask()
{
    auto task = std::make_unique<CPixortaColorsTask>();
    task->m_light = ReadSignedInt(m_rows[0].edit->text());
    task->m_contrast = ReadSignedInt(m_rows[1].edit->text());
    task->m_red = ReadSignedInt(m_rows[2].edit->text());
    task->m_green = ReadSignedInt(m_rows[3].edit->text());
    task->m_blue = ReadSignedInt(m_rows[4].edit->text());
    task->m_grayScale = m_grayScale->isChecked() ? 1 : 0;
    return task;
}
