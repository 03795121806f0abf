#include "batch/io/backup.h"
#include "batch/io/imagefile.h"
#include "app/pixortadlg.h"
#include "tests/support/testsupport.h"

#include <QAction>
#include <QDir>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

QString Picture(const TempFolder &dir, const QString &name)
{
    PxImage img;
    img.Create(8, 8, 24);
    const QString path = dir.File(name);
    EXPECT_TRUE(SaveImageFile(img, path));
    return path;
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { UndoHistory::Instance().Clear(); }
    void TearDown() override { UndoHistory::Instance().Clear(); }
};

TEST_F(MainWindow, ShowsTheCommandLineFilesButNotOptionValues)
{
    TempFolder dir;
    MessageRecorder rec;
    CPixortaDlg dlg({Picture(dir, "a.jpg"), "-x", Picture(dir, "b.jpg"), Picture(dir, "c.png")});
    EXPECT_EQ(dlg.windowTitle(), "Pixorta");
    QStringList shown;
    for (int i = 0; i < dlg.ImageList()->count(); ++i)
        shown << dlg.ImageList()->item(i)->text();
    EXPECT_EQ(shown, QStringList({"a.jpg", "c.png"}));
    EXPECT_TRUE(rec.Messages().empty());
}

TEST_F(MainWindow, ClosingAsksOnlyWhileTheListHoldsFiles)
{
    {
        CPixortaDlg dlg;
        dlg.show();
        MessageRecorder rec;
        QTest::keyClick(&dlg, Qt::Key_Escape);
        EXPECT_TRUE(rec.Messages().empty());
        EXPECT_FALSE(dlg.isVisible());
    }
    {
        TempFolder dir;
        CPixortaDlg dlg({Picture(dir, "a.jpg")});
        dlg.show();
        MessageRecorder rec;
        rec.Answer(MsgAnswer::No);
        dlg.findChild<QPushButton *>("exitButton")->click();
        ASSERT_EQ(rec.Messages().size(), 1u);
        EXPECT_EQ(rec.Messages()[0].text, "Are you sure you want to exit?");
        EXPECT_EQ(rec.Messages()[0].caption, "Pixorta");
        EXPECT_EQ(rec.Messages()[0].buttons, MsgButtons::YesNo);
        EXPECT_TRUE(dlg.isVisible());
        dlg.close(); // the close box: answered Yes
        EXPECT_EQ(rec.Messages().size(), 2u);
        EXPECT_FALSE(dlg.isVisible());
    }
}

TEST_F(MainWindow, MenuExitNeverAsks)
{
    TempFolder dir;
    CPixortaDlg dlg({Picture(dir, "a.jpg")});
    dlg.show();
    MessageRecorder rec;
    dlg.findChild<QAction *>("exitAction")->trigger();
    EXPECT_TRUE(rec.Messages().empty());
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(MainWindow, CtrlZUndoesButNotWithShiftOrAlt)
{
    TempFolder dir;
    CPixortaDlg dlg({Picture(dir, "a.jpg")});
    dlg.show();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    MessageRecorder rec;
    QTest::keyClick(dlg.ImageList(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(dlg.ImageList(), Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(rec.Messages().empty());
    QTest::keyClick(dlg.ImageList(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(rec.Texts(),
              QStringList({"There is nothing to undo (i.e. no file was overwritten)"}));
}

TEST_F(MainWindow, RestoredFilesReachTheWindowOnlyWhileItExists)
{
    TempFolder dir;
    const QString a = dir.File("a.jpg");
    auto write = [&](const char *bytes) {
        QFile f(a);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    };
    write("v0");
    UndoOperation op;
    BackupFile(op.entries, a);
    write("v1");
    UndoHistory::Instance().Append(op);
    UndoHistory::Instance().Append(op);
    MessageRecorder rec;
    {
        CPixortaDlg dlg;
        QSignalSpy spy(&dlg, &CPixortaDlg::fileChanged);
        EXPECT_TRUE(UndoLastOperation(&dlg));
        ASSERT_EQ(spy.count(), 1);
        EXPECT_EQ(spy.at(0).at(0).toString(), a);
    }
    EXPECT_TRUE(UndoLastOperation()); // no window: nothing to notify, no crash
    RemoveBackupFolder();
    ResetBackupFolderForTests();
}

TEST_F(MainWindow, AddFilesAndAddFolderFillTheList)
{
    TempFolder dir;
    const QString a = Picture(dir, "a.jpg");
    QDir().mkpath(dir.File("sub"));
    const QString b = Picture(dir, "sub/b.tif");
    OpenFilesRequest asked;
    const OpenFilesHandler previousFiles = SetOpenFilesHandler([&](const OpenFilesRequest &r) {
        asked = r;
        return QStringList({a});
    });
    const FolderHandler previousFolder =
        SetFolderHandler([&](const QString &, const QString &) { return dir.File("sub"); });
    CPixortaDlg dlg;
    dlg.AddFilesCommand();
    dlg.AddFolderCommand();
    SetOpenFilesHandler(previousFiles);
    SetFolderHandler(previousFolder);
    EXPECT_EQ(dlg.ImageList()->GetPaths(true), QStringList({a, b}));
    EXPECT_EQ(asked.title, "Select images");
    for (const char *ext : {"jpg", "jpe", "jp2", "jpeg", "gif", "bmp", "ico", "tif", "tiff", "png",
                            "mng", "tga", "pcx", "cur"})
        EXPECT_TRUE(asked.filter.contains(QString("*.") + ext + u' ') ||
                    asked.filter.contains(QString("*.") + ext + u')'))
            << ext;
}

} // namespace
