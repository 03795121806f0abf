#include "pixortaproctextdlg.h"

#include "estaticcolor.h"
#include "pixortaspinedit.h"
#include "pixortatexttask.h"
#include "tasksettings.h"
#include "ui/quickmenu.h"
#include "ui/uiseams.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <optional>
#include <tuple>
#include <utility>

namespace {

const QString kLinkCaption = QStringLiteral("(Insert dynamic variable...)");

// Where the text will sit, in miniature: a black block as tall as the text size makes it, at
// the chosen alignment.
class TextPreview : public QWidget {
public:
    TextPreview(QWidget *parent, const QComboBox *hAlign, const QComboBox *vAlign,
                const CPixortaSpinEdit *size)
        : QWidget(parent), m_hAlign(hAlign), m_vAlign(vAlign), m_size(size)
    {
        setMinimumSize(80, 60);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const int pw = width(), ph = height();
        painter.setPen(QColor(200, 200, 200));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(0, 0, pw - 1, ph - 1);

        const int s = std::max(1, m_size->Value());
        const int parts = 100 / s;
        const int block = parts == 0 ? ph : ph / parts;
        using H = CPixortaTextTask::HAlign;
        using V = CPixortaTextTask::VAlign;
        const H h = H(m_hAlign->currentIndex());
        const V v = V(m_vAlign->currentIndex());
        int x = 5, y = 5;
        if (h == H::Center)
            x = pw / 2 - 15;
        else if (h == H::Right)
            x = pw - 35;
        if (v == V::Center)
            y = ph / 2 - block / 2;
        else if (v == V::Bottom)
            y = ph - block - 5;
        painter.fillRect(QRect(x, y, 30, block), Qt::black);
    }

private:
    const QComboBox *m_hAlign;
    const QComboBox *m_vAlign;
    const CPixortaSpinEdit *m_size;
};

QComboBox *Choices(QWidget *parent, const char *name, const QString &spoken,
                   const QStringList &items)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setAccessibleName(spoken);
    box->addItems(items);
    return box;
}


QLabel *Label(QWidget *parent, const QString &caption, const char *name, QWidget *buddy)
{
    auto *label = new QLabel(caption, parent);
    label->setObjectName(QLatin1String(name));
    if (buddy)
        label->setBuddy(buddy);
    return label;
}

// The swatch's colour and flag byte, bit 0 of the flag replaced by on when given.
TaskColour ColourOf(const CEStaticColor *swatch, std::optional<bool> on = std::nullopt)
{
    TaskColour colour = TaskColour::From(swatch->GetColor(), false);
    colour.reserved = swatch->GetReserved();
    colour.flag = swatch->GetFlag();
    if (on)
        colour.flag = quint8((colour.flag & ~1) | (*on ? 1 : 0));
    return colour;
}

} // namespace

CPixortaProcTextDlg::CPixortaProcTextDlg(QWidget *parent) : CPixortaProcessorBaseDlg(parent)
{
    auto *heading = new QLabel(QStringLiteral("Add text to all images"), this);
    heading->setObjectName(QStringLiteral("heading"));
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    heading->setFont(headingFont);

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("text"));
    m_text->setAccessibleName(QStringLiteral("Text"));
    m_text->setTabChangesFocus(true);

    // A link in blue (0, 0, 200) that shows the variables menu.
    m_variableLink = new QLabel(this);
    m_variableLink->setObjectName(QStringLiteral("variableLink"));
    m_variableLink->setAccessibleName(kLinkCaption);
    m_variableLink->setTextFormat(Qt::RichText);
    m_variableLink->setText(QStringLiteral("<a href=\"#\" style=\"color:#0000c8;"
                                           "text-decoration:none\">") +
                            kLinkCaption.toHtmlEscaped() + QStringLiteral("</a>"));
    m_variableLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse |
                                            Qt::LinksAccessibleByKeyboard);
    m_variableLink->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    connect(m_variableLink, &QLabel::linkActivated, this, &CPixortaProcTextDlg::InsertVariable);

    // The items stand in the order of the alignments' words.
    m_hAlign = Choices(this, "hAlign", QStringLiteral("Horizontal align"),
                       {QStringLiteral("Left"), QStringLiteral("Center"), QStringLiteral("Right")});
    m_vAlign = Choices(this, "vAlign", QStringLiteral("Vertical align"),
                       {QStringLiteral("Top"), QStringLiteral("Center"), QStringLiteral("Bottom")});
    const TaskSettingList &declared = CPixortaTextTask::Declared();
    m_xMargin = CreateSpinEdit(this, QStringLiteral("xMargin"), DeclOf(declared, "xmargin"));
    m_xMargin->setAccessibleName(QStringLiteral("X margin"));
    m_yMargin = CreateSpinEdit(this, QStringLiteral("yMargin"), DeclOf(declared, "ymargin"));
    m_yMargin->setAccessibleName(QStringLiteral("Y margin"));
    m_textSize = CreateSpinEdit(this, QStringLiteral("textSize"), DeclOf(declared, "size"));
    m_textSize->setAccessibleName(QStringLiteral("Text size"));

    // Colours and switches show the record's defaults once the panel is built.
    m_textColour = CreateSwatch(this, QStringLiteral("Text color"), "textColour", QColor());
    m_shadowSwitch = CreateSwatchSwitch(this, QStringLiteral("Shadow color"),
            "shadowSwitch", false);
    m_shadowColour = CreateSwatch(this, QStringLiteral("Shadow color"), "shadowColour", QColor());
    m_backgroundSwitch = CreateSwatchSwitch(this, QStringLiteral("Background color"),
            "backgroundSwitch", false);
    m_backgroundColour = CreateSwatch(this, QStringLiteral("Background color"), "backgroundColour",
                                QColor());

    m_changeFont = new QPushButton(QStringLiteral("&Change font"), this);
    m_changeFont->setObjectName(QStringLiteral("changeFont"));
    m_changeFont->setAccessibleName(QStringLiteral("Change font"));
    connect(m_changeFont, &QPushButton::clicked, this, &CPixortaProcTextDlg::ChangeFont);

    m_preview = new TextPreview(this, m_hAlign, m_vAlign, m_textSize);
    m_preview->setObjectName(QStringLiteral("preview"));
    m_preview->setAccessibleName(QStringLiteral("Text position preview"));
    for (QComboBox *box : {m_hAlign, m_vAlign})
        connect(box, &QComboBox::currentIndexChanged, m_preview, qOverload<>(&QWidget::update));
    connect(m_textSize, &CPixortaSpinEdit::textChanged, m_preview, qOverload<>(&QWidget::update));

    auto *settings = new QGridLayout;
    settings->addWidget(Label(this, QStringLiteral("Horizontal align:"), "hAlignLabel", m_hAlign), 0, 0);
    settings->addWidget(m_hAlign, 0, 1);
    settings->addWidget(Label(this, QStringLiteral("Vertical align:"), "vAlignLabel", m_vAlign), 1, 0);
    settings->addWidget(m_vAlign, 1, 1);
    settings->addWidget(Label(this, QStringLiteral("X margin:"), "xMarginLabel", m_xMargin), 2, 0);
    settings->addWidget(m_xMargin, 2, 1);
    settings->addWidget(Label(this, QStringLiteral("Y margin:"), "yMarginLabel", m_yMargin), 3, 0);
    settings->addWidget(m_yMargin, 3, 1);
    settings->addWidget(Label(this, QStringLiteral("Text size:"), "textSizeLabel", m_textSize), 4, 0);
    settings->addWidget(m_textSize, 4, 1);
    settings->addWidget(Label(this, QStringLiteral("%"), "percentLabel", nullptr), 4, 2);

    auto *colours = new QGridLayout;
    colours->addWidget(m_textColour, 0, 1);
    colours->addWidget(m_shadowSwitch, 1, 0);
    colours->addWidget(m_shadowColour, 1, 1);
    colours->addWidget(m_backgroundSwitch, 2, 0);
    colours->addWidget(m_backgroundColour, 2, 1);
    colours->addWidget(m_changeFont, 3, 1);

    auto *row = new QHBoxLayout;
    row->addLayout(settings);
    row->addLayout(colours);
    row->addWidget(m_preview, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(m_text, 1);
    layout->addWidget(m_variableLink);
    layout->addLayout(row);

    SetFromTask(CPixortaTextTask());
    m_fontChosen = false;
}

std::unique_ptr<CPixortaTask> CPixortaProcTextDlg::CreateTask()
{
    auto task = std::make_unique<CPixortaTextTask>();
    task->m_text = CPixortaTextTask::TrimmedText(m_text->toPlainText());
    task->m_hAlign = CPixortaTextTask::HAlign(m_hAlign->currentIndex());
    task->m_vAlign = CPixortaTextTask::VAlign(m_vAlign->currentIndex());
    task->m_xMargin = m_xMargin->Value();
    task->m_yMargin = m_yMargin->Value();
    task->m_textSize = m_textSize->Value();
    task->m_textColour = ColourOf(m_textColour);
    task->m_shadowColour = ColourOf(m_shadowColour, m_shadowSwitch->isChecked());
    task->m_backgroundColour = ColourOf(m_backgroundColour, m_backgroundSwitch->isChecked());
    if (m_fontChosen)
        task->m_font = m_font;
    return task;
}

void CPixortaProcTextDlg::SetFromTask(const CPixortaTask &record, bool)
{
    const auto *task = dynamic_cast<const CPixortaTextTask *>(&record);
    if (!task)
        return;
    m_text->setPlainText(task->m_text);
    m_hAlign->setCurrentIndex(int(task->m_hAlign));
    m_vAlign->setCurrentIndex(int(task->m_vAlign));
    m_xMargin->setText(QString::number(task->m_xMargin));
    m_yMargin->setText(QString::number(task->m_yMargin));
    m_textSize->setText(QString::number(task->m_textSize));
    m_textColour->SetColor(task->m_textColour.ToQColor(), task->m_textColour.reserved);
    m_textColour->SetFlag(task->m_textColour.flag);
    for (auto [swatch, box, colour] :
         {std::tuple{m_shadowColour, m_shadowSwitch, task->m_shadowColour},
          std::tuple{m_backgroundColour, m_backgroundSwitch, task->m_backgroundColour}}) {
        swatch->SetColor(colour.ToQColor(), colour.reserved);
        swatch->SetFlag(colour.flag);
        box->setChecked(colour.IsOn());
    }
    m_font = task->m_font;
    m_fontChosen = true;
}

void CPixortaProcTextDlg::ChangeFont()
{
    // The size offered is only a starting point: the image decides the size of the text.
    QFont initial = m_font.ToQFont(16);
    initial.setPointSizeF(font().pointSizeF() > 0 ? font().pointSizeF() : 10);
    const std::optional<QFont> chosen = ChooseFont(this, initial);
    if (!chosen)
        return;
    m_font = TaskFont::FromQFont(*chosen);
    m_fontChosen = true;
}

void CPixortaProcTextDlg::InsertVariable()
{
    CQuickMenu menu;
    if (!menu.Create(this))
        return;
    // The note stands apart from the variables the file gives.
    const QList<TextVariable> &variables = TextVariables();
    for (int i = 0; i < variables.size(); ++i) {
        if (!variables[i].menuItem)
            continue;
        menu.AddItem(CQuickMenu::String, i + 1, QLatin1String(variables[i].menuItem));
        if (i == 0)
            menu.AddItem(CQuickMenu::Separator, CQuickMenu::kSeparatorId);
    }
    const int id = menu.Track(-1, -1);
    if (id >= 1 && id <= variables.size()) {
        m_text->insertPlainText(variables[id - 1].token);
        m_text->setFocus();
    }
}
