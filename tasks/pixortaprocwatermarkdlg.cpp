#include "pixortaprocwatermarkdlg.h"

#include "engine/pxformats.h"
#include "pixortaspinedit.h"
#include "pixortawatermarktask.h"
#include "taskkinds.h"
#include "ui/named.h"
#include "ui/uiseams.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const SettingDecl &Decl(const char *key)
{
    return DeclOf(CPixortaWatermarkTask::Declared(), key);
}

// Every extension the engine reads a picture from.
QString PictureFilter()
{
    QStringList patterns;
    for (const PxFormatInfo &format : PxFormats())
        if (format.canRead)
            for (const char *extension : format.extensions)
                if (extension)
                    patterns << QStringLiteral("*.") + QLatin1String(extension);
    return QStringLiteral("Pictures (") + patterns.join(u' ') + QStringLiteral(");;All files (*)");
}

} // namespace

CPixortaProcWatermarkDlg::CPixortaProcWatermarkDlg(QWidget *parent)
    : CPixortaProcessorBaseDlg(parent)
{
    m_master = Named(new QCheckBox(QStringLiteral("Add watermark"), this), "watermarkSwitch");
    QFont masterFont = m_master->font();
    masterFont.setBold(true);
    m_master->setFont(masterFont);

    m_file = Named(new QLineEdit(this), "watermarkFile");
    m_file->setAccessibleName(QStringLiteral("Watermark picture"));
    m_file->setToolTip(SettingHelp(Decl("file")));
    m_browse = Named(new QPushButton(QStringLiteral("..."), this), "watermarkBrowse");
    m_browse->setToolTip(QStringLiteral("Choose the watermark picture"));
    m_browse->setAutoDefault(false);
    m_browse->setFixedWidth(32);
    connect(m_browse, &QPushButton::clicked, this, &CPixortaProcWatermarkDlg::ChooseFile);
    auto *fileLabel = Named(new QLabel(QStringLiteral("Picture:"), this), "watermarkFileLabel");
    fileLabel->setBuddy(m_file);

    m_position = Named(new QComboBox(this), "watermarkPosition");
    for (qsizetype i = 0; i < PlacementWords().size(); ++i)
        m_position->addItem(PlacementCaption(Placement(i)));
    m_position->setAccessibleName(QStringLiteral("Position"));
    auto *positionLabel = Named(new QLabel(QStringLiteral("Position:"), this), "watermarkPositionLabel");
    positionLabel->setBuddy(m_position);

    struct Row {
        const char *caption, *name, *key, *spoken, *unit;
        CPixortaSpinEdit **edit;
    };
    const Row rows[] = {
        {"Size:", "watermarkSize", "size", "Size in percent of the image width", "% of the image width", &m_size},
        {"Opacity:", "watermarkOpacity", "opacity", "Opacity in percent", "%", &m_opacity},
        {"Margin:", "watermarkMargin", "margin", "Margin in percent of the image width", "% of the image width", &m_margin},
    };

    auto *grid = new QGridLayout;
    grid->addWidget(fileLabel, 0, 0);
    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(m_file, 1);
    fileRow->addWidget(m_browse);
    grid->addLayout(fileRow, 0, 1, 1, 3);
    grid->addWidget(positionLabel, 1, 0);
    grid->addWidget(m_position, 1, 1, 1, 2);
    int r = 2;
    for (const Row &row : rows) {
        *row.edit = CreateSpinEdit(this, QLatin1String(row.name), Decl(row.key));
        (*row.edit)->setAccessibleName(QLatin1String(row.spoken));
        (*row.edit)->setToolTip(SettingHelp(Decl(row.key)));
        auto *label = Named(new QLabel(QString::fromLatin1(row.caption), this),
                            (QByteArray(row.name) + "Label").constData());
        label->setBuddy(*row.edit);
        grid->addWidget(label, r, 0);
        grid->addWidget(*row.edit, r, 1);
        grid->addWidget(new QLabel(QString::fromLatin1(row.unit), this), r++, 2);
    }
    grid->setColumnStretch(3, 1);

    m_scenario = CreateScenarioLine(QStringLiteral("Scenario:"));

    LayOutSwitchedPanel(m_master, grid, m_scenario);

    connect(m_master, &QCheckBox::toggled, this, &CPixortaProcWatermarkDlg::UpdateScenario);
    connect(m_file, &QLineEdit::textChanged, this, &CPixortaProcWatermarkDlg::UpdateScenario);
    connect(m_position, &QComboBox::activated, this, &CPixortaProcWatermarkDlg::UpdateScenario);
    const TaskKindInfo *kind = FindTaskKind(TaskWatermark);
    SetFromTask(CPixortaWatermarkTask(), ParseYesNo(kind->enable.defaultValue).value_or(false));
}

std::unique_ptr<CPixortaTask> CPixortaProcWatermarkDlg::CreateTask()
{
    auto task = std::make_unique<CPixortaWatermarkTask>();
    task->m_file = m_file->text();
    task->m_position = Placement(std::max(0, m_position->currentIndex()));
    task->m_size = m_size->Value();
    task->m_opacity = m_opacity->Value();
    task->m_margin = m_margin->Value();
    return task;
}

void CPixortaProcWatermarkDlg::SetFromTask(const CPixortaTask &record, bool enabled)
{
    const auto *task = dynamic_cast<const CPixortaWatermarkTask *>(&record);
    if (!task)
        return;
    m_file->setText(task->m_file);
    m_position->setCurrentIndex(int(task->m_position));
    m_size->setText(QString::number(task->m_size));
    m_opacity->setText(QString::number(task->m_opacity));
    m_margin->setText(QString::number(task->m_margin));
    m_master->setChecked(enabled);
    UpdateScenario();
}

bool CPixortaProcWatermarkDlg::IsTaskEnabled()
{
    return m_master->isChecked();
}

void CPixortaProcWatermarkDlg::ChooseFile()
{
    const QStringList chosen = ChooseOpenFiles(
        this, OpenFilesRequest{QStringLiteral("Choose the watermark picture"), PictureFilter(),
                               QFileInfo(m_file->text()).absolutePath()});
    if (!chosen.isEmpty())
        m_file->setText(chosen.front());
}

void CPixortaProcWatermarkDlg::AfterUserInput()
{
    UpdateScenario();
}

void CPixortaProcWatermarkDlg::UpdateScenario()
{
    EnableFromMasterCheckBox(m_master);
    QString sentence;
    if (!m_master->isChecked()) {
        sentence = QStringLiteral("No watermark will be added.");
    } else if (m_file->text().isEmpty()) {
        sentence = QStringLiteral("Choose the picture to lay over every image.");
    } else {
        sentence = QFileInfo(m_file->text()).fileName() + QStringLiteral(", ") +
                   QString::number(m_size->Value()) +
                   QStringLiteral("% of the image width, will be laid over every image at the ") +
                   PlacementCaption(Placement(std::max(0, m_position->currentIndex()))).toLower() +
                   QStringLiteral(", at ") + QString::number(m_opacity->Value()) +
                   QStringLiteral("% opacity.");
    }
    m_scenario->setText(QStringLiteral("Scenario: ") + sentence);
}
