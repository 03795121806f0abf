#include "pixortaimagelistctrl.h"

#include "imagelist_testhooks.h"
#include "imagepaths.h"
#include "core/paths.h"
#include "ui/inputbox.h"
#include "ui/quickmenu.h"
#include "ui/uiseams.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDrag>
#include <QElapsedTimer>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QUrl>
#include <algorithm>
#include <utility>

namespace {

constexpr int kThumbnailRole = Qt::UserRole + 1;
// What kThumbnailRole holds for an entry without a cell of its own: its thumbnail is still
// being made, or its picture could not be decoded (-1: the store had no room).
constexpr int kWaitingCell = -2;
constexpr int kBrokenCell = -3;
// How many thumbnails the list takes in at once: each is a cell to convert and an item to
// repaint, and the window must go on answering between the batches.
constexpr int kThumbnailsPerBatch = 24;
constexpr int kCollectIntervalMs = 15;
// The header pass shows its progress once it takes longer than this.
constexpr qint64 kProgressAfterMs = 250;

int ShownCell(const EntryThumbnail &t)
{
    switch (t.state) {
    case EntryThumbnail::State::Waiting: return kWaitingCell;
    case EntryThumbnail::State::Broken: return kBrokenCell;
    default: return t.cell;
    }
}

// A placeholder drawn once per list: a frame for a thumbnail on its way, a torn picture for
// one that cannot be shown.
QPixmap Placeholder(QSize cell, QColor base, bool broken)
{
    QPixmap pixmap(cell);
    pixmap.fill(base);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect r = QRect(QPoint(0, 0), cell).adjusted(cell.width() / 5, cell.height() / 4,
                                                        -cell.width() / 5, -cell.height() / 4);
    if (!broken) {
        p.setPen(QPen(QColor(205, 205, 205), 1, Qt::DashLine));
        p.drawRect(r);
        return pixmap;
    }
    p.setPen(QPen(QColor(150, 40, 40), 2));
    p.setBrush(QColor(245, 225, 225));
    p.drawRect(r);
    // The tear: a zigzag across the picture.
    QPolygon tear;
    for (int i = 0; i <= 6; ++i)
        tear << QPoint(r.left() + r.width() * i / 6, r.center().y() + ((i % 2) ? -5 : 5));
    p.drawPolyline(tear);
    return pixmap;
}
constexpr int kTextLines = 2;
const QString kGnomeCopiedFiles = QStringLiteral("x-special/gnome-copied-files");

// Shared by every list of the run: the files the last top-level adding could not load, and the
// notice that the thumbnail store refused a thumbnail, which stays once set.
QStringList g_failedFiles;
QString g_limitNotice;


QColor Shifted(const QColor &c, int amount)
{
    const auto channel = [amount](int v) { return std::clamp(v + amount, 0, 255); };
    return QColor(channel(c.red()), channel(c.green()), channel(c.blue()));
}

// The item's whole label and the tip that shows it: an item with a note shows the label whole
// (the cell may have had to shorten it), one without shows where the file is.
void ShowEntryOnItem(QListWidgetItem *item, const QString &label, const ImageEntry &entry)
{
    item->setText(label);
    item->setToolTip(entry.note.isEmpty() ? entry.path : label);
}

// Draws each item's thumbnail from the list's store: the cells are the only copy of the
// pictures, so the items themselves carry just the cell index.
class ThumbnailDelegate : public QStyledItemDelegate {
public:
    ThumbnailDelegate(const CThumbnailStore &store, const QPixmap &blank, const QPixmap &waiting,
                      const QPixmap &broken, QSize itemSize, QObject *parent)
        : QStyledItemDelegate(parent), m_store(store), m_blank(blank), m_waiting(waiting),
          m_broken(broken), m_itemSize(itemSize)
    {
    }

    void Prepare(QStyleOptionViewItem *option, const QModelIndex &index) const
    {
        initStyleOption(option, index);
    }

    // The width a line of the label has in the item: what the style leaves of the text area
    // inside its margins.
    static int TextWidth(const QStyleOptionViewItem &option)
    {
        const QWidget *widget = option.widget;
        const QStyle *style = widget ? widget->style() : QApplication::style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &option, widget);
        return std::max(1, text.width() - 2 * margin);
    }

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        return m_itemSize;
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const int shown = index.data(kThumbnailRole).toInt();
        const QPixmap cell = shown == kWaitingCell ? m_waiting
                             : shown == kBrokenCell ? m_broken
                                                    : m_store.Cell(shown);
        option->icon = QIcon(cell.isNull() ? m_blank : cell);
        option->decorationSize = m_store.CellSize();
        option->decorationPosition = QStyleOptionViewItem::Top;
        option->decorationAlignment = Qt::AlignCenter;
        option->displayAlignment = Qt::AlignHCenter | Qt::AlignTop;
        option->features |= QStyleOptionViewItem::HasDecoration |
                            QStyleOptionViewItem::WrapText;
        option->textElideMode = Qt::ElideRight;
        // Broken into the lines the cell has room for here, so that the style never wraps a
        // line more than the cell shows and cuts it in half.
        if (option->rect.isValid())
            option->text = FitLabel(option->text, option->font, TextWidth(*option), kTextLines)
                               .join(QChar::LineSeparator);
    }

private:
    const CThumbnailStore &m_store;
    const QPixmap &m_blank;
    const QPixmap &m_waiting;
    const QPixmap &m_broken;
    QSize m_itemSize;
};

} // namespace

CPixortaImageListCtrl::CPixortaImageListCtrl(QWidget *parent) : QListWidget(parent)
{
    setObjectName(QStringLiteral("imageList"));
    setAccessibleName(QStringLiteral("Image list"));
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    // The selection stays visible while another control has the keyboard focus.
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_gestureTimer.setInterval(100);
    connect(&m_gestureTimer, &QTimer::timeout, this, &CPixortaImageListCtrl::PollGesture);
    m_collectTimer.setInterval(kCollectIntervalMs);
    connect(&m_collectTimer, &QTimer::timeout, this, &CPixortaImageListCtrl::CollectThumbnails);
    // What comes into sight is made next.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this] { PrioritizeVisible(); });
}

// The queue goes first: whatever its workers still make is dropped.
CPixortaImageListCtrl::~CPixortaImageListCtrl()
{
    m_queue.reset();
}

void CPixortaImageListCtrl::Initialize()
{
    const QSize cell(thumbnailWidth, thumbnailHeight);
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setIconSize(cell);
    const QSize item(thumbnailWidth + 24,
                     thumbnailHeight + 10 + kTextLines * fontMetrics().lineSpacing());
    m_cellSize = item + QSize(4, 4);
    setGridSize(m_cellSize);
    FitGridToWidth();
    setUniformItemSizes(true);
    setWordWrap(true);
    setTextElideMode(Qt::ElideRight);

    m_store = CThumbnailStore(cell);
    m_blankCell = QPixmap(cell);
    m_blankCell.fill(palette().color(QPalette::Base));
    m_waitingCell = Placeholder(cell, palette().color(QPalette::Base), false);
    m_brokenCell = Placeholder(cell, palette().color(QPalette::Base), true);
    m_queue = std::make_unique<CThumbnailQueue>(cell, palette().color(QPalette::Base).rgb());
    QAbstractItemDelegate *old = m_delegate;
    m_delegate = new ThumbnailDelegate(m_store, m_blankCell, m_waitingCell, m_brokenCell, item, this);
    setItemDelegate(m_delegate);
    delete old;

    setDragEnabled(true);
    setAcceptDrops(!readOnly);
    viewport()->setAcceptDrops(!readOnly);
    setDragDropMode(readOnly ? QAbstractItemView::DragOnly : QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    setDropIndicatorShown(false);
    m_initialized = true;
}

// --- entries -------------------------------------------------------------------------------

QList<int> CPixortaImageListCtrl::SelectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : selectionModel()->selectedIndexes())
        if (index.row() < m_model.Count())
            rows << index.row();
    return rows;
}

void CPixortaImageListCtrl::AddFiles(const QStringList &paths, int level)
{
    {
        WaitCursor wait;
        if (level == 0)
            g_failedFiles.clear();
        // Two entries of one file must not arise because the second was reached another way.
        m_model.RefreshIdentities();
        QStringList absolute;
        for (const QString &path : paths) {
            if (path.isEmpty())
                continue;
            absolute << CImageListModel::AbsolutePathOf(path);
        }
        // The folders are walked first, which is as quick as listing them; then only each
        // file's header is read, on every core; the pictures come later, in the background.
        QStringList candidates, foundIn;
        WalkPaths(absolute, [&](const QString &path, const QString &under) {
            if (filterByExtension && !IsAcceptedImageExtension(path))
                return;
            if (m_model.Holds(path))
                return;
            candidates << path;
            foundIn << under;
        });
        QElapsedTimer clock;
        clock.start();
        const QList<HeaderRead> headers = ReadHeaders(candidates, [&](int done) {
            if (clock.elapsed() >= kProgressAfterMs && done < candidates.size())
                ShowProgress(candidates[done]);
        });
        QList<std::pair<quint64, quint64>> added;
        for (qsizetype i = 0; i < candidates.size(); ++i) {
            if (!headers[i].readable) {
                g_failedFiles << candidates[i];
                continue;
            }
            // The store's room is shared out now, so the notice comes with the add that fills it.
            const bool room = m_store.Count() + m_queue->Pending() + added.size() < m_store.Limit();
            if (!room && g_limitNotice.isEmpty())
                g_limitNotice = QStringLiteral("Thumbnails limit is reached, thumbnails won't be "
                                               "visible, although the images will be processed.");
            const EntryThumbnail thumbnail{-1, room ? EntryThumbnail::State::Waiting
                                                     : EntryThumbnail::State::Ready};
            if (m_model.Add(candidates[i], thumbnail, foundIn[i]) && room)
                added.append({m_model.Entries().back().id, headers[i].decodeMemory});
        }
        m_progressName.clear();
        RebuildItems();
        viewport()->update();
        for (const auto &[id, memory] : std::as_const(added))
            m_queue->Enqueue(id, m_model.Entries()[m_model.RowOfId(id)].path, memory);
        PrioritizeVisible();
        ShowThumbnailProgress();
        if (!added.isEmpty())
            m_collectTimer.start();
    }
    if (level != 0)
        return;
    if (!g_failedFiles.isEmpty())
        ShowMessage(QStringLiteral("Loading the following images failed:") +
                        g_failedFiles.join(QStringLiteral("\r\n")),
                    QString(), MsgButtons::Ok, MsgIcon::Warning, this);
    if (!g_limitNotice.isEmpty())
        ShowMessage(g_limitNotice, QString(), MsgButtons::Ok, MsgIcon::Information, this);
}

void CPixortaImageListCtrl::PrioritizeVisible()
{
    if (!m_queue || m_queue->Idle() || count() == 0)
        return;
    // Items sit in the middle of their grid cells: the first one in sight is found by looking
    // down the middle of the first column, the last one up the middle of the last.
    const QRect area = viewport()->rect();
    const QSize grid = gridSize().isValid() ? gridSize() : m_cellSize;
    const int step = std::max(4, grid.height() / 6);
    QModelIndex first, last;
    for (int y = area.top(); !first.isValid() && y <= area.bottom(); y += step)
        first = indexAt(QPoint(area.left() + grid.width() / 2, y));
    for (int y = area.bottom(); !last.isValid() && y >= area.top(); y -= step)
        for (int x = area.right() - grid.width() / 2; !last.isValid() && x > 0; x -= grid.width())
            last = indexAt(QPoint(x, y));
    if (!first.isValid())
        return;
    const int to = last.isValid() ? std::max(last.row(), first.row()) : first.row();
    QList<quint64> ids;
    for (int row = first.row(); row <= to && row < m_model.Count(); ++row)
        if (m_model.Entries()[row].thumbnail.state == EntryThumbnail::State::Waiting)
            ids << m_model.Entries()[row].id;
    m_queue->Prioritize(ids);
}

void CPixortaImageListCtrl::CollectThumbnails()
{
    for (const CThumbnailQueue::Result &result : m_queue->Take(kThumbnailsPerBatch)) {
        const int row = m_model.RowOfId(result.id);
        if (row < 0)
            continue;
        EntryThumbnail thumbnail = m_model.Entries()[row].thumbnail;
        if (result.thumbnail.isNull()) {
            // The header read, the picture does not: the entry stays, and says so.
            thumbnail.state = EntryThumbnail::State::Broken;
            m_brokenFiles << m_model.Entries()[row].path;
        } else if (thumbnail.cell >= 0 && m_store.Replace(thumbnail.cell, result.thumbnail)) {
            thumbnail.state = EntryThumbnail::State::Ready;
        } else {
            thumbnail.cell = m_store.Add(result.thumbnail);
            thumbnail.state = EntryThumbnail::State::Ready;
        }
        m_model.SetThumbnail(row, thumbnail);
        if (QListWidgetItem *it = item(row))
            it->setData(kThumbnailRole, ShownCell(thumbnail));
    }
    ShowThumbnailProgress();
    if (!m_queue->Idle())
        return;
    m_collectTimer.stop();
    // Once all is done, the pictures that could not be shown are told in one message.
    if (!m_brokenFiles.isEmpty()) {
        // In the order of the list, whichever worker finished first.
        QStringList broken = std::exchange(m_brokenFiles, {});
        std::stable_sort(broken.begin(), broken.end(), [this](const QString &a, const QString &b) {
            return m_model.Find(a) < m_model.Find(b);
        });
        ShowMessage(QStringLiteral("Loading the following images failed:") +
                        broken.join(QStringLiteral("\r\n")),
                    QString(), MsgButtons::Ok, MsgIcon::Warning, this);
    }
}

void CPixortaImageListCtrl::ShowThumbnailProgress()
{
    // A screen reader (and whoever hovers over the list) hears how far the pictures are.
    const int left = m_queue ? m_queue->Pending() : 0;
    const QString status =
        left > 0 ? QStringLiteral("Making thumbnails: %1 left").arg(left) : QString();
    if (accessibleDescription() != status)
        setAccessibleDescription(status);
}

bool CPixortaImageListCtrl::ThumbnailsPending() const
{
    return m_queue && !m_queue->Idle();
}

void CPixortaImageListCtrl::GetPaths(QStringList &out, bool all) const
{
    out << (all ? m_model.Paths() : m_model.Paths(SelectedRows()));
}

QStringList CPixortaImageListCtrl::GetPaths(bool all) const
{
    QStringList out;
    GetPaths(out, all);
    return out;
}

void CPixortaImageListCtrl::RemoveEntries(bool all)
{
    // Their pending thumbnails go with them, at once.
    QList<quint64> gone;
    const QList<int> rows = all ? QList<int>() : SelectedRows();
    if (all) {
        if (m_queue)
            m_queue->CancelAll();
        m_brokenFiles.clear();
        m_model.RemoveAll();
        m_store.RemoveAll();
    } else {
        for (int row : rows)
            if (row >= 0 && row < m_model.Count()) {
                gone << m_model.Entries()[row].id;
                m_brokenFiles.removeAll(m_model.Entries()[row].path);
            }
        if (m_queue)
            m_queue->Cancel(gone);
        // The store keeps the removed entries' cells: the others keep their indices.
        m_model.Remove(rows);
    }
    RebuildItems();
    if (m_queue && m_queue->Idle())
        CollectThumbnails();
}

void CPixortaImageListCtrl::RebuildItems()
{
    const bool wasEnabled = updatesEnabled();
    setUpdatesEnabled(false);
    clear();
    for (const ImageEntry &entry : m_model.Entries()) {
        auto *item = new QListWidgetItem;
        ShowEntryOnItem(item, GetItemLabel(entry), entry);
        item->setData(kThumbnailRole, ShownCell(entry.thumbnail));
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled);
        addItem(item);
    }
    setUpdatesEnabled(wasEnabled);
}

int CPixortaImageListCtrl::FindByPath(const QString &path) const
{
    return m_model.Find(path);
}

QString CPixortaImageListCtrl::GetNoteByPath(const QString &path) const
{
    return m_model.Note(path);
}

QList<QPair<QString, QString>> CPixortaImageListCtrl::GetNotes() const
{
    return m_model.Notes();
}

void CPixortaImageListCtrl::RefreshEntry(const QString &path)
{
    const int row = m_model.Find(path);
    if (row < 0)
        return;
    const ImageEntry &entry = m_model.Entries()[row];
    // An entry the store had no room for has nothing to replace.
    if (entry.thumbnail.cell < 0 && entry.thumbnail.state == EntryThumbnail::State::Ready)
        return;
    // Ahead of everything else: the user has just changed this file.
    m_queue->EnqueueFront(entry.id, entry.path);
    m_collectTimer.start();
}

QString CPixortaImageListCtrl::GetEntryPath(int index) const
{
    return m_model.Path(index);
}

QString CPixortaImageListCtrl::GetItemLabel(const ImageEntry &entry) const
{
    QString label = FileNameOf(entry.path);
    if (!entry.note.isEmpty())
        label += QStringLiteral(" (") + entry.note + u')';
    return label;
}

QStringList FitLabel(const QString &label, const QFont &font, int width, int lines)
{
    QString text = label;
    text.replace(u'\n', u' ');
    QStringList out;
    if (text.isEmpty() || lines < 1)
        return out;
    width = std::max(1, width);
    const QFontMetrics metrics(font);
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        if (out.size() == lines - 1) {
            // The last line the cell has: whatever is left, shortened to fit.
            out << metrics.elidedText(text.mid(line.textStart()).trimmed(), Qt::ElideRight,
                                      width);
            break;
        }
        out << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return out;
}

std::optional<QStyleOptionViewItem> CPixortaImageListCtrl::ItemOption(int index) const
{
    QListWidgetItem *it = item(index);
    auto *delegate = static_cast<ThumbnailDelegate *>(m_delegate);
    if (!it || !delegate)
        return std::nullopt;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualItemRect(it);
    delegate->Prepare(&option, indexFromItem(it));
    return option;
}

QString CPixortaImageListCtrl::ShownLabel(int index) const
{
    const std::optional<QStyleOptionViewItem> option = ItemOption(index);
    return option ? option->text : QString();
}

QRect CPixortaImageListCtrl::LabelRect(int index) const
{
    const std::optional<QStyleOptionViewItem> option = ItemOption(index);
    return option ? style()->subElementRect(QStyle::SE_ItemViewItemText, &*option, this) : QRect();
}

QRect CPixortaImageListCtrl::IconRect(int index) const
{
    const std::optional<QStyleOptionViewItem> option = ItemOption(index);
    return option ? style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &*option, this)
                  : QRect();
}

void CPixortaImageListCtrl::FitGridToWidth()
{
    if (!m_cellSize.isValid())
        return;
    // As many whole cells as the width holds, widened to share out what is left, so that the
    // thumbnails spread over the whole width instead of leaving a strip empty at the right.
    // The view lays its rows out as if its scroll bar were there, so that rows do not change
    // when it comes and goes, and starts a new row where a cell would reach its last pixel:
    // so must the cells.
    int width = maximumViewportSize().width() - 1;
    if (verticalScrollBarPolicy() == Qt::ScrollBarAsNeeded) {
        width -= style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar());
        if (style()->styleHint(QStyle::SH_ScrollView_FrameOnlyAroundContents, nullptr, this)) {
            QStyleOption option;
            option.initFrom(this);
            width -= 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option);
        }
    }
    const int columns = std::max(1, width / m_cellSize.width());
    const QSize cell(std::max(m_cellSize.width(), width / columns), m_cellSize.height());
    if (gridSize() != cell)
        setGridSize(cell);
}

void CPixortaImageListCtrl::resizeEvent(QResizeEvent *event)
{
    QListWidget::resizeEvent(event);
    FitGridToWidth();
}

// --- notes, paste, commands ----------------------------------------------------------------

void CPixortaImageListCtrl::EditNote()
{
    const QList<int> rows = SelectedRows();
    if (rows.isEmpty()) {
        QApplication::beep();
        return;
    }
    QString text;
    if (rows.size() == 1)
        text = m_model.Entries()[rows.front()].note;
    const QString prompt = QStringLiteral("Enter file note here, it can be then used in \"Text\" tab");
    if (ShowInputBox(QStringLiteral("Edit file note"), prompt, text) == 2)
        return;
    for (int row : rows) {
        m_model.SetNote(row, text);
        if (QListWidgetItem *it = item(row))
            ShowEntryOnItem(it, GetItemLabel(m_model.Entries()[row]), m_model.Entries()[row]);
    }
}

void ResetImageListSharedStateForTests()
{
    g_failedFiles.clear();
    g_limitNotice.clear();
}

QStringList CPixortaImageListCtrl::LocalFilesOf(const QMimeData *data)
{
    QStringList paths;
    if (!data)
        return paths;
    QList<QUrl> urls;
    if (data->hasUrls()) {
        urls = data->urls();
    } else if (data->hasFormat(kGnomeCopiedFiles)) {
        // "copy" or "cut", then one URL a line; a cut is taken as a copy: the list never
        // moves files.
        const QStringList lines = QString::fromUtf8(data->data(kGnomeCopiedFiles)).split(u'\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QString line = lines[i].trimmed();
            if (!line.isEmpty())
                urls << QUrl(line);
        }
    }
    for (const QUrl &url : std::as_const(urls))
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            paths << url.toLocalFile();
    return paths;
}

QMimeData *CPixortaImageListCtrl::CreateDragData(const QStringList &paths)
{
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    auto *data = new QMimeData;
    data->setUrls(urls);
    return data;
}

void CPixortaImageListCtrl::PasteFiles()
{
    const QStringList paths = LocalFilesOf(QGuiApplication::clipboard()->mimeData());
    if (!paths.isEmpty())
        AddFiles(paths, 0);
}

void CPixortaImageListCtrl::AddFilesCommand()
{
    if (m_host)
        m_host->AddFilesCommand();
    else
        AddFilesThroughDialog(*this, window());
}

void CPixortaImageListCtrl::AddFolderCommand()
{
    if (m_host)
        m_host->AddFolderCommand();
    else
        AddFolderThroughDialog(*this, window());
}

void CPixortaImageListCtrl::FileChanged(const QString &path)
{
    if (m_host)
        m_host->OnFileChanged(path);
    else
        RefreshEntry(path);
}

void CPixortaImageListCtrl::ShowContextMenu(const QPoint &globalPos)
{
    CQuickMenu menu;
    if (!menu.Create(this))
        return;
    menu.AddItem(CQuickMenu::String, 1, QStringLiteral("&Add files"));
    menu.AddItem(CQuickMenu::String, 2, QStringLiteral("Add &folder"));
    menu.AddItem(CQuickMenu::Separator, CQuickMenu::kSeparatorId);
    menu.AddItem(CQuickMenu::String, 3, QStringLiteral("Remove &selected images from the list"));
    menu.AddItem(CQuickMenu::String, 4, QStringLiteral("Remove &all images from the list"));
    menu.AddItem(CQuickMenu::Separator, CQuickMenu::kSeparatorId);
    menu.AddItem(CQuickMenu::String, 50, QStringLiteral("Edit &note"));
    switch (menu.Track(globalPos.x(), globalPos.y())) {
    case 1: AddFilesCommand(); break;
    case 2: AddFolderCommand(); break;
    case 3: RemoveEntries(false); break;
    case 4: RemoveEntries(true); break;
    case 50: EditNote(); break;
    default: break;
    }
}

int CPixortaImageListCtrl::RunImmediateOperation(ImmediateOperation operation)
{
    const QStringList paths = GetPaths(false);
    if (paths.isEmpty()) {
        ShowMessage(QStringLiteral("No image selected"), QString(), MsgButtons::Ok,
                    MsgIcon::Warning, this);
        return 0;
    }
    QString failures;
    {
        WaitCursor wait;
        failures = RotateFilesInPlace(paths, operation,
                                      [this](const QString &path) { FileChanged(path); });
    }
    if (failures.endsWith(QStringLiteral("\r\n")))
        failures.chop(2);
    if (!failures.isEmpty())
        ShowMessage(failures, QString(), MsgButtons::Ok, MsgIcon::Warning, this);
    return 1;
}

// --- events --------------------------------------------------------------------------------

void CPixortaImageListCtrl::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete) {
        RemoveEntries(false);
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_V && (event->modifiers() & Qt::ControlModifier)) {
        if (!readOnly)
            PasteFiles();
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void CPixortaImageListCtrl::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::MiddleButton) {
        BeginGesture(event->position().toPoint());
        event->accept();
        return;
    }
    QListWidget::mousePressEvent(event);
}

void CPixortaImageListCtrl::mouseMoveEvent(QMouseEvent *event)
{
    if (m_gestureActive) {
        m_gesturePointer = event->position().toPoint();
        event->accept();
        return;
    }
    QListWidget::mouseMoveEvent(event);
}

void CPixortaImageListCtrl::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_gestureActive) {
        if (event->button() == Qt::MiddleButton)
            EndGesture(event->position().toPoint());
        event->accept();
        return;
    }
    QListWidget::mouseReleaseEvent(event);
}

void CPixortaImageListCtrl::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        if (QListWidgetItem *it = itemAt(event->position().toPoint())) {
            OpenAddress(QUrl::fromLocalFile(GetEntryPath(row(it))), this);
            event->accept();
            return;
        }
    }
    if (event->button() == Qt::MiddleButton) {
        event->accept();
        return;
    }
    QListWidget::mouseDoubleClickEvent(event);
}

void CPixortaImageListCtrl::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept();
    if (!readOnly)
        ShowContextMenu(event->globalPos());
}

bool CPixortaImageListCtrl::AcceptsDrop(const QMimeData *data, const QObject *source) const
{
    // The list's own items dragged onto it would only come back as duplicates.
    return !readOnly && source != this && !LocalFilesOf(data).isEmpty();
}

void CPixortaImageListCtrl::dragEnterEvent(QDragEnterEvent *event)
{
    if (!AcceptsDrop(event->mimeData(), event->source())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CPixortaImageListCtrl::dragMoveEvent(QDragMoveEvent *event)
{
    if (!AcceptsDrop(event->mimeData(), event->source())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CPixortaImageListCtrl::dropEvent(QDropEvent *event)
{
    if (!AcceptsDrop(event->mimeData(), event->source())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    AddFiles(LocalFilesOf(event->mimeData()), 0);
}

void CPixortaImageListCtrl::startDrag(Qt::DropActions)
{
    const QStringList paths = GetPaths(false);
    if (paths.isEmpty())
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(CreateDragData(paths));
    if (QListWidgetItem *it = currentItem()) {
        const QPixmap cell = m_store.Cell(it->data(kThumbnailRole).toInt());
        if (!cell.isNull())
            drag->setPixmap(cell.scaled(cell.size() * 2 / 3, Qt::KeepAspectRatio,
                                        Qt::SmoothTransformation));
    }
    // Copy by default: a file manager must not move the user's originals away unasked.
    drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
}

// --- painting ------------------------------------------------------------------------------

QRect CPixortaImageListCtrl::OuterRect() const
{
    return QRect(viewport()->mapFrom(this, QPoint(0, 0)), size());
}

void CPixortaImageListCtrl::ShowProgress(const QString &path)
{
    m_progressName = FileNameOf(path);
    if (!isVisible())
        return;
    const QRect outer = OuterRect();
    const int m = outer.height() / 2;
    viewport()->repaint(QRect(outer.left(), m - 6, outer.width(),
                              24 + fontMetrics().height()));
}

void CPixortaImageListCtrl::PaintProgress(QPainter &painter) const
{
    const QRect outer = OuterRect();
    const int l = outer.left(), r = outer.left() + outer.width();
    const int t = outer.top(), b = outer.top() + outer.height();
    const int m = (b - t) / 2;
    const QColor red(200, 0, 0);
    const QRect box(QPoint(l + 5, m - 5), QPoint(r - 5 - 1, m + 17 - 1));
    painter.fillRect(box, red);
    const int bevel = std::max(1, std::min(5, box.width() / 2));
    const int step = 50 / bevel;
    // GDI lines stop one pixel short of their end point; QPainter draws both ends.
    const auto line = [&painter](const QColor &c, int x1, int y1, int x2, int y2) {
        if (x2 < x1 || y2 < y1)
            return;
        painter.setPen(QPen(c, 1));
        painter.drawLine(x1, y1, x2, y2);
    };
    for (int i = 0; i < bevel; ++i) {
        line(Shifted(red, step * (bevel - i)), l + 5 + i, m - 5 + i, r - 5 - i - 1, m - 5 + i);
        line(Shifted(red, -step * (bevel - 1 - i)), l + 5 + i, m + 17 - i, r - 5 - i, m + 17 - i);
        line(Shifted(red, step * (bevel - i)), l + 5 + i, m - 5 + i, l + 5 + i, m + 17 - i - 1);
        line(Shifted(red, -step * (bevel - i)), r - 5 - i, m - 5 + i, r - 5 - i, m + 17 - i - 1);
    }
    const QRect textRect(QPoint(l + 10, m), QPoint(r - 10 - 1, b - 1));
    const QString text = QStringLiteral("Adding file (") + m_progressName + u')';
    painter.setFont(font());
    painter.setPen(QColor(210, 210, 210));
    painter.drawText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                     fontMetrics().elidedText(text, Qt::ElideRight, textRect.width()));
}

void CPixortaImageListCtrl::PaintEmptyHint(QPainter &painter) const
{
    const QRect outer = OuterRect();
    const int l = outer.left(), r = outer.left() + outer.width();
    const int t = outer.top(), b = outer.top() + outer.height();
    const int m = (b - t) / 2;
    const QColor bg = palette().color(QPalette::Base);
    const int shift = (bg.red() + bg.green() + bg.blue()) / 3 > 128 ? -130 : 130;
    painter.setFont(font());
    painter.setPen(Shifted(bg, shift));
    painter.drawText(QRect(QPoint(l + 10, m), QPoint(r - 10 - 1, b - 1)),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                     QStringLiteral("Drop files (images) here"));
}

void CPixortaImageListCtrl::paintEvent(QPaintEvent *event)
{
    QListWidget::paintEvent(event);
    QPainter painter(viewport());
    if (!readOnly && count() == 0)
        PaintEmptyHint(painter);
    if (!m_gesturePreview.isNull()) {
        painter.fillRect(m_gestureIconRect, palette().color(QPalette::Base));
        const QSize size = m_gesturePreview.size();
        painter.drawImage(QPoint(m_gestureIconRect.left() + (m_gestureIconRect.width() - size.width()) / 2,
                                 m_gestureIconRect.top() + (m_gestureIconRect.height() - size.height()) / 2),
                          m_gesturePreview);
    }
    if (!m_progressName.isEmpty())
        PaintProgress(painter);
}

// --- rotation gesture ----------------------------------------------------------------------

void CPixortaImageListCtrl::BeginGesture(const QPoint &at)
{
    QListWidgetItem *under = itemAt(at);
    // As a right-button press selects: a pressed item that is not selected becomes the only
    // selected one; pressing a selected item keeps the selection.
    if (under && !under->isSelected())
        setCurrentItem(under, QItemSelectionModel::ClearAndSelect);
    m_gestureActive = true;
    m_gestureStart = m_gesturePointer = m_gesturePolled = at;
    m_gestureShown.reset();
    m_gesturePreview = QImage();
    m_gestureThumbnail = QImage();
    m_gestureIconRect = QRect();
    if (under) {
        const int index = row(under);
        const QPixmap cell = m_store.Cell(m_model.Entries().value(index).thumbnail.cell);
        if (!cell.isNull()) {
            m_gestureThumbnail = cell.toImage();
            m_gestureIconRect = IconRect(index);
        }
    }
    m_gestureTimer.start();
}

void CPixortaImageListCtrl::PollGesture()
{
    if (!m_gestureActive || m_gesturePointer == m_gesturePolled)
        return;
    m_gesturePolled = m_gesturePointer;
    const std::optional<ImmediateOperation> gesture =
        GestureOf(m_gestureStart.x(), m_gestureStart.y(), m_gesturePolled.x(), m_gesturePolled.y());
    if (gesture == m_gestureShown || m_gestureThumbnail.isNull())
        return;
    m_gestureShown = gesture;
    QImage preview = m_gestureThumbnail;
    if (gesture == ImmediateOperation::RotateLeft)
        preview = preview.transformed(QTransform().rotate(-90));
    else if (gesture == ImmediateOperation::RotateRight)
        preview = preview.transformed(QTransform().rotate(90));
    const QSize fitted = FitInside(preview.size(), m_gestureIconRect.size());
    if (fitted != preview.size())
        preview = preview.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    m_gesturePreview = preview;
    viewport()->update(m_gestureIconRect);
}

void CPixortaImageListCtrl::EndGesture(const QPoint &at)
{
    m_gestureTimer.stop();
    m_gestureActive = false;
    m_gesturePreview = QImage();
    m_gestureThumbnail = QImage();
    viewport()->update();
    if (const auto gesture = GestureOf(m_gestureStart.x(), m_gestureStart.y(), at.x(), at.y()))
        RunImmediateOperation(*gesture);
}

// --- the window's commands -----------------------------------------------------------------

void AddFilesThroughDialog(CPixortaImageListCtrl &list, QWidget *owner)
{
    const QStringList files = ChooseOpenFiles(
        owner, OpenFilesRequest{QStringLiteral("Select images"), ImageFileDialogFilter(), QString()});
    if (!files.isEmpty())
        list.AddFiles(files, 0);
}

void AddFolderThroughDialog(CPixortaImageListCtrl &list, QWidget *owner)
{
    const QString folder = ChooseFolder(owner, QString());
    if (!folder.isEmpty())
        list.AddFiles({folder}, 0);
}
