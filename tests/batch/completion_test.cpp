#include "undo/backup.h"
#include "imageio/imagefile.h"
#include "batch/pixortaafterfinaloperationdlg.h"
#include "imagelist/pixortaimagelistctrl.h"
#include "tests/support/testsupport.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTest>

namespace {

struct RecordingHost : CCompletionHost {
    QStringList calls;
    void EmptyFilesList() override { calls << "empty"; }
    void ResetTasks() override { calls << "reset"; }
    void OnFileChanged(const QString &path, const QString &) override
    {
        calls << "changed " + path.section('/', -1);
    }
    void ExitApplication() override { calls << "exit"; }
};

QString Picture(const TempFolder &dir, const QString &name)
{
    PxImage img;
    img.Create(8, 8, 24);
    const QString path = dir.File(name);
    EXPECT_TRUE(SaveImageFile(img, path));
    return path;
}

enum class Close { Ok, Escape, ExitApplication };

TEST(CompletionDialog, OkStepsEscapeAndExit)
{
    const struct {
        const char *name;
        bool emptyList, resetTasks, undoFirst;
        Close close;
        QStringList calls;
        int result;
    } cases[] = {
        {"OK", false, false, false, Close::Ok, {"changed a.png", "changed b.png"}, QDialog::Accepted},
        {"reset only", false, true, false, Close::Ok, {"reset", "changed a.png", "changed b.png"},
         QDialog::Accepted},
        {"both boxes", true, true, false, Close::Ok, {"empty", "reset"}, QDialog::Accepted},
        {"undo, then OK", false, false, true, Close::Ok, {}, QDialog::Accepted},
        {"Escape", true, true, false, Close::Escape, {}, QDialog::Rejected},
        {"Exit application", true, true, false, Close::ExitApplication, {"exit"},
         QDialog::Rejected},
    };
    TempFolder dir;
    const QStringList outputs = {Picture(dir, "a.png"), Picture(dir, "b.png")};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        UndoHistory::Instance().Clear();
        UndoHistory::Instance().Append({{}, "Processing all images"});
        MessageRecorder rec;
        RecordingHost host;
        CPixortaAfterFinalOperationDlg dlg(outputs, &host);
        dlg.show();
        EXPECT_EQ(dlg.windowTitle(), "Done.");
        EXPECT_EQ(dlg.List()->GetPaths(true), outputs);
        dlg.findChild<QCheckBox *>("emptyFilesList")->setChecked(c.emptyList);
        dlg.findChild<QCheckBox *>("resetTasks")->setChecked(c.resetTasks);
        if (c.undoFirst) {
            dlg.findChild<QPushButton *>("undoButton")->click();
            EXPECT_TRUE(dlg.Undone());
            EXPECT_TRUE(dlg.isVisible()) << "the dialog stays for older batches";
        }
        switch (c.close) {
        case Close::Ok: QTest::keyClick(&dlg, Qt::Key_Return); break;
        case Close::Escape: QTest::keyClick(&dlg, Qt::Key_Escape); break;
        case Close::ExitApplication:
            dlg.findChild<QPushButton *>("exitApplicationButton")->click();
            break;
        }
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), c.result);
        EXPECT_EQ(host.calls, c.calls);
    }
    UndoHistory::Instance().Clear();
}

} // namespace
