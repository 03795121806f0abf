// Rotating the selected files in place, its undo record, and the middle-button gesture.

#include "listtests.h"
#include "imagelist/immediateoperation.h"
#include "undo/backup_testhooks.h"
#include "undo/journal.h"

#include <QMouseEvent>
#include <optional>
#include <ostream>
#include <sys/stat.h>

// Failures name the rotation rather than its bytes.
void PrintTo(ImmediateOperation operation, std::ostream *os)
{
    *os << ImmediateOperationName(operation).toStdString();
}

namespace {
using namespace listtest;

constexpr QRgb kRed = 0xFF0000, kBlue = 0x0000FF;

std::string Hash(const QString &path)
{
    const auto bytes = ReadFileBytes(path.toStdString());
    return Sha256Hex(bytes.data(), bytes.size());
}

QRgb PixelOf(const QString &path, int x, int yFromTop)
{
    PxImage img;
    if (!LoadImageFile(img, path))
        return 1;
    return img.MakeBitmap().pixel(x, yFromTop) & 0xFFFFFF;
}

class Rotation : public ListTest {
protected:
    void SetUp() override
    {
        ListTest::SetUp();
        ResetBackupFolderForTests();
        SetFileChangedNotifier([this](const QString &path, const QString &) {
            list->RefreshEntry(path);
        });
    }
    void TearDown() override
    {
        SetFileChangedNotifier(nullptr);
        RemoveBackupFolder();
        ResetBackupFolderForTests();
        ListTest::TearDown();
    }
    // A 200 x 150 picture, red on the left and blue on the right.
    QString Picture(const QString &name)
    {
        const QString path = dir.File(name);
        EXPECT_TRUE(WriteImage(path, 200, 150, kRed, kBlue));
        return path;
    }
    void Mouse(QEvent::Type type, QPoint at, Qt::MouseButtons held)
    {
        QMouseEvent event(type, at, list->viewport()->mapToGlobal(at), Qt::MiddleButton, held,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(list->viewport(), &event);
    }
};

TEST_F(Rotation, TurnsTheFileInPlaceRefreshesItsThumbnailAndUndoBringsTheBytesBack)
{
    const QString a = Picture("a.png"), b = Picture("b.bmp");
    const std::string original = Hash(a);
    list->AddFiles({a, b});
    Select(*list, {0});
    EXPECT_EQ(list->RunImmediateOperation(ImmediateOperation::RotateRight), 1);
    EXPECT_EQ(PixelOf(a, 5, 2), kRed) << "the left side is now on top";
    EXPECT_EQ(PixelOf(a, 5, 190), kBlue);
    EXPECT_EQ(PixelOf(b, 2, 5), kRed) << "unselected files stay";
    const QImage cell = CellOf(*list, 0);
    EXPECT_PRED2(Near, cell.pixel(46, 20), kRed);
    EXPECT_PRED2(Near, cell.pixel(46, 70), kBlue);
    ASSERT_EQ(UndoHistory::Instance().Count(), 1);
    EXPECT_EQ(UndoHistory::Instance().Newest().description, "Immediate operation: Rotate right");
    EXPECT_TRUE(rec.Messages().empty());

    EXPECT_TRUE(UndoLastOperation());
    EXPECT_EQ(Hash(a), original);
    EXPECT_PRED2(Near, CellOf(*list, 0).pixel(20, 46), kRed);
    EXPECT_EQ(rec.Texts().last(), "Everything undo'ed OK: 1 file put back.");
}

// A camera's photo keeps its date, camera and colour profile through a turn in the window,
// in every format that holds them; the turn replaces the camera's orientation, so no viewer
// turns it again.
TEST_F(Rotation, KeepsTheMetadataAndLeavesTheOrientationUpright)
{
    TestExif exif;
    exif.orientation = 6;
    const std::string block = MakeExifBlock(exif);
    for (const char *name : {"photo.jpg", "photo.png", "photo.webp"}) {
        SCOPED_TRACE(name);
        const QString path = Picture(name);
        {
            PxImage tagged;
            ASSERT_TRUE(LoadImageFile(tagged, path));
            auto metadata = std::make_shared<PxMetadata>();
            metadata->exif = block;
            tagged.SetMetadata(metadata);
            ASSERT_TRUE(SaveImageFile(tagged, path));
        }
        ASSERT_EQ(RotateFilesInPlace({path}, ImmediateOperation::RotateRight, nullptr), "");
        PxImage turned;
        turned.SetKeepMetadata(true);
        ASSERT_TRUE(LoadImageFile(turned, path));
        EXPECT_EQ(turned.GetWidth(), 150u);
        EXPECT_EQ(turned.GetExifOrientation(), 1u);
        ASSERT_TRUE(turned.GetMetadata());
        const std::string &kept = turned.GetMetadata()->exif;
        EXPECT_NE(kept.find(exif.date), std::string::npos);
        EXPECT_NE(kept.find(exif.make), std::string::npos);
    }
}

TEST_F(Rotation, OneUndoTakesBackOnlyTheLastOfTwoRotations)
{
    const QString a = Picture("a.jpg");
    list->AddFiles({a});
    Select(*list, {0});
    list->RunImmediateOperation(ImmediateOperation::RotateRight);
    EXPECT_PRED2(Near, PixelOf(a, 5, 2), kRed) << "turned right: the left side is now on top";
    const std::string afterFirst = Hash(a);
    list->RunImmediateOperation(ImmediateOperation::RotateLeft);
    EXPECT_NE(Hash(a), afterFirst);
    EXPECT_TRUE(UndoLastOperation());
    EXPECT_EQ(Hash(a), afterFirst);
    EXPECT_EQ(UndoHistory::Instance().Newest().description, "Immediate operation: Rotate right");
}

TEST_F(Rotation, NothingSelectedIsSaidAndLeavesNoUndoRecord)
{
    list->AddFiles({Picture("a.png")});
    list->clearSelection();
    EXPECT_EQ(list->RunImmediateOperation(ImmediateOperation::RotateLeft), 0);
    EXPECT_EQ(rec.Texts(), QStringList({"No image selected"}));
    EXPECT_TRUE(UndoHistory::Instance().IsEmpty());
}

TEST_F(Rotation, FilesThatCannotBeDoneAreListedAndNeverOverwrittenWithoutABackup)
{
    const QString broken = Picture("broken.png"), locked = Picture("locked.png"),
                  unsaved = Picture("unsaved.png");
    list->AddFiles({broken, locked, unsaved});
    WriteText(broken, "no longer a picture");
    ASSERT_EQ(::chmod(locked.toUtf8().constData(), 0444), 0);
    Select(*list, {0, 1});
    list->RunImmediateOperation(ImmediateOperation::RotateLeft);
    EXPECT_EQ(rec.Texts(),
              QStringList({"Failed loading:broken.png\r\nFailed saving:locked.png"}));
    ASSERT_EQ(UndoHistory::Instance().Newest().entries.size(), 1) << "the locked file's backup";

    // Without an undo journal or a backup folder there is no copy, so the file must stay as it
    // is.
    const std::string before = Hash(unsaved);
    const QString folder = GetBackupFolder();
    const QString journal = CUndoJournal::DefaultRoot();
    for (const QString &f : {folder, journal}) {
        ASSERT_TRUE(QDir(f).removeRecursively());
        QDir().mkpath(QFileInfo(f).absolutePath());
        WriteText(f, "a file where the folder should be");
    }
    Select(*list, {2});
    list->RunImmediateOperation(ImmediateOperation::RotateRight);
    QFile::remove(folder);
    QFile::remove(journal);
    EXPECT_EQ(Hash(unsaved), before);
    EXPECT_EQ(rec.Texts().last(), "Failed saving:unsaved.png");
    EXPECT_EQ(UndoHistory::Instance().Count(), 2);
}

TEST(Gesture, SidewaysDistanceNeededDependsOnVerticalMovement)
{
    constexpr auto kLeft = ImmediateOperation::RotateLeft, kRight = ImmediateOperation::RotateRight;
    struct Case {
        int dx, dy;
        std::optional<ImmediateOperation> gesture;
    } const cases[] = {
        {-16, 0, kLeft},  {-15, 0, {}},     {16, 2, kRight},
        {-10, 30, kLeft}, {-10, 0, {}},     {-6, -21, kLeft},
        {6, 20, {}},      {6, 21, kRight},  {5, 40, {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(GestureOf(100, 100, 100 + c.dx, 100 + c.dy), c.gesture) << c.dx << "," << c.dy;
}

TEST_F(Rotation, TheMiddleButtonGesturePreviewsAndRotatesTheSelection)
{
    const QString a = Picture("a.png"), b = Picture("b.png");
    list->AddFiles({a, b});
    WaitForThumbnails(*list);
    const QRect icon = list->IconRect(1);
    const QPoint start = icon.center();
    auto shownAt = [&](QPoint p) { return list->viewport()->grab().toImage().pixel(p) & 0xFFFFFF; };

    // Too short: nothing happens, the press only selected the item under the pointer.
    Mouse(QEvent::MouseButtonPress, start, Qt::MiddleButton);
    Mouse(QEvent::MouseMove, start - QPoint(10, 0), Qt::MiddleButton);
    Mouse(QEvent::MouseButtonRelease, start - QPoint(10, 0), Qt::NoButton);
    EXPECT_EQ(list->GetPaths(false), QStringList({b}));
    EXPECT_TRUE(UndoHistory::Instance().IsEmpty());

    // Far enough left: the preview turns left (blue on top) before anything is written.
    Select(*list, {0, 1});
    Mouse(QEvent::MouseButtonPress, start, Qt::MiddleButton);
    Mouse(QEvent::MouseMove, start - QPoint(16, 0), Qt::MiddleButton);
    QTest::qWait(250);
    EXPECT_PRED2(Near, shownAt(icon.center() - QPoint(0, 25)), kBlue);
    EXPECT_PRED2(Near, shownAt(icon.center() + QPoint(0, 25)), kRed);
    EXPECT_EQ(PixelOf(b, 2, 5), kRed);
    Mouse(QEvent::MouseMove, start, Qt::MiddleButton);
    QTest::qWait(250);
    EXPECT_PRED2(Near, shownAt(icon.center() - QPoint(25, 0)), kRed) << "unrotated again";
    Mouse(QEvent::MouseButtonRelease, start + QPoint(-10, 30), Qt::NoButton);

    // Both selected files turned left: the right side (blue) is now on top.
    EXPECT_EQ(PixelOf(a, 5, 2), kBlue);
    EXPECT_EQ(PixelOf(b, 5, 2), kBlue);
    EXPECT_EQ(UndoHistory::Instance().Newest().description, "Immediate operation: Rotate left");
    EXPECT_PRED2(Near, CellOf(*list, 1).pixel(46, 20), kBlue) << "the refreshed thumbnail";
}

} // namespace
