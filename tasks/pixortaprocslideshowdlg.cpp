#include "pixortaprocslideshowdlg.h"

#include "pixortaslideshowtask.h"
#include "pixortaspinedit.h"
#include "tasksettings.h"
#include "ui/named.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace {

QListWidget *EffectList(QWidget *parent, const char *name, const QStringList &effects)
{
    auto *list = Named(new QListWidget(parent), name);
    list->addItems(effects);
    // Every click adds or removes one effect.
    list->setSelectionMode(QAbstractItemView::MultiSelection);
    return list;
}

QString SelectedTexts(const QListWidget *list)
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->isSelected())
            names << list->item(i)->text();
    return names.join(u',');
}

QLabel *Caption(const QString &text, QWidget *buddy, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

const QStringList &CPixortaProcSlideShowDlg::AppearEffectNames()
{
    return CPixortaSlideShowTask::AppearEffectNames();
}

const QStringList &CPixortaProcSlideShowDlg::DisappearEffectNames()
{
    return CPixortaSlideShowTask::DisappearEffectNames();
}

CPixortaProcSlideShowDlg::CPixortaProcSlideShowDlg(QWidget *parent)
    : CPixortaProcessorBaseDlg(parent)
{
    auto *heading = Named(new QLabel(QStringLiteral("Create slideshow"), this), "heading");
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    heading->setFont(headingFont);

    m_create = Named(new QCheckBox(QStringLiteral("Create movie slideshow (.avi)"), this),
                     "createMovie");
    const TaskSettingList &settings = CPixortaSlideShowTask::Declared();
    m_pause = CreateSpinEdit(this, QStringLiteral("pause"), DeclOf(settings, "pause"));
    auto *note = Named(new QLabel(QStringLiteral("Transition effects, you can select more than "
                                                 "one (note:these effects make movie larger)"),
                                  this),
                       "effectsNote");
    note->setWordWrap(true);
    m_appear = EffectList(this, "appearEffects", AppearEffectNames());
    m_appear->setAccessibleName(QStringLiteral("On appear"));
    m_disappear = EffectList(this, "disappearEffects", DisappearEffectNames());
    m_disappear->setAccessibleName(QStringLiteral("On disappear"));
    m_width = CreateSpinEdit(this, QStringLiteral("movieWidth"), DeclOf(settings, "width"));
    m_height = CreateSpinEdit(this, QStringLiteral("movieHeight"), DeclOf(settings, "height"));
    m_quality = Named(new QComboBox(this), "movieQuality");
    for (const char *q : {"5", "10", "20", "30", "40", "50", "60", "70", "80", "90", "100"})
        m_quality->addItem(QLatin1String(q));

    auto *pauseRow = new QHBoxLayout;
    pauseRow->addWidget(Caption(QStringLiteral("Pause between slides:"), m_pause, this));
    pauseRow->addWidget(m_pause);
    pauseRow->addWidget(new QLabel(QStringLiteral("seconds"), this));
    pauseRow->addStretch(1);

    auto *effects = new QGridLayout;
    effects->addWidget(Caption(QStringLiteral("On appear:"), m_appear, this), 0, 0);
    effects->addWidget(Caption(QStringLiteral("On dissapear:"), m_disappear, this), 0, 1);
    effects->addWidget(m_appear, 1, 0);
    effects->addWidget(m_disappear, 1, 1);

    auto *movie = new QGridLayout;
    movie->addWidget(Caption(QStringLiteral("Movie width:"), m_width, this), 0, 0);
    movie->addWidget(m_width, 0, 1);
    movie->addWidget(Caption(QStringLiteral("Movie height:"), m_height, this), 1, 0);
    movie->addWidget(m_height, 1, 1);
    movie->addWidget(Caption(QStringLiteral("Movie quality:"), m_quality, this), 2, 0);
    auto *qualityRow = new QHBoxLayout;
    qualityRow->addWidget(m_quality);
    qualityRow->addWidget(new QLabel(QStringLiteral("%"), this));
    qualityRow->addStretch(1);
    movie->addLayout(qualityRow, 2, 1);
    movie->setColumnStretch(2, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(m_create);
    layout->addLayout(pauseRow);
    layout->addWidget(note);
    layout->addLayout(effects);
    layout->addLayout(movie);
    layout->addStretch(1);

    connect(m_create, &QCheckBox::toggled, this, [this] { EnableFromMasterCheckBox(m_create); });
    SetFromTask(CPixortaSlideShowTask());
}

void CPixortaProcSlideShowDlg::SetFromTask(const CPixortaTask &record, bool)
{
    const auto *task = dynamic_cast<const CPixortaSlideShowTask *>(&record);
    if (!task)
        return;
    m_create->setChecked(task->m_create != 0);
    m_voiceFile = task->m_voiceFile;
    m_pause->setText(QString::number(task->m_pause));
    m_width->setText(QString::number(task->m_width));
    m_height->setText(QString::number(task->m_height));
    // A quality the list does not offer (a job written by hand) joins it rather than being lost.
    const QString quality = QString::number(task->m_quality);
    if (m_quality->findText(quality) < 0)
        m_quality->addItem(quality);
    m_quality->setCurrentText(quality);
    for (auto [list, chosen] : {std::pair{m_appear, task->m_appearEffects.split(u',')},
                                std::pair{m_disappear, task->m_disappearEffects.split(u',')}})
        for (int i = 0; i < list->count(); ++i)
            list->item(i)->setSelected(chosen.contains(list->item(i)->text()));
    EnableFromMasterCheckBox(m_create);
}

std::unique_ptr<CPixortaTask> CPixortaProcSlideShowDlg::CreateTask()
{
    auto task = std::make_unique<CPixortaSlideShowTask>();
    task->m_create = m_create->isChecked() ? 1 : 0;
    task->m_pause = m_pause->Value();
    task->m_width = m_width->Value();
    task->m_height = m_height->Value();
    task->m_quality = m_quality->currentText().toInt();
    task->m_appearEffects = SelectedTexts(m_appear);
    task->m_disappearEffects = SelectedTexts(m_disappear);
    task->m_voiceFile = m_voiceFile;
    return task;
}
