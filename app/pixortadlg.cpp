#include "pixortadlg.h"

#include "jobfiles.h"
#include "pixortaaboutdlg.h"
#include "pixortacontrols.h"
#include "pixortaplandlg.h"
#include "sizetest.h"
#include "weblinks.h"
#include "undo/backup.h"
#include "imageio/imagefile.h"
#include "batch/batchplan.h"
#include "batch/namepattern.h"
#include "batch/targets.h"
#include "batch/pixortafinalprocessordlg.h"
#include "undo/windowstore.h"
#include "core/commandline.h"
#include "core/paths.h"
#include "imagelist/immediateoperation.h"
#include "imagelist/pixortaimageviewerdlg.h"
#include "imagelist/thumbnails.h"
#include "tasks/movie/voicetrack.h"
#include "tasks/pixortaslideshowtask.h"
#include "tasks/taskkinds.h"
#include "tasks/taskpanels.h"
#include "ui/uiseams.h"
#include "ui/named.h"
#include "ui/quickmenu.h"
#include "engine/pxformats.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <tuple>

namespace {

// A reason from below ("this batch would overwrite ...") as a sentence of a message box.
QString Sentence(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text.endsWith(u'.') ? text : text + u'.';
}

const QString kDontChange = QStringLiteral("Don't change");
// The preview is never smaller than this; it takes whatever room the window gives beyond.
constexpr QSize kPreviewMinimum(170, 156);
// What a window manager's frame and title bar take around the window.
constexpr QSize kFrameAllowance(16, 40);
// The window's size on a screen with room to spare.
constexpr QSize kComfortableSize(1100, 690);

QFrame *EtchedLine(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// Typing keys belong to the field that has the keyboard focus.
bool IsTextField(const QWidget *widget)
{
    return qobject_cast<const QLineEdit *>(widget) || qobject_cast<const QTextEdit *>(widget) ||
           qobject_cast<const QPlainTextEdit *>(widget) ||
           qobject_cast<const QAbstractSpinBox *>(widget);
}

QCursor OwnCursor(const char *name, int hotX, int hotY)
{
    const QPixmap picture(QStringLiteral(":/pixorta/cursors/%1.png").arg(QLatin1String(name)));
    return picture.isNull() ? QCursor(Qt::PointingHandCursor) : QCursor(picture, hotX, hotY);
}

// The task panels' area: as large as the largest panel when the window has the room, so that
// switching panels moves nothing; scrolling rather than cutting a panel off when it has not.
class PanelScroller : public QScrollArea {
public:
    explicit PanelScroller(QWidget *parent) : QScrollArea(parent)
    {
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    }
    // QScrollArea caps its wish at a few dozen lines of text, less than the tallest panel.
    QSize sizeHint() const override
    {
        return widget() ? widget()->minimumSize() : QScrollArea::sizeHint();
    }
    QSize minimumSizeHint() const override
    {
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
        return sizeHint().boundedTo(QSize(240, 160)) + QSize(bar, bar);
    }
};

// A line of text that never widens its column: what does not fit ends in "...", and the
// whole text stays the label's own (its tooltip, and what a screen reader speaks).
class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(QWidget *parent) : QLabel(parent)
    {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }
    QSize minimumSizeHint() const override { return QSize(0, QLabel::minimumSizeHint().height()); }
    QSize sizeHint() const override { return QSize(0, QLabel::sizeHint().height()); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setPen(palette().color(foregroundRole()));
        p.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width()));
    }
};

// The colour of a pattern that cannot be used, beside the field.
const QColor kWarningColour(190, 0, 0);

// What the if-exists box says for each choice the job declares.
QString IfExistsCaption(const QString &choice)
{
    if (choice == u"overwrite")
        return QStringLiteral("Overwrite (backed up)");
    if (choice == u"skip")
        return QStringLiteral("Skip");
    if (choice == u"rename")
        return QStringLiteral("Rename");
    QString caption = choice;
    if (!caption.isEmpty())
        caption[0] = caption[0].toUpper();
    return caption;
}

} // namespace

QSize FirstWindowSize(const QSize &wanted, const QSize &minimum, const QRect &available)
{
    const QSize room = (available.size() - kFrameAllowance).expandedTo(QSize(1, 1));
    return wanted.expandedTo(minimum).boundedTo(room);
}

CPixortaDlg::CPixortaDlg(const QStringList &commandLine, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CPixortaDlg"));
    setWindowTitle(QStringLiteral("Pixorta"));
    setWindowIcon(ProgramIcon());
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);

    m_banner = new CBannerPicture(this);
    // However short the window, the banner is never squeezed: its picture would be cut.
    m_banner->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    QImage banner;
    if (LoadBannerPicture(JoinPath(GetProgramFolder(), QStringLiteral("images_internal/topbanner.png")),
                          banner))
        m_banner->SetPicture(banner);

    BuildMenus();

    m_advert = Named(new CLinkCaption(QStringLiteral("Missing something in Pixorta, or have an idea "
                                                     "how to make it better? Tell us!"),
                                      QColor(0, 0, 150), QColor(255, 255, 100), this),
                     "advertLine");
    m_advert->setCursor(Qt::PointingHandCursor);
    connect(m_advert, &QAbstractButton::clicked, this, &CPixortaDlg::OpenContactPage);

    // Pictures, what is done to them, where they go: side by side, so that the tallest task
    // panel and the output settings never have to share one column's height.
    auto *body = new QHBoxLayout;
    body->setContentsMargins(9, 6, 9, 0);
    body->setSpacing(9);
    // The list and the preview share what the window has beyond the least each needs; the
    // output settings make the right column the wider one at first.
    body->addWidget(BuildLeftColumn(), 1);
    body->addWidget(BuildTaskColumn(), 0);
    body->addWidget(BuildRightColumn(), 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 6);
    layout->setSpacing(6);
    layout->setMenuBar(m_menuBar);
    layout->addWidget(m_banner);
    layout->addLayout(body, 1);
    auto *advertRow = new QHBoxLayout;
    advertRow->setContentsMargins(9, 0, 9, 0);
    advertRow->addWidget(m_advert);
    layout->addLayout(advertRow);

    m_format->setCurrentIndex(0);
    UpdateOutputEnabling();
    ResetTasks();
    m_changeOriginals->setChecked(true);
    UpdateFolderEnabling();
    // Rows come and go one by one while files are added: the example is worked out once after.
    QAbstractItemModel *rows = m_list->model();
    connect(rows, &QAbstractItemModel::rowsInserted, this, &CPixortaDlg::ScheduleNameExample);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, &CPixortaDlg::ScheduleNameExample);
    connect(rows, &QAbstractItemModel::modelReset, this, &CPixortaDlg::ScheduleNameExample);
    // A note may be part of the name.
    connect(rows, &QAbstractItemModel::dataChanged, this, &CPixortaDlg::ScheduleNameExample);
    ResizeForScreen(screen() ? screen()->availableGeometry() : QRect(0, 0, 1280, 720));

    qApp->installEventFilter(this);
    SetFileChangedNotifier(
        [this](const QString &path, const QString &note) { OnFileChanged(path, note); });

    m_list->setFocus();
    CPixortaCommandLineInfo info;
    info.ParseCommandLine(commandLine);
    m_list->AddFiles(info.m_fileNames, 0);
}

CPixortaDlg::~CPixortaDlg()
{
    SetFileChangedNotifier(nullptr);
    qApp->removeEventFilter(this);
}

void CPixortaDlg::BuildMenus()
{
    m_menuBar = Named(new QMenuBar(this), "menuBar");
    QPalette white = m_menuBar->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::Button, Qt::white);
    m_menuBar->setPalette(white);
    m_menuBar->setAutoFillBackground(true);

    // Every menu command in one table: a null caption is a separator. The keys are those the
    // window's key handling already gives the command; the menu shows them so they can be
    // found.
    struct Command {
        const char *menu;
        const char *caption;
        const char *objectName;
        void (CPixortaDlg::*run)();
        const char *keys = nullptr;
    };
    static const Command kCommands[] = {
        {"&File", "Preview plan...", "previewPlanAction", &CPixortaDlg::PreviewPlan},
        {"&File", "Start processing...", "startAction", &CPixortaDlg::Start},
        {"&File", "Size test...", "sizeTestAction", &CPixortaDlg::SizeTest},
        {"&File", nullptr, nullptr, nullptr},
        {"&File", "Undo last operation", "undoAction", &CPixortaDlg::UndoCommand, "Ctrl+Z"},
        {"&File", nullptr, nullptr, nullptr},
        {"&File", "Open job...", "openJobAction", &CPixortaDlg::OpenJob},
        {"&File", "Save job...", "saveJobAction", &CPixortaDlg::SaveJob},
        {"&File", nullptr, nullptr, nullptr},
        {"&File", "&Exit", "exitAction", &CPixortaDlg::EndProgram},
        {"&Help", "&Help index", "helpAction", &CPixortaDlg::OpenHelp, "F1"},
        {"&Help", "&About...", "aboutAction", &CPixortaDlg::ShowAbout},
        {"&Help", "&Contact the Pixorta team...", "contactAction", &CPixortaDlg::OpenContactPage},
    };
    QMenu *menu = nullptr;
    QString menuTitle;
    for (const Command &c : kCommands) {
        if (!menu || menuTitle != QLatin1String(c.menu)) {
            menuTitle = QLatin1String(c.menu);
            menu = m_menuBar->addMenu(menuTitle);
            menu->setObjectName(menuTitle.mid(1).toLower() + QStringLiteral("Menu"));
        }
        if (!c.caption) {
            menu->addSeparator();
            continue;
        }
        QAction *action = menu->addAction(QLatin1String(c.caption));
        action->setObjectName(QLatin1String(c.objectName));
        if (c.keys) {
            // Bound to the open menu alone: anywhere else the window's key handling keeps the
            // keys, so that Ctrl+Z still undoes the typing of a text field.
            action->setShortcut(QKeySequence(QLatin1String(c.keys)));
            action->setShortcutContext(Qt::WidgetShortcut);
        }
        connect(action, &QAction::triggered, this, c.run);
    }
    m_undoAction = m_menuBar->findChild<QAction *>(QStringLiteral("undoAction"));
    auto *fileMenu = m_menuBar->findChild<QMenu *>(QStringLiteral("fileMenu"));
    connect(fileMenu, &QMenu::aboutToShow, this, &CPixortaDlg::UpdateMenus);
    UpdateMenus();
}

void CPixortaDlg::UpdateMenus()
{
    m_undoAction->setEnabled(!UndoHistory::Instance().IsEmpty());
}

void CPixortaDlg::UndoCommand()
{
    UndoLastOperation(this);
}

QWidget *CPixortaDlg::BuildLeftColumn()
{
    auto *column = new QWidget(this);
    m_list = new CPixortaImageListCtrl(column);
    m_list->SetHost(this);
    m_list->Initialize();

    auto *immediate = Named(new QGroupBox(QStringLiteral("Immediate action on selected images"),
                                          column),
                            "immediateGroup");
    auto *actions = new QHBoxLayout(immediate);
    // Turning right comes first, as the buttons always stood.
    for (const auto &[operation, icon, name] :
         {std::tuple{ImmediateOperation::RotateRight, "rotate-right", "rotateRightButton"},
          std::tuple{ImmediateOperation::RotateLeft, "rotate-left", "rotateLeftButton"}}) {
        const QString caption = ImmediateOperationName(operation);
        auto *button = Named(new QPushButton(immediate), name);
        button->setIcon(QIcon(QStringLiteral(":/pixorta/icons/%1.png").arg(QLatin1String(icon))));
        button->setIconSize(QSize(16, 16));
        button->setToolTip(caption);
        button->setAccessibleName(caption);
        button->setAutoDefault(false);
        button->setFixedWidth(48);
        auto *label = new QLabel(caption, immediate);
        auto *cell = new QVBoxLayout;
        cell->addWidget(button, 0, Qt::AlignHCenter);
        cell->addWidget(label, 0, Qt::AlignHCenter);
        actions->addLayout(cell);
        connect(button, &QPushButton::clicked, this,
                [this, operation = operation] { m_list->RunImmediateOperation(operation); });
    }
    actions->addStretch(1);

    auto *addFiles = Named(new QPushButton(QStringLiteral("&Add files"), column), "addFilesButton");
    auto *addFolder = Named(new QPushButton(QStringLiteral("Add &folder"), column),
                            "addFolderButton");
    addFiles->setAutoDefault(false);
    addFolder->setAutoDefault(false);
    connect(addFiles, &QPushButton::clicked, this, &CPixortaDlg::AddFilesCommand);
    connect(addFolder, &QPushButton::clicked, this, &CPixortaDlg::AddFolderCommand);
    auto *adding = new QHBoxLayout;
    adding->addWidget(addFiles);
    adding->addWidget(addFolder);
    adding->addStretch(1);

    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list, 1);
    layout->addWidget(immediate);
    layout->addLayout(adding);
    return column;
}

QWidget *CPixortaDlg::BuildTaskColumn()
{
    auto *column = new QWidget(this);

    m_taskSelector = Named(new QListWidget(column), "taskSelector");
    m_taskSelector->setAccessibleName(QStringLiteral("Tasks"));
    m_taskSelector->setViewMode(QListView::IconMode);
    m_taskSelector->setFlow(QListView::LeftToRight);
    // Eight tasks take two rows: in one they would make the window wider than a laptop's
    // screen.
    m_taskSelector->setWrapping(true);
    m_taskSelector->setResizeMode(QListView::Adjust);
    m_taskSelector->setMovement(QListView::Static);
    m_taskSelector->setSelectionMode(QAbstractItemView::SingleSelection);
    m_taskSelector->setIconSize(QSize(20, 20));
    m_taskSelector->setSpacing(2);
    m_taskSelector->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_taskSelector->setFixedHeight(2 * (20 + m_taskSelector->fontMetrics().lineSpacing() + 12) + 6);
    QPalette pal = m_taskSelector->palette();
    // The chosen task stays marked while another control has the keyboard focus.
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    m_taskSelector->setPalette(pal);
    connect(m_taskSelector, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0 && !m_taskSelector->selectedItems().isEmpty())
            row = m_taskSelector->row(m_taskSelector->selectedItems().front());
        if (row >= 0)
            ShowTaskPanel(row);
    });
    // A screen reader chooses a task by selecting its item, which leaves the current one.
    connect(m_taskSelector, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem *> chosen = m_taskSelector->selectedItems();
        if (!chosen.isEmpty())
            ShowTaskPanel(m_taskSelector->row(chosen.front()));
    });

    m_panelScroller = Named(new PanelScroller(column), "panelScroller");
    m_panelFrame = Named(new QWidget, "panelFrame");
    m_panelFrame->setAccessibleName(QStringLiteral("Task settings"));
    m_panelLayout = new QGridLayout(m_panelFrame);
    m_panelLayout->setContentsMargins(0, 0, 0, 0);
    m_panelScroller->setWidget(m_panelFrame);

    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_taskSelector);
    layout->addWidget(m_panelScroller, 1);
    return column;
}

QWidget *CPixortaDlg::BuildRightColumn()
{
    auto *column = new QWidget(this);

    // Output format and destination.
    auto *output = Named(new QGroupBox(QStringLiteral("Output"), column), "outputGroup");
    auto *formatLabel = new QLabel(QStringLiteral("Format:"), output);
    m_format = Named(new QComboBox(output), "formatBox");
    m_format->addItems({kDontChange, QStringLiteral("JPG"), QStringLiteral("BMP"),
                        QStringLiteral("GIF"), QStringLiteral("TIF"), QStringLiteral("PNG"),
                        QStringLiteral("WEBP"), QStringLiteral("AVIF"), QStringLiteral("HEIC"),
                        QStringLiteral("JXL")});
    m_format->setAccessibleName(QStringLiteral("Format"));
    formatLabel->setBuddy(m_format);
    connect(m_format, &QComboBox::currentIndexChanged, this, [this] { UpdateOutputEnabling(); });
    // The job's own declarations give the controls their limits and their tooltips.
    auto declared = [](const char *key) { return FindJobSetting(QString::fromLatin1(key))->decl; };
    auto *qualityLabel = new QLabel(QStringLiteral("Quality:"), output);
    m_quality = Named(new QSpinBox(output), "qualityEdit");
    m_quality->setRange(int(declared("quality").min), int(declared("quality").max));
    m_quality->setSpecialValueText(QStringLiteral("Default"));
    m_quality->setAccessibleName(QStringLiteral("Quality"));
    m_quality->setToolTip(SettingHelp(declared("quality")));
    qualityLabel->setBuddy(m_quality);
    auto check = [&](const char *text, const char *name, const char *key) {
        auto *box = Named(new QCheckBox(QString::fromUtf8(text), output), name);
        box->setToolTip(SettingHelp(declared(key)));
        return box;
    };
    m_lossless = check("Lossless", "losslessCheck", "lossless");
    m_keepMetadata = check("Keep metadata", "keepMetadataCheck", "keep-metadata");
    m_stripLocation = check("Strip location", "stripLocationCheck", "strip-location");
    m_keepDates = check("Keep file dates", "keepDatesCheck", "keep-dates");
    connect(m_keepMetadata, &QCheckBox::toggled, this, [this] { UpdateOutputEnabling(); });
    m_changeOriginals = Named(new QRadioButton(QStringLiteral("Change original images, or..."),
                                               output),
                              "changeOriginals");
    m_specifyFolder = Named(new QRadioButton(QStringLiteral("Specify output folder:"), output),
                            "specifyFolder");
    auto *destination = new QButtonGroup(output);
    destination->addButton(m_changeOriginals);
    destination->addButton(m_specifyFolder);
    connect(destination, &QButtonGroup::buttonToggled, this, [this] { UpdateFolderEnabling(); });
    m_folderEdit = Named(new QLineEdit(output), "folderEdit");
    m_folderEdit->setAccessibleName(QStringLiteral("Output folder"));
    m_folderButton = Named(new QPushButton(QStringLiteral("..."), output), "folderButton");
    m_folderButton->setToolTip(QStringLiteral("Choose the output folder"));
    m_folderButton->setAutoDefault(false);
    m_folderButton->setFixedWidth(32);
    connect(m_folderButton, &QPushButton::clicked, this, &CPixortaDlg::ChooseOutputFolder);
    // Where results go and what they are called.
    auto *nameLabel = new QLabel(QStringLiteral("File name:"), output);
    m_nameEdit = Named(new QLineEdit(output), "nameEdit");
    m_nameEdit->setAccessibleName(QStringLiteral("File name"));
    m_nameEdit->setPlaceholderText(QStringLiteral("as the original"));
    // Room for a pattern of a few variables, which decides how wide the column is.
    m_nameEdit->setMinimumWidth(m_nameEdit->fontMetrics().horizontalAdvance(
                                    QStringLiteral("%date% %n:3% %name%")) +
                                12);
    m_nameEdit->setToolTip(SettingHelp(declared("name")));
    nameLabel->setBuddy(m_nameEdit);
    connect(m_nameEdit, &QLineEdit::textChanged, this, [this] { UpdateNameExample(); });
    m_nameTokens = Named(new CLinkCaption(QStringLiteral("(Insert dynamic variable...)"),
                                          QColor(0, 0, 200), QColor(), output),
                         "nameTokensLink");
    m_nameTokens->setCursor(Qt::PointingHandCursor);
    connect(m_nameTokens, &QAbstractButton::clicked, this, &CPixortaDlg::InsertNameToken);
    m_nameExample = Named(new ElidedLabel(output), "nameExample");
    auto *startLabel = new QLabel(QStringLiteral("Start at:"), output);
    m_startEdit = Named(new QSpinBox(output), "startEdit");
    m_startEdit->setRange(int(declared("start").min), int(declared("start").max));
    m_startEdit->setValue(int(ParseWholeNumber(declared("start").defaultValue).value_or(1)));
    m_startEdit->setAccessibleName(QStringLiteral("Start at"));
    m_startEdit->setToolTip(SettingHelp(declared("start")));
    // Room for six digits: the box would otherwise be as wide as its largest number.
    m_startEdit->setMaximumWidth(m_startEdit->minimumSizeHint().width() -
                                 3 * m_startEdit->fontMetrics().horizontalAdvance(u'9'));
    startLabel->setBuddy(m_startEdit);
    connect(m_startEdit, &QSpinBox::valueChanged, this, [this] { UpdateNameExample(); });
    m_keepFolders = check("Keep sub-folders", "keepFoldersCheck", "keep-folders");
    auto *ifExistsLabel = new QLabel(QStringLiteral("If the file exists:"), output);
    m_ifExists = Named(new QComboBox(output), "ifExistsBox");
    for (const QString &choice : declared("if-exists").choices)
        m_ifExists->addItem(IfExistsCaption(choice), choice);
    m_ifExists->setCurrentIndex(
        std::max(0, m_ifExists->findData(declared("if-exists").defaultValue)));
    m_ifExists->setAccessibleName(QStringLiteral("If the file exists"));
    m_ifExists->setToolTip(SettingHelp(declared("if-exists")));
    ifExistsLabel->setBuddy(m_ifExists);
    connect(m_format, &QComboBox::currentIndexChanged, this, [this] { UpdateNameExample(); });
    m_exampleTimer = new QTimer(this);
    m_exampleTimer->setSingleShot(true);
    m_exampleTimer->setInterval(0);
    connect(m_exampleTimer, &QTimer::timeout, this, &CPixortaDlg::UpdateNameExample);

    auto *outputGrid = new QGridLayout(output);
    outputGrid->setVerticalSpacing(4);
    auto *formatRow = new QHBoxLayout;
    formatRow->addWidget(m_format);
    formatRow->addSpacing(6);
    formatRow->addWidget(qualityLabel);
    formatRow->addWidget(m_quality);
    formatRow->addStretch(1);
    // Two to a row: the column stays as narrow as the preview lets it be.
    auto *checks = new QGridLayout;
    checks->addWidget(m_lossless, 0, 0);
    checks->addWidget(m_keepDates, 0, 1);
    checks->addWidget(m_keepMetadata, 1, 0);
    checks->addWidget(m_stripLocation, 1, 1);
    checks->setColumnStretch(2, 1);
    // The variables' menu stands beside the field it fills, and the name it gives beside
    // the counter's start.
    auto *nameRow = new QHBoxLayout;
    nameRow->setSpacing(6);
    nameRow->addWidget(m_nameEdit, 1);
    nameRow->addWidget(m_nameTokens);
    auto *startRow = new QHBoxLayout;
    startRow->setSpacing(6);
    startRow->addWidget(m_startEdit);
    startRow->addSpacing(6);
    startRow->addWidget(m_nameExample, 1);
    auto *ifExistsRow = new QHBoxLayout;
    ifExistsRow->setSpacing(6);
    ifExistsRow->addWidget(ifExistsLabel);
    ifExistsRow->addWidget(m_ifExists);
    ifExistsRow->addStretch(1);
    // Sub-folders are kept only under an output folder: the choice stands beside it.
    auto *folderChoice = new QHBoxLayout;
    folderChoice->addWidget(m_specifyFolder);
    folderChoice->addStretch(1);
    folderChoice->addWidget(m_keepFolders);
    outputGrid->addWidget(formatLabel, 0, 0);
    outputGrid->addLayout(formatRow, 0, 1, 1, 2);
    outputGrid->addLayout(checks, 1, 0, 1, 3);
    outputGrid->addWidget(nameLabel, 2, 0);
    outputGrid->addLayout(nameRow, 2, 1, 1, 2);
    outputGrid->addWidget(startLabel, 3, 0);
    outputGrid->addLayout(startRow, 3, 1, 1, 2);
    outputGrid->addLayout(ifExistsRow, 4, 0, 1, 3);
    outputGrid->addWidget(m_changeOriginals, 5, 0, 1, 3);
    outputGrid->addLayout(folderChoice, 6, 0, 1, 3);
    outputGrid->addWidget(m_folderEdit, 7, 0, 1, 2);
    outputGrid->addWidget(m_folderButton, 7, 2);
    outputGrid->setColumnStretch(1, 1);

    // The preview grows with the window: it is the one part that gains from the room.
    auto *previewLabel = new QLabel(QStringLiteral("Preview:"), column);
    m_refresh = Named(new CLinkCaption(QStringLiteral("(refresh)"), QColor(0, 0, 200), QColor(),
                                       column),
                      "refreshLink");
    m_refresh->setCursor(OwnCursor("refresh", 1, 1));
    connect(m_refresh, &QAbstractButton::clicked, this, [this] { UpdatePreview(false); });
    m_preview = Named(new CPreviewPicture(column), "preview");
    m_preview->setAccessibleName(QStringLiteral("Preview"));
    m_preview->setToolTip(QStringLiteral("Click to see the preview larger"));
    m_preview->setMinimumSize(kPreviewMinimum);
    m_preview->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_preview->setCursor(OwnCursor("preview", 11, 11));
    connect(m_preview, &QAbstractButton::clicked, this, &CPixortaDlg::OpenViewer);
    auto *previewHead = new QHBoxLayout;
    previewHead->addWidget(previewLabel);
    previewHead->addWidget(m_refresh);
    previewHead->addStretch(1);

    m_selectedOnly = Named(new QCheckBox(QStringLiteral("Process selected images only"), column),
                           "selectedOnly");
    m_startButton = Named(new QPushButton(QStringLiteral("Start!"), column), "startButton");
    m_startButton->setDefault(true);
    m_exitButton = Named(new QPushButton(QStringLiteral("Exit"), column), "exitButton");
    m_exitButton->setAutoDefault(false);
    connect(m_startButton, &QPushButton::clicked, this, &CPixortaDlg::Start);
    connect(m_exitButton, &QPushButton::clicked, this, &CPixortaDlg::reject);
    // Beside the commands it changes, which leaves the preview a line more.
    auto *commands = new QHBoxLayout;
    commands->addWidget(m_selectedOnly);
    commands->addStretch(1);
    commands->addWidget(m_startButton);
    commands->addWidget(m_exitButton);

    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(output);
    layout->addLayout(previewHead);
    layout->addWidget(m_preview, 1);
    layout->addWidget(EtchedLine(column));
    layout->addLayout(commands);
    return column;
}

void CPixortaDlg::ResizeForScreen(const QRect &available)
{
    // The layout's own wish is the least that shows every control at its natural size; a
    // screen with room to spare gets a roomier window, one without it no more than it has.
    if (layout())
        layout()->activate();
    resize(FirstWindowSize(sizeHint().expandedTo(kComfortableSize), minimumSizeHint(),
                           available));
    if (layout())
        layout()->activate();
}

// --- tasks ---------------------------------------------------------------------------------

void CPixortaDlg::ResetTasks()
{
    m_currentPanel = nullptr;
    m_panels.clear();
    const QSignalBlocker quiet(m_taskSelector);
    m_taskSelector->clear();

    QSize largest(0, 0);
    for (const TaskKindInfo &info : TaskKinds()) {
        const qint32 kind = info.kind;
        std::unique_ptr<CPixortaProcessorBaseDlg> panel = CreateTaskPanel(kind, m_panelFrame);
        if (!panel)
            continue;
        panel->hide();
        m_panelLayout->addWidget(panel.get(), 0, 0);
        largest = largest.expandedTo(panel->sizeHint());
        auto *item = new QListWidgetItem(TaskSelectorIcon(TaskIconIndex(kind)), TaskKindName(kind));
        m_taskSelector->addItem(item);
        m_panels.push_back(std::move(panel));
    }
    // Switching panels must not make the window jump.
    m_panelFrame->setMinimumSize(largest);
    // Every task's icon stays in sight, however narrow the window: half of them to a row,
    // each row as wide as its widest icons need.
    const int perRow = (m_taskSelector->count() + 1) / 2;
    int widest = 0;
    for (int row = 0; row < m_taskSelector->count(); ++row)
        widest = std::max(widest, m_taskSelector->sizeHintForIndex(
                                                     m_taskSelector->model()->index(row, 0))
                                      .width());
    m_taskSelector->setGridSize(QSize(widest + m_taskSelector->spacing(),
                                      20 + m_taskSelector->fontMetrics().lineSpacing() + 12));
    m_taskSelector->setMinimumWidth(2 * m_taskSelector->frameWidth() + m_taskSelector->spacing() +
                                    perRow * (widest + m_taskSelector->spacing()) + 2);
    if (m_panels.empty())
        return;
    // Resize first, as ever, whichever tasks come before it.
    const int shown = std::max(0, TaskRow(TaskResize));
    m_currentPanel = m_panels[size_t(shown)].get();
    m_currentPanel->show();
    m_taskSelector->setCurrentRow(shown);
}

int CPixortaDlg::TaskRow(qint32 kind) const
{
    for (size_t i = 0; i < m_panels.size(); ++i)
        if (m_panels[i]->GetTaskKind() == kind)
            return int(i);
    return -1;
}

CPixortaProcessorBaseDlg *CPixortaDlg::Panel(qint32 kind) const
{
    const int row = TaskRow(kind);
    return row < 0 ? nullptr : m_panels[size_t(row)].get();
}

void CPixortaDlg::ShowTaskPanel(int index)
{
    if (index < 0 || index >= static_cast<int>(m_panels.size()))
        return;
    CPixortaProcessorBaseDlg *panel = m_panels[static_cast<size_t>(index)].get();
    if (m_currentPanel && m_currentPanel->GetTaskKind() == panel->GetTaskKind())
        return;
    if (m_currentPanel)
        m_currentPanel->hide();
    m_currentPanel = panel;
    panel->show();
    panel->update();
}

std::vector<std::unique_ptr<CPixortaTask>> CPixortaDlg::CollectTasks(bool enabledOnly)
{
    std::vector<std::unique_ptr<CPixortaTask>> tasks;
    for (const auto &panel : m_panels) {
        if (!panel || (enabledOnly && !panel->IsTaskEnabled()))
            continue;
        if (std::unique_ptr<CPixortaTask> task = panel->CreateTask())
            tasks.push_back(std::move(task));
    }
    return tasks;
}

NoteLookupPtr CPixortaDlg::CurrentNotes() const
{
    const QList<QPair<QString, QString>> notes = m_list->GetNotes();
    return std::make_shared<const NoteLookup>(
        QList<std::pair<QString, QString>>(notes.begin(), notes.end()));
}

QStringList CPixortaDlg::JobPaths() const
{
    return m_list->GetPaths(!m_selectedOnly->isChecked());
}

QString CPixortaDlg::OutputExtension() const
{
    const QString text = m_format->currentText();
    return text.compare(kDontChange, Qt::CaseInsensitive) == 0 ? QString() : text.toLower();
}

// --- preview -------------------------------------------------------------------------------

void CPixortaDlg::UpdatePreview(bool forceReload, PxImage *result)
{
    WaitCursor wait;
    m_previewResult = PxImage();
    if (m_list->count() == 0) {
        m_preview->Clear();
        return;
    }
    int index = m_list->currentRow();
    if (index < 0 && !m_list->selectedItems().isEmpty())
        index = m_list->row(m_list->selectedItems().front());
    if (index < 0)
        index = 0;
    const QString path = m_list->GetEntryPath(index);

    const bool differs = path != m_previewSourcePath;
    m_previewSourcePath = path;
    // After a failed read the cache holds nothing of this file: read it again.
    if (differs || forceReload || !m_previewSourceLoaded) {
        m_previewSource = PxImage();
        m_previewSourceLoaded = LoadImageFile(m_previewSource, path);
        if (!m_previewSourceLoaded) {
            m_preview->Clear();
            return;
        }
    }

    PxImage work(m_previewSource);
    const NoteLookupPtr notes = CurrentNotes();
    for (const std::unique_ptr<CPixortaTask> &task : CollectTasks(true)) {
        task->SetNoteLookup(notes);
        bool modified = true;
        task->Apply(work, modified, path);
    }
    if (result)
        *result = work;

    // A box is never larger than its screen: a picture fitted into the screen fills any box
    // as well as the full one, at a fraction of the memory.
    const QSize bound = screen() ? screen()->size() : QSize(1920, 1200);
    m_previewResult = work;
    if (m_previewResult.GetWidth() > static_cast<uint32_t>(bound.width()) ||
        m_previewResult.GetHeight() > static_cast<uint32_t>(bound.height()))
        if (!m_previewResult.ResampleToFit(static_cast<uint32_t>(bound.width()),
                                           static_cast<uint32_t>(bound.height()), 0))
            m_previewResult = PxImage();

    // Never a box of no pixels, however small the control.
    const int boxWidth = std::max(1, m_preview->width() - 2);
    const int boxHeight = std::max(1, m_preview->height() - 2);
    if (!work.ResampleToFit(static_cast<uint32_t>(boxWidth), static_cast<uint32_t>(boxHeight), 1)) {
        m_preview->Clear();
        return;
    }
    m_preview->SetPicture(work.MakeBitmap());
}

void CPixortaDlg::RefitPreview()
{
    if (!m_previewResult.IsValid() || m_preview->Picture().isNull())
        return;
    PxImage fitted(m_previewResult);
    const int boxWidth = std::max(1, m_preview->width() - 2);
    const int boxHeight = std::max(1, m_preview->height() - 2);
    if (fitted.ResampleToFit(static_cast<uint32_t>(boxWidth), static_cast<uint32_t>(boxHeight), 1))
        m_preview->SetPicture(fitted.MakeBitmap());
}

void CPixortaDlg::OpenViewer()
{
    PxImage full;
    UpdatePreview(false, &full);
    CPixortaImageViewerDlg viewer(this);
    viewer.SetImage(full);
    RunModalDialog(viewer);
}

void CPixortaDlg::OnFileChanged(const QString &path)
{
    m_list->RefreshEntry(path);
    // Its size may have changed with it, and with the size a name of %width% x %height%.
    if (PathsEqual(path, m_exampleSource)) {
        m_exampleSource.clear();
        ScheduleNameExample();
    }
    if (!m_previewSourcePath.isEmpty() && PathsEqual(path, m_previewSourcePath))
        UpdatePreview(true);
    emit fileChanged(path);
}

void CPixortaDlg::OnFileChanged(const QString &path, const QString &)
{
    OnFileChanged(path);
}

// --- commands ------------------------------------------------------------------------------

Job CPixortaDlg::CurrentJob()
{
    Job job;
    if (m_specifyFolder->isChecked()) {
        job.destination = Job::Destination::Folder;
        job.outputFolder = m_folderEdit->text();
    } else {
        job.destination = Job::Destination::InPlace;
    }
    for (const auto &panel : m_panels)
        if (panel)
            if (std::unique_ptr<CPixortaTask> record = panel->CreateTask())
                job.SetTask(std::move(record), panel->IsTaskEnabled());
    job.format = OutputExtension();
    job.quality = m_quality->value();
    job.lossless = m_lossless->isChecked();
    job.keepMetadata = m_keepMetadata->isChecked();
    job.stripLocation = m_stripLocation->isChecked();
    job.keepDates = m_keepDates->isChecked();
    job.namePattern = m_nameEdit->text();
    job.counterStart = m_startEdit->value();
    job.keepFolders = m_keepFolders->isChecked();
    FindJobSetting(QStringLiteral("if-exists"))->set(job, m_ifExists->currentData().toString());
    job.variants = m_variants;
    job.notes = CurrentNotes();
    job.foundIn = std::make_shared<const QHash<QString, QString>>(m_list->GetFoundIn());
    return job;
}

std::optional<Job> CPixortaDlg::MakeJob()
{
    if (m_specifyFolder->isChecked() && m_folderEdit->text().isEmpty()) {
        ShowMessage(QStringLiteral("Output folder is not specified"), QString(), MsgButtons::Ok,
                    MsgIcon::Warning, this);
        m_folderEdit->setFocus();
        return std::nullopt;
    }
    const QString pattern = m_nameEdit->text();
    if (const QString problem = pattern.isEmpty() ? QString() : NamePatternProblem(pattern);
        !problem.isEmpty()) {
        ShowMessage(QStringLiteral("The file name \"") + pattern +
                        QStringLiteral("\" cannot be used: ") + Sentence(problem),
                    QString(), MsgButtons::Ok, MsgIcon::Warning, this);
        m_nameEdit->setFocus();
        return std::nullopt;
    }
    Job job = CurrentJob();
    // Said in the window's own words: the choice to make is a control here, not an option.
    if (!pattern.isEmpty() && NamePatternIsConstant(pattern) &&
        job.ifExists != Job::IfExists::Rename) {
        ShowMessage(QStringLiteral("The file name \"") + pattern +
                        QStringLiteral("\" would be every image's name. Put a variable such as "
                                       "%n% into it, or choose \"Rename\" under \"If the file "
                                       "exists:\" so that each image after the first gets a "
                                       "free name."),
                    QString(), MsgButtons::Ok, MsgIcon::Warning, this);
        m_nameEdit->setFocus();
        return std::nullopt;
    }
    if (const QString problem = JobProblem(job); !problem.isEmpty()) {
        ShowMessage(Sentence(problem), QString(), MsgButtons::Ok, MsgIcon::Warning, this);
        return std::nullopt;
    }
    return job;
}

void CPixortaDlg::ScheduleNameExample()
{
    m_exampleTimer->start();
}

void CPixortaDlg::UpdateNameExample()
{
    m_exampleTimer->stop();
    QPalette palette = m_nameExample->palette();
    palette.setColor(QPalette::WindowText, QApplication::palette(m_nameExample).color(
                                               QPalette::WindowText));
    const QString pattern = m_nameEdit->text();
    if (const QString problem = pattern.isEmpty() ? QString() : NamePatternProblem(pattern);
        !problem.isEmpty()) {
        palette.setColor(QPalette::WindowText, kWarningColour);
        m_nameExample->setPalette(palette);
        m_nameExample->setText(Sentence(problem));
        m_nameExample->setToolTip(m_nameExample->text());
        return;
    }
    m_nameExample->setPalette(palette);
    const QString first = m_list->GetEntryPath(0);
    if (first.isEmpty()) {
        m_nameExample->setText(QString());
        m_nameExample->setToolTip(QStringLiteral("Add images to see the name the first one gets"));
        return;
    }
    if (first != m_exampleSource) {
        m_exampleSource = first;
        PxImage probe;
        PxHeaderInfo info;
        m_exampleReadable = LoadImageFileHeader(probe, first, info);
        m_exampleWidth = m_exampleReadable ? info.width : 0;
        m_exampleHeight = m_exampleReadable ? info.height : 0;
    }
    // The result's size as the tasks would make it, judged from their settings as the plan
    // judges it.
    Job job = CurrentJob();
    quint32 width = m_exampleWidth, height = m_exampleHeight;
    if (m_exampleReadable)
        for (const CPixortaTask *task : job.Applied())
            if (task->PredictOutcome(first, width, height) != CPixortaTask::Outcome::Fails)
                task->PredictSize(width, height);
    NameFacts facts = FactsOf(job, first, 0, width, height);
    facts.date = [&first] { return CaptureDateOf(first); };
    bool saveNeeded = false;
    const QString name = FileNameOf(BatchTargetPath(job, first, facts, saveNeeded));
    m_nameExample->setText(QStringLiteral("Example: ") + name);
    QString tip = QStringLiteral("The name the first image of the list (") + FileNameOf(first) +
                  QStringLiteral(") gets");
    if (!m_variants.isEmpty()) {
        QStringList labels;
        for (const JobVariant &variant : std::as_const(m_variants))
            labels << variant.label;
        tip += QStringLiteral("; the opened job's variants (") + labels.join(QStringLiteral(", ")) +
               QStringLiteral(") are made too, under their own names");
    }
    m_nameExample->setToolTip(tip);
}

void CPixortaDlg::InsertNameToken()
{
    CQuickMenu menu;
    if (!menu.Create(this))
        return;
    const QList<std::pair<QString, QString>> tokens = NamePatternTokens();
    for (int i = 0; i < tokens.size(); ++i)
        menu.AddItem(CQuickMenu::String, i + 1, tokens[i].first);
    const QPoint at = m_nameTokens->mapToGlobal(QPoint(0, m_nameTokens->height()));
    const int id = menu.Track(at.x(), at.y());
    if (id >= 1 && id <= tokens.size()) {
        m_nameEdit->insert(tokens[id - 1].second);
        m_nameEdit->setFocus();
    }
}

void CPixortaDlg::UpdateOutputEnabling()
{
    // "Don't change" keeps every file's format, and JPEG sources take the quality.
    const QString extension = OutputExtension();
    const PxFormatInfo *format =
        extension.isEmpty() ? nullptr : PxFindFormat(FormatForSaveExtension(extension.toStdString()));
    m_quality->setEnabled(!format || format->hasQuality);
    m_lossless->setEnabled(!format || format->hasLossless);
    m_stripLocation->setEnabled(m_keepMetadata->isChecked());
}

void CPixortaDlg::Start()
{
    const QStringList paths = JobPaths();
    if (paths.isEmpty()) {
        ShowMessage(QStringLiteral("There are no images in the list."), QString(), MsgButtons::Ok,
                    MsgIcon::Information, this);
        return;
    }
    std::optional<Job> job = MakeJob();
    if (!job)
        return;
    // A value a panel's edit let through that its task cannot take, or a file a task needs
    // that is not there, is said before anything is written.
    for (const CPixortaTask *task : job->Applied())
        if (const QString problem = task->StartProblem(); !problem.isEmpty()) {
            ShowMessage(TaskKindName(task->Kind()) + QStringLiteral(": ") + problem +
                            QStringLiteral(". Nothing was changed."),
                        QString(), MsgButtons::Ok, MsgIcon::Warning, this);
            return;
        }
    // A voice track from an opened job is checked as the command line checks it, before any
    // image is written: the movie could not carry one that fails.
    for (const CPixortaTask *task : job->Applied())
        if (const auto *show = dynamic_cast<const CPixortaSlideShowTask *>(task);
            show && show->UsesVoiceFile())
            if (const QString problem = VoiceTrackProblem(show->m_voiceFile); !problem.isEmpty()) {
                ShowMessage(QStringLiteral("The slideshow's voice track ") +
                                VoiceTrackRefusal(show->m_voiceFile, problem) +
                                QStringLiteral(". Nothing was changed."),
                            QString(), MsgButtons::Ok, MsgIcon::Warning, this);
                return;
            }
    // The batch goes into the lasting undo journal, so closing the window loses no way back.
    QString refusal;
    bool asked = false;
    const std::unique_ptr<CWindowBackupStore> backups = CWindowBackupStore::Begin(
        QStringLiteral("Processing all images"),
        [&] { return BackupBytesWithin(*job, paths, JournalPolicy{}.maxBytes); }, &refusal,
        CUndoJournal::DefaultRoot(), [&](const QString &why) {
            asked = true;
            return ShowMessage(Sentence(why) + QStringLiteral(
                                                   "\nWhat this batch overwrites could then be "
                                                   "undone only while Pixorta runs. Start it all "
                                                   "the same?"),
                               QString(), MsgButtons::YesNo, MsgIcon::Question, this) ==
                   MsgAnswer::Yes;
        });
    if (!backups) {
        if (!asked)
            ShowMessage(Sentence(refusal) + QStringLiteral(" Nothing was changed."), QString(),
                        MsgButtons::Ok, MsgIcon::Warning, this);
        return;
    }
    QStringList outputs;
    bool nothingDone = false;
    {
        CPixortaFinalProcessorDlg processing(std::move(*job), paths, backups.get(), this);
        processing.SetAutoStart(true);
        RunModalDialog(processing);
        outputs = processing.Outputs();
        nothingDone = processing.FolderNotCreated();
    }
    // After "Could not create folder:" nothing was done: there is nothing to complete.
    if (nothingDone)
        return;
    CPixortaAfterFinalOperationDlg completion(outputs, this, this);
    RunModalDialog(completion);
}

void CPixortaDlg::PreviewPlan()
{
    const std::optional<Job> job = MakeJob();
    if (!job)
        return;
    const QStringList paths = JobPaths();
    if (paths.isEmpty()) {
        ShowMessage(QStringLiteral("No files on the list"), QString(), MsgButtons::Ok,
                    MsgIcon::Information, this);
        return;
    }
    CPixortaPlanDlg::ShowPlan(*job, paths, this);
}

QList<CPixortaProcessorBaseDlg *> CPixortaDlg::PanelList() const
{
    QList<CPixortaProcessorBaseDlg *> panels;
    for (const auto &panel : m_panels)
        panels << panel.get();
    return panels;
}

void CPixortaDlg::OpenJob()
{
    const std::optional<Job> job = OpenJobCommand(this);
    if (!job)
        return;
    ShowJobInPanels(*job, PanelList());
    const int format = job->format.isEmpty()
                           ? m_format->findText(kDontChange)
                           : m_format->findText(job->format, Qt::MatchFixedString);
    if (format >= 0)
        m_format->setCurrentIndex(format);
    else
        ShowMessage(QStringLiteral("The job's output format \"") + job->format +
                        QStringLiteral("\" is not one this window offers: the format was left "
                                       "as it was."),
                    QString(), MsgButtons::Ok, MsgIcon::Warning, this);
    // A job that names no destination leaves the window's, its folder too; one in place shows
    // the folder it holds all the same, as the window keeps both.
    if (job->destination != Job::Destination::Unset) {
        (job->destination == Job::Destination::InPlace ? m_changeOriginals : m_specifyFolder)
            ->setChecked(true);
        m_folderEdit->setText(job->outputFolder);
    }
    m_quality->setValue(job->quality);
    m_lossless->setChecked(job->lossless);
    m_keepMetadata->setChecked(job->keepMetadata);
    m_stripLocation->setChecked(job->stripLocation);
    m_keepDates->setChecked(job->keepDates);
    m_nameEdit->setText(job->namePattern);
    m_startEdit->setValue(int(std::clamp<qint64>(job->counterStart, m_startEdit->minimum(),
                                                 m_startEdit->maximum())));
    m_keepFolders->setChecked(job->keepFolders);
    const int ifExists = m_ifExists->findData(
        FindJobSetting(QStringLiteral("if-exists"))->get(*job));
    if (ifExists >= 0)
        m_ifExists->setCurrentIndex(ifExists);
    m_variants = job->variants;
    UpdateFolderEnabling();
    UpdateOutputEnabling();
    UpdateNameExample();
    UpdatePreview(false);
}

void CPixortaDlg::SaveJob()
{
    if (const std::optional<Job> job = MakeJob())
        SaveJobCommand(this, *job);
}

void CPixortaDlg::SizeTest()
{
    const QStringList paths = JobPaths();
    if (paths.isEmpty()) {
        ShowMessage(QStringLiteral("No files on the list"), QString(), MsgButtons::Ok,
                    MsgIcon::Information, this);
        return;
    }
    const QString extension = OutputExtension();
    // An opened job's variants each make their own files: each is measured as it is made.
    if (!m_variants.isEmpty()) {
        const std::optional<Job> job = MakeJob();
        if (!job)
            return;
        QList<VariantSizeEstimate> estimates;
        {
            WaitCursor wait;
            estimates = MeasureVariantSizes(*job, paths, GetBackupFolder());
        }
        ShowMessage(VariantSizeTestMessage(estimates), QString(), MsgButtons::Ok,
                    MsgIcon::Information, this);
        return;
    }
    SizeEstimate estimate;
    std::vector<std::unique_ptr<CPixortaTask>> held;
    QList<CPixortaTask *> applied;
    {
        WaitCursor wait;
        // The resize, and the tasks switched on that change the size or how well a picture
        // compresses, in task order.
        std::vector<std::unique_ptr<CPixortaTask>> records;
        QList<CPixortaTask *> tasks;
        for (const auto &panel : m_panels) {
            const qint32 kind = panel->GetTaskKind();
            if (!SizeTestApplies(kind) || (kind != TaskResize && !panel->IsTaskEnabled()))
                continue;
            records.push_back(panel->CreateTask());
            tasks << records.back().get();
        }
        // Measured at the quality the batch would write.
        Job encoding;
        encoding.quality = m_quality->value();
        encoding.lossless = m_lossless->isChecked();
        estimate = MeasureOutputSizes(paths, tasks, extension, GetBackupFolder(), kSizeTestBudgetMs,
                                      [&](PxImage &image) { encoding.PrepareForSave(image); });
        applied = tasks;
        held = std::move(records);
    }
    ShowMessage(SizeTestMessage(estimate, extension, applied), QString(), MsgButtons::Ok,
                MsgIcon::Information, this);
}

void CPixortaDlg::AddFilesCommand()
{
    AddFilesThroughDialog(*m_list, this);
}

void CPixortaDlg::AddFolderCommand()
{
    AddFolderThroughDialog(*m_list, this);
}

void CPixortaDlg::ChooseOutputFolder()
{
    const QString folder = ChooseFolder(this, QString(), QString());
    if (!folder.isEmpty())
        m_folderEdit->setText(folder);
}

void CPixortaDlg::UpdateFolderEnabling()
{
    const bool specify = m_specifyFolder->isChecked();
    m_folderEdit->setEnabled(specify);
    m_folderButton->setEnabled(specify);
    m_keepFolders->setEnabled(specify);
}

void CPixortaDlg::ShowAbout()
{
    CPixortaAboutDlg about(this);
    RunModalDialog(about);
}

void CPixortaDlg::ShowDeveloperTests()
{
    CPixortaDeveloperTestsDlg tests(this);
    RunModalDialog(tests);
}

void CPixortaDlg::OpenHelp()
{
    const QString page = JoinPath(GetProgramFolder(), kHelpPageName);
    if (!QFile::exists(page)) {
        ShowMessage(QStringLiteral("The help page is missing: ") + page, QString(),
                    MsgButtons::Ok, MsgIcon::Warning, this);
        return;
    }
    OpenAddress(QUrl::fromLocalFile(page), this);
}

void CPixortaDlg::OpenHomePage()
{
    OpenAddress(QUrl(kHomePageAddress), this);
}

void CPixortaDlg::OpenContactPage()
{
    OpenAddress(QUrl(kContactPageAddress), this);
}

void CPixortaDlg::EndProgram()
{
    QDialog::done(QDialog::Rejected);
}

void CPixortaDlg::reject()
{
    if (m_list->count() > 0 &&
        ShowMessage(QStringLiteral("Are you sure you want to exit?"), QStringLiteral("Pixorta"),
                    MsgButtons::YesNo, MsgIcon::Question, this) != MsgAnswer::Yes)
        return;
    QDialog::reject();
}

void CPixortaDlg::EmptyFilesList()
{
    m_list->RemoveEntries(true);
}

void CPixortaDlg::ExitApplication()
{
    // Once the completion dialog is closed and the batch's command has returned.
    QTimer::singleShot(0, this, &CPixortaDlg::EndProgram);
}

bool CPixortaDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_preview && event->type() == QEvent::Resize) {
        RefitPreview();
        return QDialog::eventFilter(watched, event);
    }
    // A task's settings give the result's size, which a name may hold: the panels tell of no
    // change, but every change there ends in a key or button release.
    if ((event->type() == QEvent::KeyRelease || event->type() == QEvent::MouseButtonRelease) &&
        watched->isWidgetType() && m_panelFrame->isAncestorOf(static_cast<QWidget *>(watched)) &&
        (m_nameEdit->text().contains(QLatin1String("%width"), Qt::CaseInsensitive) ||
         m_nameEdit->text().contains(QLatin1String("%height"), Qt::CaseInsensitive)))
        ScheduleNameExample();
    // Keys are caught before the window's own handling, for the window and all its controls.
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType() ||
        static_cast<QWidget *>(watched)->window() != this)
        return QDialog::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers mods = key->modifiers();
    const bool ctrl = mods & Qt::ControlModifier;
    const bool alt = mods & Qt::AltModifier;
    const bool shift = mods & Qt::ShiftModifier;
    if (key->key() == Qt::Key_F12 && ctrl && alt && shift) {
        ShowDeveloperTests();
        return true;
    }
    if (key->key() == Qt::Key_F1) {
        OpenHelp();
        return true;
    }
    // While a text field has the keyboard focus, Ctrl+V pastes into it and Ctrl+Z undoes its
    // typing; elsewhere they paste files into the list and undo the last batch.
    const bool typing = IsTextField(QApplication::focusWidget());
    if (key->key() == Qt::Key_V && ctrl && !typing) {
        m_list->PasteFiles();
        return true;
    }
    if (key->key() == Qt::Key_Z && ctrl && !alt && !shift && !typing) {
        UndoLastOperation(this);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
