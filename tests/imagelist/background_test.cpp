// Big folders: the entries come at once, the thumbnails in the background, visible ones first;
// removing entries, refreshing one and closing the list while the workers are busy.

#include "listtests.h"
#include "core/paths.h"
#include "imagelist/thumbnailqueue.h"

#include <QScrollBar>
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {
using namespace listtest;

constexpr QRgb kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

// Holds every worker before its next decode until opened, and notes what was decoded. The
// workers share its state, so one still on its way out of the gate never outlives it.
class DecodeGate {
public:
    DecodeGate() : m_state(std::make_shared<State>())
    {
        CThumbnailQueue::SetDecodeHookForTests([state = m_state](const QString &path) {
            std::unique_lock lock(state->mutex);
            ++state->waiting;
            state->changed.notify_all();
            state->changed.wait(lock, [&] { return state->open; });
            --state->waiting;
            state->decoded << FileNameOf(path);
        });
    }
    ~DecodeGate()
    {
        Open();
        CThumbnailQueue::SetDecodeHookForTests(nullptr);
    }
    void Open()
    {
        std::lock_guard lock(m_state->mutex);
        m_state->open = true;
        m_state->changed.notify_all();
    }
    // Waits until n workers stand at the gate.
    bool Held(int n)
    {
        std::unique_lock lock(m_state->mutex);
        return m_state->changed.wait_for(lock, std::chrono::seconds(10),
                                         [&] { return m_state->waiting >= n; });
    }
    QStringList Decoded()
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->decoded;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        int waiting = 0;
        bool open = false;
        QStringList decoded;
    };
    std::shared_ptr<State> m_state;
};

// A PNG whose header reads and whose pixels are cut off.
void WriteCutPicture(const QString &path)
{
    ASSERT_TRUE(WriteImage(path, 40, 30, kRed, kBlue));
    const QByteArray whole = FileBytes(path);
    // Without the end of its image data and the end chunk.
    WriteFile(path, whole.left(whole.size() - 20));
    PxImage probe;
    PxHeaderInfo header;
    ASSERT_TRUE(LoadImageFileHeader(probe, path, header));
    ASSERT_FALSE(LoadImageFile(probe, path));
}

class Background : public ListTest {};

TEST_F(Background, EntriesInOrderAndEachKindOfFailureToldOnce)
{
    QStringList good, cut, noHeader;
    for (int i = 0; i < 40; ++i) {
        const QString name = QStringLiteral("pics/%1/p%2.png").arg(i % 3).arg(i, 2, 10, QChar('0'));
        if (i % 10 == 3) {
            QDir().mkpath(GetFolderOfPath(dir.File(name)));
            WriteCutPicture(dir.File(name));
            cut << dir.File(name);
        } else if (i % 10 == 7) {
            QDir().mkpath(GetFolderOfPath(dir.File(name)));
            WriteText(dir.File(name), "no picture at all");
            noHeader << dir.File(name);
        } else {
            good << Write(name, i % 2 ? kGreen : kBlue, 20 + i, 10 + i);
        }
    }
    list->AddFiles({dir.File("pics")});
    // The entries are all there at once, in the order of the folders: the cut ones too.
    QStringList expected;
    for (int folder = 0; folder < 3; ++folder)
        for (int i = folder; i < 40; i += 3)
            if (i % 10 != 7)
                expected << dir.File(QStringLiteral("pics/%1/p%2.png").arg(folder).arg(i, 2, 10, QChar('0')));
    EXPECT_EQ(list->GetPaths(true).join('\n').toStdString(), expected.join('\n').toStdString());
    // What has no header is told at the end of the add, in the order it was found.
    QStringList told;
    for (const QString &path : expected + noHeader)
        if (noHeader.contains(path) && !told.contains(path))
            told << path;
    std::sort(told.begin(), told.end());
    ASSERT_EQ(rec.Texts().size(), 1u);
    EXPECT_EQ(rec.Texts()[0].toStdString(),
              ("Loading the following images failed:" + told.join("\r\n")).toStdString());

    WaitForThumbnails(*list);
    // The pictures that do not decode stay as entries, told in one more message, in list order.
    QStringList broken;
    for (const QString &path : expected)
        if (cut.contains(path))
            broken << path;
    ASSERT_EQ(rec.Texts().size(), 2u) << rec.Texts().join('\n').toStdString();
    EXPECT_EQ(rec.Texts()[1], "Loading the following images failed:" + broken.join("\r\n"));
    for (int row = 0; row < list->count(); ++row) {
        const ImageEntry &entry = list->Entries()[row];
        if (cut.contains(entry.path)) {
            EXPECT_EQ(entry.thumbnail.state, EntryThumbnail::State::Broken);
            EXPECT_EQ(entry.thumbnail.cell, -1);
        } else {
            EXPECT_EQ(entry.thumbnail.state, EntryThumbnail::State::Ready);
            const bool green = FileNameOf(entry.path).mid(1, 2).toInt() % 2;
            EXPECT_TRUE(Near(CentreOf(*list, row), green ? kGreen : kBlue)) << entry.path.toStdString();
        }
    }
    // The same pixels as a thumbnail made in the foreground.
    const int row = list->FindByPath(good.front());
    EXPECT_EQ(CellOf(*list, row),
              MakeThumbnail(good.front(), 92, 92, list->palette().color(QPalette::Base).rgb()));
}

TEST_F(Background, RemovedEntriesTakeTheirPendingWorkWithThem)
{
    for (int i = 0; i < 30; ++i)
        Write(QStringLiteral("p%1.png").arg(i, 2, 10, QChar('0')), kGreen);
    WriteCutPicture(dir.File("p29.png"));
    {
        DecodeGate gate;
        list->AddFiles({dir.Path()});
        ASSERT_TRUE(gate.Held(1));
        ASSERT_TRUE(list->ThumbnailsPending());
        // The second half goes while the workers are held, the cut one with it.
        list->clearSelection();
        for (int row = 15; row < 30; ++row)
            list->item(row)->setSelected(true);
        list->RemoveEntries(false);
        ASSERT_EQ(list->count(), 15);
        gate.Open();
        WaitForThumbnails(*list);
        for (const QString &name : gate.Decoded())
            EXPECT_LT(name.mid(1, 2).toInt(), 15 + 2) << "at most what was in the workers' hands";
    }
    for (int row = 0; row < 15; ++row)
        EXPECT_TRUE(Near(CentreOf(*list, row), kGreen)) << row;
    EXPECT_TRUE(rec.Texts().isEmpty()) << "the cut picture went before it was told";

    // Emptying the list drops everything at once.
    DecodeGate gate;
    list->AddFiles({dir.File("p29.png")});
    for (int i = 30; i < 60; ++i)
        list->AddFiles({Write(QStringLiteral("q%1.png").arg(i), kRed)});
    ASSERT_TRUE(gate.Held(1));
    list->RemoveEntries(true);
    EXPECT_FALSE(list->ThumbnailsPending());
    gate.Open();
    QTest::qWait(50);
    EXPECT_EQ(list->Store().Count(), 0);
    EXPECT_TRUE(rec.Texts().isEmpty());
}

TEST_F(Background, VisibleEntriesFirstAndARefreshAheadOfAll)
{
    for (int i = 0; i < 80; ++i)
        Write(QStringLiteral("p%1.png").arg(i, 2, 10, QChar('0')), kBlue);
    DecodeGate gate;
    list->AddFiles({dir.Path()});
    ASSERT_TRUE(gate.Held(1));
    // Scrolled to the end while the workers are held: the last rows come next.
    list->scrollToBottom();
    QCoreApplication::processEvents();
    const int lastRow = list->count() - 1;
    ASSERT_TRUE(WriteImage(dir.File("p40.png"), 40, 30, kRed));
    list->RefreshEntry(dir.File("p40.png"));
    gate.Open();
    WaitForThumbnails(*list);
    const QStringList decoded = gate.Decoded();
    // What the workers held when they were stopped comes first (one per core at most); then
    // the refreshed entry, then the ones in sight.
    EXPECT_LE(decoded.indexOf("p40.png"), 2) << decoded.join(' ').toStdString();
    EXPECT_LE(decoded.indexOf(QStringLiteral("p%1.png").arg(lastRow)), 3 + 20)
        << decoded.join(' ').toStdString();
    EXPECT_TRUE(Near(CentreOf(*list, 40), kRed));
    EXPECT_TRUE(Near(CentreOf(*list, 0), kBlue));
}

TEST(BackgroundList, ClosingWithWorkPendingLeavesNothingRunningIntoIt)
{
    TempFolder dir;
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(WriteImage(dir.File(QStringLiteral("p%1.png").arg(i)), 30, 20, kGreen));
    DecodeGate gate;
    {
        MessageRecorder rec;
        CPixortaImageListCtrl list;
        list.Initialize();
        list.resize(300, 300);
        list.show();
        list.AddFiles({dir.Path()});
        ASSERT_TRUE(gate.Held(1));
        ASSERT_TRUE(list.ThumbnailsPending());
        EXPECT_EQ(list.count(), 40);
    }
    // The workers come back to a queue that is gone: they drop what they made.
    gate.Open();
    QTest::qWait(100);
    SUCCEED();
}

} // namespace
