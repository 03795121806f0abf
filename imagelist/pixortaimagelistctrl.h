#pragma once
// The image list: the input files of a batch shown as a grid of thumbnails with the file name
// (and note) under each. Used editable in the main window and read-only in the completion
// dialog. Item i always shows entry i of the list's model.

#include "imagelistmodel.h"
#include "immediateoperation.h"
#include "thumbnailqueue.h"
#include "thumbnails.h"

#include <QImage>
#include <QList>
#include <QListWidget>
#include <QPair>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QStyleOptionViewItem>
#include <QTimer>
#include <QFont>
#include <memory>
#include <optional>

class QMimeData;

// What the list asks of the window that owns it; the list stays usable without one.
class CImageListHost {
public:
    virtual ~CImageListHost() = default;
    // "&Add files" and "Add &folder" of the context menu.
    virtual void AddFilesCommand() = 0;
    virtual void AddFolderCommand() = 0;
    // A file of the list has been rewritten on disk (after a rotation).
    virtual void OnFileChanged(const QString &path) = 0;
};

class CPixortaImageListCtrl : public QListWidget {
    Q_OBJECT
public:
    explicit CPixortaImageListCtrl(QWidget *parent = nullptr);
    ~CPixortaImageListCtrl() override;

    // Modes, set before Initialize.
    bool readOnly = false;
    bool filterByExtension = true;
    int thumbnailWidth = 92;
    int thumbnailHeight = 92;

    void SetHost(CImageListHost *host) { m_host = host; }
    void Initialize();

    // Adds files and folders (entered to any depth). Relative paths are taken from the working
    // folder. Skips other extensions (when filtering) and files already in the list, under
    // another name too; reports files whose header does not read once, at the end of level 0.
    // The entries are there when it returns; their thumbnails are made in the background, and
    // the files whose pictures do not decode are reported once that is done.
    void AddFiles(const QStringList &paths, int level = 0);
    // Appends the paths of all entries, or of the selected ones, in list order.
    void GetPaths(QStringList &out, bool all) const;
    QStringList GetPaths(bool all) const;
    void RemoveEntries(bool all);
    void RebuildItems();
    int FindByPath(const QString &path) const;
    QString GetNoteByPath(const QString &path) const;
    // Every entry that has a note, as (path, note), in list order.
    QList<QPair<QString, QString>> GetNotes() const;
    // Where the entries found inside an added folder were found, by path (see ImageEntry).
    QHash<QString, QString> GetFoundIn() const { return m_model.FoundIn(); }
    // Makes the thumbnail of the file again after it changed on disk, ahead of every other
    // thumbnail still to be made.
    void RefreshEntry(const QString &path);
    // Thumbnails are still being made in the background.
    bool ThumbnailsPending() const;
    QString GetEntryPath(int index) const;
    // The label of an entry: the file name, and its note in brackets.
    QString GetItemLabel(const ImageEntry &entry) const;
    // The label as the item shows it in its cell, its lines apart by QChar::LineSeparator;
    // the item's text keeps the whole label (a screen reader speaks that).
    QString ShownLabel(int index) const;
    // Where the item's label is drawn, in viewport coordinates.
    QRect LabelRect(int index) const;
    void EditNote();
    // Ctrl+V: adds the files on the clipboard.
    void PasteFiles();
    // 1 when it ran, 0 when nothing was selected ("No image selected").
    int RunImmediateOperation(ImmediateOperation operation);

    const CImageListModel &Model() const { return m_model; }
    const QList<ImageEntry> &Entries() const { return m_model.Entries(); }
    const CThumbnailStore &Store() const { return m_store; }
    CThumbnailStore &Store() { return m_store; }
    // Where the item's thumbnail is drawn, in viewport coordinates.
    QRect IconRect(int index) const;

    // The local files a dropped or pasted file list names, complete and in order.
    static QStringList LocalFilesOf(const QMimeData *data);
    // What dragging the given files out offers: their file URLs.
    static QMimeData *CreateDragData(const QStringList &paths);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // How the item of index is drawn (its rectangle, label and icon); none without the item.
    std::optional<QStyleOptionViewItem> ItemOption(int index) const;
    void FitGridToWidth();
    // The rows of the selected items that have an entry, in no particular order.
    QList<int> SelectedRows() const;
    // Takes in the thumbnails the workers have made, a batch at a time.
    void CollectThumbnails();
    // The entries in sight get their thumbnails first.
    void PrioritizeVisible();
    // The list's accessible description says how many thumbnails are still to come.
    void ShowThumbnailProgress();
    void ShowProgress(const QString &path);
    QRect OuterRect() const;
    void PaintProgress(QPainter &painter) const;
    void PaintEmptyHint(QPainter &painter) const;
    void ShowContextMenu(const QPoint &globalPos);
    void AddFilesCommand();
    void AddFolderCommand();
    void FileChanged(const QString &path);
    bool AcceptsDrop(const QMimeData *data, const QObject *source) const;

    // The rotation gesture.
    void BeginGesture(const QPoint &at);
    void PollGesture();
    void EndGesture(const QPoint &at);

    CImageListHost *m_host = nullptr;
    QAbstractItemDelegate *m_delegate = nullptr;
    bool m_initialized = false;
    CImageListModel m_model;
    CThumbnailStore m_store;
    std::unique_ptr<CThumbnailQueue> m_queue;
    QTimer m_collectTimer;
    // The entries whose pictures could not be decoded since the list was last told so.
    QStringList m_brokenFiles;
    QPixmap m_blankCell;
    QPixmap m_waitingCell;
    QPixmap m_brokenCell;
    // The smallest grid cell; the grid widens it to fill the width.
    QSize m_cellSize;
    QString m_progressName;

    bool m_gestureActive = false;
    QPoint m_gestureStart;
    QPoint m_gesturePointer;
    QPoint m_gesturePolled;
    QImage m_gestureThumbnail;
    QRect m_gestureIconRect;
    std::optional<ImmediateOperation> m_gestureShown;
    QImage m_gesturePreview;
    QTimer m_gestureTimer;
};

// The label broken into at most lines lines of width pixels, at word boundaries where it can;
// what does not fit is cut off at the end of the last line with an ellipsis.
QStringList FitLabel(const QString &label, const QFont &font, int width, int lines);

// The file dialog behind "&Add files" and the folder picker behind "Add &folder"; what the
// user chooses goes to AddFiles.
void AddFilesThroughDialog(CPixortaImageListCtrl &list, QWidget *owner);
void AddFolderThroughDialog(CPixortaImageListCtrl &list, QWidget *owner);
