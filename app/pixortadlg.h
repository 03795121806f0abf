#pragma once
// The main window, in which the user sets up a job: the image list, one settings panel per
// task kind behind the task selector, the output format and destination, a preview of the
// focused image with every enabled task applied, and the commands.

#include "batch/job.h"
#include "batch/pixortaafterfinaloperationdlg.h"
#include "core/notelookup.h"
#include "engine/pximage.h"
#include "imagelist/pixortaimagelistctrl.h"

#include <QDialog>
#include <QList>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

class CBannerPicture;
class CLinkCaption;
class CPixortaProcessorBaseDlg;
class CPixortaTask;
class CPreviewPicture;
class QCheckBox;
class QComboBox;
class QSpinBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QTimer;
class QListWidget;
class QMenuBar;
class QAction;
class QPushButton;
class QRadioButton;
class QScrollArea;

// The main window's first size: what it would like (never less than its minimum), but never
// more than the screen's available area leaves once the window manager's frame is around it.
QSize FirstWindowSize(const QSize &wanted, const QSize &minimum, const QRect &available);

class CPixortaDlg : public QDialog, public CImageListHost, public CCompletionHost {
    Q_OBJECT
public:
    explicit CPixortaDlg(const QStringList &commandLine = QStringList(), QWidget *parent = nullptr);
    ~CPixortaDlg() override;

    // Destroys every task panel and builds fresh ones with their defaults, one per task kind
    // in task order; Resize is shown.
    void ResetTasks() override;
    // Shows the panel at that index of the task selector unless it is of the kind shown now.
    void ShowTaskPanel(int index);
    // One record per panel in task order (Crop, Resize, Sharpen, Change colors, Add
    // background, Add text, Watermark, Create slideshow), skipping disabled panels when
    // enabledOnly is set.
    std::vector<std::unique_ptr<CPixortaTask>> CollectTasks(bool enabledOnly);
    // Applies every enabled task to the focused image (read again only when it is another file
    // than last time, or when forceReload is set) and shows it fitted into the preview; result,
    // when given, receives the full-size picture.
    void UpdatePreview(bool forceReload, PxImage *result = nullptr);

    // A file of the list has been rewritten on disk (rotated, restored by undo, or produced in
    // place by a batch): its thumbnail is made again, and the preview when it shows that file.
    void OnFileChanged(const QString &path) override;
    void OnFileChanged(const QString &path, const QString &note) override;

    // The commands.
    void Start();
    // "Preview plan...": what Start would do to every file, before anything is written.
    void PreviewPlan();
    // "Open job..." fills the task panels and the output settings from a saved job; "Save
    // job..." writes them into one.
    void OpenJob();
    void SaveJob();
    void SizeTest();
    void AddFilesCommand() override;
    void AddFolderCommand() override;
    void ChooseOutputFolder();
    void OpenViewer();
    void ShowAbout();
    void ShowDeveloperTests();
    void OpenHelp();
    void OpenHomePage();
    void OpenContactPage();
    // The menu's "&Exit": ends at once, without asking.
    void EndProgram();
    // Sizes the window for a screen whose available area is given (the constructor uses the
    // window's own screen).
    void ResizeForScreen(const QRect &available);

    // Esc, the "Exit" button and the close box: ask first while the list holds files.
    void reject() override;

    // What the completion dialog changes.
    void EmptyFilesList() override;
    void ExitApplication() override;

    CPixortaImageListCtrl *ImageList() const { return m_list; }
    const std::vector<std::unique_ptr<CPixortaProcessorBaseDlg>> &Panels() const
    {
        return m_panels;
    }
    CPixortaProcessorBaseDlg *CurrentPanel() const { return m_currentPanel; }
    // The panel of that task kind and its row in the task selector; none and -1 for a kind
    // without one.
    CPixortaProcessorBaseDlg *Panel(qint32 kind) const;
    int TaskRow(qint32 kind) const;
    QListWidget *TaskSelector() const { return m_taskSelector; }
    CPreviewPicture *Preview() const { return m_preview; }
    // "" for "Don't change", otherwise the format in lower case ("png").
    QString OutputExtension() const;
    // What "File name:" shows beside the pattern: the name the first image of the list would
    // get, or why the pattern cannot be used.
    QLabel *NameExample() const { return m_nameExample; }
    // Shows the name the first image would get now (the list, the pattern and the format
    // change it; so may the tasks, through %width% and %height%).
    void UpdateNameExample();

signals:
    void fileChanged(const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildMenus();
    // Greys what cannot run now; called whenever a menu is about to show.
    void UpdateMenus();
    void UndoCommand();
    QWidget *BuildLeftColumn();
    QWidget *BuildTaskColumn();
    QWidget *BuildRightColumn();
    // Fits the last preview into the box again after the box changed its size.
    void RefitPreview();
    void UpdateFolderEnabling();
    // The notes of the list as they are now, for the records of a job or a preview.
    NoteLookupPtr CurrentNotes() const;
    QStringList JobPaths() const;
    // The job of the panels and the output settings as they are now, which Start!, the plan
    // and Save job all use; none (after saying why) when the output folder is chosen but not
    // given, the name pattern cannot be used, or the job as a whole cannot run.
    std::optional<Job> MakeJob();
    // The same job, unchecked.
    Job CurrentJob();
    // The name pattern's menu of variables, inserted at the cursor.
    void InsertNameToken();
    // Runs UpdateNameExample once the event loop is free: the list changes row by row.
    void ScheduleNameExample();
    // Quality and lossless apply only where the chosen format takes them, location stripping
    // only to kept metadata.
    void UpdateOutputEnabling();
    QList<CPixortaProcessorBaseDlg *> PanelList() const;

    CBannerPicture *m_banner = nullptr;
    QMenuBar *m_menuBar = nullptr;
    QAction *m_undoAction = nullptr;
    CPixortaImageListCtrl *m_list = nullptr;
    QListWidget *m_taskSelector = nullptr;
    QScrollArea *m_panelScroller = nullptr;
    QWidget *m_panelFrame = nullptr;
    QGridLayout *m_panelLayout = nullptr;
    QComboBox *m_format = nullptr;
    QSpinBox *m_quality = nullptr;
    QCheckBox *m_lossless = nullptr;
    QCheckBox *m_keepMetadata = nullptr;
    QCheckBox *m_stripLocation = nullptr;
    QCheckBox *m_keepDates = nullptr;
    QRadioButton *m_changeOriginals = nullptr;
    QRadioButton *m_specifyFolder = nullptr;
    QLineEdit *m_folderEdit = nullptr;
    QPushButton *m_folderButton = nullptr;
    QLineEdit *m_nameEdit = nullptr;
    CLinkCaption *m_nameTokens = nullptr;
    QLabel *m_nameExample = nullptr;
    QSpinBox *m_startEdit = nullptr;
    QCheckBox *m_keepFolders = nullptr;
    QComboBox *m_ifExists = nullptr;
    QTimer *m_exampleTimer = nullptr;
    CLinkCaption *m_refresh = nullptr;
    CPreviewPicture *m_preview = nullptr;
    QCheckBox *m_selectedOnly = nullptr;
    QPushButton *m_startButton = nullptr;
    QPushButton *m_exitButton = nullptr;
    CLinkCaption *m_advert = nullptr;

    // The variants of the job opened last: the window has no controls for them, so they stay
    // part of every job it makes until another job is opened.
    QList<JobVariant> m_variants;
    // The first image's size as its header gives it, read once per file for the name example.
    QString m_exampleSource;
    quint32 m_exampleWidth = 0;
    quint32 m_exampleHeight = 0;
    bool m_exampleReadable = false;

    std::vector<std::unique_ptr<CPixortaProcessorBaseDlg>> m_panels;
    CPixortaProcessorBaseDlg *m_currentPanel = nullptr;

    // The file the preview last showed and its picture as read, so that refreshing the same
    // file does not read it again. Kept by the window, released with it.
    QString m_previewSourcePath;
    PxImage m_previewSource;
    bool m_previewSourceLoaded = false;
    // The last preview with the tasks applied, no larger than the screen: what a resized box
    // is filled from without running the tasks again.
    PxImage m_previewResult;
};
